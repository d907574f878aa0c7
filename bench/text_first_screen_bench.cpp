// The text page's first screen of a 1 GiB text file, as the window shows
// it: from ShowFile to the end of the first paint of the text through the
// event loop, and the line count the position label held then. Against the
// pager `less` on the same file in the same run, through a pseudo-terminal
// of the same size: from its start to the first screen drawn.
// Also a 10 GiB sparse file (text, then a hole) for the index's pace.
//
//   text_first_screen_bench [DIR]     (default /tmp; needs 1 GiB free)
//   Under X: xvfb-run -a text_first_screen_bench; QT_QPA_PLATFORM picks.
#include "viewer/TextPage.h"
#include "viewer/TextView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarnel;
using Clock = std::chrono::steady_clock;

namespace {

double Milliseconds(Clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string LineText(int64_t i) { return "line " + std::to_string(i) + " of a generated log with some words in it"; }

void MakeText(const std::string& path, int64_t size, bool sparseTail)
{
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    std::string block;
    int64_t written = 0, line = 0;
    const int64_t textSize = sparseTail ? (int64_t(1) << 20) : size;
    while (written < textSize) {
        block.clear();
        while (block.size() < (4 << 20))
            block += LineText(line++) + "\n";
        const int64_t take = std::min<int64_t>(int64_t(block.size()), textSize - written);
        (void)!::write(fd, block.data(), size_t(take));
        written += take;
    }
    if (sparseTail)
        (void)!::ftruncate(fd, off_t(size));
    ::fsync(fd);
    ::close(fd);
}

// Records when the text box has finished painting a shown file.
class PaintWatch : public QObject {
public:
    PaintWatch(TTextView* view) : view_(view) { view->PaintBox()->installEventFilter(this); }
    bool painted = false;
    Clock::time_point at;
    QString label;
    int64_t lines = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint && view_->Active() && !painted)
            QTimer::singleShot(0, [this] { Record(); }); // once the paint is over
        return false;
    }

private:
    void Record()
    {
        if (painted)
            return;
        painted = true;
        at = Clock::now();
        lines = view_->LineCount();
    }
    TTextView* view_;
};

// ms from ShowFile to the first screen painted; lines known then.
double PageFirstScreen(TextPage& page, const std::string& path, int64_t& lines, QString& label, bool& indexing)
{
    page.ClearPage();
    QCoreApplication::processEvents();
    PaintWatch watch(page.VWText);
    const auto start = Clock::now();
    page.ShowFile(path);
    QElapsedTimer guard;
    guard.start();
    while (!watch.painted && guard.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    lines = watch.lines;
    label = page.Position->text();
    indexing = page.VWText->Indexing();
    return std::chrono::duration<double, std::milli>(watch.at - start).count();
}

// ms from starting `less` in a rows x cols pseudo-terminal to its first
// screen: the last text line it can show has been written.
double LessFirstScreen(const std::string& path, int rows, int cols)
{
    struct winsize size{};
    size.ws_row = (unsigned short)rows;
    size.ws_col = (unsigned short)cols;
    int master = -1;
    const auto start = Clock::now();
    const pid_t child = ::forkpty(&master, nullptr, nullptr, &size);
    if (child == 0) {
        ::setenv("TERM", "xterm", 1);
        ::setenv("LESS", "", 1);
        ::unsetenv("LESSOPEN");
        ::execlp("less", "less", path.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const std::string want = "line " + std::to_string(rows - 2) + " "; // the screen's last line
    std::string seen;
    double ms = -1;
    char buffer[65536];
    while (Milliseconds(start) < 20000) {
        struct pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0)
            break;
        seen.append(buffer, size_t(n));
        if (seen.find(want) != std::string::npos) {
            ms = Milliseconds(start);
            break;
        }
    }
    (void)!::write(master, "q", 1);
    ::kill(child, SIGTERM);
    ::waitpid(child, nullptr, 0);
    ::close(master);
    return ms;
}

double HeadMilliseconds(const std::string& path, int rows)
{
    const auto start = Clock::now();
    (void)!std::system(("head -n " + std::to_string(rows) + " '" + path + "' > /dev/null").c_str());
    return Milliseconds(start);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const std::string dir = argc > 1 ? argv[1] : "/tmp";
    std::printf("platform: %s\n", qPrintable(QGuiApplication::platformName()));
    TextPage page;
    QWidget* window = page.PageWidget();
    window->resize(900, 700);
    window->show();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const int rows = page.VWText->VisibleRows(), cols = page.VWText->VisibleCols();
    std::printf("page shows %d rows of %d columns\n", rows, cols);

    struct Case {
        const char* name;
        int64_t size;
        bool sparse;
    } cases[] = {{"1 GiB of text", int64_t(1) << 30, false}, {"10 GiB: 1 MiB of text, then a hole", int64_t(10) << 30, true}};
    for (const Case& c : cases) {
        const std::string path = dir + "/text_first_screen_bench.txt";
        std::printf("making %s...\n", c.name);
        MakeText(path, c.size, c.sparse);
        (void)!std::system(("cat '" + path + "' > /dev/null").c_str()); // both read from the page cache
        std::vector<double> ours, less;
        for (int round = 0; round < 5; ++round) {
            int64_t lines = 0;
            QString label;
            bool indexing = false;
            const double page_ms = PageFirstScreen(page, path, lines, label, indexing);
            const double less_ms = LessFirstScreen(path, rows, cols);
            const double head_ms = HeadMilliseconds(path, rows);
            std::printf("%s: page first screen %.1f ms (label \"%s\", index %s)   less %.1f ms   head -n %d %.1f ms\n",
                        c.name, page_ms, qPrintable(label), indexing ? "still building" : "done", less_ms, rows,
                        head_ms);
            ours.push_back(page_ms);
            less.push_back(less_ms);
            // Let the index finish before the next round, as a user moving on would not.
            page.ClearPage();
        }
        std::printf("%s: median page %.1f ms (target 50 ms and at most the peer's)   median less %.1f ms\n", c.name,
                    Median(ours), Median(less));
        ::unlink(path.c_str());
    }
    return 0;
}
