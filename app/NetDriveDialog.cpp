#include "app/NetDriveDialog.h"

#include "app/UserMessages.h"
#include "platform/ssh/SftpUrl.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <memory>
#include <utility>

namespace tarnel {

MountRunner GioMount(const QString& program, int timeoutMs)
{
    return [program, timeoutMs](const QString& location, MountDone done) -> std::function<void()> {
        auto* process = new QProcess;
        // gio asks for missing credentials on stdin; with nothing to read it
        // gives up instead of waiting for an answer that never comes.
        process->setStandardInputFile(QProcess::nullDevice());
        auto* timer = new QTimer(process);
        timer->setSingleShot(true);

        // Ends the attempt once, whichever comes first: exit, failure to
        // start, timeout or abandon. The process is reaped before it is freed.
        auto over = std::make_shared<bool>(false);
        auto end = [process, timer, done, over](const MountResult* result) {
            if (*over)
                return;
            *over = true;
            timer->stop();
            QObject::disconnect(process, nullptr, nullptr, nullptr);
            if (process->state() != QProcess::NotRunning) {
                QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
                process->kill();
            } else {
                process->deleteLater();
            }
            if (result)
                done(*result);
        };
        QObject::connect(process, &QProcess::finished, process, [process, end](int code, QProcess::ExitStatus status) {
            MountResult result;
            result.ok = status == QProcess::NormalExit && code == 0;
            if (!result.ok) {
                result.error = QString::fromLocal8Bit(process->readAllStandardError()).trimmed();
                if (result.error.isEmpty())
                    result.error = QString::fromLocal8Bit(process->readAllStandardOutput()).trimmed();
                if (result.error.isEmpty())
                    result.error = QString("gio mount ended with exit code %1.").arg(code);
            }
            end(&result);
        });
        QObject::connect(process, &QProcess::errorOccurred, process, [process, program, end](QProcess::ProcessError e) {
            if (e != QProcess::FailedToStart)
                return; // crashes and the like arrive through finished
            const MountResult result{false, QString("Cannot run %1: %2").arg(program, process->errorString())};
            end(&result);
        });
        QObject::connect(timer, &QTimer::timeout, process, [end, timeoutMs] {
            const MountResult result{false, QString("No answer from gio mount within %1 seconds.").arg((timeoutMs + 999) / 1000)};
            end(&result);
        });
        timer->start(timeoutMs);
        process->start(program, {"mount", location});
        return [end] { end(nullptr); };
    };
}

NetDriveDialog::NetDriveDialog(MountRunner runner, QWidget* parent, bool remote)
    : QDialog(parent), runner_(runner ? std::move(runner) : GioMount()), remote_(remote)
{
    setObjectName("DlgNetDrive");
    setWindowTitle("Add net drive");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Location (smb://server/share, sftp://host/path, ...):", this));
    location_ = new QLineEdit(this);
    location_->setObjectName("Location");
    location_->setMinimumWidth(320);
    layout->addWidget(location_);
    status_ = new QLabel(this);
    status_->setObjectName("Status");
    status_->setTextFormat(Qt::PlainText);
    status_->setWordWrap(true);
    layout->addWidget(status_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    ok_ = new QPushButton("&OK", this);
    ok_->setObjectName("BtnOK");
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &NetDriveDialog::Start);
    buttons->addWidget(ok_);
    auto* cancel = new QPushButton("&Cancel", this);
    cancel->setObjectName("BtnCancel");
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &NetDriveDialog::reject);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
}

NetDriveDialog::~NetDriveDialog() { Abandon(); }

void NetDriveDialog::Start()
{
    const QString location = location_->text().trimmed();
    if (location.isEmpty() || abandon_)
        return;
    if (remote_ && IsSftpText(location.toStdString())) {
        // Opened by the window's own connection: nothing is mounted.
        const std::optional<SftpUrl> url = SftpUrl::Parse(QFile::encodeName(location).toStdString());
        if (!url) {
            status_->setText(location + " is not a remote address. Write it as sftp://[user@]host[:port]/folder");
            return;
        }
        remoteAddress_ = url->Text();
        outcome_ = Outcome::Remote;
        done(Accepted);
        return;
    }
    location_->setEnabled(false);
    ok_->setEnabled(false);
    status_->setText("Connecting…");
    setCursor(Qt::BusyCursor);
    // A runner may answer at once, before abandon_ is assigned; the flag
    // keeps the late assignment from outliving the attempt.
    auto finished = std::make_shared<bool>(false);
    QPointer<NetDriveDialog> self(this);
    auto abandon = runner_(location, [self, finished](const MountResult& result) {
        *finished = true;
        if (self)
            self->Finish(result);
    });
    if (!*finished)
        abandon_ = abandon ? std::move(abandon) : [] {};
}

void NetDriveDialog::Finish(const MountResult& result)
{
    abandon_ = nullptr;
    unsetCursor();
    outcome_ = result.ok ? Outcome::Connected : Outcome::Failed;
    error_ = result.error;
    done(result.ok ? Accepted : Rejected);
}

void NetDriveDialog::Abandon()
{
    if (auto abandon = std::exchange(abandon_, nullptr))
        abandon();
}

void NetDriveDialog::reject()
{
    Abandon();
    outcome_ = Outcome::Cancelled;
    QDialog::reject();
}

bool NetDriveDialog::AddNetDrive(QWidget* parent, UserMessages& messages, MountRunner runner,
                                 const std::function<int(NetDriveDialog&)>& run,
                                 const std::function<void(const std::string& address)>& openRemote)
{
    NetDriveDialog dialog(std::move(runner), parent, bool(openRemote));
    run ? run(dialog) : dialog.exec();
    switch (dialog.Result()) {
    case Outcome::Remote:
        openRemote(dialog.RemoteAddress());
        return false;
    case Outcome::Connected:
        return messages.Confirm("Should I refresh drive list?");
    case Outcome::Failed:
        messages.Error(dialog.ErrorText());
        return false;
    case Outcome::Cancelled:
        break;
    }
    return false;
}

} // namespace tarnel
