#include "fileops/NameDialogs.h"

#include "panes/Matcher.h"
#include "widgets/NameText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>
#include <iterator>

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
    format_ = new QComboBox(this);
    format_->setObjectName("CBFormat");
    format_->addItem("ZIP");
    for (const ArchiveKind kind : kWritableArchiveKinds)
        format_->addItem(ArchiveKindName(kind));
    format_->setEnabled(zip_->isChecked());
    layout->addWidget(format_);
    layout->addWidget(OkCancel(this));
    connect(zip_, &QCheckBox::toggled, format_, &QWidget::setEnabled);
    connect(format_, &QComboBox::currentIndexChanged, this, &NewDirDialog::FormatChosen);
    connect(name_, &QLineEdit::textChanged, this, &NewDirDialog::NameTyped);
}

namespace {

// The length of the archive extension text ends in (".zip", ".tar.gz", ...); 0 for none.
qsizetype ArchiveExtensionLength(const QString& text)
{
    if (text.endsWith(".zip", Qt::CaseInsensitive))
        return 4;
    const std::optional<ArchiveKind> kind = ArchiveKindOfName(EditTextToName(text));
    if (!kind)
        return 0;
    for (const char* short_ : {".tgz", ".txz", ".tzst"})
        if (text.endsWith(short_, Qt::CaseInsensitive))
            return qsizetype(std::strlen(short_));
    return qsizetype(std::strlen(ArchiveKindExtension(*kind)));
}

} // namespace

// The name's extension follows the format picked.
void NewDirDialog::FormatChosen(int)
{
    const QString text = name_->text();
    if (text.isEmpty())
        return;
    const QString stem = text.left(text.size() - ArchiveExtensionLength(text));
    if (stem.isEmpty())
        return;
    const std::optional<ArchiveKind> kind = Kind();
    name_->setText(stem + (kind ? ArchiveKindExtension(*kind) : ".zip"));
}

// A name that looks like an archive ticks the box and picks its format; the
// box is never unticked for the user.
void NewDirDialog::NameTyped(const QString& text)
{
    const std::string name = EditTextToName(text);
    const bool zip = Match("*.zip", name);
    const std::optional<ArchiveKind> kind = ArchiveKindOfName(name);
    if (!zip && !kind)
        return;
    if (!zip_->isChecked())
        zip_->setChecked(true);
    int index = 0;
    if (kind)
        index = 1 + int(std::find(std::begin(kWritableArchiveKinds), std::end(kWritableArchiveKinds), *kind) -
                        std::begin(kWritableArchiveKinds));
    if (format_->currentIndex() != index) {
        const QSignalBlocker quiet(format_); // the name already says it
        format_->setCurrentIndex(index);
    }
}

std::optional<ArchiveKind> NewDirDialog::Kind() const
{
    const int index = format_->currentIndex();
    if (index < 1 || index > int(std::size(kWritableArchiveKinds)))
        return std::nullopt;
    return kWritableArchiveKinds[index - 1];
}

std::string RenameDialog::Name() const { return EditTextToName(name_->text()); }

std::string NewDirDialog::Name() const { return EditTextToName(name_->text()); }

} // namespace tarnel
