#include "fileops/NameDialogs.h"

#include "panes/Matcher.h"
#include "widgets/NameText.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace tarnel {

namespace {

QDialogButtonBox* OkCancel(QDialog* dialog)
{
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

} // namespace

RenameDialog::RenameDialog(const std::string& name, QWidget* parent) : QDialog(parent)
{
    setObjectName("DlgRename");
    setWindowTitle("Rename");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Rename to", this));
    name_ = new QLineEdit(NameToEditText(name), this);
    name_->setObjectName("EDName");
    name_->selectAll();
    layout->addWidget(name_);
    layout->addWidget(OkCancel(this));
}

NewDirDialog::NewDirDialog(bool forceZip, QWidget* parent) : QDialog(parent)
{
    setObjectName("DlgNewDir");
    setWindowTitle("Create new directory/zip");
    // Wide enough for the whole title in the frame's bar.
    setMinimumWidth(fontMetrics().horizontalAdvance(windowTitle()) + 160);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Name", this));
    name_ = new QLineEdit(this);
    name_->setObjectName("EDName");
    layout->addWidget(name_);
    zip_ = new QCheckBox("Create zip", this);
    zip_->setObjectName("CBZip");
    if (forceZip) {
        zip_->setChecked(true);
        zip_->setEnabled(false);
    }
    layout->addWidget(zip_);
    layout->addWidget(OkCancel(this));
    // A name that looks like an archive ticks the box; it is never unticked for the user.
    connect(name_, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!zip_->isChecked() && Match("*.zip", EditTextToName(text)))
            zip_->setChecked(true);
    });
}

std::string RenameDialog::Name() const { return EditTextToName(name_->text()); }

std::string NewDirDialog::Name() const { return EditTextToName(name_->text()); }

} // namespace tarnel
