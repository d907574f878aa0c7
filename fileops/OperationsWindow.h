#pragma once
// Every file operation still running or queued, with its state and progress;
// Pause/Resume and Cancel act on the selected one. Rows are matched to
// operations by identity on each refresh, never kept by number.
#include <QDialog>

#include <functional>
#include <memory>
#include <vector>

class QPushButton;
class QTimer;
class QTreeWidget;

namespace tarnel {

class Operation;

class OperationsWindow : public QDialog {
public:
    using Source = std::function<std::vector<std::shared_ptr<Operation>>()>;
    OperationsWindow(Source operations, QWidget* parent);

    void Refresh();
    QTreeWidget* List() const { return list_; }
    QPushButton* PauseButton() const { return pause_; }
    QPushButton* CancelButton() const { return cancel_; }
    // The operation on the selected row, if it is still there.
    std::shared_ptr<Operation> Selected() const;

private:
    Source operations_;
    QTreeWidget* list_;
    QPushButton* pause_;
    QPushButton* cancel_;
    QTimer* timer_;
    std::vector<std::weak_ptr<Operation>> rows_;
};

} // namespace tarnel
