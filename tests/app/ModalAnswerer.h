#pragma once
// Answers every modal window that opens while it lives, with real key and
// mouse events, and counts them: the window's own event loop runs the answer.
#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace tarnel::test {

class ModalAnswerer {
public:
    explicit ModalAnswerer(std::function<void(QWidget*)> answer) : answer_(std::move(answer))
    {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || modal == last_)
                return;
            last_ = modal;
            ++seen;
            answer_(modal);
        });
        timer_.start();
    }
    int seen = 0;

private:
    std::function<void(QWidget*)> answer_;
    QTimer timer_;
    QPointer<QWidget> last_;
};

} // namespace tarnel::test
