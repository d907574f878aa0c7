#include "widgets/RowPainter.h"

#include "panes/DirData.h"
#include "panes/FileData.h"
#include "panes/ViewerExtensions.h"
#include "platform/VolumeSpace.h"
#include "tools/ToolText.h"
#include "widgets/IconCache.h"
#include "widgets/MarkImages.h"
#include "widgets/MimeIconResolver.h"

#include <QFontMetrics>
#include <QIcon>
#include <QPainter>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

namespace tarnel {

namespace {

constexpr uint32_t kReadOnlyAttr = 1;
constexpr uint32_t kHiddenAttr = 2;
constexpr int kNameIndent = kRowIconSize + 2;
const std::string kEllipsis = "...";

// Names and descriptions are raw bytes; bytes that are not UTF-8 and control
// characters (a newline in a name) paint as replacement characters, so a row
// shows that something is there and stays one line.
QString Decode(const std::string& bytes) { return DisplayName(bytes); }

bool AlwaysShowsSpace(DriveType type)
{
    return type == DriveType::Fixed || type == DriveType::CdRom || type == DriveType::RamDisk;
}

// Draws text with its left end at x, on the row's text baseline, clipped to the column.
void DrawInColumn(QPainter& p, const QRect& column, int x, int baseline, const QString& text)
{
    if (text.isEmpty())
        return;
    p.save();
    p.setClipRect(column, Qt::IntersectClip);
    p.drawText(QPoint(x, baseline), text);
    p.restore();
}

} // namespace

QRect ColumnRect(const QRect& rowRect, const SectionWidths& sectionWidths, int section)
{
    int left = rowRect.left() + 1;
    for (int k = 0; k < section; ++k)
        left += sectionWidths[size_t(k)];
    const int right = left + sectionWidths[size_t(section)] - 2;
    return QRect(QPoint(left, rowRect.top()), QPoint(right, rowRect.bottom()));
}

RowTexts ComputeRowTexts(const TDirData& pane, int row, const SectionWidths& sectionWidths,
                         const QFontMetrics& fm, const DisplayLocale& locale, const DisplayOptions& options,
                         const Volume* drive, bool driveShown)
{
    RowTexts out;
    if (row < 0 || row >= pane.Count || size_t(row) >= pane.Items.size())
        return out;
    const TFileData& e = pane.Item(row);
    const auto widthOf = [&fm](const std::string& text) { return fm.horizontalAdvance(Decode(text)); };
    const auto fit = [&](const std::string& text, int limit, const std::string& marker, bool cutAtEnd) {
        return Decode(FitText(text, limit, marker, cutAtEnd, widthOf));
    };

    out.name = fit(e.Name, sectionWidths[0] - kNameIndent, kEllipsis, true);

    if (e.Kind == fkDrive) {
        // Only volumes that are always at hand or that a pane is showing anyway
        // (an idle network share or stick is not woken). The figures come from
        // a worker: "?" until it has answered.
        if (drive && (AlwaysShowsSpace(drive->type) || driveShown)) {
            const VolumeSpaceAnswer space = VolumeSpace(drive->root);
            out.size = fit(space.answered ? DriveSpaceText(space.freeBytes, space.totalBytes, locale) : "?",
                           sectionWidths[1] - 3, kEllipsis, false);
        }
        return out;
    }

    // Inside an archive nothing is allocated: a folder shows the size its members add up to.
    out.size = fit(EntrySizeText(e, options.ShowBigSize && pane.Can(Capability::DiskPaths), locale), sectionWidths[1] - 3, kEllipsis, false);
    out.time = fit(TimeText(e.Time, locale), sectionWidths[2] - 3, kEllipsis, false);

    int offset = 0;
    if (options.ShowSupported) {
        out.viewableMark = e.Kind == fkFile && IsViewerExtension(e.Name);
        offset = kListMarkSize; // descriptions stay aligned whether or not the mark is there
    }
    if (options.ShowAttrs) {
        if (e.Attr & kHiddenAttr) {
            out.hiddenMark = true;
            offset += kListMarkSize;
        }
        if (e.Attr & kReadOnlyAttr) {
            out.readOnlyMark = true;
            offset += kListMarkSize;
        }
    }
    out.descriptionOffset = offset;
    out.description = fit(e.Description, sectionWidths[3] - offset - 3, std::string(), false);
    return out;
}

void PaintRow(QPainter& p, const QRect& rowRect, const TDirData& pane, int row, const RowPaintContext& ctx)
{
    if (row < 0 || row >= pane.Count || size_t(row) >= pane.Items.size())
        return;
    TFileData& e = pane.Item(row);

    int iconKey = 0;
    {
        // The icon thread loads the same keys; the mutex keeps the two from
        // both loading one entry. It guards the entries' Icon fields only,
        // which is why a const listing may take it.
        std::lock_guard lock(const_cast<std::mutex&>(pane.IconMutex));
        iconKey = e.Icon.load();
        if (iconKey == 0) {
            iconKey = IconKeyForEntry(pane, e, ctx.drive);
            e.Icon = iconKey;
        }
        // Found by name alone: now that the row shows, the file is looked at
        // on a worker; the answer is shared with every pane on the folder.
        if (iconKey < 0) {
            std::string path = pane.Path;
            if (path.empty() || path.back() != '/')
                path += '/';
            if (const int looked = ContentLooks::Instance().KeyFor(path + e.Name, e.Size.load(), e.Time)) {
                iconKey = looked;
                e.Icon = looked;
            }
        }
    }
    const QIcon icon = Icons().IconForKey(std::abs(iconKey));
    if (!icon.isNull())
        icon.paint(&p, QRect(rowRect.topLeft(), QSize(kRowIconSize, kRowIconSize)));

    static const DisplayLocale kDefaultLocale;
    const QFontMetrics fm = p.fontMetrics();
    const RowTexts texts = ComputeRowTexts(pane, row, ctx.sectionWidths, fm, ctx.locale ? *ctx.locale : kDefaultLocale,
                                           ctx.options, ctx.drive, ctx.driveShown);

    p.setPen(ctx.palette.color(ctx.selected ? QPalette::HighlightedText : QPalette::Text));
    const int baseline = rowRect.top() + (rowRect.height() - fm.height()) / 2 + fm.ascent();

    // Not clipped: FitText already keeps the name inside its column.
    p.drawText(QPoint(rowRect.left() + kNameIndent, baseline), texts.name);

    const QRect sizeColumn = ColumnRect(rowRect, ctx.sectionWidths, 1);
    DrawInColumn(p, sizeColumn, sizeColumn.left() + ctx.sectionWidths[1] - 3 - fm.horizontalAdvance(texts.size),
                 baseline, texts.size);

    const QRect timeColumn = ColumnRect(rowRect, ctx.sectionWidths, 2);
    DrawInColumn(p, timeColumn, timeColumn.left(), baseline, texts.time);

    if (e.Kind == fkDrive)
        return;
    const QRect descColumn = ColumnRect(rowRect, ctx.sectionWidths, 3);
    const int markTop = rowRect.top() + (rowRect.height() - kListMarkSize) / 2;
    // Marks sit side by side just before the description: viewable, hidden, read-only.
    if (texts.viewableMark)
        p.drawPixmap(QPoint(descColumn.left(), markTop), ListMark(kViewableMark));
    int markX = descColumn.left() + texts.descriptionOffset;
    if (texts.readOnlyMark) {
        markX -= kListMarkSize;
        p.drawPixmap(QPoint(markX, markTop), ListMark(kReadOnlyMark));
    }
    if (texts.hiddenMark) {
        markX -= kListMarkSize;
        p.drawPixmap(QPoint(markX, markTop), ListMark(kHiddenMark));
    }
    DrawInColumn(p, descColumn, descColumn.left() + texts.descriptionOffset, baseline, texts.description);
}

const Volume* DriveOfRow(const TDirData& pane, int row)
{
    if (row < 0 || row >= pane.Count || size_t(row) >= pane.Items.size() || pane.Item(row).Kind != fkDrive)
        return nullptr;
    const int index = row - pane.DirCount - pane.FileCount;
    const DriveList& drives = pane.DriveSource();
    if (index < 0 || size_t(index) >= drives.size())
        return nullptr;
    return &drives[size_t(index)];
}

bool IsDriveShown(const Volume& drive, const std::string& leftPath, const std::string& rightPath,
                  const std::vector<MountInfoLine>& mounts)
{
    for (const std::string* path : {&leftPath, &rightPath})
        if (!path->empty() && VolumeRootOf(*path, mounts) == drive.root)
            return true;
    return false;
}

bool IsDriveShown(const Volume& drive, const std::string& leftPath, const std::string& rightPath)
{
    std::ifstream in("/proc/self/mountinfo");
    std::ostringstream text;
    text << in.rdbuf();
    return IsDriveShown(drive, leftPath, rightPath, ParseMountInfo(text.str()));
}

} // namespace tarnel
