#pragma once

#include <string>

class QWidget;

// One page of the viewer notebook. The viewer host hands it the file under the
// cursor and takes it back before the next one; a page never looks at panes.
class ViewerPage {
public:
    virtual ~ViewerPage() = default;

    // The widget that fills the page's tab.
    virtual QWidget* PageWidget() = 0;

    // Shows the file at path (raw bytes, full path). Never blocks on the file:
    // slow work runs in the background or in slices from the event loop.
    virtual void ShowFile(const std::string& path) = 0;

    // Stops whatever runs (sound, reading, indexing) and empties the page.
    virtual void ClearPage() = 0;

    // Tool tip the host puts on the page after ShowFile (image size, ...).
    virtual std::string PageHint() const { return {}; }
};
