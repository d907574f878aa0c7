// Find files: the dialog beside the window, and taking the user to a hit.
#include "app/MainWindow.h"
#include "panes/Navigation.h"
#include "panes/PathUtil.h"
#include "panes/ReadDirectory.h"
#include "tools/DlgFind.h"
#include "viewer/TextPage.h"
#include "viewer/TextView.h"
#include "viewer/ViewerHost.h"
#include "widgets/PaneView.h"

namespace tarnel {

TDlgFind* MainWindow::FindDialog() const { return findDialog_; }

void MainWindow::SetFindFeed(std::function<void(const FindQuery&, std::vector<FindHit>)> feed)
{
    findFeed_ = std::move(feed);
    if (findDialog_)
        findDialog_->SetFeed(findFeed_);
}

void MainWindow::FindFilesClick()
{
    if (!findDialog_) {
        findDialog_ = new TDlgFind(this);
        findDialog_->SetGoTo([this](const FindHit& hit) { GoToFoundFile(hit, false); });
        findDialog_->SetView([this](const FindHit& hit) { GoToFoundFile(hit, true); });
        if (!findFeed_)
            findFeed_ = [this](const FindQuery& query, std::vector<FindHit> hits) {
                FeedFindResults(query, std::move(hits));
            };
        findDialog_->SetFeed(findFeed_);
    }
    // The active pane's folder; inside an archive, the folder that holds it.
    const PanePlace place = ActivePane()->Data().Place();
    if (std::string_view(place.Source()) == kLocalSourceName)
        findDialog_->SetStartFolders(place.Path);
    else if (place.InArchive() && place.SourceName.empty())
        findDialog_->SetStartFolders(place.ArchiveFile().substr(0, place.ArchiveFile().rfind('/') + 1));
    findDialog_->show();
    findDialog_->raise();
    findDialog_->activateWindow();
}

void MainWindow::GoToFoundFile(const FindHit& hit, bool view)
{
    // A member of an archive: the archive itself, in its folder.
    std::string folder = hit.directory, name = hit.name;
    if (!hit.archive.empty()) {
        const size_t slash = hit.archive.rfind('/');
        folder = slash == std::string::npos ? "/" : hit.archive.substr(0, slash + 1);
        name = hit.archive.substr(slash + 1);
    }
    PaneView* pane = ActivePane();
    TDirData& data = pane->Data();
    GoToDirectory(data, folder, locale_);
    // By name once the listing is whole: rows change as it comes.
    WhenRead(data, [this, pane, &data, name, view, hit] {
        int row = -1;
        for (int i = 0; i < data.Count && row < 0; ++i)
            if (data.Item(i).Kind != fkDrive && data.Item(i).Name == name)
                row = i;
        if (row < 0)
            return;
        pane->SetCurrentRow(row);
        pane->List()->scrollTo(pane->List()->model()->index(row, 0));
        if (!view)
            return;
        const bool text = hit.lineNumber > 0 && hit.archive.empty();
        viewer_->ShowEntryInViewer(pane, data.Path, row, false, text);
        if (!text)
            return;
        viewer_->WhenPageShown([this, hit] {
            if (viewer_->CurrentPage() != ViewerPageKind::Text)
                return;
            viewer_->Pages().text->VWText->GoToMatch(hit.lineNumber - 1, hit.matchOffset - hit.lineOffset + 1,
                                                     hit.matchLength);
        });
    });
}

} // namespace tarnel
