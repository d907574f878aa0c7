#include "fileops/TargetDialog.h"

#include "tools/ToolText.h"
#include "widgets/NameText.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnel {

TargetDialog::TargetDialog(bool move, size_t count, const std::string& what, const std::string& target,
                           QWidget* parent)
    : QDialog(parent)
{
    setObjectName("DlgTarget");
    setWindowTitle(move ? "Move" : "Copy");
    auto* layout = new QVBoxLayout(this);
    const QString verb = move ? "Move" : "Copy";
    auto* label = new QLabel(count == 1 && !what.empty() ? verb + " " + DisplayName(what) + " to:"
                                                         : QString("%1 %2 items to:").arg(verb).arg(count),
                             this);
    label->setTextFormat(Qt::PlainText); // a name is never markup
    label->setObjectName("LBTarget");
    layout->addWidget(label);
    target_ = new QLineEdit(NameToEditText(target), this);
    target_->setObjectName("EDTarget");
    target_->selectAll();
    // Long paths fit without scrolling in most cases.
    target_->setMinimumWidth(fontMetrics().horizontalAdvance(QString(60, 'x')));
    layout->addWidget(target_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    target_->setFocus();
}

std::string TargetDialog::Target() const { return EditTextToName(target_->text()); }

std::string ResolveTypedTarget(const std::string& typed, const std::string& base)
{
    if (typed.empty())
        return {};
    std::string path = typed.front() == '/' ? typed : (base.empty() || base.back() == '/' ? base : base + "/") + typed;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

} // namespace tarnel
