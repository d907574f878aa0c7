// Whole-file transfers to and from the private server, with several
// requests in flight: exact bytes at every request boundary, a stop in the
// middle that leaves the session usable, and a server that stops answering
// mid-transfer being cut.
#include "platform/ssh/SshConnection.h"
#include "sftp/ServerFixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {
namespace {

namespace fs = std::filesystem;

std::string RandomBytes(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = char(random());
    return bytes;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

class SftpTransferTest : public test::ServerFixture {
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

    RemoteError Use(const std::function<RemoteError(RemoteFiles&)>& work)
    {
        const std::optional<SftpUrl> url = SftpUrl::Parse(server->Url(folder));
        EXPECT_TRUE(url);
        NoSshQuestions none;
        return SshConnection::For(*url)->Use(none, work);
    }

    // Copies the server's file at remote into local path: the error, and
    // every progress figure told.
    RemoteError Download(const std::string& remote, const std::string& path, std::vector<uint64_t>& told,
                         const std::function<bool(uint64_t)>& goOn = nullptr)
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        EXPECT_GE(fd, 0);
        const RemoteError error = Use([&](RemoteFiles& files) {
            return files.Download(remote, fd, [&](uint64_t done) {
                told.push_back(done);
                return !goOn || goOn(done);
            });
        });
        ::close(fd);
        return error;
    }

    RemoteError Upload(const std::string& path, const std::string& remote, std::vector<uint64_t>& told,
                       const std::function<bool(uint64_t)>& goOn = nullptr, int64_t mtime = 0)
    {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        EXPECT_GE(fd, 0);
        const RemoteError error = Use([&](RemoteFiles& files) {
            return files.Upload(fd, remote, 0640, mtime, [&](uint64_t done) {
                told.push_back(done);
                return !goOn || goOn(done);
            });
        });
        ::close(fd);
        return error;
    }

    std::string local;
};

TEST_F(SftpTransferTest, BothWaysCopyEveryByteAtEachRequestBoundary)
{
    // Around one request of either way (32 KiB up, 64 KiB down), and a
    // few MiB whose last request is a short one.
    const size_t sizes[] = {0, 1, 32 * 1024, 32 * 1024 + 1, 64 * 1024 - 1, 64 * 1024, 64 * 1024 + 1,
                            3 * 1024 * 1024 + 12345};
    for (const size_t size : sizes) {
        SCOPED_TRACE(size);
        const std::string bytes = RandomBytes(size, unsigned(size));
        const std::string name = "f" + std::to_string(size);
        WriteFile(local + "/" + name, bytes);

        std::vector<uint64_t> up;
        const RemoteError sent = Upload(local + "/" + name, folder + "/" + name, up, nullptr, 1500000000);
        ASSERT_FALSE(sent) << sent.text;
        EXPECT_EQ(ReadAll(folder + "/" + name), bytes);
        struct stat st {};
        ::stat((folder + "/" + name).c_str(), &st);
        EXPECT_EQ(st.st_mtime, 1500000000);
        EXPECT_EQ(st.st_mode & 0777, 0640u);

        std::vector<uint64_t> down;
        const RemoteError got = Download(folder + "/" + name, local + "/" + name + ".back", down);
        ASSERT_FALSE(got) << got.text;
        EXPECT_EQ(ReadAll(local + "/" + name + ".back"), bytes);

        for (const std::vector<uint64_t>* told : {&up, &down}) {
            EXPECT_TRUE(std::is_sorted(told->begin(), told->end()));
            if (size > 0) {
                ASSERT_FALSE(told->empty());
                EXPECT_EQ(told->back(), size);
            }
        }
    }
}

TEST_F(SftpTransferTest, AStopInTheMiddleEndsTheTransferAndLeavesTheSessionInStep)
{
    const std::string bytes = RandomBytes(8 << 20, 7);
    WriteFile(folder + "/big", bytes);
    WriteFile(local + "/big", bytes);
    const std::string small = RandomBytes(100000, 8);
    WriteFile(folder + "/small", small);
    WriteFile(local + "/small", small);

    for (const bool upload : {false, true}) {
        SCOPED_TRACE(upload ? "upload" : "download");
        std::vector<uint64_t> told;
        int askedAfterStop = 0;
        bool stopped = false;
        auto stopAtOneMiB = [&](uint64_t done) {
            askedAfterStop += stopped;
            stopped = stopped || done >= (1u << 20);
            return !stopped;
        };
        const RemoteError error = upload ? Upload(local + "/big", folder + "/big.up", told, stopAtOneMiB)
                                         : Download(folder + "/big", local + "/big.down", told, stopAtOneMiB);
        EXPECT_TRUE(error.stopped) << error.text;
        EXPECT_FALSE(error.lost);
        EXPECT_EQ(askedAfterStop, 0) << "not asked again once told to stop";
        ASSERT_FALSE(told.empty());
        EXPECT_LT(told.back(), bytes.size());

        // The answers still on their way were taken: the next transfer on the
        // same connection gets its own bytes, not theirs.
        std::vector<uint64_t> next;
        const RemoteError again = upload ? Upload(local + "/small", folder + "/small.up", next)
                                         : Download(folder + "/small", local + "/small.down", next);
        ASSERT_FALSE(again) << again.text;
        EXPECT_EQ(ReadAll(upload ? folder + "/small.up" : local + "/small.down"), small);
    }
}

TEST_F(SftpTransferTest, AServerThatStopsAnsweringMidTransferIsCut)
{
    const std::string bytes = RandomBytes(32 << 20, 9);
    WriteFile(folder + "/big", bytes);
    WriteFile(local + "/big", bytes);
    for (const bool upload : {false, true}) {
        SCOPED_TRACE(upload ? "upload" : "download");
        std::vector<uint64_t> told;
        bool halted = false;
        auto haltOnce = [&](uint64_t) {
            if (!halted)
                server->StopAnswering();
            halted = true;
            return true;
        };
        const auto start = std::chrono::steady_clock::now();
        const RemoteError error = upload ? Upload(local + "/big", folder + "/big.up", told, haltOnce)
                                         : Download(folder + "/big", local + "/big.down", told, haltOnce);
        const auto took = std::chrono::steady_clock::now() - start;
        server->Answer();
        EXPECT_TRUE(error.notAnswering) << error.text;
        EXPECT_LT(took, std::chrono::seconds(10)) << "cut after the answer timeout, not waited for";
        EXPECT_LT(told.back(), bytes.size());

        // The connection is made again on the next use.
        std::vector<uint64_t> next;
        const RemoteError again = Download(folder + "/big", local + "/again", next);
        ASSERT_FALSE(again) << again.text;
        EXPECT_EQ(ReadAll(local + "/again"), bytes);
    }
}

} // namespace
} // namespace tarnel
