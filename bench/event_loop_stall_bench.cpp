// The longest time the window's event loop is kept waiting beside file
// systems whose server has gone away (every lookup, listing, open and statfs
// sleeps SECONDS), a removable one under /media and a network (sshfs) one:
//   - the mounts appearing while the window runs,
//   - a start beside them,
//   - the user going to the removable one (its drive button).
// Each case waits for what it measures (the new drive rows, the network
// volume's space, the pane on the new place), never a fixed time.
//
//   event_loop_stall_bench [SECONDS]     (default 20; runs as root, in a
//                                          private mount namespace)
#include "fuse/SleepyMount.h"
#include "fuse/StallMeter.h"

#include "app/MainWindow.h"
#include "app/components/InstanceBlock.h"
#include "panes/DirData.h"
#include "viewer/EntryHints.h"
#include "widgets/PaneView.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QToolButton>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <unistd.h>

using namespace tarnel;
using namespace tarnel::test;
namespace fs = std::filesystem;

namespace {

unsigned sleepSeconds = 20;
std::string root, stickPoint, sharePoint;

int DriveIndex(const std::string& mountPoint)
{
    const DriveList& drives = SystemDrives();
    for (size_t i = 0; i < drives.size(); ++i)
        if (drives[i].root == mountPoint)
            return int(i);
    return -1;
}

bool PaneListsDrive(PaneView* pane, const std::string& mountPoint)
{
    const int index = DriveIndex(mountPoint);
    return index >= 0 && index < pane->Data().DriveCount;
}

bool ShareAnswered(MainWindow& window)
{
    auto* hints = window.findChild<EntryHints*>();
    return hints && hints->DriveHint(DriveIndex(sharePoint)).startsWith("Size : 4");
}

// Runs the event loop until done() or the time is up; false on time up.
bool WaitFor(const std::function<bool()>& done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        usleep(1000);
    }
    return true;
}

std::unique_ptr<MainWindow> NewWindow(InstanceBlock& block)
{
    StartOptions options;
    options.leftDir = root + "/left";
    options.rightDir = root + "/right";
    auto window = std::make_unique<MainWindow>(options, &block);
    window->resize(1000, 600);
    window->show();
    return window;
}

void Report(const char* name, const StallMeter& meter, bool finished, const char* note = "")
{
    std::printf("%-34s longest stall %8.1f ms (waiting %8.1f ms)%s%s\n", name, meter.LongestGapMs(),
                meter.LongestWaitMs(), finished ? "" : "  [did not finish in time]", note);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    EnterPrivateMountSpace();
    if (argc > 1)
        sleepSeconds = unsigned(std::strtoul(argv[1], nullptr, 10));
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    if (!MountSpaceProblem().empty()) {
        std::fprintf(stderr, "event_loop_stall_bench: %s\n", MountSpaceProblem().c_str());
        return 1;
    }
    char tmpl[] = "/tmp/tarnel-stall-XXXXXX";
    root = mkdtemp(tmpl);
    fs::create_directories(root + "/left/sub");
    fs::create_directories(root + "/right");
    std::ofstream(root + "/left/a.txt") << "a";
    stickPoint = "/media/tarnel-stick";
    sharePoint = root + "/share";
    qputenv("TARNEL_INSTANCE_TAG", QByteArray("-stallbench-") + QByteArray::number(getpid()));
    InstanceBlock block;
    std::string error;
    if (!block.Open(&error)) {
        std::fprintf(stderr, "event_loop_stall_bench: %s\n", error.c_str());
        return 1;
    }
    const int answerMs = int(sleepSeconds) * 4000 + 10000;
    std::printf("file systems sleep %u s in every answer; a stall is the longest gap between two 10 ms ticks\n",
                sleepSeconds);

    {
        // 1. A start beside them: first, while nothing of the process has
        // looked at the volumes yet.
        SleepyMount stick(stickPoint, sleepSeconds);
        SleepyMount share(sharePoint, sleepSeconds, "nobody@gone.example:/", "sshfs");
        StallMeter meter;
        meter.Start();
        std::unique_ptr<MainWindow> window;
        meter.Measure([&] { window = NewWindow(block); });
        const bool done = WaitFor([&] {
            return PaneListsDrive(window->LeftPane(), stickPoint) && PaneListsDrive(window->LeftPane(), sharePoint);
        }, answerMs) && WaitFor([&] { return ShareAnswered(*window); }, answerMs);
        meter.Stop();
        Report("start beside them", meter, done);

        // 2. Going to the stick by its drive button.
        StallMeter going;
        going.Start();
        const int index = DriveIndex(stickPoint);
        QList<QToolButton*> buttons = window->findChildren<QToolButton*>();
        QToolButton* button = nullptr;
        for (QToolButton* b : buttons)
            if (b->text() == "tarnel-stick")
                button = b;
        bool went = false;
        if (index >= 0 && button) {
            going.Measure([&] { button->click(); });
            went = WaitFor([&] {
                const TDirData& data = window->LeftPane()->Data();
                return data.Path.rfind(stickPoint, 0) == 0 && data.Count > data.DriveCount + 1;
            }, answerMs * 2);
        }
        going.Stop();
        Report("going to the removable one", going, went,
                "  (needs the listing read off the window's thread)");
        window.reset();
    }
    {
        // 3. The mounts appear beside a running window.
        StallMeter meter;
        auto window = NewWindow(block);
        WaitFor([&] { return window->LeftPane()->Data().DriveCount > 0; }, 10000);
        meter.Start();
        SleepyMount stick(stickPoint, sleepSeconds, "sleepy", "sleepy", false);
        SleepyMount share(sharePoint, sleepSeconds, "nobody@gone.example:/", "sshfs", false);
        bool done = WaitFor([&] { return stick.Ready() && share.Ready(); }, 10000) &&
                    WaitFor([&] {
                        return PaneListsDrive(window->LeftPane(), stickPoint) &&
                               PaneListsDrive(window->RightPane(), sharePoint);
                    }, answerMs) &&
                    WaitFor([&] { return ShareAnswered(*window); }, answerMs);
        meter.Stop();
        Report("mounts appear", meter, done);
        window.reset();
    }
    fs::remove_all(root);
    return 0;
}
