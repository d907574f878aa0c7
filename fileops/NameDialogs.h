#pragma once
// The two small name dialogs of the file commands: "Rename" and
// "Create new directory/zip".
#include "sources/archive/ArchiveRewrite.h"

#include <QDialog>

#include <optional>
#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace tarnel {

class RenameDialog : public QDialog {
    Q_OBJECT
public:
    RenameDialog(const std::string& name, QWidget* parent = nullptr);
    QLineEdit* NameEdit() const { return name_; }
    std::string Name() const; // the edited name, undecodable bytes kept

private:
    QLineEdit* name_;
};

class NewDirDialog : public QDialog {
    Q_OBJECT
public:
    NewDirDialog(bool forceZip, QWidget* parent = nullptr);
    QLineEdit* NameEdit() const { return name_; }
    QCheckBox* ZipBox() const { return zip_; }
    // The archive's format: ZIP first, then the kinds written through libarchive.
    QComboBox* FormatBox() const { return format_; }
    std::string Name() const;
    // The chosen kind; none for ZIP.
    std::optional<ArchiveKind> Kind() const;

private:
    void FormatChosen(int index);
    void NameTyped(const QString& text);

    QLineEdit* name_;
    QCheckBox* zip_;
    QComboBox* format_;
};

} // namespace tarnel
