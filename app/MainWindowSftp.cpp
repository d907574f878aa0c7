#include "app/MainWindowSftp.h"

#include "fileops/model/Operation.h"
#include "panes/DirData.h"
#include "sources/SftpSource.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QVBoxLayout>
#include <QWidget>

#include <functional>
#include <future>
#include <mutex>

namespace tarnel {

namespace {

QString Decode(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

// A secret typed into a plain dialog: nothing of it is kept once read.
std::optional<std::string> AskSecret(QWidget* parent, const QString& title, const std::string& prompt)
{
    QDialog dialog(parent);
    dialog.setObjectName("SshSecretDialog");
    dialog.setWindowTitle(title);
    auto* layout = new QVBoxLayout(&dialog);
    auto* label = new QLabel(Decode(prompt), &dialog);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    auto* edit = new QLineEdit(&dialog);
    edit->setObjectName("SshSecret");
    edit->setEchoMode(QLineEdit::Password);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addWidget(label);
    layout->addWidget(edit);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    std::string secret = edit->text().toStdString();
    edit->clear();
    return secret;
}

class DialogQuestions final : public SshQuestions {
public:
    explicit DialogQuestions(QWidget* window) : shared_(std::make_shared<Shared>())
    {
        shared_->window = window;
        QObject::connect(window, &QObject::destroyed, [shared = shared_] {
            std::lock_guard lock(shared->mutex);
            shared->window = nullptr;
        });
    }

    bool TrustUnknownHost(const std::string& host, const std::string& keyType, const std::string& fingerprint) override
    {
        const std::string text = "The key of " + host + " is not known here.\n\n" + keyType +
                                 " key fingerprint:\n" + fingerprint +
                                 "\n\nConnect, and remember this key for the host?";
        return Ask<bool>(false, [text](QWidget* window) {
            QMessageBox box(QMessageBox::Question, QObject::tr("Unknown host"), Decode(text),
                            QMessageBox::Yes | QMessageBox::No, window);
            box.setObjectName("SshUnknownHost");
            box.setTextFormat(Qt::PlainText);
            box.setDefaultButton(QMessageBox::No);
            return box.exec() == QMessageBox::Yes;
        });
    }

    std::optional<std::string> Password(const std::string& prompt) override
    {
        return Ask<std::optional<std::string>>(std::nullopt, [prompt](QWidget* window) {
            return AskSecret(window, QObject::tr("Password"), prompt);
        });
    }

    std::optional<std::string> Passphrase(const std::string& prompt) override
    {
        return Ask<std::optional<std::string>>(std::nullopt, [prompt](QWidget* window) {
            return AskSecret(window, QObject::tr("Key passphrase"), prompt);
        });
    }

private:
    struct Shared {
        std::mutex mutex;
        QWidget* window = nullptr;
    };

    // Fulfils the promise with the declining answer when the question is
    // dropped unasked (the window went before its event loop came to it).
    template <typename T>
    struct Reply {
        std::promise<T> promise;
        T declined;
        bool given = false;
        explicit Reply(T no) : declined(std::move(no)) {}
        void Give(T value)
        {
            given = true;
            promise.set_value(std::move(value));
        }
        ~Reply()
        {
            if (!given)
                promise.set_value(std::move(declined));
        }
    };

    template <typename T>
    T Ask(T declined, std::function<T(QWidget*)> ask)
    {
        auto reply = std::make_shared<Reply<T>>(declined);
        std::future<T> answer = reply->promise.get_future();
        {
            std::lock_guard lock(shared_->mutex);
            QWidget* window = shared_->window;
            if (!window)
                return declined;
            if (QThread::currentThread() == window->thread())
                return ask(window); // a read without a worker (none in the window)
            // The window is alive while the lock is held: the call is posted
            // to it, and dropped with it.
            QMetaObject::invokeMethod(
                window,
                [reply = std::move(reply), ask = std::move(ask), shared = shared_]() mutable {
                    QWidget* target = nullptr;
                    {
                        std::lock_guard lock(shared->mutex);
                        target = shared->window;
                    }
                    if (target)
                        reply->Give(ask(target));
                },
                Qt::QueuedConnection);
        }
        return answer.get();
    }

    std::shared_ptr<Shared> shared_;
};

} // namespace

std::shared_ptr<SshQuestions> WindowSshQuestions(QWidget* window) { return std::make_shared<DialogQuestions>(window); }

std::shared_ptr<Operation> RemoteFolderOperation(const TDirData& pane, const std::string& name)
{
    const auto* source = dynamic_cast<const SftpSource*>(pane.SourcesTable().For(pane.Place()).get());
    return source ? source->MakeFolderOperation(pane.Place(), name) : nullptr;
}

} // namespace tarnel
