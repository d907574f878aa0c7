#pragma once
// The one place that makes the notebook's pages.
#include "viewer/ViewerPage.h"

#include <array>
#include <memory>
#include <vector>

class QWidget;

namespace tarnel {

class ImagePage;
class InfoPage;
class MediaPage;
class PackedPage;
class TextPage;
class VoxPage;

struct ViewerPageSet {
    InfoPage* info = nullptr;
    ImagePage* image = nullptr;
    QWidget* tables = nullptr; // an empty panel, never selected
    MediaPage* music = nullptr;
    TextPage* text = nullptr;
    VoxPage* vox = nullptr;
    PackedPage* packed = nullptr;
    // Pages that are not widgets themselves; their widgets live in the notebook.
    std::vector<std::unique_ptr<ViewerPage>> owned;

    // Every page but "tables", by notebook index (null at index 2).
    std::array<ViewerPage*, 7> ByIndex() const;
};

ViewerPageSet CreateViewerPages(QWidget* parent);

} // namespace tarnel
