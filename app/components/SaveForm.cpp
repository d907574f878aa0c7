#include "app/components/SaveForm.h"

#include <QEvent>
#include <QPointer>
#include <QWidget>

#include <charconv>
#include <cstdint>

namespace tarnel {

namespace {

// Waits for the window to come back from minimised and maximises it again:
// restoring a minimised window gives a normal one, which would lose the state
// the window had when the program was put away.
class RestoreToMaximized : public QObject {
public:
    explicit RestoreToMaximized(QWidget* window) : QObject(window), window_(window)
    {
        setObjectName(QStringLiteral("tarnelRestoreToMaximized"));
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != window_ || event->type() != QEvent::WindowStateChange ||
            window_->windowState().testFlag(Qt::WindowMinimized))
            return false;
        window_->removeEventFilter(this);
        QPointer<QWidget> window = window_;
        // Not from inside the state change that is being reported.
        QMetaObject::invokeMethod(
            window_,
            [window] {
                if (window && !window->windowState().testFlag(Qt::WindowMinimized))
                    window->setWindowState(window->windowState() | Qt::WindowMaximized);
            },
            Qt::QueuedConnection);
        deleteLater();
        return false;
    }

private:
    QWidget* window_;
};

} // namespace

WindowPlacement TSaveForm::ReadPlacement(const QWidget& window, bool applicationMinimized)
{
    WindowPlacement placement;
    const QRect normal = window.normalGeometry();
    placement.left = normal.left();
    placement.top = normal.top();
    placement.width = normal.width();
    placement.height = normal.height();
    placement.state = applicationMinimized || window.isMinimized() ? 2 : 1;
    if (window.isMaximized()) {
        if (placement.state == 2)
            placement.restoreToMax = true;
        else
            placement.state = 3;
    }
    return placement;
}

bool TSaveForm::RestorePlacement(QWidget& window, const WindowPlacement& placement)
{
    if (placement.left == 0 || placement.top == 0 || placement.width == 0 || placement.height == 0)
        return false;
    window.setGeometry(placement.left, placement.top, placement.width, placement.height);

    // A second restore replaces the wait of the first.
    delete window.findChild<QObject*>(QStringLiteral("tarnelRestoreToMaximized"), Qt::FindDirectChildrenOnly);

    const Qt::WindowStates kept = window.windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
    switch (placement.state) {
    case 1:
        return false;
    case 3:
        window.setWindowState(kept | Qt::WindowMaximized);
        return false;
    case 2:
        if (placement.restoreToMax) {
            window.setWindowState(kept | Qt::WindowMaximized | Qt::WindowMinimized);
            new RestoreToMaximized(&window);
        } else {
            window.setWindowState(kept | Qt::WindowMinimized);
        }
        return true;
    default:
        return false;
    }
}

int TSaveForm::PlacementNumber(const std::string& text)
{
    const char* first = text.data();
    const char* last = first + text.size();
    while (first != last && (*first == ' ' || *first == '\t'))
        ++first;
    if (last - first > 2 && first[0] == '0' && (first[1] == 'x' || first[1] == 'X')) {
        // Up to 32 bits, read as the signed number they hold.
        uint32_t value = 0;
        const auto [end, error] = std::from_chars(first + 2, last, value, 16);
        return error == std::errc() && end == last ? static_cast<int>(value) : 0;
    }
    if (first != last && *first == '+' && last - first > 1 && first[1] != '-')
        ++first;
    int value = 0;
    const auto [end, error] = std::from_chars(first, last, value, 10);
    return error == std::errc() && end == last && first != last ? value : 0;
}

} // namespace tarnel
