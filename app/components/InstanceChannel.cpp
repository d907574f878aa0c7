#include "app/components/InstanceChannel.h"

#include "app/components/InstanceBlock.h"
#include "platform/TempDir.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarnel {

namespace {

// Every message on the channel is one fixed record, little-endian:
// magic, kind, message, reserved (all 32-bit), wParam, lParam (64-bit).
constexpr size_t kRecordSize = 32;
constexpr uint32_t kMagic = 0x6c6e7254; // "Trnl"
enum RecordKind : uint32_t { kPost = 1, kPing = 2, kAck = 3 };

// Senders write one record and leave; anything still open after this is stuck
// or hostile.
constexpr int kIdleConnectionMs = 5000;

using Record = std::array<unsigned char, kRecordSize>;
using Clock = std::chrono::steady_clock;

struct Message {
    uint32_t kind = 0;
    int32_t message = 0;
    int64_t wParam = 0;
    int64_t lParam = 0;
};

void Put(unsigned char* p, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

uint64_t Get(const unsigned char* p, int bytes)
{
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

Record Encode(const Message& m)
{
    Record r{};
    Put(&r[0], kMagic, 4);
    Put(&r[4], m.kind, 4);
    Put(&r[8], uint32_t(m.message), 4);
    Put(&r[16], uint64_t(m.wParam), 8);
    Put(&r[24], uint64_t(m.lParam), 8);
    return r;
}

bool Decode(const unsigned char* p, Message& m)
{
    if (Get(p, 4) != kMagic)
        return false;
    m.kind = uint32_t(Get(p + 4, 4));
    m.message = int32_t(uint32_t(Get(p + 8, 4)));
    m.wParam = int64_t(Get(p + 16, 8));
    m.lParam = int64_t(Get(p + 24, 8));
    return m.kind == kPost || m.kind == kPing || m.kind == kAck;
}

std::string SocketName() { return "/tarnel-instance" + InstanceTag() + ".sock"; }

// A folder only this user can enter: a real directory, owned by us, mode 0700.
bool IsPrivateDir(const std::string& dir)
{
    struct stat st {};
    return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
           (st.st_mode & 0777) == 0700;
}

int MillisecondsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

// Waits for events on fd until the deadline; false on timeout or error.
bool WaitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, MillisecondsLeft(deadline));
        if (n > 0)
            return (p.revents & events) != 0;
        if (n == 0 || errno != EINTR)
            return false;
    }
}

class ClientSocket {
public:
    ~ClientSocket()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }

    // The socket's own place, else the home folder's: a run that started
    // while the shared folder's name was taken listens there, and the name
    // may have been freed since.
    bool Connect(Clock::time_point deadline)
    {
        const std::string path = InstanceChannel::SocketPath();
        if (ConnectTo(path, deadline))
            return true;
        const std::string home = HomePrivateDirPath();
        const std::string homePath = home + SocketName();
        return !home.empty() && homePath != path && IsPrivateDir(home) && ConnectTo(homePath, deadline);
    }

    bool ConnectTo(const std::string& path, Clock::time_point deadline)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        sockaddr_un addr{};
        if (path.empty() || path.size() >= sizeof(addr.sun_path))
            return false;
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd_ < 0)
            return false;
        for (;;) {
            if (connect(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0)
                return true;
            // A full backlog means the server is busy, not gone: try again
            // until the deadline. Anything else means nobody listens.
            if ((errno != EAGAIN && errno != EINTR) || MillisecondsLeft(deadline) == 0)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    bool Send(const Record& r, Clock::time_point deadline)
    {
        size_t done = 0;
        while (done < r.size()) {
            const ssize_t n = send(fd_, r.data() + done, r.size() - done, MSG_NOSIGNAL);
            if (n > 0) {
                done += size_t(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && errno == EAGAIN) {
                if (!WaitFor(fd_, POLLOUT, deadline))
                    return false;
            } else {
                return false;
            }
        }
        return true;
    }

    bool Receive(Record& r, Clock::time_point deadline)
    {
        size_t done = 0;
        while (done < r.size()) {
            const ssize_t n = recv(fd_, r.data() + done, r.size() - done, 0);
            if (n > 0) {
                done += size_t(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && errno == EAGAIN) {
                if (!WaitFor(fd_, POLLIN, deadline))
                    return false;
            } else {
                return false;
            }
        }
        return true;
    }

    // The credentials the listener had when it called listen().
    bool PeerIsOwnUser(qint64* pid) const
    {
        ucred cred{};
        socklen_t size = sizeof cred;
        if (getsockopt(fd_, SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0 || cred.uid != getuid() || cred.pid <= 0)
            return false;
        if (pid)
            *pid = cred.pid;
        return true;
    }

private:
    int fd_ = -1;
};

bool SameUserPeer(QLocalSocket* socket)
{
    ucred cred{};
    socklen_t size = sizeof cred;
    return getsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0 &&
           cred.uid == getuid();
}

} // namespace

InstanceChannel::InstanceChannel(QObject* parent) : QObject(parent), server_(new QLocalServer(this))
{
    connect(server_, &QLocalServer::newConnection, this, &InstanceChannel::AcceptConnections);
}

InstanceChannel::~InstanceChannel()
{
    // QLocalServer removes its socket file on close.
    server_->close();
}

std::string InstanceChannel::SocketPath(std::string* error)
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && IsPrivateDir(runtime))
        return runtime + SocketName();
    // Another user may have taken the shared name first: then the home one.
    std::string why;
    const std::string dir = SharedTmpPrivateDir(why);
    if (dir.empty()) {
        if (error)
            *error = why;
        return {};
    }
    return dir + SocketName();
}

bool InstanceChannel::Listen(std::string* error)
{
    if (server_->isListening())
        return true;
    const std::string path = SocketPath(error);
    if (path.empty())
        return false;
    if (path.size() >= sizeof(sockaddr_un::sun_path)) {
        if (error)
            *error = "socket path too long: " + path;
        return false;
    }
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
        ClientSocket probe;
        if (probe.ConnectTo(path, Clock::now() + std::chrono::milliseconds(200))) {
            if (error)
                *error = "another process already listens on " + path;
            return false;
        }
        // Left by a run that ended without cleaning up.
        ::unlink(path.c_str());
    }
    if (!server_->listen(QFile::decodeName(path.c_str()))) {
        if (error)
            *error = server_->errorString().toStdString();
        return false;
    }
    return true;
}

bool InstanceChannel::IsListening() const { return server_->isListening(); }

void InstanceChannel::AcceptConnections()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        // The socket lives in a private folder; checking the peer as well
        // costs nothing and covers a runtime folder shared by mistake.
        if (!SameUserPeer(socket)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { ReadRecords(socket); });
        QTimer::singleShot(kIdleConnectionMs, socket, [socket] { socket->abort(); });
        if (socket->bytesAvailable() > 0)
            ReadRecords(socket);
    }
}

void InstanceChannel::ReadRecords(QLocalSocket* socket)
{
    QPointer<InstanceChannel> self(this);
    QPointer<QLocalSocket> guard(socket);
    while (guard && guard->bytesAvailable() >= qint64(kRecordSize)) {
        Record r{};
        if (guard->read(reinterpret_cast<char*>(r.data()), qint64(r.size())) != qint64(r.size()))
            break;
        Message m;
        if (!Decode(r.data(), m) || m.kind == kAck) {
            // Not one of ours; drop the whole connection rather than guess
            // where the next record might start.
            guard->abort();
            return;
        }
        if (m.kind == kPing) {
            const Record ack = Encode({kAck, 0, qint64(getpid()), 0});
            guard->write(reinterpret_cast<const char*>(ack.data()), qint64(ack.size()));
            guard->flush();
            continue;
        }
        emit messageReceived(m.message, m.wParam, m.lParam);
        if (!self)
            return;
    }
}

bool InstanceChannel::Post(int message, qint64 wParam, qint64 lParam, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    ClientSocket client;
    return client.Connect(deadline) && client.Send(Encode({kPost, message, wParam, lParam}), deadline);
}

bool InstanceChannel::Ping(int timeoutMs, qint64* serverPid)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    ClientSocket client;
    Record answer{};
    Message m;
    if (!client.Connect(deadline) || !client.Send(Encode({kPing, 0, 0, 0}), deadline) ||
        !client.Receive(answer, deadline) || !Decode(answer.data(), m) || m.kind != kAck)
        return false;
    if (serverPid)
        *serverPid = m.wParam;
    return true;
}

bool InstanceChannel::Listener(int timeoutMs, qint64* listenerPid)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    ClientSocket client;
    return client.Connect(deadline) && client.PeerIsOwnUser(listenerPid);
}

} // namespace tarnel
