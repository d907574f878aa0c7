#include "viewer/ViewerPages.h"

#include "viewer/ImagePage.h"
#include "viewer/InfoPage.h"
#include "viewer/MediaPage.h"
#include "viewer/PackedPage.h"
#include "viewer/TextPage.h"
#include "viewer/VoxPage.h"

namespace tarnel {

std::array<ViewerPage*, 7> ViewerPageSet::ByIndex() const
{
    return {info, image, nullptr, music, text, vox, packed};
}

ViewerPageSet CreateViewerPages(QWidget* parent)
{
    ViewerPageSet set;
    set.info = new InfoPage(parent);
    set.image = new ImagePage(parent);
    set.tables = new QWidget(parent);
    set.tables->setObjectName("TablesPage");
    set.music = new MediaPage(parent);
    set.text = new TextPage(parent);
    set.vox = new VoxPage(parent);
    set.packed = new PackedPage(parent);
    return set;
}

} // namespace tarnel
