// Found files in a pane: a find's results become a place of the active pane,
// where the file commands act on each entry's own folder. Members a find met
// inside archives have no path of the disk: Enter goes into their archive,
// and the commands that need a file of the disk say so.
#include "app/MainWindow.h"
#include "panes/PathUtil.h"
#include "panes/ReadDirectory.h"
#include "sources/SearchSource.h"
#include "widgets/PaneView.h"

#include <QComboBox>
#include <QFile>

namespace tarnel {

namespace {

QString Decode(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

bool EndsWithZip(const std::string& path)
{
    return path.size() >= 4 && EqualsIgnoreCase(std::string_view(path).substr(path.size() - 4), ".zip");
}

} // namespace

void MainWindow::FeedFindResults(const FindQuery& query, std::vector<FindHit> hits)
{
    PaneView* pane = ActivePane();
    TDirData& data = pane->Data();
    data.Positions.Store(data.Key(), pane->TopRow(), pane->CurrentRow());
    RememberDirSizes(data);
    data.MoveTo(search_->Feed(query, std::move(hits)));
    pane->FilterBox()->setEditText("*"); // every hit shows, whatever the folder's filter was
    RecordHistory(data);
    ReadDirectory(data, locale_);
    FocusActiveList();
}

bool MainWindow::RefusedInsideArchive(PaneView* pane, const std::vector<int>& rows)
{
    const TDirData& data = pane->Data();
    for (const int row : rows) {
        if (row < 0 || row >= data.Count)
            continue;
        const TFileData& e = data.Item(row);
        if (const std::string archive = ArchiveHoldingEntry(data, e); !archive.empty()) {
            messages_->Warning(Decode(e.Name + " lies inside the archive " + archive +
                                      ": open it there (Enter on the entry) to work on it."));
            return true;
        }
    }
    return false;
}

bool MainWindow::OpenFoundInArchive(PaneView* pane)
{
    TDirData& data = pane->Data();
    const int row = pane->CurrentRow();
    if (row < 0 || row >= data.Count)
        return false;
    const TFileData& e = data.Item(row);
    const std::string archive = ArchiveHoldingEntry(data, e);
    if (archive.empty())
        return false;
    std::string inside = data.DirOf(e).substr(AddPathDelimiter(archive).size());
    std::string cursor = e.Name;
    if (e.Kind == fkDirectory) {
        inside += e.Name + "/";
        cursor.clear();
    }
    PanePlace place = PanePlace::Archive(archive, inside);
    // Archives other than ZIP are read by a source of their own.
    if (!EndsWithZip(archive))
        place.SourceName = kArchiveSourceName;
    data.Positions.Store(data.Key(), pane->TopRow(), row);
    RememberDirSizes(data);
    data.MoveTo(place);
    data.CursorName = cursor;
    RecordHistory(data);
    ReadDirectory(data, locale_);
    return true;
}

} // namespace tarnel
