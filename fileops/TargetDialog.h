#pragma once
// "Copy to" / "Move to": the target folder of a copy or move, shown and
// editable before anything happens.
#include <QDialog>

#include <string>

class QLabel;
class QLineEdit;

namespace tarnel {

class TargetDialog : public QDialog {
    Q_OBJECT
public:
    // what: the one name being copied, or empty for several (count of them).
    TargetDialog(bool move, size_t count, const std::string& what, const std::string& target,
                 QWidget* parent = nullptr);
    QLineEdit* TargetEdit() const { return target_; }
    std::string Target() const; // as typed, undecodable bytes kept

private:
    QLineEdit* target_;
};

// The folder an answer of the dialog names: a relative one lies below base,
// trailing slashes go. Empty when nothing was typed.
std::string ResolveTypedTarget(const std::string& typed, const std::string& base);

} // namespace tarnel
