// The window beside file systems whose server has gone away: every lookup,
// listing, open and statfs of theirs takes seconds. Neither their mounting
// nor a start beside them may keep the window's thread waiting.
#include "fuse/SleepyMount.h"
#include "fuse/StallMeter.h"

#include "app/MainWindow.h"
#include "app/QuickGoMenu.h"
#include "app/components/InstanceBlock.h"
#include "panes/DirData.h"
#include "viewer/EntryHints.h"
#include "widgets/PaneView.h"
#include "app/TryWait.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace tarnel;
using namespace tarnel::test;
namespace fs = std::filesystem;

namespace {

// Long enough that a wait on the mount stands out, short enough for a test.
constexpr unsigned kSleepSeconds = 2;
// A wait on the mount blocks the thread for the whole sleep. Shorter waits
// are the loaded machine's (page faults, the sanitizer's locks, font files):
// half the sleep tells the two apart on any machine. The 100 ms figure is
// measured by bench/event_loop_stall_bench, where a test's timing has no say.
constexpr double kLongestWaitMs = 1000.0 * kSleepSeconds / 2;
constexpr int kAnswerTimeoutMs = 4 * 1000 * int(kSleepSeconds) + 5000;

class DeadMountTest : public ::testing::Test {
protected:
    std::string root;
    std::string stickPoint, sharePoint;
    std::unique_ptr<InstanceBlock> block;
    std::unique_ptr<MainWindow> window;
    StallMeter meter;

    void SetUp() override
    {
        if (!MountSpaceProblem().empty())
            GTEST_SKIP() << "no FUSE mount here: " << MountSpaceProblem();
        char tmpl[] = "/tmp/tarnel-deadmount-XXXXXX";
        root = mkdtemp(tmpl);
        fs::create_directories(root + "/left/sub");
        fs::create_directories(root + "/right");
        std::ofstream(root + "/left/a.txt") << "a";
        stickPoint = "/media/tarnel-stick-" + std::to_string(getpid());
        sharePoint = root + "/share";
        qputenv("TARNEL_INSTANCE_TAG", QByteArray("-deadmount-") + QByteArray::number(getpid()));
        block = std::make_unique<InstanceBlock>();
        std::string error;
        ASSERT_TRUE(block->Open(&error)) << error;
    }

    void TearDown() override
    {
        window.reset();
        block.reset();
        if (!root.empty())
            fs::remove_all(root); // the share is unmounted by now: nothing here waits
    }

    void StartWindow()
    {
        StartOptions options;
        options.leftDir = root + "/left";
        options.rightDir = root + "/right";
        meter.Start();
        meter.Measure([&] {
            window = std::make_unique<MainWindow>(options, block.get());
            window->resize(1000, 600);
            window->show();
        });
    }

    // The index of the drive list entry at mountPoint, -1 while it has none.
    static int DriveIndex(const std::string& mountPoint)
    {
        const DriveList& drives = SystemDrives();
        for (size_t i = 0; i < drives.size(); ++i)
            if (drives[i].root == mountPoint)
                return int(i);
        return -1;
    }

    // True when the pane lists a drive row for mountPoint.
    bool PaneListsDrive(PaneView* pane, const std::string& mountPoint) const
    {
        const int index = DriveIndex(mountPoint);
        const TDirData& data = pane->Data();
        return index >= 0 && index < data.DriveCount &&
               data.Item(data.Count - data.DriveCount + index).Kind == fkDrive;
    }

    QString DriveHint(const std::string& mountPoint) const
    {
        auto* hints = window->findChild<EntryHints*>();
        return hints ? hints->DriveHint(DriveIndex(mountPoint)) : QString();
    }
};

TEST_F(DeadMountTest, StartBesideDeadRemovableAndNetworkMountsNeverWaitsOnThem)
{
    SleepyMount stick(stickPoint, kSleepSeconds);
    ASSERT_TRUE(stick.Mounted()) << stick.Problem();
    SleepyMount share(sharePoint, kSleepSeconds, "nobody@gone.example:/", "sshfs");
    ASSERT_TRUE(share.Mounted()) << share.Problem();

    StartWindow();
    // Both show as drive rows, the stick as removable, the share as network.
    TRY_VERIFY_WITH_TIMEOUT(PaneListsDrive(window->LeftPane(), stickPoint), kAnswerTimeoutMs);
    TRY_VERIFY_WITH_TIMEOUT(PaneListsDrive(window->RightPane(), sharePoint), kAnswerTimeoutMs);
    EXPECT_EQ(SystemDrives()[size_t(DriveIndex(stickPoint))].type, DriveType::Removable);
    EXPECT_EQ(SystemDrives()[size_t(DriveIndex(sharePoint))].type, DriveType::Network);

    // A network volume's hint always tells its space: unknown until its
    // worker has waited out the server, then the figures.
    EXPECT_EQ(DriveHint(sharePoint), "Size : ?\nUsed : ?\nFree : ?");
    TRY_VERIFY_WITH_TIMEOUT(DriveHint(sharePoint).startsWith("Size : 4"), kAnswerTimeoutMs);
    EXPECT_TRUE(DriveHint(sharePoint).contains("Free : 1")) << DriveHint(sharePoint).toStdString();
    meter.Stop();
    EXPECT_LT(meter.LongestWaitMs(), kLongestWaitMs) << "longest gap " << meter.LongestGapMs() << " ms\n" << meter.LongGaps();
}

TEST_F(DeadMountTest, DeadMountsAppearingBesideTheWindowNeverHoldIt)
{
    StartWindow();
    TRY_VERIFY(window->LeftPane()->Data().DriveCount > 0);
    // Mounted while the window runs; the test waits in the event loop.
    SleepyMount stick(stickPoint, kSleepSeconds, "sleepy", "sleepy", false);
    SleepyMount share(sharePoint, kSleepSeconds, "nobody@gone.example:/", "sshfs", false);
    TRY_VERIFY_WITH_TIMEOUT(stick.Ready() && share.Ready(), 10000);

    // The mount watcher notices, the drive list is read again, and both
    // panes list the new volumes.
    TRY_VERIFY_WITH_TIMEOUT(PaneListsDrive(window->LeftPane(), stickPoint), kAnswerTimeoutMs);
    TRY_VERIFY_WITH_TIMEOUT(PaneListsDrive(window->LeftPane(), sharePoint), kAnswerTimeoutMs);
    TRY_VERIFY_WITH_TIMEOUT(PaneListsDrive(window->RightPane(), sharePoint), kAnswerTimeoutMs);
    // The rows are painted (the stick's and the share's space is not asked
    // for: no pane shows them) and the share's hint is answered in time.
    window->LeftPane()->List()->viewport()->repaint();
    TRY_VERIFY_WITH_TIMEOUT(DriveHint(sharePoint).startsWith("Size : 4"), kAnswerTimeoutMs);
    meter.Stop();
    EXPECT_LT(meter.LongestWaitMs(), kLongestWaitMs) << "longest gap " << meter.LongestGapMs() << " ms\n" << meter.LongGaps();
}

// Opening the quick-go branch of a dead volume lists it on a worker: the
// branch says it is reading, and the window goes on.
TEST_F(DeadMountTest, QuickGoIntoADeadMountSaysReadingMeanwhile)
{
    SleepyMount stick(stickPoint, kSleepSeconds);
    ASSERT_TRUE(stick.Mounted()) << stick.Problem();
    StartWindow();
    TRY_VERIFY_WITH_TIMEOUT(PaneListsDrive(window->LeftPane(), stickPoint), kAnswerTimeoutMs);
    auto* quickGo = window->findChild<QuickGoMenu*>();
    ASSERT_NE(quickGo, nullptr);
    quickGo->Refill(quickGo->Menu());
    QMenu* branch = nullptr;
    for (QAction* a : quickGo->Menu()->actions())
        if (a->statusTip() == QString::fromStdString(stickPoint + "/"))
            branch = a->menu<QMenu*>();
    ASSERT_NE(branch, nullptr);

    emit branch->aboutToShow();
    EXPECT_TRUE(QuickGoMenu::IsReading(branch));
    EXPECT_EQ(branch->actions().constLast()->text(), "Reading...");
    TRY_VERIFY_WITH_TIMEOUT(!QuickGoMenu::IsReading(branch), 6 * 1000 * int(kSleepSeconds) + 5000);
    EXPECT_EQ(branch->actions().size(), 1) << "the one file is no branch";
    meter.Stop();
    EXPECT_LT(meter.LongestWaitMs(), kLongestWaitMs) << "longest gap " << meter.LongestGapMs() << " ms\n"
                                                     << meter.LongGaps();
}

} // namespace
