#include "widgets/PaneRowDelegate.h"

#include "panes/DisplayOptions.h"
#include "widgets/PaneView.h"
#include "widgets/RowPainter.h"

#include <QPainter>

namespace tarnel {

void PaneRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const TDirData& data = pane_.Data();
    const int row = index.row();
    if (row < 0 || row >= data.Count)
        return;
    const bool selected = option.state & QStyle::State_Selected;
    painter->fillRect(option.rect, option.palette.color(selected ? QPalette::Highlight : QPalette::Base));

    RowPaintContext context;
    context.sectionWidths = pane_.SectionWidths();
    context.locale = &locale_;
    context.options = Options();
    context.selected = selected;
    context.palette = option.palette;
    const TFileData& entry = data.Item(row);
    if (entry.Kind == fkDrive) {
        const size_t k = size_t(row - data.DirCount - data.FileCount);
        const DriveList& drives = data.DriveSource();
        if (k < drives.size()) {
            context.drive = &drives[k];
            const PaneView* other = pane_.Other();
            const std::string& leftPath = pane_.IsLeft() || !other ? data.Path : other->Data().Path;
            const std::string& rightPath = pane_.IsLeft() && other ? other->Data().Path : data.Path;
            // Only removable and network volumes need the (mount table) check.
            const DriveType type = drives[k].type;
            if (type == DriveType::Removable || type == DriveType::Network)
                context.driveShown = IsDriveShown(drives[k], leftPath, rightPath);
        }
    }
    if (option.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.rect = option.rect;
        focus.state = option.state;
        focus.backgroundColor = option.palette.color(QPalette::Highlight);
        pane_.List()->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, pane_.List());
    }
    painter->save();
    painter->setFont(option.font);
    PaintRow(*painter, option.rect, data, row, context);
    painter->restore();
}

} // namespace tarnel
