#pragma once
// SIGTERM and SIGHUP reach the event loop as a signal, through a pipe that the
// handler writes one byte into (the only safe thing a handler can do).
#include <QObject>

class QSocketNotifier;

namespace tarnel {

class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void received();

private:
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace tarnel
