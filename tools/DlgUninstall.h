#pragma once
// "Uninstall software": the installed software and the start of the chosen
// program's uninstall command, without a shell.
#include "tools/model/InstalledSoftware.h"

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class QListWidget;
class QPushButton;

namespace tarnel {

class Registry;
class UserMessages;

class TDlgUninstall : public QDialog {
    Q_OBJECT
public:
    // Starts a program with its arguments, detached; tests record instead.
    // The failure's text, "" when it started.
    using Launcher = std::function<std::string(const std::string& program, const std::vector<std::string>& args)>;

    // Fills the list from list (an error in it is shown once).
    TDlgUninstall(const UninstallList& list, UserMessages& messages, Registry* registry, QWidget* parent = nullptr);
    ~TDlgUninstall() override;

    // The machine's inventory and its registry entries.
    static UninstallList MachineList(Registry* registry);

    void SetLauncher(Launcher launcher) { launch_ = std::move(launcher); }
    void BTNUninstallClick();

    QListWidget* List() const { return list_; }
    QPushButton* UninstallButton() const { return uninstall_; }
    QPushButton* CancelButton() const { return cancel_; }

private:
    UserMessages& messages_;
    Registry* registry_;
    std::vector<std::string> names_;
    std::vector<std::string> commands_;
    Launcher launch_;
    QListWidget* list_ = nullptr;
    QPushButton* uninstall_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

} // namespace tarnel
