// The remote source as panes and the command line use it, against the
// private server.
#include "panes/FileData.h"
#include "platform/DirectoryReader.h"
#include "sftp/ServerFixture.h"
#include "sources/SftpSource.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sys/wait.h>

namespace tarnel {
namespace {

struct Recorder : ListSink {
    std::vector<size_t> chunkSizes;
    std::map<std::string, SourceEntry> entries;
    std::vector<std::string> problems;
    CancelToken* cancelAfterFirst = nullptr;
    void Chunk(std::vector<SourceEntry>&& chunk) override
    {
        chunkSizes.push_back(chunk.size());
        for (SourceEntry& e : chunk)
            entries[e.name] = e;
        if (cancelAfterFirst)
            cancelAfterFirst->Cancel();
    }
    void Problem(const std::string& text) override { problems.push_back(text); }
};

class SftpSourceTest : public test::ServerFixture {};

TEST_F(SftpSourceTest, ListsInChunksAsThePaneWantsItAndStopsWhenCancelled)
{
    const size_t files = FileSource::kChunkSize + 3;
    for (size_t i = 0; i < files; ++i)
        WriteFile(folder + "/f" + std::to_string(i), "");
    WriteFile(folder + "/.hidden", "abc");
    ::chmod((folder + "/.hidden").c_str(), 0444);
    std::filesystem::create_directory(folder + "/sub");
    const PanePlace place = PanePlace::FromPath(server->Url(folder));
    const SftpSource source;
    const CancelToken never;

    Recorder all;
    source.List(place, all, never);
    ASSERT_TRUE(all.problems.empty()) << all.problems[0];
    ASSERT_EQ(all.chunkSizes.size(), 2u);
    EXPECT_EQ(all.chunkSizes[0], FileSource::kChunkSize);
    EXPECT_EQ(all.entries.size(), files + 3) << "the files, .hidden, sub and ..";
    const SourceEntry& sub = all.entries["sub"];
    EXPECT_EQ(sub.kind, fkDirectory);
    EXPECT_TRUE(sub.attr & faDirectory);
    const SourceEntry& hidden = all.entries[".hidden"];
    EXPECT_EQ(hidden.kind, fkFile);
    EXPECT_EQ(hidden.size, 3);
    EXPECT_EQ(hidden.attr, uint32_t(faHidden | faReadOnly));
    struct stat st;
    ::stat((folder + "/.hidden").c_str(), &st);
    EXPECT_EQ(uint32_t(hidden.time), DosTimeFromUnix(st.st_mtime));

    CancelToken cancel;
    Recorder first;
    first.cancelAfterFirst = &cancel;
    source.List(place, first, cancel);
    EXPECT_EQ(first.chunkSizes.size(), 1u);
    EXPECT_TRUE(first.problems.empty()) << "an abandoned listing complains about nothing";

    Recorder root;
    source.List(PanePlace::FromPath(server->Url("/")), root, never);
    EXPECT_EQ(root.entries.count(".."), 0u) << "the root has no parent row, as on the disk";
    EXPECT_EQ(root.entries.count("tmp"), 1u);
}

TEST_F(SftpSourceTest, AHostThatCannotBeReachedListsNothingAndSaysWhy)
{
    server->TrustHostKey(false);
    Recorder unknown;
    const CancelToken never;
    SftpSource().List(PanePlace::FromPath(server->Url(folder)), unknown, never);
    EXPECT_TRUE(unknown.entries.empty());
    ASSERT_EQ(unknown.problems.size(), 1u);
    EXPECT_NE(unknown.problems[0].find(server->HostKeyFingerprint()), std::string::npos) << unknown.problems[0];
}

// Runs the program; its exit status, stdout and stderr.
int RunTarnel(const std::string& args, std::string& out, std::string& err, const std::string& dir)
{
    const std::string errFile = dir + "/stderr.txt";
    FILE* pipe = ::popen((std::string(TARNEL_BINARY) + " " + args + " 2>'" + errFile + "'").c_str(), "r");
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, got);
    const int status = ::pclose(pipe);
    std::ifstream in(errFile);
    err.assign(std::istreambuf_iterator<char>(in), {});
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(SftpSourceTest, TheCommandLineListsARemoteFolderAndFailsOnAnUnknownHost)
{
    WriteFile(folder + "/big.txt", std::string(1025, 'x'));
    WriteFile(folder + "/bad\xffname", "");
    std::filesystem::create_directory(folder + "/sub");
    std::string out, err;
    const std::string url = server->Url(folder);
    ASSERT_EQ(RunTarnel("--list '" + url + "' --sort size --descending --bytes", out, err, server->Dir()), 0) << err;
    EXPECT_EQ(err, "");
    EXPECT_NE(out.find("d\tsub\t"), std::string::npos) << out;
    EXPECT_NE(out.find("f\tbad\xffname\t0\t"), std::string::npos) << out;
    const size_t big = out.find("f\tbig.txt\t1025\t");
    ASSERT_NE(big, std::string::npos) << out;
    EXPECT_LT(big, out.find("f\tbad\xffname")) << "sorted by size, largest first";

    server->TrustHostKey(false);
    out.clear();
    EXPECT_EQ(RunTarnel("--list '" + url + "'", out, err, server->Dir()), 1);
    EXPECT_NE(err.find("not known"), std::string::npos) << err;
    EXPECT_EQ(out.find("big.txt"), std::string::npos);
    EXPECT_EQ(std::ifstream(server->Home() + "/.ssh/known_hosts").peek(), EOF) << "nobody was asked to trust it";
}

} // namespace
} // namespace tarnel
