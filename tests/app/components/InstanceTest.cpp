// The instance block, the instance channel and tarnel-open, each test with its
// own block and socket names so that a real running Tarnel is never touched.
#include "app/PrivateMessages.h"
#include "app/components/InstanceBlock.h"
#include "app/components/InstanceChannel.h"
#include "app/components/TestEnvironment.h"
#include "platform/TempDir.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarnel;

namespace {

using Received = std::tuple<int, qint64, qint64>;

// Own tag and runtime folder per test; removes the block the test leaves.
class InstanceFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int counter = 0;
        ASSERT_TRUE(runtime_.isValid());
        env_.Set("TARNEL_INSTANCE_TAG", "-test" + std::to_string(getpid()) + "-" + std::to_string(++counter));
        env_.Set("XDG_RUNTIME_DIR", runtime_.path().toStdString());
        ASSERT_EQ(0, chmod(runtime_.path().toLocal8Bit().constData(), 0700));
        ASSERT_TRUE(cache_.isValid());
        env_.Set("XDG_CACHE_HOME", cache_.path().toStdString());
    }

    void TearDown() override { shm_unlink(InstanceBlock::DefaultName().c_str()); }

    std::string RuntimeDir() const { return runtime_.path().toStdString(); }

    EnvGuard env_;
    QTemporaryDir runtime_;
    QTemporaryDir cache_;
};

// The server answers only while the event loop runs, so a client in the same
// process must ask from another thread.
template <class F>
auto BesideEventLoop(F f)
{
    std::atomic<bool> done{false};
    decltype(f()) result{};
    std::thread t([&] {
        result = f();
        done = true;
    });
    // Every client call has its own timeout, so the join cannot hang.
    static_cast<void>(QTest::qWaitFor([&] { return done.load(); }, 10000));
    t.join();
    return result;
}

class Recorder {
public:
    explicit Recorder(InstanceChannel& channel)
    {
        QObject::connect(&channel, &InstanceChannel::messageReceived,
                         [this](int m, qint64 w, qint64 l) { messages.emplace_back(m, w, l); });
    }
    bool WaitFor(size_t count, int ms = 5000)
    {
        return QTest::qWaitFor([&] { return messages.size() >= count; }, ms);
    }
    std::vector<Received> messages;
};

bool HaveSetpriv() { return std::system("command -v setpriv >/dev/null 2>&1") == 0; }

// Runs a shell command as another local user (nobody), as an attacker would.
int RunAsNobody(const std::string& command)
{
    const std::string line = "setpriv --reuid=65534 --regid=65534 --clear-groups sh -c \"" + command + "\"";
    return std::system(line.c_str());
}

uint32_t DeadPid()
{
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    return uint32_t(child);
}

int RawConnect()
{
    const std::string path = InstanceChannel::SocketPath();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void SendRaw(const std::string& bytes)
{
    const int fd = RawConnect();
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ssize_t(bytes.size()), send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL));
    close(fd);
}

// Overwrites the pid at offset 0; WriteOwnPid can only write ours.
void WriteRawPid(uint32_t pid)
{
    const int fd = shm_open(InstanceBlock::DefaultName().c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    auto* raw = static_cast<unsigned char*>(mmap(nullptr, 4096, PROT_WRITE, MAP_SHARED, fd, 0));
    close(fd);
    ASSERT_NE(MAP_FAILED, static_cast<void*>(raw));
    for (int i = 0; i < 4; ++i)
        raw[i] = static_cast<unsigned char>(pid >> (8 * i));
    munmap(raw, 4096);
}

struct OpenRun {
    int exitCode = -1;
    std::string err;
};

// Runs tarnel-open with arguments passed byte for byte, while this process
// keeps serving the channel.
OpenRun RunTarnelOpen(std::vector<std::string> args, const std::string& workDir = {})
{
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    if (!workDir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    args.insert(args.begin(), TARNEL_OPEN_BINARY);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, TARNEL_OPEN_BINARY, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    OpenRun run;
    if (spawned == 0) {
        int status = 0;
        if (!QTest::qWaitFor([&] { return waitpid(child, &status, WNOHANG) == child; }, 15000)) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
        }
        if (WIFEXITED(status))
            run.exitCode = WEXITSTATUS(status);
        char buffer[512];
        for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
            run.err.append(buffer, size_t(n));
    }
    close(pipeFds[0]);
    return run;
}

} // namespace

using InstanceBlockTest = InstanceFixture;

TEST_F(InstanceBlockTest, LayoutIsLittleEndianPidLengthAndText)
{
    InstanceBlock block;
    std::string error;
    ASSERT_TRUE(block.Open(&error)) << error;
    block.WriteOwnPid();
    block.WriteShellCall("/home/x");

    // Other programs see the block as raw bytes; check them, not just our reader.
    const int fd = shm_open(InstanceBlock::DefaultName().c_str(), O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    struct stat st {};
    ASSERT_EQ(0, fstat(fd, &st));
    EXPECT_EQ(4096, st.st_size);
    EXPECT_EQ(0600u, st.st_mode & 0777);
    auto* raw = static_cast<const unsigned char*>(mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0));
    close(fd);
    ASSERT_NE(MAP_FAILED, static_cast<const void*>(raw));
    const uint32_t pid = uint32_t(getpid());
    EXPECT_EQ(pid & 0xff, raw[0]);
    EXPECT_EQ(pid >> 8 & 0xff, raw[1]);
    EXPECT_EQ(pid >> 16 & 0xff, raw[2]);
    EXPECT_EQ(pid >> 24, raw[3]);
    EXPECT_EQ(7, raw[4]);
    EXPECT_EQ(0, raw[5]);
    EXPECT_EQ("/home/x", std::string(reinterpret_cast<const char*>(raw + 6), 7));
    munmap(const_cast<unsigned char*>(raw), 4096);

    InstanceBlock other;
    ASSERT_TRUE(other.Open(&error)) << error;
    EXPECT_EQ(pid, other.RunningPid());
    EXPECT_EQ(7, other.ShellCallLength());
    EXPECT_EQ("/home/x", other.ShellCallText(other.ShellCallLength()));
}

TEST_F(InstanceBlockTest, ShellCallLengthIsTheTrueLengthUpToTheBlockEnd)
{
    InstanceBlock block;
    ASSERT_TRUE(block.Open(nullptr));

    const std::string p512(512, 'a');
    block.WriteShellCall(p512);
    EXPECT_EQ(512, block.ShellCallLength());
    EXPECT_EQ(p512, block.ShellCallText(512));

    // Too long for the receiver, which must see that and refuse it.
    const std::string p513 = "/" + std::string(512, 'b');
    block.WriteShellCall(p513);
    EXPECT_EQ(513, block.ShellCallLength());
    EXPECT_EQ(p513, block.ShellCallText(513));

    const std::string huge(5000, 'c');
    block.WriteShellCall(huge);
    EXPECT_EQ(4090, block.ShellCallLength());
    EXPECT_EQ(std::string(4090, 'c'), block.ShellCallText(65535));
    EXPECT_EQ("cc", block.ShellCallText(2));
}

TEST_F(InstanceBlockTest, ExistsExactlyWhileSomeoneListensOnTheSocket)
{
    InstanceBlock first;
    ASSERT_TRUE(first.Open(nullptr));
    EXPECT_FALSE(first.BlockExists()) << "freshly made";

    InstanceBlock second;
    ASSERT_TRUE(second.Open(nullptr));
    EXPECT_FALSE(second.BlockExists()) << "existed, but no process recorded";

    const uint32_t dead = DeadPid();
    ASSERT_NE(0, kill(pid_t(dead), 0));
    WriteRawPid(dead);
    EXPECT_EQ(dead, second.RunningPid());
    EXPECT_FALSE(second.BlockExists()) << "left by a crashed run";

    first.WriteOwnPid();
    EXPECT_FALSE(second.BlockExists()) << "alive, but nobody listens";

    {
        // A run between listening and writing its number, or one whose
        // event loop is busy building its window (nothing serves the loop
        // here): a second start must not run beside it.
        WriteRawPid(dead);
        InstanceChannel channel;
        std::string error;
        ASSERT_TRUE(channel.Listen(&error)) << error;
        EXPECT_TRUE(second.BlockExists()) << "listening, number not yet written";
        first.WriteOwnPid();
        EXPECT_TRUE(second.BlockExists()) << "listening, loop busy";
    }
    EXPECT_FALSE(second.BlockExists()) << "stopped listening";
}

TEST_F(InstanceBlockTest, RunningInstanceTakesItsBlockAlongOthersLeaveIt)
{
    {
        InstanceBlock owner;
        ASSERT_TRUE(owner.Open(nullptr));
        owner.WriteOwnPid();
        InstanceBlock visitor;
        ASSERT_TRUE(visitor.Open(nullptr));
    } // the visitor leaves first and must not take the owner's block

    const int fd = shm_open(InstanceBlock::DefaultName().c_str(), O_RDONLY, 0);
    EXPECT_LT(fd, 0) << "the owner's block outlived it";
    if (fd >= 0)
        close(fd);

    {
        InstanceBlock owner;
        ASSERT_TRUE(owner.Open(nullptr));
        owner.WriteOwnPid();
        {
            InstanceBlock visitor;
            ASSERT_TRUE(visitor.Open(nullptr));
        }
        InstanceBlock later;
        ASSERT_TRUE(later.Open(nullptr));
        EXPECT_EQ(uint32_t(getpid()), later.RunningPid()) << "a visitor removed the running block";
    }
}

// Any user can make a shared memory block under our name before we do. It is
// never used, and never keeps the program from starting: the block moves to
// the private folder, where the program and tarnel-open both look.
TEST_F(InstanceBlockTest, ABlockOfAnotherUserIsLeftAloneForOneInThePrivateFolder)
{
    if (getuid() != 0 || !HaveSetpriv())
        GTEST_SKIP() << "needs root and setpriv to act as another user";
    const std::string shm = "/dev/shm" + InstanceBlock::DefaultName();
    ASSERT_EQ(0, RunAsNobody(": > '" + shm + "'"));
    struct stat planted {};
    ASSERT_EQ(0, lstat(shm.c_str(), &planted));
    ASSERT_EQ(65534u, planted.st_uid);

    testing::internal::CaptureStderr();
    InstanceBlock block;
    std::string error;
    ASSERT_TRUE(block.Open(&error)) << error;
    EXPECT_TRUE(block.InPrivateFile());
    EXPECT_FALSE(block.BlockExists());
    block.WriteOwnPid();
    block.WriteShellCall("/home/x");
    InstanceBlock other;
    ASSERT_TRUE(other.Open(&error)) << error;
    EXPECT_EQ(uint32_t(getpid()), other.RunningPid());
    EXPECT_EQ("/home/x", other.ShellCallText(other.ShellCallLength()));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, said.find(InstanceBlock::DefaultName() + " is not this user's own")) << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << "said more than once: " << said;

    const std::string file = InstanceBlock::PrivateFileName();
    EXPECT_EQ(RuntimeDir() + "/OrvBuffer" + InstanceTag(), file);
    struct stat st {};
    ASSERT_EQ(0, lstat(file.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
    EXPECT_EQ(4096, st.st_size);

    // Once the other user's block is gone, a new start still finds the
    // instance that holds the private file, not a fresh block of its own.
    ASSERT_EQ(0, unlink(shm.c_str()));
    InstanceBlock later;
    ASSERT_TRUE(later.Open(&error)) << error;
    EXPECT_TRUE(later.InPrivateFile());
    EXPECT_EQ(uint32_t(getpid()), later.RunningPid());

    // Untouched: the other user's file, as it was.
    ASSERT_EQ(0, RunAsNobody(": > '" + shm + "'"));
    InstanceBlock visitor;
    ASSERT_TRUE(visitor.Open(nullptr));
    ASSERT_EQ(0, lstat(shm.c_str(), &st));
    EXPECT_EQ(0, st.st_size);
    EXPECT_EQ(65534u, st.st_uid);
    unlink(shm.c_str());
}

using InstanceChannelTest = InstanceFixture;

TEST_F(InstanceChannelTest, PostDeliversMessageNumbersAndParameters)
{
    InstanceChannel channel;
    std::string error;
    ASSERT_TRUE(channel.Listen(&error)) << error;
    Recorder recorder(channel);

    const std::vector<Received> sent = {
        {UM_SHELLCALL, 0, 0},
        {UM_ASYNCDONE, -1, INT64_MAX},
        {INT32_MIN, INT64_MIN, 0x0123456789abcdefLL},
    };
    for (size_t i = 0; i < sent.size(); ++i) {
        const auto& [m, w, l] = sent[i];
        ASSERT_TRUE(InstanceChannel::Post(m, w, l));
        ASSERT_TRUE(recorder.WaitFor(i + 1));
    }
    EXPECT_EQ(sent, recorder.messages);
}

TEST_F(InstanceChannelTest, NobodyListening)
{
    EXPECT_FALSE(InstanceChannel::Post(UM_RESTORE));
    EXPECT_FALSE(InstanceChannel::Ping(200));

    // A socket file left by a crashed run refuses connections: same answer.
    const std::string path = InstanceChannel::SocketPath();
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(0, bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr));
    close(fd);
    EXPECT_FALSE(InstanceChannel::Post(UM_RESTORE));
    EXPECT_FALSE(InstanceChannel::Ping(200));

    // ... and does not stop a new server.
    InstanceChannel channel;
    std::string error;
    ASSERT_TRUE(channel.Listen(&error)) << error;
    qint64 pid = 0;
    EXPECT_TRUE(BesideEventLoop([&] { return InstanceChannel::Ping(2000, &pid); }));
    EXPECT_EQ(getpid(), pid);
}

TEST_F(InstanceChannelTest, SecondServerDoesNotStealALiveSocket)
{
    auto first = std::make_unique<InstanceChannel>();
    ASSERT_TRUE(first->Listen(nullptr));
    InstanceChannel second;
    std::string error;
    EXPECT_FALSE(second.Listen(&error));
    EXPECT_NE(std::string::npos, error.find("another process")) << error;

    Recorder recorder(*first);
    ASSERT_TRUE(InstanceChannel::Post(UM_RESTORE));
    EXPECT_TRUE(recorder.WaitFor(1));

    first.reset();
    struct stat st {};
    EXPECT_NE(0, lstat(InstanceChannel::SocketPath().c_str(), &st)) << "socket file left behind";
}

TEST_F(InstanceChannelTest, GarbageIsIgnoredAndServingGoesOn)
{
    InstanceChannel channel;
    ASSERT_TRUE(channel.Listen(nullptr));
    Recorder recorder(channel);

    SendRaw(std::string(32, 'x'));                       // wrong magic
    SendRaw("Trnl");                                     // short, then gone
    SendRaw(std::string("Trnl\x03\0\0\0", 8) + std::string(24, '\0')); // an answer, not a request
    SendRaw(std::string("Trnl\x09\0\0\0", 8) + std::string(24, '\0')); // unknown kind
    SendRaw(std::string(4096, '\xff'));
    { // connect and leave without a word
        const int fd = RawConnect();
        ASSERT_GE(fd, 0);
        close(fd);
    }
    // A good record followed by rubbish on the same connection: the good one counts.
    std::string good(32, '\0');
    std::memcpy(good.data(), "Trnl\x01\0\0\0\x04\x04\0\0", 12);
    SendRaw(good + std::string(40, 'z') + good);
    ASSERT_TRUE(recorder.WaitFor(1));

    ASSERT_TRUE(InstanceChannel::Post(UM_REFRESHRIGHT, 7, 8));
    ASSERT_TRUE(recorder.WaitFor(2));
    QTest::qWait(100); // let anything late show up
    EXPECT_EQ((std::vector<Received>{{UM_REFRESHLEFT, 0, 0}, {UM_REFRESHRIGHT, 7, 8}}), recorder.messages);
}

TEST_F(InstanceChannelTest, ShortConnectionsNeverShareBytes)
{
    InstanceChannel channel;
    ASSERT_TRUE(channel.Listen(nullptr));
    Recorder recorder(channel);

    // Written out by hand so that a wrong field offset in the server shows.
    auto record = [](int i) {
        std::string r(32, '\0');
        std::memcpy(r.data(), "Trnl\x01\0\0\0", 8);
        const uint32_t m = 0x1000u + uint32_t(i);
        const uint64_t w = uint64_t(-int64_t(i)), l = uint64_t(i) << 40 | 0xabc;
        for (int b = 0; b < 4; ++b)
            r[8 + b] = char(m >> (8 * b));
        for (int b = 0; b < 8; ++b) {
            r[16 + b] = char(w >> (8 * b));
            r[24 + b] = char(l >> (8 * b));
        }
        return r;
    };
    constexpr int kCount = 60;
    std::vector<Received> expected;
    for (int i = 0; i < kCount; ++i)
        expected.emplace_back(0x1000 + i, -qint64(i), qint64(i) << 40 | 0xabc);

    // Every sender closes at once; some split their record, some add rubbish,
    // some overlap with another connection sending rubbish.
    const bool sent = BesideEventLoop([&] {
        for (int i = 0; i < kCount; ++i) {
            const int fd = RawConnect();
            if (fd < 0)
                return false;
            std::string bytes = record(i);
            int other = -1;
            switch (i % 4) {
            case 0:
                break;
            case 1:
                send(fd, bytes.data(), 13, MSG_NOSIGNAL);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                bytes.erase(0, 13);
                break;
            case 2:
                bytes += std::string(40, 'z') + "Trnl";
                break;
            case 3:
                other = RawConnect();
                if (other >= 0)
                    send(other, std::string(20, '\x05').data(), 20, MSG_NOSIGNAL);
                break;
            }
            const bool ok = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
            close(fd);
            if (other >= 0)
                close(other);
            if (!ok)
                return false;
        }
        return true;
    });
    ASSERT_TRUE(sent);
    ASSERT_TRUE(recorder.WaitFor(kCount));
    QTest::qWait(50); // let anything late show up
    std::vector<Received> got = recorder.messages;
    std::sort(got.begin(), got.end());
    EXPECT_EQ(expected, got);
}

TEST_F(InstanceChannelTest, SocketFolderMustBePrivate)
{
    EXPECT_EQ(RuntimeDir() + "/tarnel-instance" + InstanceTag() + ".sock", InstanceChannel::SocketPath());

    // Runtime folder others can enter: fall back to our own folder in TMPDIR.
    ASSERT_EQ(0, chmod(RuntimeDir().c_str(), 0755));
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    env_.Set("TMPDIR", tmp.path().toStdString());
    const std::string own = tmp.path().toStdString() + "/tarnel-" + std::to_string(getuid());
    EXPECT_EQ(own + "/tarnel-instance" + InstanceTag() + ".sock", InstanceChannel::SocketPath());
    struct stat st {};
    ASSERT_EQ(0, lstat(own.c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 0777);

    // Our folder there opened up, or a link to a private folder in its
    // place: never used; the home folder's instead.
    env_.Unset("XDG_RUNTIME_DIR");
    const std::string home = HomePrivateDirPath() + "/tarnel-instance" + InstanceTag() + ".sock";
    ASSERT_EQ(0, chmod(own.c_str(), 0755));
    EXPECT_EQ(home, InstanceChannel::SocketPath());
    ASSERT_EQ(0, rmdir(own.c_str()));
    ASSERT_EQ(0, chmod(RuntimeDir().c_str(), 0700));
    ASSERT_EQ(0, symlink(RuntimeDir().c_str(), own.c_str()));
    EXPECT_EQ(home, InstanceChannel::SocketPath());

    // Neither can be had: no socket, and the reason for both.
    env_.Set("XDG_CACHE_HOME", "/proc/no-such-cache");
    std::string error;
    EXPECT_EQ("", InstanceChannel::SocketPath(&error));
    EXPECT_NE(std::string::npos, error.find(own)) << error;
    EXPECT_NE(std::string::npos, error.find("/proc/no-such-cache")) << error;
    InstanceChannel channel;
    EXPECT_FALSE(channel.Listen(&error));
}

// Without XDG_RUNTIME_DIR the socket's folder has a name anyone can make
// first in the shared temporary folder. Taken by another user, it leaves the
// instance its home folder's socket, which tarnel-open and a second start
// still find.
TEST_F(InstanceChannelTest, SquattedSharedFolderFallsBackToTheHomeFolder)
{
    if (getuid() != 0 || !HaveSetpriv())
        GTEST_SKIP() << "needs root and setpriv to act as another user";
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const std::string shared = tmp.path().toStdString();
    ASSERT_EQ(0, chmod(shared.c_str(), 01777));
    env_.Set("TMPDIR", shared);
    env_.Unset("XDG_RUNTIME_DIR");
    const std::string squatted = shared + "/tarnel-" + std::to_string(getuid());
    ASSERT_EQ(0, RunAsNobody("mkdir -m 0700 '" + squatted + "'"));

    const std::string home = HomePrivateDirPath();
    EXPECT_EQ(home + "/tarnel-instance" + InstanceTag() + ".sock", InstanceChannel::SocketPath());
    struct stat st {};
    ASSERT_EQ(0, lstat(home.c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 0777);
    EXPECT_EQ(getuid(), st.st_uid);

    InstanceBlock block;
    ASSERT_TRUE(block.Open(nullptr));
    block.WriteOwnPid();
    InstanceChannel channel;
    std::string error;
    ASSERT_TRUE(channel.Listen(&error)) << error;
    Recorder recorder(channel);
    EXPECT_TRUE(BesideEventLoop([] { InstanceBlock second; return second.Open(nullptr) && second.BlockExists(); }));
    OpenRun run = RunTarnelOpen({"/tmp"});
    EXPECT_EQ(0, run.exitCode) << run.err;
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ("/tmp", block.ShellCallText(block.ShellCallLength()));

    // The name freed again meanwhile: senders still reach the running one.
    ASSERT_EQ(0, rmdir(squatted.c_str()));
    qint64 pid = 0;
    EXPECT_TRUE(BesideEventLoop([&] { return InstanceChannel::Ping(2000, &pid); }));
    EXPECT_EQ(getpid(), pid);
}

using TarnelOpenTest = InstanceFixture;

TEST_F(TarnelOpenTest, HandsAnAbsolutePathToTheRunningInstance)
{
    InstanceBlock block;
    ASSERT_TRUE(block.Open(nullptr));
    block.WriteOwnPid();
    InstanceChannel channel;
    ASSERT_TRUE(channel.Listen(nullptr));
    Recorder recorder(channel);

    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    const std::string cwd = QDir(work.path()).canonicalPath().toStdString();
    ASSERT_EQ(0, symlink("/usr", (cwd + "/link").c_str()));

    // Relative: made absolute against the caller's folder, "." parts dropped,
    // links and ".." left as written.
    OpenRun run = RunTarnelOpen({"./link//../Some File/"}, cwd);
    EXPECT_EQ(0, run.exitCode) << run.err;
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ(Received(UM_SHELLCALL, 0, 0), recorder.messages[0]);
    const std::string expected = cwd + "/link/../Some File";
    EXPECT_EQ(expected.size(), block.ShellCallLength());
    EXPECT_EQ(expected, block.ShellCallText(block.ShellCallLength()));

    // Too long for the receiver; it gets the true length to refuse.
    const std::string longPath = "/" + std::string(512, 'x');
    run = RunTarnelOpen({"--", longPath});
    EXPECT_EQ(0, run.exitCode) << run.err;
    ASSERT_TRUE(recorder.WaitFor(2));
    EXPECT_EQ(513, block.ShellCallLength());
    EXPECT_EQ(longPath, block.ShellCallText(513));

    // Names that are not UTF-8 pass byte for byte.
    const std::string latin1 = "/tmp/caf\xe9";
    run = RunTarnelOpen({latin1});
    EXPECT_EQ(0, run.exitCode) << run.err;
    ASSERT_TRUE(recorder.WaitFor(3));
    EXPECT_EQ(latin1, block.ShellCallText(block.ShellCallLength()));
}

TEST_F(TarnelOpenTest, WithoutARunningInstanceItFailsAndLeavesNothing)
{
    OpenRun run = RunTarnelOpen({"/tmp"});
    EXPECT_EQ(1, run.exitCode);
    EXPECT_EQ("tarnel-open: Tarnel is not running\n", run.err);
    const int fd = shm_open(InstanceBlock::DefaultName().c_str(), O_RDONLY, 0);
    EXPECT_LT(fd, 0) << "tarnel-open left a block behind";
    if (fd >= 0)
        close(fd);

    // A recorded instance that does not answer is no instance either.
    InstanceBlock block;
    ASSERT_TRUE(block.Open(nullptr));
    block.WriteOwnPid();
    run = RunTarnelOpen({"/tmp"});
    EXPECT_EQ(1, run.exitCode);
    EXPECT_EQ("tarnel-open: Tarnel is not running\n", run.err);
}

TEST_F(TarnelOpenTest, AnotherUsersBlockDoesNotStopIt)
{
    if (getuid() != 0 || !HaveSetpriv())
        GTEST_SKIP() << "needs root and setpriv to act as another user";
    const std::string shm = "/dev/shm" + InstanceBlock::DefaultName();
    ASSERT_EQ(0, RunAsNobody(": > '" + shm + "'"));

    // Said once, on standard error; then the usual answer, not a failure.
    OpenRun run = RunTarnelOpen({"/tmp"});
    EXPECT_EQ(1, run.exitCode);
    EXPECT_EQ("tarnel-open: the shared memory block " + InstanceBlock::DefaultName() + " is not this user's own; using " +
                  InstanceBlock::PrivateFileName() + " instead\n" + "tarnel-open: Tarnel is not running\n",
              run.err);

    InstanceBlock block;
    ASSERT_TRUE(block.Open(nullptr));
    block.WriteOwnPid();
    InstanceChannel channel;
    ASSERT_TRUE(channel.Listen(nullptr));
    Recorder recorder(channel);
    run = RunTarnelOpen({"/usr"});
    EXPECT_EQ(0, run.exitCode) << run.err;
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ("/usr", block.ShellCallText(block.ShellCallLength()));
    EXPECT_EQ("", run.err) << "the running instance's block is found first";
    unlink(shm.c_str());
}

TEST_F(TarnelOpenTest, UsageErrors)
{
    EXPECT_EQ(2, RunTarnelOpen({}).exitCode);
    EXPECT_EQ(2, RunTarnelOpen({"/a", "/b"}).exitCode);
    EXPECT_EQ(2, RunTarnelOpen({""}).exitCode);
    EXPECT_EQ(2, RunTarnelOpen({"--"}).exitCode);
}
