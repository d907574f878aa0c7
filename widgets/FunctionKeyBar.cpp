#include "widgets/FunctionKeyBar.h"

#include <QAction>
#include <QHBoxLayout>
#include <QPushButton>

namespace tarnel {

FunctionKeyBar::FunctionKeyBar(QWidget* parent) : QWidget(parent)
{
    setObjectName("FunctionKeyBar");
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 2, 0, 0);
    row->setSpacing(2);
}

void FunctionKeyBar::SetEntries(const std::vector<Entry>& entries)
{
    // Later: the bar may change while one of its buttons runs its command.
    for (QPushButton* button : buttons_) {
        button->hide();
        button->setObjectName({});
        button->deleteLater();
    }
    buttons_.clear();
    for (const Entry& e : entries) {
        // No "&" in the caption: the bar takes no Alt letter from the window.
        auto* button = new QPushButton(e.key.isEmpty() ? e.text : e.key + " " + e.text, this);
        button->setObjectName("FK" + e.name);
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoDefault(false);
        button->setToolTip(e.action->toolTip());
        button->setStatusTip(e.action->statusTip());
        QAction* action = e.action;
        connect(button, &QPushButton::clicked, this, [this, action] {
            action->trigger();
            emit commandRun();
        });
        layout()->addWidget(button);
        buttons_.push_back(button);
    }
}

QPushButton* FunctionKeyBar::Button(const QString& name) const
{
    for (QPushButton* button : buttons_)
        if (button->objectName() == "FK" + name)
            return button;
    return nullptr;
}

} // namespace tarnel
