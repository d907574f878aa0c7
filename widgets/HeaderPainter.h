#pragma once
// Paints the caption of a pane header section, with the sort marker on the
// sort column and on a pressed section.
#include <QPalette>
#include <QRect>
#include <QString>

class QPainter;

namespace tarnel {

// Where and what to draw in one section.
struct HeaderSectionLayout {
    int marker = -1;    // HeaderMark index, -1 for none
    int hOffset = 2;    // marker (or caption) position from the section's top-left
    int vOffset = 2;
    int textShift = 0;  // extra room left of the caption for the marker
};

// The section shows the pane's sort order when its caption matches the column
// of sort key 0 (name), 1 (size), 3 (time) or 4 (description). Sorting by type
// (2) has no column.
bool IsSortSection(const QString& caption, int sortKey);

// pressed: the section is held down; leftButtonDown: by the left button, so a
// release will sort by it and the marker announces that direction.
HeaderSectionLayout HeaderSectionLayoutFor(const QString& caption, int sortKey, bool ascending, bool pressed,
                                           bool leftButtonDown);

// The caller has drawn the section's background and frame.
void PaintHeaderSection(QPainter& p, const QRect& rect, const QString& caption, int sortKey, bool ascending,
                        bool pressed, bool leftButtonDown, const QPalette& pal);

} // namespace tarnel
