// A copy out of a mount whose server has gone away: the command returns at
// once, the window goes on, and quitting cancels the copy without waiting
// for the worker that is stuck on the mount.
#include "fuse/SleepyMount.h"
#include "fuse/StallMeter.h"

#include "app/MainWindow.h"
#include "app/RecordedMessages.h"
#include "app/components/InstanceBlock.h"
#include "fileops/BackgroundWork.h"
#include "widgets/PaneView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>

#include <unistd.h>

using namespace tarnel;
using namespace tarnel::test;
namespace fs = std::filesystem;

namespace {

// Longer than the quit's grace: the copy is still stuck when the quit ends.
constexpr unsigned kSleepSeconds = 6;
constexpr int kAnswerTimeoutMs = 12 * 1000 * int(kSleepSeconds) + 5000;

} // namespace

TEST(OperationsOnADeadMountTest, CopyReturnsAtOnceAndTheQuitLeavesTheStuckWorkerBehind)
{
    if (!MountSpaceProblem().empty())
        GTEST_SKIP() << "no FUSE mount here: " << MountSpaceProblem();
    char tmpl[] = "/tmp/tarnel-deadops-XXXXXX";
    const std::string root = mkdtemp(tmpl);
    fs::create_directories(root + "/right");
    const std::string mountPoint = root + "/share";
    qputenv("TARNEL_INSTANCE_TAG", QByteArray("-deadops-") + QByteArray::number(getpid()));
    auto block = std::make_unique<InstanceBlock>();
    std::string error;
    ASSERT_TRUE(block->Open(&error)) << error;
    {
        SleepyMount share(mountPoint, kSleepSeconds);
        ASSERT_TRUE(share.Mounted()) << share.Problem();
        StartOptions options;
        options.leftDir = mountPoint;
        options.rightDir = root + "/right";
        auto window = std::make_unique<MainWindow>(options, block.get());
        window->SetMessages(std::make_unique<RecordedMessages>());
        window->Settings().ConfirmCopyTarget = false;
        window->show();
        PaneView* pane = window->LeftPane();
        const auto fileRow = [&] {
            for (int i = 0; i < pane->Data().Count; ++i)
                if (pane->Data().Item(i).Name == "file.txt")
                    return i;
            return -1;
        };
        ASSERT_TRUE(QTest::qWaitFor([&] { return !pane->Data().Reading() && fileRow() >= 0; }, kAnswerTimeoutMs));
        pane->SetSelected(fileRow(), true);
        window->SetActivePane(pane);

        StallMeter meter;
        meter.Start();
        meter.Measure([&] { window->DoFileOperation(FO_COPY); });
        ASSERT_EQ(window->OperationsRunning(), 1);
        const std::shared_ptr<Operation> copy = window->Work().Operations().front();
        QTest::qWait(300);
        EXPECT_FALSE(Finished(copy->State())) << "the mount answered at once";
        meter.Stop();
        EXPECT_LT(meter.LongestWaitMs(), 1000.0) << meter.LongGaps();

        QElapsedTimer quitting;
        quitting.start();
        window->FinishBackgroundOperations();
        EXPECT_LT(quitting.elapsed(), 4000) << "the quit waited for the stuck worker";
        EXPECT_TRUE(copy->Cancelled());
        window.reset();
        // The worker ends once the mount answers; it touches nothing of the window.
        EXPECT_TRUE(QTest::qWaitFor([&] { return Finished(copy->State()); }, kAnswerTimeoutMs));
    }
    fs::remove_all(root);
}
