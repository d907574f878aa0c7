#pragma once
// How the panes show their rows; process-wide, main thread only.
namespace tarnel {

struct DisplayOptions {
    bool ShowBigSize = false;  // directories show the space they use on disk
    bool ShowAttrs = true;     // hidden and read-only marks
    bool ShowListHints = true; // file information hints over the lists
    bool ShowSupported = true; // mark files the viewer shows itself
};

DisplayOptions& Options();

} // namespace tarnel
