#pragma once
// Paints one row of a pane: icon, name, size, time and description columns,
// each shortened to its header section.
#include "panes/DisplayOptions.h"
#include "panes/RowText.h"
#include "platform/Volumes.h"

#include <QPalette>
#include <QRect>
#include <QString>

#include <array>
#include <string>
#include <vector>

class QFontMetrics;
class QPainter;

namespace tarnel {

struct TDirData;

inline constexpr int kRowHeight = 17;
inline constexpr int kRowIconSize = 16;
// Header section widths: name, size, time, description.
using SectionWidths = std::array<int, 4>;

// What a row shows, already shortened to its columns.
struct RowTexts {
    QString name;
    QString size;
    QString time;
    QString description;
    int descriptionOffset = 0; // room taken by marks in front of the description
    bool viewableMark = false;
    bool hiddenMark = false;
    bool readOnlyMark = false;
};

// drive is the volume of a drive row (ignored for other rows; null leaves its
// size empty). driveShown: a pane shows a place on that volume (IsDriveShown);
// fixed, CD-ROM and RAM volumes show their space regardless.
RowTexts ComputeRowTexts(const TDirData& pane, int row, const SectionWidths& sectionWidths,
                         const QFontMetrics& fm, const DisplayLocale& locale, const DisplayOptions& options,
                         const Volume* drive, bool driveShown);

// The area of header section `section` within a row, one pixel in from each side.
QRect ColumnRect(const QRect& rowRect, const SectionWidths& sectionWidths, int section);

struct RowPaintContext {
    SectionWidths sectionWidths{100, 50, 80, 5000};
    const DisplayLocale* locale = nullptr; // null: built-in conventions
    DisplayOptions options;
    const Volume* drive = nullptr; // volume of a drive row, see ComputeRowTexts
    bool driveShown = false;
    bool selected = false; // picks the highlighted text colour
    QPalette palette;
};

// The caller has filled the row's background (selection colour included) and
// set the list's font on the painter. May load the entry's icon key.
void PaintRow(QPainter& p, const QRect& rowRect, const TDirData& pane, int row, const RowPaintContext& ctx);

// The volume behind a drive row (drive rows follow the drive list in order);
// null for other rows or when the drive list changed since the read.
const Volume* DriveOfRow(const TDirData& pane, int row);

// True when the place of either pane lies on drive. Empty paths (a pane not
// yet read) count for nothing. The first form reads this machine's mount table.
bool IsDriveShown(const Volume& drive, const std::string& leftPath, const std::string& rightPath);
bool IsDriveShown(const Volume& drive, const std::string& leftPath, const std::string& rightPath,
                  const std::vector<MountInfoLine>& mounts);

} // namespace tarnel
