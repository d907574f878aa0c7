// Time from opening a 10 GiB file in the text view to its first painted
// screen, against `head -n 60` on the same file. Two sparse files: text in
// the first megabyte then a hole, and a hole only (one line of NUL bytes).
//
//   text_first_screen_bench [DIR]     (default /tmp; sparse, takes ~1 MB)
#include "viewer/TextView.h"

#include <QApplication>
#include <QPixmap>

#include <chrono>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <unistd.h>

using namespace tarnel;
using Clock = std::chrono::steady_clock;

namespace {

double Milliseconds(Clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

double HeadMilliseconds(const std::string& path)
{
    const auto start = Clock::now();
    (void)!std::system(("head -n 60 '" + path + "' > /dev/null").c_str());
    return Milliseconds(start);
}

void MakeSparse(const std::string& path, bool withText)
{
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (withText) {
        std::string text;
        for (int i = 0; text.size() < (1 << 20); ++i)
            text += "line " + std::to_string(i) + " of a generated log with some words in it\n";
        (void)!::write(fd, text.data(), text.size());
    }
    (void)!::ftruncate(fd, off_t(10) << 30);
    ::close(fd);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::string dir = argc > 1 ? argv[1] : "/tmp";
    for (bool withText : {true, false}) {
        const std::string path = dir + (withText ? "/first_screen_text.bin" : "/first_screen_hole.bin");
        MakeSparse(path, withText);
        for (int round = 0; round < 3; ++round) {
            TTextView view;
            view.resize(800, 600);
            view.show();
            app.processEvents();
            const auto start = Clock::now();
            view.SetFilename(path);
            view.SetActive(true);
            const QPixmap shot = view.PaintBox()->grab(); // paints the screen
            const double ours = Milliseconds(start);
            const double head = HeadMilliseconds(path);
            std::printf("%s: first screen %.1f ms (%lld lines so far, indexing %s)   head -n 60 %.1f ms\n",
                        withText ? "10 GiB, text then a hole" : "10 GiB hole, one line", ours,
                        static_cast<long long>(view.LineCount()), view.Indexing() ? "on" : "done", head);
            view.SetActive(false);
        }
        ::unlink(path.c_str());
    }
    return 0;
}
