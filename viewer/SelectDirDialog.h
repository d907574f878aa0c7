#pragma once
// TDlgSelectDir: where "Extract all" unpacks. A volume selector drives the
// directory tree; the edit follows the tree and may be typed over.
#include <QDialog>

#include <string>

class QComboBox;
class QFileSystemModel;
class QLineEdit;
class QPushButton;
class QTreeView;

namespace tarnel {

class TDlgSelectDir : public QDialog {
    Q_OBJECT
public:
    explicit TDlgSelectDir(QWidget* parent = nullptr);

    // Puts the tree (and the edit) on path, raw bytes.
    void SetDirectory(const std::string& path);
    // The edit's text as a raw path.
    std::string DirectoryName() const;

    QLineEdit* DirectoryEdit() const { return edit_; }
    QTreeView* Tree() const { return tree_; }
    QComboBox* Drives() const { return drives_; }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void DriveChosen(int index);
    void TreeMoved();

    QComboBox* drives_;
    QTreeView* tree_;
    QFileSystemModel* model_;
    QLineEdit* edit_;
    QPushButton* ok_;
    QPushButton* cancel_;
};

} // namespace tarnel
