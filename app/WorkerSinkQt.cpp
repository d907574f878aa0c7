#include "app/WorkerSinkQt.h"

#include <QByteArray>
#include <QFile>
#include <QMetaObject>
#include <QtGlobal>

#include <algorithm>

namespace tarnel {

WorkerSinkQt::WorkerSinkQt(QObject* parent) : QObject(parent) {}

void WorkerSinkQt::RepaintSizeColumn(TDirData& pane)
{
    {
        std::lock_guard lock(mutex_);
        if (std::find(pending_.begin(), pending_.end(), &pane) != pending_.end())
            return;
        pending_.push_back(&pane);
    }
    QMetaObject::invokeMethod(
        this,
        [this, target = &pane] {
            {
                std::lock_guard lock(mutex_);
                pending_.erase(std::remove(pending_.begin(), pending_.end(), target), pending_.end());
            }
            if (repaint_)
                repaint_(*target);
        },
        Qt::QueuedConnection);
}

void WorkerSinkQt::ShowWorkerError(const std::string& text)
{
    // The text holds a path, which is bytes rather than UTF-8 on this platform.
    const QString message = QFile::decodeName(QByteArray::fromStdString(text));
    QMetaObject::invokeMethod(
        this,
        [this, message] {
            if (error_)
                error_(message);
            else
                qWarning("%s", qPrintable(message));
        },
        Qt::QueuedConnection);
}

} // namespace tarnel
