#include "app/ProgramEnd.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPointer>
#include <QThread>
#include <QWidget>

namespace tarnel {

namespace {

class MainWindowCloseWatch : public QObject {
public:
    explicit MainWindowCloseWatch(QWidget* window) : QObject(window), window_(window) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != window_ || event->type() != QEvent::Close)
            return false;
        // The window answers first; the run ends only when it agreed to close.
        QPointer<QWidget> window(window_);
        static_cast<QObject*>(window_)->event(event);
        // Only a running loop is ended: a later loop must not return at once.
        if (window && event->isAccepted() && QThread::currentThread()->loopLevel() > 0)
            QCoreApplication::exit(0);
        return true;
    }

private:
    QWidget* window_;
};

} // namespace

void EndRunOnlyWithMainWindow(QWidget* mainWindow)
{
    QApplication::setQuitOnLastWindowClosed(false);
    mainWindow->installEventFilter(new MainWindowCloseWatch(mainWindow));
}

} // namespace tarnel
