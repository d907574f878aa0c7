// Opening files of remote places with programs: a copy made on the runner
// in the private temporary folder is what the program gets; what it saves
// there reaches the server only when the user says so.
#include "app/MainWindowSftpView.h"

#include "app/MainWindow.h"
#include "app/MainWindowSftp.h"
#include "app/UserMessages.h"
#include "app/WorkerAnswers.h"
#include "fileops/BackgroundWork.h"
#include "fileops/LaunchApplication.h"
#include "fileops/model/LaunchDefaultApp.h"
#include "fileops/model/LaunchProcess.h"
#include "fileops/model/Operation.h"
#include "panes/DirData.h"
#include "panes/Navigation.h"
#include "panes/PathUtil.h"
#include "sources/archive/ArchiveTable.h"
#include "viewer/ViewerHost.h"
#include "widgets/PaneView.h"

#include <QAbstractButton>
#include <QFile>
#include <QMessageBox>
#include <QTimer>

#include <unistd.h>

namespace tarnel {

namespace {

QString Decode(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

std::string NameOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

RemoteCopies::RemoteCopies(QWidget* window, std::function<BackgroundWork&()> work,
                           std::function<UserMessages&()> messages, std::shared_ptr<SshQuestions> questions)
    : QObject(window), window_(window), work_(std::move(work)), messages_(std::move(messages)),
      questions_(std::move(questions))
{
    timer_ = new QTimer(this);
    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, &RemoteCopies::LookNow);
    looks_ = new WorkerAnswers(1, this);
}

RemoteCopies::~RemoteCopies()
{
    for (Opened& opened : opened_)
        delete opened.offer.data();
}

void RemoteCopies::Add(RemoteCopy copy)
{
    if (Opened* same = Find(copy.local)) {
        same->copy = std::move(copy);
        return;
    }
    Opened opened;
    opened.copy = std::move(copy);
    opened.offeredFor = opened.copy.copy;
    opened_.push_back(std::move(opened));
    timer_->start();
}

std::vector<RemoteCopy> RemoteCopies::Copies() const
{
    std::vector<RemoteCopy> copies;
    for (const Opened& opened : opened_)
        copies.push_back(opened.copy);
    return copies;
}

RemoteCopies::Opened* RemoteCopies::Find(const std::string& local)
{
    for (Opened& opened : opened_)
        if (opened.copy.local == local)
            return &opened;
    return nullptr;
}

QMessageBox* RemoteCopies::OfferOf(const std::string& local) const
{
    for (const Opened& opened : opened_)
        if (opened.copy.local == local)
            return opened.offer.data();
    return nullptr;
}

// The copies lie in the program's own folder, but a look still runs on a
// worker: the window's thread never waits on a file system.
void RemoteCopies::LookNow()
{
    std::vector<RemoteCopy> copies;
    for (const Opened& opened : opened_)
        if (!opened.writing)
            copies.push_back(opened.copy);
    if (copies.empty())
        return;
    looks_->Ask<std::vector<Look>>(
        [copies] {
            std::vector<Look> looks;
            for (const RemoteCopy& copy : copies) {
                if (!CopyStampChanged(copy))
                    continue;
                RemoteCopy now = copy;
                if (!TakeCopyStamp(now))
                    continue;
                looks.push_back({copy.local, now.copy, now.content,
                                 now.content == copy.content && now.copy.size == copy.copy.size});
            }
            return looks;
        },
        [this](const std::vector<Look>& looks) { Looked(looks); });
}

void RemoteCopies::Looked(const std::vector<Look>& looks)
{
    for (const Look& look : looks) {
        Opened* opened = Find(look.local);
        if (!opened || opened->writing)
            continue;
        if (look.same) {
            opened->copy.copy = look.stamp; // saved as it was: nothing to offer
            continue;
        }
        if (opened->offer || opened->offeredFor == look.stamp)
            continue;
        opened->offeredFor = look.stamp;
        Offer(*opened);
    }
}

void RemoteCopies::Offer(Opened& opened)
{
    auto* box = new QMessageBox(QMessageBox::Question, "Write back",
                                Decode(NameOf(opened.copy.local) + " was changed in its copy.\nWrite it back to " +
                                       opened.copy.address + "?"),
                                QMessageBox::Yes | QMessageBox::No, window_);
    box->setObjectName("RemoteWriteBack");
    box->setTextFormat(Qt::PlainText);
    box->button(QMessageBox::Yes)->setText("Write back");
    box->button(QMessageBox::No)->setText("Not now");
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Not modal: the window and the program go on while it waits.
    box->setWindowModality(Qt::NonModal);
    const std::string local = opened.copy.local;
    connect(box, &QMessageBox::finished, this, [this, local](int result) {
        if (result == QMessageBox::Yes)
            WriteBack(local);
    });
    opened.offer = box;
    box->show();
}

bool RemoteCopies::WriteBack(const std::string& local)
{
    Opened* opened = Find(local);
    if (!opened || opened->writing)
        return false;
    struct Written {
        RemoteCopy copy;
        WriteBackResult result;
    };
    auto written = std::make_shared<Written>();
    written->copy = opened->copy;
    const std::string address = opened->copy.address;
    auto op = std::make_shared<Operation>(
        OperationKind::Copy, "Write back " + address, [written, questions = questions_](Operation& op) {
            const std::string name = NameOf(written->copy.address);
            const CopyProgress progress = [&op, &name](uint64_t done, uint64_t total) {
                return op.Report(0, 1, done, total, name);
            };
            written->result = WriteRemoteCopyBack(written->copy, false, progress, questions);
            if (written->result.outcome == WriteBackOutcome::RemoteChanged) {
                OperationQuestion question;
                question.type = OperationQuestion::Type::Confirm;
                question.text = written->copy.address +
                                " has changed on the server since it was copied.\nReplace it with the copy?";
                if (op.Ask(question) == 1)
                    written->result = WriteRemoteCopyBack(written->copy, true, progress, questions);
            }
            const WriteBackOutcome outcome = written->result.outcome;
            return outcome == WriteBackOutcome::Written || outcome == WriteBackOutcome::Unchanged ? OperationState::Done
                                                                                                 : OperationState::Failed;
        });
    opened->writing = true;
    const bool started = work_().Run(op, RunMode::Foreground, nullptr, [this, written, local](const Operation& ended) {
        Opened* now = Find(local);
        if (!now)
            return;
        now->writing = false;
        const WriteBackResult& result = written->result;
        switch (result.outcome) {
        case WriteBackOutcome::Written:
        case WriteBackOutcome::Unchanged:
            now->copy = written->copy;
            now->offeredFor = now->copy.copy;
            if (result.outcome == WriteBackOutcome::Unchanged)
                messages_().Information(Decode(NameOf(local) + " is as it was copied: nothing was written back."));
            break;
        case WriteBackOutcome::RemoteChanged:
            messages_().Information(Decode(written->copy.address +
                                           " was left as it is on the server; the copy stays at " + local + "."));
            break;
        case WriteBackOutcome::Failed:
            if (ended.State() != OperationState::Cancelled)
                messages_().Error(Decode(result.error.empty() ? "The copy was not written back." : result.error));
            break;
        }
    });
    if (!started) {
        opened->writing = false;
        messages_().Error("No background slot is free: the copy was not written back; try again later.");
    }
    return started;
}

RemoteCopies* MainWindow::OpenedRemoteCopies()
{
    if (!remoteCopies_)
        remoteCopies_ = new RemoteCopies(
            this, [this]() -> BackgroundWork& { return Background(); }, [this]() -> UserMessages& { return *messages_; },
            WindowSshQuestions(this));
    return remoteCopies_;
}

// The copy is made on the runner (progress, cancel); the program is found
// and started on a worker, as for any file. Enter on a copy whose content is
// an archive goes into it, as into an archive's member.
void MainWindow::OpenRemoteFile(PaneView* pane, int row, bool enter)
{
    const TDirData& data = pane->Data();
    if (row < 0 || row >= data.Count)
        return;
    const std::string name = data.Item(row).Name;
    const std::string address = AddPathDelimiter(data.Path) + name;
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
        return;
    struct Made {
        RemoteCopy copy;
        std::string folder, error;
    };
    auto made = std::make_shared<Made>();
    auto op = std::make_shared<Operation>(
        OperationKind::Copy, "Copy " + address + " to open it",
        [made, address, name, questions = WindowSshQuestions(this)](Operation& op) {
            made->folder = MakeOpenedCopyFolder(made->error);
            if (made->folder.empty())
                return OperationState::Failed;
            RemoteCopy& copy = made->copy;
            copy.address = address;
            copy.local = made->folder + name;
            RemoteEntry remote;
            made->error = DownloadRemoteFile(
                address, copy.local, UINT64_MAX,
                [&op, &name](uint64_t done, uint64_t total) { return op.Report(0, 1, done, total, name); }, remote,
                questions);
            if (made->error.empty() && !TakeCopyStamp(copy))
                made->error = "The copy " + copy.local + " cannot be read.";
            if (!made->error.empty()) {
                ::unlink(copy.local.c_str());
                ::rmdir(made->folder.c_str());
                return OperationState::Failed;
            }
            copy.remote = StampOfRemote(remote);
            op.Report(1, 1, uint64_t(remote.size), uint64_t(remote.size), name);
            return OperationState::Done;
        });
    Background().SetTestAnswers(operationUi_);
    const bool started = Background().Run(op, RunMode::Foreground, nullptr, [this, pane, made, enter,
                                                                          key = data.Key()](const Operation& ended) {
        if (ended.State() != OperationState::Done) {
            if (ended.State() == OperationState::Failed && !made->error.empty())
                messages_->Error(Decode(made->error));
            return;
        }
        struct Started {
            pid_t pid = 0;
            ArchiveContent archive = ArchiveContent::None;
        };
        const RemoteCopy copy = made->copy;
        const bool asked = launchAnswers_->Ask<Started>(
            [local = copy.local, folder = made->folder, enter, dirs = XdgDirs::FromEnvironment()] {
                Started started;
                if (enter && (started.archive = DetectArchiveContent(local)) != ArchiveContent::None)
                    return started;
                started.pid = OpenWithDefaultApplication(local, folder, dirs);
                if (started.pid > 0) {
                    TWaitProcessEnd::Start(started.pid, {}, std::chrono::milliseconds(0)); // reaps it; the copy stays
                } else {
                    ::unlink(local.c_str());
                    ::rmdir(folder.c_str());
                }
                return started;
            },
            [this, pane, copy, key](const Started& started) {
                TDirData& now = pane->Data();
                if (started.archive != ArchiveContent::None) {
                    if (now.Key() == key)
                        EnterArchiveFile(now, copy.local, started.archive == ArchiveContent::Zip, true, locale_);
                    return;
                }
                if (started.pid > 0) {
                    OpenedRemoteCopies()->Add(copy);
                    return;
                }
                // No program for it: the viewer shows it, read from the server.
                const std::string name = NameOf(copy.local);
                if (now.Key() == key)
                    for (int i = 0; i < now.Count; ++i)
                        if (now.Item(i).Name == name && now.Item(i).Kind == fkFile) {
                            viewer_->ShowEntryInViewer(pane, now.Path, i, false, false);
                            return;
                        }
            });
        if (!asked)
            messages_->Error("Programs started earlier have not answered yet; try again later.");
    });
    if (!started)
        messages_->Error("No background slot is free: the file was not copied; try again later.");
}

} // namespace tarnel
