#pragma once
// Message boxes titled "Tarnel". Tests replace the sink to read what the user
// would have seen without a modal box blocking them.
#include <QMessageBox>
#include <QString>

class QWidget;

namespace tarnel {

class UserMessages {
public:
    virtual ~UserMessages() = default;
    virtual void Error(const QString& text) = 0;
    virtual void Warning(const QString& text) = 0;
    virtual void Information(const QString& text) = 0;
    virtual bool Confirm(const QString& text) = 0; // Yes / No
    // A box with no icon, for notes that are neither errors nor warnings.
    virtual void Plain(const QString& text) { Information(text); }
};

// A modal box titled "Tarnel" showing text as plain text; returns the
// button pressed.
int ShowPlainMessage(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                     QMessageBox::StandardButtons buttons = QMessageBox::Ok);

// For a run nobody watches (the screenshot run): from now on no box is shown,
// its text goes to standard error and the answer is the one Escape would give.
void SendMessagesToStandardError();

class MessageBoxes : public UserMessages {
public:
    explicit MessageBoxes(QWidget* parent) : parent_(parent) {}
    void Error(const QString& text) override;
    void Warning(const QString& text) override;
    void Information(const QString& text) override;
    bool Confirm(const QString& text) override;
    void Plain(const QString& text) override;

private:
    QWidget* parent_;
};

} // namespace tarnel
