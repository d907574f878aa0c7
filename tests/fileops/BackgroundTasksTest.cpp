// Tasks under the background-work owner: one that is cancelled never reports
// back, and the owner's shutdown waits for every task before the program ends.
#include "fileops/BackgroundWork.h"

#include <QApplication>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace tarnel;

namespace {

// Work that runs until it is cancelled (a walk of a slow mount).
auto UntilCancelled(std::atomic<bool>& started, std::atomic<bool>& ended)
{
    return [&started, &ended](const std::atomic<bool>& cancel) {
        started = true;
        while (!cancel)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // a last entry read slowly
        ended = true;
    };
}

} // namespace

TEST(BackgroundTasks, CancelledTaskIsJoinedByTheOwnerAndNeverReportsBack)
{
    QWidget window;
    std::atomic<bool> started{false}, ended{false};
    bool reported = false;
    {
        BackgroundWork work(&window);
        auto cancel = work.StartTask(UntilCancelled(started, ended), [&] { reported = true; });
        while (!started)
            QTest::qWait(1);
        EXPECT_EQ(work.Running(), 1);
        *cancel = true; // the dialog closed: it does not wait
        EXPECT_FALSE(ended);
        work.Shutdown(); // quitting waits for the walk to end
        EXPECT_TRUE(ended);
        EXPECT_EQ(work.Running(), 0);
        QApplication::processEvents();
    }
    EXPECT_FALSE(reported);
}

TEST(BackgroundTasks, FinishedTaskReportsOnTheMainThreadAndNothingStartsAfterShutdown)
{
    QWidget window;
    BackgroundWork work(&window);
    std::thread::id reportedOn;
    bool reported = false;
    work.StartTask([](const std::atomic<bool>&) {}, [&] {
        reported = true;
        reportedOn = std::this_thread::get_id();
    });
    for (int i = 0; i < 200 && !reported; ++i)
        QTest::qWait(5);
    ASSERT_TRUE(reported);
    EXPECT_EQ(reportedOn, std::this_thread::get_id());

    work.Shutdown();
    bool ran = false;
    auto cancel = work.StartTask([&](const std::atomic<bool>&) { ran = true; }, [] {});
    EXPECT_TRUE(*cancel);
    EXPECT_FALSE(ran);
    EXPECT_EQ(work.Running(), 0);
}
