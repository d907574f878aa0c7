#pragma once
// "Add net drive": asks for a location such as smb://server/share and mounts
// it. The dialog stays open while the mount runs, so the window keeps
// painting and the user can give up. An sftp:// address is no mount: it
// becomes a remote place of the window's own.
#include <QDialog>
#include <QString>

#include <functional>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tarnel {

class UserMessages;

struct MountResult {
    bool ok = false;
    QString error; // what the mounter said, when it failed
};
using MountDone = std::function<void(const MountResult&)>;
// Starts mounting location and calls done once when it ends (possibly before
// returning). The function returned abandons the attempt; done is then never called.
using MountRunner = std::function<std::function<void()>(const QString& location, MountDone done)>;

// Mounts with "program mount LOCATION"; gives up after timeoutMs.
MountRunner GioMount(const QString& program = "gio", int timeoutMs = 60000);

class NetDriveDialog : public QDialog {
    Q_OBJECT
public:
    enum class Outcome { Cancelled, Connected, Failed, Remote };

    // remote: whether an sftp:// address becomes a remote place (else it
    // is mounted like any other).
    explicit NetDriveDialog(MountRunner runner, QWidget* parent = nullptr, bool remote = false);
    ~NetDriveDialog() override;

    Outcome Result() const { return outcome_; }
    QString ErrorText() const { return error_; }
    // The remote place's address, once the outcome is Remote.
    const std::string& RemoteAddress() const { return remoteAddress_; }
    QLineEdit* Location() const { return location_; }
    QLabel* Status() const { return status_; }

    // Cancel, Escape and closing the window also abandon a running mount.
    void reject() override;

    // Asks for a location and mounts it; on success asks whether to refresh
    // the drive list and returns the answer. runner empty: gio; run replaces
    // exec(). An sftp:// address goes to openRemote instead, when given.
    static bool AddNetDrive(QWidget* parent, UserMessages& messages, MountRunner runner = {},
                            const std::function<int(NetDriveDialog&)>& run = {},
                            const std::function<void(const std::string& address)>& openRemote = {});

private:
    void Start();
    void Finish(const MountResult& result);
    void Abandon();

    MountRunner runner_;
    bool remote_ = false;
    std::string remoteAddress_;
    std::function<void()> abandon_;
    Outcome outcome_ = Outcome::Cancelled;
    QString error_;
    QLineEdit* location_;
    QLabel* status_;
    QPushButton* ok_;
};

} // namespace tarnel
