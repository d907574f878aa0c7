#pragma once
// The main window's private messages. Each one is queued and handled later on
// the main thread, whoever posts it: the window itself, a worker thread, or
// another process through the instance channel.
#include <QCoreApplication>
#include <QEvent>
#include <QObject>

namespace tarnel {

enum PrivateMessage : int {
    UM_QUICKGO = 0x400,      // wParam 1: left pane's quick-go menu, otherwise the right one's
    UM_STARTUP = 0x401,      // last step of start-up: command line, shell browser
    UM_TOTRAY = 0x402,       // closing means hiding
    UM_RESTORE = 0x403,      // a second start of the program: show this one
    UM_REFRESHLEFT = 0x404,  // a volume under the left pane appeared or vanished
    UM_REFRESHRIGHT = 0x405, // the same for the right pane
    UM_ASYNCDONE = 0x406,    // wParam: identifier of the finished background operation
    UM_SHELLCALL = 0x464,    // the instance block holds a path to go to or open
};

class PrivateMessageEvent : public QEvent {
public:
    PrivateMessageEvent(int message, qintptr wParam, qintptr lParam)
        : QEvent(EventType()), message_(message), wParam_(wParam), lParam_(lParam)
    {
    }

    // Registered on first use; the same value for the whole process.
    static QEvent::Type EventType()
    {
        static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }

    int message() const { return message_; }
    qintptr wParam() const { return wParam_; }
    qintptr lParam() const { return lParam_; }

private:
    int message_;
    qintptr wParam_;
    qintptr lParam_;
};

// Queues the message for window's thread. Safe from any thread; the event is
// dropped with the window if the window goes away first.
inline void PostPrivateMessage(QObject* window, int message, qintptr wParam = 0, qintptr lParam = 0)
{
    if (window)
        QCoreApplication::postEvent(window, new PrivateMessageEvent(message, wParam, lParam));
}

} // namespace tarnel
