#include "app/components/InstanceBlock.h"

#include "app/components/InstanceChannel.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <utility>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {

constexpr int kConnectTimeoutMs = 1000;

uint32_t ReadU32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void WriteU32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

bool ProcessIsAlive(uint32_t pid)
{
    // EPERM means the number now belongs to another user's process: not ours.
    return pid != 0 && pid <= uint32_t(INT32_MAX) && kill(pid_t(pid), 0) == 0;
}

} // namespace

std::string InstanceTag()
{
    const char* raw = std::getenv("TARNEL_INSTANCE_TAG");
    std::string tag = raw ? raw : "";
    for (char& c : tag) {
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                          c == '-' || c == '_' || c == '.';
        if (!safe)
            c = '_';
    }
    return tag;
}

std::string InstanceBlock::DefaultName()
{
    return "/OrvBuffer-" + std::to_string(getuid()) + InstanceTag();
}

InstanceBlock::InstanceBlock(std::string name) : name_(std::move(name)) {}

InstanceBlock::~InstanceBlock() { Close(); }

std::string InstanceBlock::PrivateFileName()
{
    const std::string socket = InstanceChannel::SocketPath();
    if (socket.empty())
        return {};
    return socket.substr(0, socket.rfind('/')) + "/OrvBuffer" + InstanceTag();
}

bool InstanceBlock::Open(std::string* error, Mode mode)
{
    Close();
    existed_ = false;
    claimed_ = false;
    file_.clear();
    const std::string file = PrivateFileName();

    // An instance that had to use its private file still holds it.
    if (!file.empty() && OpenFile(file, Mode::ExistingOnly) && Map(nullptr) && ProcessIsAlive(RunningPid()))
        return true;
    Close();
    file_.clear();
    existed_ = false;

    if (OpenShared(mode))
        return Map(error);
    if (fd_ < 0 && errno == ENOENT && mode == Mode::ExistingOnly) {
        if (error)
            *error = "TSharedmemory.create handle error";
        return false;
    }
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (file.empty()) {
        if (error)
            *error = "TSharedmemory.create handle error";
        return false;
    }
    static std::atomic<bool> told{false};
    if (!told.exchange(true))
        std::cerr << program_invocation_short_name << ": the shared memory block " << name_
                  << " is not this user's own; using " << file << " instead\n";
    if (!OpenFile(file, mode)) {
        if (error)
            *error = "TSharedmemory.create handle error";
        return false;
    }
    return Map(error);
}

// True with fd_ open on a block of this user's; false with fd_ open on
// someone else's block, or fd_ -1 and errno set.
bool InstanceBlock::OpenShared(Mode mode)
{
    if (mode == Mode::CreateIfMissing) {
        fd_ = shm_open(name_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd_ >= 0)
            return true;
        if (errno != EEXIST)
            return false;
    }
    existed_ = true;
    fd_ = shm_open(name_.c_str(), O_RDWR | O_CLOEXEC, 0600);
    if (fd_ < 0)
        return false;
    // The shm namespace is shared by all users; a block of someone else's with
    // our name must not steer us.
    struct stat st {};
    return fstat(fd_, &st) == 0 && st.st_uid == getuid();
}

bool InstanceBlock::OpenFile(const std::string& path, Mode mode)
{
    const int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    existed_ = mode == Mode::ExistingOnly;
    fd_ = mode == Mode::CreateIfMissing ? ::open(path.c_str(), flags | O_CREAT | O_EXCL, 0600) : -1;
    if (fd_ < 0 && (mode == Mode::ExistingOnly || errno == EEXIST)) {
        existed_ = true;
        fd_ = ::open(path.c_str(), flags);
    }
    if (fd_ < 0)
        return false;
    file_ = path;
    struct stat st {};
    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != getuid()) {
        ::close(fd_);
        fd_ = -1;
        file_.clear();
        return false;
    }
    return true;
}

bool InstanceBlock::Map(std::string* error)
{
    auto fail = [&](const char* text) {
        if (fd_ >= 0) {
            ::close(fd_);
            if (!existed_) // half made by us: nobody else can use it
                file_.empty() ? shm_unlink(name_.c_str()) : ::unlink(file_.c_str());
        }
        fd_ = -1;
        if (error)
            *error = text;
        return false;
    };
    struct stat st {};
    if (fstat(fd_, &st) != 0)
        return fail("TSharedmemory.create handle error");
    if (size_t(st.st_size) != kBlockSize && ftruncate(fd_, off_t(kBlockSize)) != 0)
        return fail("TSharedmemory.create handle error");
    void* view = mmap(nullptr, kBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (view == MAP_FAILED)
        return fail("Tfilemapping map view error");
    view_ = static_cast<unsigned char*>(view);
    return true;
}

void InstanceBlock::Close()
{
    if (view_) {
        // The running instance takes its block with it, and so does a sender
        // that made the block itself without finding anyone; a block another
        // process has claimed meanwhile stays.
        const uint32_t pid = RunningPid();
        if ((claimed_ && pid == uint32_t(getpid())) || (!existed_ && pid == 0)) {
            WriteU32(view_, 0);
            file_.empty() ? shm_unlink(name_.c_str()) : ::unlink(file_.c_str());
        }
        munmap(view_, kBlockSize);
        view_ = nullptr;
    }
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool InstanceBlock::BlockExists() const
{
    if (!view_ || !existed_)
        return false;
    // Whoever listens on our private socket is the running instance, even one
    // that has not written its number yet or is too busy to answer: a second
    // run must never start beside it because it is slow. After a crash the
    // socket file is left with no listener, and the block is taken over.
    return InstanceChannel::Listener(kConnectTimeoutMs);
}

void InstanceBlock::WriteOwnPid()
{
    if (!view_)
        return;
    WriteU32(view_, uint32_t(getpid()));
    claimed_ = true;
}

uint32_t InstanceBlock::RunningPid() const { return view_ ? ReadU32(view_) : 0; }

uint16_t InstanceBlock::ShellCallLength() const
{
    return view_ ? static_cast<uint16_t>(view_[4] | view_[5] << 8) : 0;
}

std::string InstanceBlock::ShellCallText(size_t length) const
{
    if (!view_)
        return {};
    length = std::min(length, kMaxTextLength);
    return std::string(reinterpret_cast<const char*>(view_ + kTextOffset), length);
}

void InstanceBlock::WriteShellCall(const std::string& path)
{
    if (!view_)
        return;
    const size_t length = std::min(path.size(), kMaxTextLength);
    std::memcpy(view_ + kTextOffset, path.data(), length);
    view_[4] = static_cast<unsigned char>(length & 0xff);
    view_[5] = static_cast<unsigned char>(length >> 8);
}

} // namespace tarnel
