#pragma once
// "Close confirmation": asks whether to quit, and how to close from now on.
#include <QDialog>

namespace tarnel {

class CloseQueryDialog : public QDialog {
    Q_OBJECT
public:
    // The answers, one per button.
    enum Answer { No = 1, Yes, Minimize, YesAlways, NoNever, NoAlwaysMinimize };
    explicit CloseQueryDialog(QWidget* parent = nullptr);
};

} // namespace tarnel
