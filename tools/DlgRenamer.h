#pragma once
// "Renamer": renames a group of the active pane's files by a file pattern and
// a rename template. The names are worked out by the model (RenamePlan); this
// dialog shows them and runs the renames through the file-operation engine.
#include "tools/model/RenamePlan.h"

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTreeView;

namespace tarnel {

class FileSystem;
class OperationObserver;
class Registry;
class RenameLinesModel;
class UserMessages;
struct TDirData;

class TDlgRenamer : public QDialog {
    Q_OBJECT
public:
    // reread reads the pane again after renames. The pane is looked at only
    // here and after a re-read: names are held, never rows.
    TDlgRenamer(TDirData& pane, std::function<void()> reread, UserMessages& messages, Registry* registry,
                QWidget* parent = nullptr);
    ~TDlgRenamer() override;

    // The renames take the files' descriptions along (one rewrite per group).
    void SetDescriptionsFollow(bool on) { followDescriptions_ = on; }

    void BTNCheckClick();
    void BTNRenameClick();

    QLineEdit* Pattern() const { return pattern_; }
    QLineEdit* Template() const { return to_; }
    QSpinBox* CounterStart() const { return counter_; }
    QCheckBox* LowerCase() const { return lower_; }
    QPushButton* CheckButton() const { return check_; }
    QPushButton* RenameButton() const { return rename_; }
    QTreeView* Lines() const { return list_; }
    const std::vector<RenameLine>& Plan() const { return lines_; }
    // The paths the last Rename moved, old and new: whoever keeps files by
    // path (found files) follows them.
    const std::vector<std::pair<std::string, std::string>>& Renamed() const { return renamed_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Recompute();
    bool Exists(const std::string& name) const;
    void ReadDirectoryNames();
    bool RenameOne(const std::string& from, const std::string& to);

    std::string directory_;
    std::function<void()> reread_;
    UserMessages& messages_;
    Registry* registry_;
    std::vector<std::string> candidates_;
    std::vector<RenameLine> lines_;
    std::vector<std::pair<std::string, std::string>> renamed_;
    std::vector<std::string> onDisk_; // sorted names of the directory
    QLineEdit* pattern_ = nullptr;
    QLineEdit* to_ = nullptr;
    QSpinBox* counter_ = nullptr;
    QCheckBox* lower_ = nullptr;
    QPushButton* check_ = nullptr;
    QPushButton* rename_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QTreeView* list_ = nullptr;
    RenameLinesModel* model_ = nullptr;
    bool followDescriptions_ = false;
    OperationObserver* follower_ = nullptr; // during a group of renames
};

} // namespace tarnel
