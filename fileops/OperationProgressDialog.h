#pragma once
// The one progress dialog of long work: the current name, items and bytes,
// a bar, Pause/Resume and Cancel. It only reads the operation's snapshot;
// whoever owns it calls Update from a timer.
#include "fileops/model/Operation.h"

#include <QDialog>

#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;

namespace tarnel {

class OperationProgressDialog : public QDialog {
public:
    OperationProgressDialog(std::shared_ptr<Operation> operation, QWidget* parent);
    void Update();
    const std::shared_ptr<Operation>& Of() const { return op_; }
    QPushButton* PauseButton() const { return pause_; }
    QPushButton* CancelButton() const { return cancel_; }
    int Value() const; // 0..1000

private:
    std::shared_ptr<Operation> op_;
    QLabel* title_;
    QLabel* label_;
    QProgressBar* bar_;
    QPushButton* pause_;
    QPushButton* cancel_;
};

} // namespace tarnel
