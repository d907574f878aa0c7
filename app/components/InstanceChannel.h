#pragma once
// The local channel that carries private messages from other processes (a second
// start of the program, tarnel-open) to the running instance.
#include <QObject>

#include <string>

class QLocalServer;
class QLocalSocket;

namespace tarnel {

class InstanceChannel : public QObject {
    Q_OBJECT
public:
    explicit InstanceChannel(QObject* parent = nullptr);
    ~InstanceChannel() override; // stops listening and removes the socket file

    // $XDG_RUNTIME_DIR/tarnel-instance<tag>.sock, else the same name in
    // ${TMPDIR:-/tmp}/tarnel-<uid> (made 0700 and checked). Empty, with the
    // reason in error, when no private folder can be had.
    static std::string SocketPath(std::string* error = nullptr);

    // Starts serving. A socket file left by a crashed run is replaced; false
    // when another process already listens there or the socket can't be made.
    bool Listen(std::string* error = nullptr);
    bool IsListening() const;

    // Client side; usable from any thread and from programs without an event
    // loop. Post delivers one message and returns false when nobody listens.
    static bool Post(int message, qint64 wParam = 0, qint64 lParam = 0, int timeoutMs = 1000);
    // True when a server answers within timeoutMs; serverPid gets its process id.
    static bool Ping(int timeoutMs, qint64* serverPid = nullptr);
    // True when a process of this user listens on the socket; listenerPid gets
    // its process id. Asks the kernel, not the server: a server still building
    // its window, stopped or busy is found all the same.
    static bool Listener(int timeoutMs, qint64* listenerPid = nullptr);

signals:
    void messageReceived(int message, qint64 wParam, qint64 lParam);

private:
    void AcceptConnections();
    void ReadRecords(QLocalSocket* socket);

    QLocalServer* server_;
};

} // namespace tarnel
