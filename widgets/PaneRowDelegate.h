#pragma once
// Paints a pane's rows from its listing; the rows themselves hold nothing.
#include "panes/RowText.h"

#include <QStyledItemDelegate>

namespace tarnel {

class PaneView;

class PaneRowDelegate : public QStyledItemDelegate {
public:
    PaneRowDelegate(PaneView& pane, const DisplayLocale& locale, QObject* parent)
        : QStyledItemDelegate(parent), pane_(pane), locale_(locale)
    {
    }
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override { return {100, 17}; }

private:
    PaneView& pane_;
    const DisplayLocale& locale_;
};

} // namespace tarnel
