#pragma once
// A row of buttons under the panes, one per command that has a function
// key, each captioned with its key: a click triggers the command's action,
// the same one its key and its menu item trigger.
#include <QString>
#include <QWidget>

#include <vector>

class QAction;
class QPushButton;

namespace tarnel {

class FunctionKeyBar : public QWidget {
    Q_OBJECT
public:
    struct Entry {
        QString name; // the button is "FK" + name
        QString key;  // "F5", or "" for a command without a key
        QString text;
        QAction* action;
    };

    explicit FunctionKeyBar(QWidget* parent = nullptr);

    // Replaces the buttons, in this order.
    void SetEntries(const std::vector<Entry>& entries);
    QPushButton* Button(const QString& name) const;
    int Count() const { return int(buttons_.size()); }

signals:
    // After a button's command ran: the keys go back where they belong.
    void commandRun();

private:
    std::vector<QPushButton*> buttons_;
};

} // namespace tarnel
