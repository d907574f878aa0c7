#include "fileops/LastCommand.h"

#include <QMenu>

namespace tarnel {

void RememberLastCommand(QMenu& popup, QAction* command)
{
    QList<QAction*> items = popup.actions();
    QAction* last = popup.findChild<QAction*>("LastPopup", Qt::FindDirectChildrenOnly);
    if (items.value(1) != last || !last) {
        delete last;
        last = new QAction(&popup);
        last->setObjectName("LastPopup");
        popup.insertAction(popup.actions().value(1), last);
        items = popup.actions();
    }
    if (!command || !items.contains(command)) {
        popup.removeAction(last);
        return;
    }
    last->setText(command->text());
    last->setStatusTip(command->statusTip());
    QObject::disconnect(last, &QAction::triggered, nullptr, nullptr);
    QObject::connect(last, &QAction::triggered, command, &QAction::trigger);
    // No copy right next to the item itself.
    const int at = int(items.indexOf(last));
    if (items.value(at - 1) == command || items.value(at + 1) == command)
        popup.removeAction(last);
}

} // namespace tarnel
