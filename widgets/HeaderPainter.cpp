#include "widgets/HeaderPainter.h"

#include "panes/Matcher.h"
#include "widgets/MarkImages.h"

#include <QFontMetrics>
#include <QPainter>

namespace tarnel {

namespace {

constexpr int kMarkerRoom = 13;

} // namespace

bool IsSortSection(const QString& caption, int sortKey)
{
    const char* pattern = nullptr;
    switch (sortKey) {
    case 0: pattern = "name"; break;
    case 1: pattern = "size"; break;
    case 3: pattern = "time"; break;
    case 4: pattern = "description"; break;
    default: return false;
    }
    return Match(pattern, caption.toStdString());
}

HeaderSectionLayout HeaderSectionLayoutFor(const QString& caption, int sortKey, bool ascending, bool pressed,
                                           bool leftButtonDown)
{
    HeaderSectionLayout layout;
    const bool sortSection = IsSortSection(caption, sortKey);
    if (pressed)
        layout.hOffset = layout.vOffset = 3;
    if (!pressed && !sortSection)
        return layout;
    int index = ascending ? kAscendingMarker : kDescendingMarker;
    if (pressed && leftButtonDown)
        index = sortSection ? index + 2 : 3 - index;
    layout.marker = index;
    layout.textShift = kMarkerRoom;
    return layout;
}

void PaintHeaderSection(QPainter& p, const QRect& rect, const QString& caption, int sortKey, bool ascending,
                        bool pressed, bool leftButtonDown, const QPalette& pal)
{
    const HeaderSectionLayout layout = HeaderSectionLayoutFor(caption, sortKey, ascending, pressed, leftButtonDown);
    p.save();
    p.setClipRect(rect, Qt::IntersectClip);
    if (layout.marker >= 0)
        p.drawPixmap(QPoint(rect.left() + layout.hOffset,
                            rect.top() + rect.height() / 2 - kHeaderMarkSize / 2 + layout.vOffset - 1),
                     HeaderMark(layout.marker));
    // The position is the caption's top-left corner; QPainter wants a baseline.
    p.setPen(pal.color(QPalette::ButtonText));
    p.drawText(QPoint(rect.left() + layout.hOffset + layout.textShift,
                      rect.top() + layout.vOffset + p.fontMetrics().ascent()),
               caption);
    p.restore();
}

} // namespace tarnel
