#pragma once
// The small pictures painted into pane rows and header sections. Drawn once,
// on first use, on the main thread.
#include <QPixmap>

namespace tarnel {

// Row marks, 16 x 16 (device-independent pixels).
enum ListMarkIndex { kHiddenMark = 1, kViewableMark = 2, kReadOnlyMark = 3 };
// Header sort markers, 12 x 12. The pressed variants show the direction a
// click will produce.
enum HeaderMarkIndex { kAscendingMarker = 0, kDescendingMarker = 1, kPressedDescendingMarker = 2,
                       kPressedAscendingMarker = 3 };

inline constexpr int kListMarkSize = 16;
inline constexpr int kHeaderMarkSize = 12;

// A null pixmap for an index outside the lists above.
const QPixmap& ListMark(int index);
const QPixmap& HeaderMark(int index);

} // namespace tarnel
