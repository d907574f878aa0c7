#include "tools/DlgUninstall.h"

#include "app/UserMessages.h"
#include "fileops/model/LaunchProcess.h"
#include "platform/Registry.h"
#include "tools/ToolSettings.h"
#include "tools/model/UninstallCommand.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnel {

namespace {

std::string StartDetached(const std::string& program, const std::vector<std::string>& args)
{
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    // Found in PATH's absolute entries only.
    std::string error;
    const pid_t pid = StartChild(argv, {}, error);
    if (pid > 0)
        TWaitProcessEnd::Start(pid, {}, std::chrono::milliseconds(0)); // reaps it
    return pid > 0 ? std::string() : error;
}

} // namespace

TDlgUninstall::TDlgUninstall(const UninstallList& list, UserMessages& messages, Registry* registry, QWidget* parent)
    : QDialog(parent)
    , messages_(messages)
    , registry_(registry)
    , names_(list.names)
    , commands_(list.commands)
    , launch_(StartDetached)
{
    setWindowTitle("Uninstall software");
    setObjectName("DlgUninstall");
    setSizeGripEnabled(true);
    auto* banner = new QLabel("Select the software you wish to uninstall", this);
    list_ = new QListWidget(this);
    list_->setObjectName("LBSoftware");
    list_->setToolTip("Uninstallable software");
    list_->setUniformItemSizes(true);
    for (const std::string& name : names_)
        list_->addItem(QString::fromUtf8(QByteArray::fromStdString(name)));
    uninstall_ = new QPushButton("&Uninstall", this);
    uninstall_->setObjectName("BTNUninstall");
    cancel_ = new QPushButton("&Cancel", this);
    cancel_->setObjectName("BTNCancel");
    cancel_->setToolTip("Do not uninstall anything");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(uninstall_);
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(banner);
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);
    resize(520, 420);
    connect(uninstall_, &QPushButton::clicked, this, &TDlgUninstall::BTNUninstallClick);
    connect(list_, &QListWidget::itemDoubleClicked, this, &TDlgUninstall::BTNUninstallClick);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    RestoreToolPlacement(registry_, "UninstallForm", *this);
    if (!list.error.empty())
        messages.Error(QString::fromStdString(list.error));
}

TDlgUninstall::~TDlgUninstall() { SaveToolPlacement(registry_, "UninstallForm", *this); }

UninstallList TDlgUninstall::MachineList(Registry* registry)
{
    const RegistryNode* key = nullptr;
    if (registry) {
        RegistryNode& root = registry->File(RegistryRoot::LocalMachine).Root();
        key = root.FindKey(kLocalMachineHive);
        for (std::string_view rest = kUninstallKey; key && !rest.empty();) {
            const size_t slash = rest.find('\\');
            key = key->FindKey(rest.substr(0, slash));
            rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash + 1);
        }
    }
    return ReadInstalledSoftware(key);
}

void TDlgUninstall::BTNUninstallClick()
{
    const int row = list_->currentRow();
    if (row < 0 || size_t(row) >= commands_.size() || !list_->currentItem()->isSelected())
        return;
    const UninstallCommand command = ParseUninstallCommand(commands_[size_t(row)]);
    // The window closes all the same; a program that cannot start says so first.
    if (!command.program.empty())
        if (const std::string error = launch_(command.program, SplitParameters(command.parameters)); !error.empty())
            messages_.Error(QString("The uninstaller cannot be started: %1").arg(QString::fromStdString(error)));
    accept();
}

} // namespace tarnel
