#pragma once
// The two small name dialogs of the file commands: "Rename" and
// "Create new directory/zip".
#include <QDialog>

class QCheckBox;
class QLineEdit;

namespace tarnel {

class RenameDialog : public QDialog {
    Q_OBJECT
public:
    RenameDialog(const QString& name, QWidget* parent = nullptr);
    QLineEdit* NameEdit() const { return name_; }

private:
    QLineEdit* name_;
};

class NewDirDialog : public QDialog {
    Q_OBJECT
public:
    NewDirDialog(bool forceZip, QWidget* parent = nullptr);
    QLineEdit* NameEdit() const { return name_; }
    QCheckBox* ZipBox() const { return zip_; }

private:
    QLineEdit* name_;
    QCheckBox* zip_;
};

} // namespace tarnel
