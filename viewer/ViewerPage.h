#pragma once

#include <functional>
#include <string>

class QWidget;

// One page of the viewer notebook. The viewer host hands it the file under the
// cursor and takes it back before the next one; a page never looks at panes.
class ViewerPage {
public:
    virtual ~ViewerPage() = default;

    // The widget that fills the page's tab.
    virtual QWidget* PageWidget() = 0;

    // A file is shown in two steps. ReadFile, asked on the window's thread,
    // returns the reading of the file at path (raw bytes, full path); the
    // reading runs on a worker, since it may wait on a file system, and
    // returns the showing of what it read, which runs on the window's thread
    // and reads nothing. A reading whose showing is not wanted any more is
    // dropped; it holds no page state.
    using Showing = std::function<void()>;
    using Reading = std::function<Showing()>;
    virtual Reading ReadFile(const std::string& path) = 0;

    // Both steps at once on this thread: for a file known to answer.
    void ShowFile(const std::string& path) { ReadFile(path)()(); }

    // Stops whatever runs (sound, reading, indexing) and empties the page.
    virtual void ClearPage() = 0;

    // Tool tip the host puts on the page after ShowFile (image size, ...).
    virtual std::string PageHint() const { return {}; }
};
