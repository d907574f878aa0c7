#include "viewer/ViewerPages.h"

#include "viewer/InfoPage.h"
#include "viewer/MediaPage.h"
#include "viewer/PlaceholderPages.h"
#include "viewer/TextPage.h"

namespace tarnel {

namespace {

// A page object that is a widget lives with the notebook; any other is kept here.
ViewerPage* Keep(ViewerPageSet& set, std::unique_ptr<ViewerPage> page)
{
    ViewerPage* raw = page.get();
    if (dynamic_cast<QObject*>(raw))
        page.release();
    else
        set.owned.push_back(std::move(page));
    return raw;
}

} // namespace

std::array<ViewerPage*, 7> ViewerPageSet::ByIndex() const
{
    return {info, image, nullptr, music, text, vox, packed};
}

ViewerPageSet CreateViewerPages(QWidget* parent)
{
    ViewerPageSet set;
    set.info = new InfoPage(parent);
    set.image = Keep(set, std::make_unique<FileSummaryPage>("ImagePage", parent));
    set.tables = new QWidget(parent);
    set.tables->setObjectName("TablesPage");
    set.music = new MediaPage(parent);
    set.text = new TextPage(parent);
    set.vox = Keep(set, std::make_unique<FileSummaryPage>("VoxPage", parent));
    set.packed = Keep(set, std::make_unique<FileSummaryPage>("PackedPage", parent));
    return set;
}

} // namespace tarnel
