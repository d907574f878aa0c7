// Painting and start-up of a pane on a directory of 100,000 entries, offscreen:
//  - scrolling the pane page by page from top to bottom against a plain
//    QListWidget showing the same names with its default painting;
//  - start-up to the first painted listing against ReadDirectory alone.
// Run read_directory_bench first: it generates the directory.
//
// usage: pane_paint_bench [WORKDIR]
#include "app/MainWindow.h"
#include "app/SystemLocale.h"
#include "panes/DirData.h"
#include "panes/HeadlessPane.h"
#include "panes/ReadDirectory.h"
#include "widgets/PaneView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QScrollBar>

#include <cstdio>
#include <filesystem>

using namespace tarnel;

namespace {

// Page by page from the top to the bottom, painting each page at once.
template <typename View>
double ScrollAllPages(View* view)
{
    QScrollBar* bar = view->verticalScrollBar();
    const int page = std::max(bar->pageStep(), 1);
    QElapsedTimer timer;
    timer.start();
    for (int top = 0; top <= bar->maximum(); top += page) {
        bar->setValue(top);
        view->viewport()->grab(); // paints the page for real, offscreen
    }
    return double(timer.nsecsElapsed()) / 1e6;
}

double ReadOnceMs(const std::string& dir, const DisplayLocale& locale)
{
    HeadlessPane controls;
    TDirData pane;
    DriveList drives;
    pane.Controls = &controls;
    pane.Drives = &drives;
    pane.Path = dir;
    QElapsedTimer timer;
    timer.start();
    ReadDirectory(pane, locale);
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::string work = argc > 1 ? argv[1] : "/tmp/tarnel-bench";
    const std::string dir = work + "/listing";
    if (!std::filesystem::exists(dir)) {
        std::fprintf(stderr, "run read_directory_bench first to generate %s\n", dir.c_str());
        return 1;
    }
    QApplication app(argc, argv);
    const DisplayLocale locale = SystemDisplayLocale();
    ReadOnceMs(dir, locale); // warm the page cache
    const double readMs = std::min(ReadOnceMs(dir, locale), ReadOnceMs(dir, locale));

    std::filesystem::create_directories(work + "/empty");
    QElapsedTimer startup;
    startup.start();
    StartOptions options;
    options.independent = true;
    options.leftDir = dir;
    options.rightDir = work + "/empty";
    MainWindow window(options, nullptr);
    window.resize(1200, 800);
    window.show();
    window.LeftPane()->List()->viewport()->repaint();
    const double startupMs = double(startup.nsecsElapsed()) / 1e6;

    PaneList* pane = window.LeftPane()->List();
    std::printf("pane list: visible %d, updates %d, size %dx%d\n", pane->isVisible(), pane->updatesEnabled(),
                pane->viewport()->width(), pane->viewport()->height());
    const double paneScrollMs = ScrollAllPages(pane);

    QListWidget plain;
    plain.setUniformItemSizes(true);
    const TDirData& data = window.LeftPane()->Data();
    QStringList names;
    names.reserve(data.Count);
    for (int i = 0; i < data.Count; ++i)
        names.append(QFile::decodeName(QByteArray::fromStdString(data.Item(i).Name)));
    plain.addItems(names);
    plain.resize(pane->size());
    plain.show();
    QApplication::processEvents();
    const double plainScrollMs = ScrollAllPages(&plain);

    std::printf("entries:                         %d\n", data.Count);
    std::printf("ReadDirectory (best of 2):       %.1f ms\n", readMs);
    std::printf("start-up to first painted pane:  %.1f ms (ratio %.2f, target <= 1.5)\n", startupMs, startupMs / readMs);
    std::printf("pane scroll, all pages:          %.1f ms (%d pages)\n", paneScrollMs,
                pane->verticalScrollBar()->maximum() / std::max(pane->verticalScrollBar()->pageStep(), 1) + 1);
    std::printf("QListWidget scroll, all pages:   %.1f ms\n", plainScrollMs);
    std::printf("ratio pane / QListWidget:        %.2f (target <= 3)\n", paneScrollMs / plainScrollMs);
    return 0;
}
