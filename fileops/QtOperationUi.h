#pragma once
// The file engine's questions and progress, shown by the main thread: message
// boxes for the questions, a progress dialog after half a second of work.
#include "platform/ShellFileOperation.h"

#include <QElapsedTimer>
#include <QString>
#include <memory>

class QProgressDialog;
class QWidget;

namespace tarnel {

// For operations run on the main thread.
class ForegroundOperationUi : public OperationUi {
public:
    explicit ForegroundOperationUi(QWidget* parent);
    ~ForegroundOperationUi() override;
    ReplaceAnswer AskReplace(const std::string& path) override;
    ReplaceAnswer AskReplaceKnown(const std::string& path, const ReplaceFacts& facts) override;
    bool ConfirmCreateFolder(const std::string& path) override;
    ErrorAnswer AskError(const std::string& what, const std::string& path, int error) override;
    bool ConfirmTrash(size_t count) override;
    DeleteAnswer AskDeletePermanently(const std::string& path) override;
    void Refused(const std::string& text) override;
    bool Progress(uint64_t itemsDone, uint64_t itemsTotal, uint64_t bytesDone, uint64_t bytesTotal,
                  const std::string& currentName) override;

private:
    QWidget* parent_;
    QElapsedTimer started_;
    qint64 lastUpdate_ = 0;
    std::unique_ptr<QProgressDialog> progress_;
};

// The question asked before a file is replaced; details (both files' sizes
// and times) follow it when given. Offers Yes, Yes to all, No, Skip all, Cancel.
ReplaceAnswer AskReplaceQuestion(QWidget* parent, const std::string& path, const QString& details = {});

// "Existing file: 1.5 KB, 12/09/26 21:40", one line of the replace question's details.
QString ReplaceFactsLine(const QString& which, int64_t size, int64_t time);

// "1.5 MB"-style text of a byte count, for the progress dialog.
QString ProgressText(uint64_t itemsDone, uint64_t itemsTotal, uint64_t bytesDone, uint64_t bytesTotal,
                     const std::string& currentName);

} // namespace tarnel
