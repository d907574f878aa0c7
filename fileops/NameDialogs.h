#pragma once
// The two small name dialogs of the file commands: "Rename" and
// "Create new directory/zip".
#include <QDialog>

#include <string>

class QCheckBox;
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
    std::string Name() const;

private:
    QLineEdit* name_;
    QCheckBox* zip_;
};

} // namespace tarnel
