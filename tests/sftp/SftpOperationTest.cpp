// Copies to and from the private server and deletes on it: whole files
// under their names only, the replace question, and a link that drops
// halfway leaving nothing half-made under a final name.
#include "sftp/ServerFixture.h"
#include "sources/SftpSource.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace tarnel {
namespace {

namespace fs = std::filesystem;

struct RecordingUi : SourceOperationUi {
    std::vector<std::string> errors, informed, replaceAsked;
    ReplaceAnswer replace = ReplaceAnswer::No;
    void Inform(const std::string& text) override { informed.push_back(text); }
    void Error(const std::string& text) override { errors.push_back(text); }
    bool Confirm(const std::string&) override { return true; }
    ReplaceAnswer AskReplace(const std::string& path, const FileFacts&, const FileFacts&) override
    {
        replaceAsked.push_back(path);
        return replace;
    }
};

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

time_t MTime(const std::string& path)
{
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mtime;
}

// Names under dir (recursively) that hold ".part-": half-made files.
std::vector<std::string> PartFiles(const std::string& dir)
{
    std::vector<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.path().filename().string().find(".part-") != std::string::npos)
            found.push_back(e.path());
    return found;
}

class SftpOperationTest : public test::ServerFixture {
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        if (IsSkipped())
            return;
        local = server->Dir() + "/local";
        fs::remove_all(local);
        fs::create_directories(local);
    }

    SourceOperationResult Run(int code, const PanePlace& from, const PanePlace& to, const std::vector<SourceRow>& rows,
                              RecordingUi& ui)
    {
        const SftpSource source;
        EXPECT_TRUE(source.RunsOperation(code, from, to));
        std::unique_ptr<SourceOperation> op = source.OperationFor(code, from, to, ui, {});
        return op ? op->Run(rows) : SourceOperationResult{};
    }
    PanePlace Remote() const { return PanePlace::FromPath(server->Url(folder)); }
    PanePlace Local() const { return PanePlace::Directory(local); }

    std::string local;
};

TEST_F(SftpOperationTest, CopiesTreesBothWaysWholeWithTheirTimes)
{
    fs::create_directories(folder + "/tree/deeper");
    WriteFile(folder + "/tree/a.txt", "remote a");
    WriteFile(folder + "/tree/deeper/b\xff.bin", std::string(200000, 'b'));
    WriteFile(folder + "/single", "one");
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(48);
    fs::last_write_time(folder + "/single", old);

    RecordingUi ui;
    const SourceOperationResult out = Run(FO_COPY, Remote(), Local(), {{"tree", true}, {"single", false}}, ui);
    EXPECT_TRUE(ui.errors.empty()) << ui.errors[0];
    EXPECT_TRUE(out.targetChanged);
    EXPECT_EQ(ReadAll(local + "/tree/a.txt"), "remote a");
    EXPECT_EQ(ReadAll(local + "/tree/deeper/b\xff.bin"), std::string(200000, 'b'));
    EXPECT_EQ(ReadAll(local + "/single"), "one");
    EXPECT_EQ(MTime(local + "/single"), MTime(folder + "/single")) << "the protocol keeps whole seconds";

    // And back in under other names.
    fs::rename(local + "/tree", local + "/tree2");
    fs::rename(local + "/single", local + "/single2");
    const SourceOperationResult in = Run(FO_COPY, Local(), Remote(), {{"tree2", true}, {"single2", false}}, ui);
    EXPECT_TRUE(ui.errors.empty()) << ui.errors[0];
    EXPECT_TRUE(in.targetChanged);
    EXPECT_EQ(ReadAll(folder + "/tree2/deeper/b\xff.bin"), std::string(200000, 'b'));
    EXPECT_EQ(ReadAll(folder + "/single2"), "one");
    EXPECT_EQ(MTime(folder + "/single2"), MTime(folder + "/single"));
    EXPECT_TRUE(PartFiles(folder).empty());
    EXPECT_TRUE(PartFiles(local).empty());
    EXPECT_TRUE(ui.replaceAsked.empty());
}

TEST_F(SftpOperationTest, AFileAtTheTargetIsReplacedOnlyWhenTheUserSaysSo)
{
    WriteFile(folder + "/same", "remote");
    WriteFile(local + "/same", "local");

    RecordingUi keep;
    keep.replace = ReplaceAnswer::No;
    Run(FO_COPY, Remote(), Local(), {{"same", false}}, keep);
    Run(FO_COPY, Local(), Remote(), {{"same", false}}, keep);
    EXPECT_EQ(keep.replaceAsked.size(), 2u);
    EXPECT_EQ(ReadAll(local + "/same"), "local");
    EXPECT_EQ(ReadAll(folder + "/same"), "remote");

    RecordingUi replace;
    replace.replace = ReplaceAnswer::Yes;
    Run(FO_COPY, Local(), Remote(), {{"same", false}}, replace);
    EXPECT_TRUE(replace.errors.empty()) << replace.errors[0];
    EXPECT_EQ(ReadAll(folder + "/same"), "local") << "replaced in one step on the server";
    WriteFile(folder + "/same", "remote again");
    Run(FO_COPY, Remote(), Local(), {{"same", false}}, replace);
    EXPECT_EQ(ReadAll(local + "/same"), "remote again");
    EXPECT_TRUE(PartFiles(folder).empty());
    EXPECT_TRUE(PartFiles(local).empty());
}

TEST_F(SftpOperationTest, DeletesARemoteTreeButNotWhatItsLinksLeadTo)
{
    fs::create_directories(folder + "/gone/inner");
    fs::create_directories(server->Dir() + "/kept");
    WriteFile(server->Dir() + "/kept/precious", "p");
    WriteFile(folder + "/gone/inner/x", "x");
    fs::create_directory_symlink(server->Dir() + "/kept", folder + "/gone/link");
    RecordingUi ui;
    const SourceOperationResult result = Run(FO_DELETE, Remote(), Local(), {{"gone", true}}, ui);
    EXPECT_TRUE(ui.errors.empty()) << ui.errors[0];
    EXPECT_TRUE(result.sourceChanged);
    EXPECT_FALSE(fs::exists(folder + "/gone"));
    EXPECT_EQ(ReadAll(server->Dir() + "/kept/precious"), "p");
}

TEST_F(SftpOperationTest, ALinkThatDropsHalfwayLeavesNothingUnderAFinalName)
{
    const std::string big(64 << 20, 'z');
    for (const bool upload : {true, false}) {
        SCOPED_TRACE(upload ? "upload" : "download");
        const std::string receiving = upload ? folder : local;
        WriteFile((upload ? local : folder) + "/big", big);
        fs::remove(receiving + "/big");
        // The server stops answering as soon as the copy's part file is there.
        std::thread stopper([&] {
            for (int i = 0; i < 2000 && PartFiles(receiving).empty(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            server->StopAnswering();
        });
        RecordingUi ui;
        if (upload)
            Run(FO_COPY, Local(), Remote(), {{"big", false}}, ui);
        else
            Run(FO_COPY, Remote(), Local(), {{"big", false}}, ui);
        stopper.join();
        server->Answer();
        ASSERT_EQ(ui.errors.size(), 1u);
        EXPECT_NE(ui.errors[0].find("not answering"), std::string::npos) << ui.errors[0];
        EXPECT_FALSE(fs::exists(receiving + "/big")) << "no half file under the final name";
        if (!upload) {
            EXPECT_TRUE(PartFiles(local).empty()) << "the local part file is removed";
        }
        // A part file on the server stays only under its hidden temporary name.
        for (const std::string& part : PartFiles(folder))
            EXPECT_EQ(fs::path(part).filename().string()[0], '.');
        SshConnection::DisconnectAll();
    }
}

} // namespace
} // namespace tarnel
