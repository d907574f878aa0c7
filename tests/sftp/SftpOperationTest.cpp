// Copies, moves, renames and deletes on the private server: whole files
// under their names only, the replace question, a move that keeps a source
// that changed or whose copy did not finish, a stop that leaves nothing
// half-made, and a link that drops halfway.
#include "sftp/ServerFixture.h"
#include "sources/SftpSource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace tarnel {
namespace {

namespace fs = std::filesystem;

struct RecordingUi : SourceOperationUi {
    std::vector<std::string> errors, informed, replaceAsked;
    ReplaceAnswer replace = ReplaceAnswer::No;
    // Told every progress report; its answer goes back to the copy.
    std::function<bool(uint64_t done, const std::string& name)> onProgress;
    uint64_t lastDone = 0, lastTotal = 0;
    void Inform(const std::string& text) override { informed.push_back(text); }
    void Error(const std::string& text) override { errors.push_back(text); }
    bool Confirm(const std::string&) override { return true; }
    ReplaceAnswer AskReplace(const std::string& path, const FileFacts&, const FileFacts&) override
    {
        replaceAsked.push_back(path);
        return replace;
    }
    bool Progress(uint64_t done, uint64_t total, const std::string& name) override
    {
        EXPECT_LE(done, total) << name;
        lastDone = done;
        lastTotal = total;
        return !onProgress || onProgress(done, name);
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
                              RecordingUi& ui, const std::string& newName = {})
    {
        const SftpSource source;
        EXPECT_TRUE(source.RunsOperation(code, from, to));
        SourceOperationOptions options;
        options.newName = newName;
        std::unique_ptr<SourceOperation> op = source.OperationFor(code, from, to, ui, options);
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

ino_t Inode(const std::string& path)
{
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_ino;
}

TEST_F(SftpOperationTest, RenamesInPlaceButNeverOverAnotherFileNorOutOfItsFolder)
{
    WriteFile(folder + "/old.txt", "old");
    WriteFile(folder + "/taken.txt", "taken");
    fs::create_directory(folder + "/sub");

    RecordingUi ui;
    EXPECT_TRUE(Run(FO_RENAME, Remote(), Local(), {{"old.txt", false}}, ui, "new.txt").sourceChanged);
    EXPECT_TRUE(ui.errors.empty()) << ui.errors[0];
    EXPECT_EQ(ReadAll(folder + "/new.txt"), "old");
    EXPECT_FALSE(fs::exists(folder + "/old.txt"));

    Run(FO_RENAME, Remote(), Local(), {{"new.txt", false}}, ui, "taken.txt");
    ASSERT_EQ(ui.errors.size(), 1u);
    EXPECT_NE(ui.errors[0].find("already exists"), std::string::npos) << ui.errors[0];
    EXPECT_EQ(ReadAll(folder + "/taken.txt"), "taken");
    EXPECT_EQ(ReadAll(folder + "/new.txt"), "old");

    Run(FO_RENAME, Remote(), Local(), {{"new.txt", false}}, ui, "sub/new.txt");
    ASSERT_EQ(ui.errors.size(), 2u);
    EXPECT_NE(ui.errors[1].find("\"/\""), std::string::npos) << ui.errors[1];
    EXPECT_FALSE(fs::exists(folder + "/sub/new.txt"));
    EXPECT_EQ(ReadAll(folder + "/new.txt"), "old");
}

TEST_F(SftpOperationTest, MovesTreesBothWaysRemovingEachSourceOnceItsCopyIsWhole)
{
    fs::create_directories(local + "/tree/deeper");
    WriteFile(local + "/tree/a.txt", "a");
    WriteFile(local + "/tree/deeper/b.bin", std::string(300000, 'b'));
    WriteFile(local + "/single", "one");

    RecordingUi ui;
    SourceOperationResult result = Run(FO_MOVE, Local(), Remote(), {{"tree", true}, {"single", false}}, ui);
    EXPECT_TRUE(ui.errors.empty()) << ui.errors[0];
    EXPECT_TRUE(result.sourceChanged && result.targetChanged);
    EXPECT_EQ(ReadAll(folder + "/tree/deeper/b.bin"), std::string(300000, 'b'));
    EXPECT_EQ(ReadAll(folder + "/single"), "one");
    EXPECT_FALSE(fs::exists(local + "/tree"));
    EXPECT_FALSE(fs::exists(local + "/single"));
    EXPECT_EQ(ui.lastDone, ui.lastTotal);

    // And back; a file that is in the target already stays when the user
    // says no, and so does its source, and the folder that holds it.
    fs::create_directories(local + "/tree");
    WriteFile(local + "/tree/a.txt", "local a");
    ui.replace = ReplaceAnswer::No;
    result = Run(FO_MOVE, Remote(), Local(), {{"tree", true}, {"single", false}}, ui);
    EXPECT_TRUE(ui.errors.empty()) << ui.errors[0];
    EXPECT_EQ(ui.replaceAsked.size(), 1u);
    EXPECT_EQ(ReadAll(local + "/tree/a.txt"), "local a");
    EXPECT_EQ(ReadAll(local + "/tree/deeper/b.bin"), std::string(300000, 'b'));
    EXPECT_EQ(ReadAll(local + "/single"), "one");
    EXPECT_EQ(ReadAll(folder + "/tree/a.txt"), "a") << "kept: it did not move";
    EXPECT_FALSE(fs::exists(folder + "/tree/deeper"));
    EXPECT_FALSE(fs::exists(folder + "/single"));
    EXPECT_TRUE(PartFiles(folder).empty());
    EXPECT_TRUE(PartFiles(local).empty());

    // A link to a folder stays, and so does all it leads to, on either side.
    fs::create_directories(server->Dir() + "/elsewhere");
    WriteFile(server->Dir() + "/elsewhere/precious", "p");
    fs::create_directory_symlink(server->Dir() + "/elsewhere", local + "/linked");
    fs::create_directory_symlink(server->Dir() + "/elsewhere", folder + "/linked");
    for (const bool upload : {true, false}) {
        RecordingUi links;
        if (upload)
            Run(FO_MOVE, Local(), Remote(), {{"linked", true}}, links);
        else
            Run(FO_MOVE, Remote(), Local(), {{"linked", true}}, links);
        ASSERT_EQ(links.errors.size(), 1u);
        EXPECT_NE(links.errors[0].find("linked"), std::string::npos) << links.errors[0];
    }
    EXPECT_EQ(ReadAll(server->Dir() + "/elsewhere/precious"), "p");
    EXPECT_TRUE(fs::is_symlink(local + "/linked"));
    EXPECT_TRUE(fs::is_symlink(folder + "/linked"));
}

TEST_F(SftpOperationTest, ASourceThatChangesWhileItIsMovedIsKept)
{
    const std::string big(8 << 20, 'x');
    for (const bool upload : {true, false}) {
        SCOPED_TRACE(upload ? "upload" : "download");
        const std::string sourceFolder = upload ? local : folder, targetFolder = upload ? folder : local;
        fs::create_directories(sourceFolder + "/box");
        WriteFile(sourceFolder + "/box/big", big);
        WriteFile(sourceFolder + "/box/small", "s");
        fs::remove_all(targetFolder + "/box");
        RecordingUi ui;
        bool changed = false;
        std::optional<uint64_t> bigFrom; // the count when big's copy began
        ui.onProgress = [&](uint64_t done, const std::string& name) {
            if (name == "big" && !bigFrom)
                bigFrom = done;
            if (name == "big" && done > *bigFrom && !changed) {
                changed = true;
                std::ofstream(sourceFolder + "/box/big", std::ios::app) << "more";
            }
            return true;
        };
        if (upload)
            Run(FO_MOVE, Local(), Remote(), {{"box", true}}, ui);
        else
            Run(FO_MOVE, Remote(), Local(), {{"box", true}}, ui);
        ASSERT_TRUE(changed);
        ASSERT_EQ(ui.errors.size(), 1u);
        EXPECT_NE(ui.errors[0].find("box/big"), std::string::npos) << ui.errors[0];
        EXPECT_EQ(ReadAll(sourceFolder + "/box/big"), big + "more") << "the changed source stays";
        EXPECT_FALSE(fs::exists(sourceFolder + "/box/small")) << "the rest moves";
        EXPECT_TRUE(fs::exists(targetFolder + "/box/big"));
        EXPECT_EQ(ReadAll(targetFolder + "/box/small"), "s");
    }
}

TEST_F(SftpOperationTest, StoppingAMoveLeavesNoPartFileNorHalfFileAndNoError)
{
    WriteFile(local + "/up", std::string(8 << 20, 'u'));
    WriteFile(folder + "/down", std::string(8 << 20, 'd'));
    fs::create_directories(folder + "/other");
    const PanePlace other = PanePlace::FromPath(server->Url(folder + "/other"));
    // Another connection to the same server: the move goes through this machine.
    const PanePlace elsewhere =
        PanePlace::FromPath("sftp://127.0.0.1:" + std::to_string(server->Port()) + folder + "/other");
    struct Way {
        const char* name;
        PanePlace from, to;
        std::string file, source, receiving;
    };
    for (const Way& way : {Way{"upload", Local(), other, "up", local, folder + "/other"},
                           Way{"download", Remote(), Local(), "down", folder, local},
                           Way{"between remote places", Remote(), elsewhere, "down", folder, folder + "/other"}}) {
        SCOPED_TRACE(way.name);
        RecordingUi ui;
        uint64_t stoppedAt = 0;
        ui.onProgress = [&](uint64_t done, const std::string&) {
            if (done > 0 && stoppedAt == 0)
                stoppedAt = done;
            return stoppedAt == 0;
        };
        const SourceOperationResult result = Run(FO_MOVE, way.from, way.to, {{way.file, false}}, ui);
        EXPECT_GT(stoppedAt, 0u);
        EXPECT_LT(stoppedAt, 8u << 20) << "stopped halfway";
        EXPECT_TRUE(ui.errors.empty()) << ui.errors[0];
        EXPECT_FALSE(result.sourceChanged);
        EXPECT_TRUE(PartFiles(folder).empty());
        EXPECT_TRUE(PartFiles(local).empty());
        EXPECT_FALSE(fs::exists(way.receiving + "/" + way.file));
        EXPECT_EQ(fs::file_size(way.source + "/" + way.file), 8u << 20) << "the source stays";
    }
}

TEST_F(SftpOperationTest, ALinkThatDropsDuringAMoveKeepsTheSource)
{
    const std::string big(64 << 20, 'm');
    for (const bool upload : {true, false}) {
        SCOPED_TRACE(upload ? "upload" : "download");
        const std::string sourceFolder = upload ? local : folder, receiving = upload ? folder : local;
        WriteFile(sourceFolder + "/big", big);
        fs::remove(receiving + "/big");
        std::thread stopper([&] {
            for (int i = 0; i < 2000 && PartFiles(receiving).empty(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            server->StopAnswering();
        });
        RecordingUi ui;
        const SourceOperationResult result = upload ? Run(FO_MOVE, Local(), Remote(), {{"big", false}}, ui)
                                                    : Run(FO_MOVE, Remote(), Local(), {{"big", false}}, ui);
        stopper.join();
        server->Answer();
        ASSERT_EQ(ui.errors.size(), 1u);
        EXPECT_NE(ui.errors[0].find("not answering"), std::string::npos) << ui.errors[0];
        EXPECT_FALSE(result.sourceChanged);
        EXPECT_EQ(fs::file_size(sourceFolder + "/big"), big.size()) << "the source stays whole";
        EXPECT_FALSE(fs::exists(receiving + "/big"));
        EXPECT_TRUE(PartFiles(local).empty());
        SshConnection::DisconnectAll();
        for (const std::string& part : PartFiles(folder))
            fs::remove(part);
    }
}

TEST_F(SftpOperationTest, CopiesAndMovesBetweenTwoRemotePlaces)
{
    fs::create_directories(folder + "/a/tree/deeper");
    fs::create_directories(folder + "/b");
    WriteFile(folder + "/a/tree/deeper/x", std::string(500000, 'x'));
    WriteFile(folder + "/a/file", "f");
    const PanePlace a = PanePlace::FromPath(server->Url(folder + "/a"));
    const PanePlace b = PanePlace::FromPath(server->Url(folder + "/b"));

    RecordingUi ui;
    EXPECT_TRUE(Run(FO_COPY, a, b, {{"tree", true}, {"file", false}}, ui).targetChanged);
    EXPECT_TRUE(ui.errors.empty()) << ui.errors[0];
    EXPECT_EQ(ReadAll(folder + "/b/tree/deeper/x"), std::string(500000, 'x'));
    EXPECT_EQ(ReadAll(folder + "/a/file"), "f");
    EXPECT_NE(Inode(folder + "/b/file"), Inode(folder + "/a/file"));

    // One connection: the server renames, the very same files arrive.
    fs::remove_all(folder + "/b/tree");
    const ino_t tree = Inode(folder + "/a/tree/deeper/x");
    EXPECT_TRUE(Run(FO_MOVE, a, b, {{"tree", true}}, ui).sourceChanged);
    EXPECT_TRUE(ui.errors.empty()) << ui.errors[0];
    EXPECT_EQ(Inode(folder + "/b/tree/deeper/x"), tree);
    EXPECT_FALSE(fs::exists(folder + "/a/tree"));

    // A folder never goes into itself.
    const PanePlace inside = PanePlace::FromPath(server->Url(folder + "/b/tree/deeper"));
    Run(FO_MOVE, b, inside, {{"tree", true}}, ui);
    Run(FO_COPY, b, inside, {{"tree", true}}, ui);
    fs::create_directory_symlink(folder, folder + "/b/up"); // nor through a link to a folder above it
    Run(FO_COPY, b, inside, {{"up", true}}, ui);
    ASSERT_EQ(ui.errors.size(), 3u);
    for (const std::string& error : ui.errors)
        EXPECT_NE(error.find("into itself"), std::string::npos) << error;
    EXPECT_TRUE(fs::exists(folder + "/b/tree/deeper/x"));
    EXPECT_FALSE(fs::exists(folder + "/b/tree/deeper/tree"));
    EXPECT_FALSE(fs::exists(folder + "/b/tree/deeper/up"));
    fs::remove(folder + "/b/up");
    ui.errors.clear();

    // Another connection to the place (no user named): through this machine.
    const PanePlace elsewhere =
        PanePlace::FromPath("sftp://127.0.0.1:" + std::to_string(server->Port()) + folder + "/a");
    const ino_t file = Inode(folder + "/b/file");
    WriteFile(folder + "/a/file", "older");
    ui.replace = ReplaceAnswer::Yes;
    EXPECT_TRUE(Run(FO_MOVE, b, elsewhere, {{"tree", true}, {"file", false}}, ui).sourceChanged);
    EXPECT_TRUE(ui.errors.empty()) << ui.errors[0];
    EXPECT_EQ(ui.replaceAsked.size(), 1u);
    EXPECT_EQ(ReadAll(folder + "/a/file"), "f");
    EXPECT_NE(Inode(folder + "/a/file"), file);
    EXPECT_EQ(ReadAll(folder + "/a/tree/deeper/x"), std::string(500000, 'x'));
    EXPECT_FALSE(fs::exists(folder + "/b/tree"));
    EXPECT_FALSE(fs::exists(folder + "/b/file"));
    EXPECT_TRUE(PartFiles(folder).empty());
}

TEST_F(SftpOperationTest, AMoveOntoItsOwnFileReachedAnotherWayKeepsIt)
{
    // The server serves this machine's own files: a folder of the disk, a
    // remote place and one reached over another connection can be one.
    WriteFile(folder + "/same", "the only copy");
    const PanePlace disk = PanePlace::Directory(folder);
    const PanePlace elsewhere = PanePlace::FromPath("sftp://127.0.0.1:" + std::to_string(server->Port()) + folder);
    struct Way {
        const char* name;
        PanePlace from, to;
    };
    for (const Way& way : {Way{"download", Remote(), disk}, Way{"upload", disk, Remote()},
                           Way{"between remote places", Remote(), elsewhere}}) {
        SCOPED_TRACE(way.name);
        RecordingUi ui;
        ui.replace = ReplaceAnswer::Yes;
        const SourceOperationResult result = Run(FO_MOVE, way.from, way.to, {{"same", false}}, ui);
        EXPECT_EQ(ui.replaceAsked.size(), 1u);
        ASSERT_EQ(ui.errors.size(), 1u);
        EXPECT_NE(ui.errors[0].find("itself"), std::string::npos) << ui.errors[0];
        EXPECT_FALSE(result.sourceChanged);
        EXPECT_EQ(ReadAll(folder + "/same"), "the only copy");
        EXPECT_TRUE(PartFiles(folder).empty());
    }
}

struct Names : ListSink {
    std::vector<std::string> names, problems;
    void Chunk(std::vector<SourceEntry>&& entries) override
    {
        for (SourceEntry& e : entries)
            names.push_back(e.name);
    }
    void Problem(const std::string& text) override { problems.push_back(text); }
};

TEST_F(SftpOperationTest, AListingOfTheHostIsNotHeldUpByACopyInProgress)
{
    WriteFile(folder + "/big", std::string(8 << 20, 'l'));
    RecordingUi ui;
    std::thread lister;
    std::atomic<bool> listed{false};
    bool listedInTime = false;
    Names names;
    // The copy halts at its first bytes until the listing is done.
    ui.onProgress = [&](uint64_t done, const std::string&) {
        if (done == 0 || lister.joinable())
            return true;
        lister = std::thread([&] {
            const CancelToken never;
            SftpSource().List(Remote(), names, never);
            listed = true;
        });
        for (int i = 0; i < 500 && !listed; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        listedInTime = listed;
        return true;
    };
    Run(FO_COPY, Remote(), Local(), {{"big", false}}, ui);
    ASSERT_TRUE(lister.joinable());
    lister.join();
    EXPECT_TRUE(listedInTime) << "the listing waited for the copy";
    EXPECT_TRUE(names.problems.empty()) << names.problems[0];
    EXPECT_NE(std::find(names.names.begin(), names.names.end(), "big"), names.names.end());
    EXPECT_EQ(fs::file_size(local + "/big"), 8u << 20);
}

} // namespace
} // namespace tarnel
