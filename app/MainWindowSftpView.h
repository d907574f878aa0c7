#pragma once
// Copies of remote files opened with programs. Each is looked at every
// second (on a worker: its stamp, and its bytes once the stamp moved); a
// copy whose bytes changed is offered for writing back in a box that blocks
// nothing. The write-back runs on the runner, and a remote file changed
// since the copy was made is replaced only when the user confirms.
#include "viewer/model/RemoteCopy.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QMessageBox;
class QTimer;
class QWidget;

namespace tarnel {

class BackgroundWork;
class SshQuestions;
class UserMessages;
class WorkerAnswers;

class RemoteCopies : public QObject {
public:
    RemoteCopies(QWidget* window, std::function<BackgroundWork&()> work, std::function<UserMessages&()> messages,
                 std::shared_ptr<SshQuestions> questions);
    ~RemoteCopies() override;

    void Add(RemoteCopy copy);
    // The copies as last agreed with their remote files.
    std::vector<RemoteCopy> Copies() const;
    // Looks at the copies now rather than at the next tick.
    void LookNow();
    // Writes the copy at local back on the runner; false when it is not one
    // of these or is being written already.
    bool WriteBack(const std::string& local);
    // The offer open for the copy at local, if any.
    QMessageBox* OfferOf(const std::string& local) const;

private:
    struct Opened {
        RemoteCopy copy;
        FileStamp offeredFor; // the stamp the last offer was for: one offer a change
        QPointer<QMessageBox> offer;
        bool writing = false;
    };
    struct Look {
        std::string local;
        FileStamp stamp;
        uint64_t content = 0;
        bool same = false; // saved with the bytes it had
    };
    Opened* Find(const std::string& local);
    void Looked(const std::vector<Look>& looks);
    void Offer(Opened& opened);

    QWidget* window_;
    std::function<BackgroundWork&()> work_;
    std::function<UserMessages&()> messages_;
    std::shared_ptr<SshQuestions> questions_;
    std::vector<Opened> opened_;
    QTimer* timer_;
    WorkerAnswers* looks_;
};

} // namespace tarnel
