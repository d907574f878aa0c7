// A place that does not answer: the pane says so and the user goes
// elsewhere at once; quitting does not wait for it.
#include "app/MainWindow.h"
#include "app/PaneReads.h"
#include "sources/LocalSource.h"
#include "sources/SourceTable.h"
#include "widgets/PaneView.h"
#include "app/TryWait.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

// The hanging folder never answers until released, so a key that waited on
// it would not come back at all; the bound only has to be beyond what a
// loaded machine takes for the key itself.
constexpr qint64 kAtOnceMs = 5000;

// The disk, except that listing one folder waits until the test lets it go.
struct HangingSource : LocalSource {
    struct Latch {
        std::mutex mutex;
        std::condition_variable released;
        bool open = false;
    };
    std::string hanging;
    std::shared_ptr<Latch> latch = std::make_shared<Latch>();

    void List(const PanePlace& place, ListSink& sink, const CancelToken& cancel) const override
    {
        if (place.Path == hanging) {
            std::unique_lock lock(latch->mutex);
            latch->released.wait(lock, [&] { return latch->open; });
        }
        LocalSource::List(place, sink, cancel);
    }
    void Release() const
    {
        std::lock_guard lock(latch->mutex);
        latch->open = true;
        latch->released.notify_all();
    }
};

class BlockedReadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-blocked-XXXXXX";
        root = std::string(mkdtemp(tmpl)) + "/";
        fs::create_directories(root + "left/slow");
        fs::create_directories(root + "right");
        std::ofstream(root + "left/slow/late.txt") << "x";
        std::ofstream(root + "left/here.txt") << "h";
        std::ofstream(root + "right/other.txt") << "o";
        StartOptions options;
        options.independent = true;
        options.leftDir = root + "left";
        options.rightDir = root + "right";
        window = std::make_unique<MainWindow>(options, nullptr);
        window->show();
        test::WaitForReads(*window);
        source->hanging = root + "left/slow/";
        auto sources = std::make_shared<SourceTable>(window->LeftPane()->Data().SourcesTable());
        sources->local = source;
        window->LeftPane()->Data().Sources = sources;
    }
    void TearDown() override
    {
        window.reset();
        source->Release();
        fs::remove_all(root);
    }

    PaneView* Left() { return window->LeftPane(); }
    int Row(PaneView* pane, const std::string& name)
    {
        for (int i = 0; i < pane->Data().Count; ++i)
            if (pane->Data().Item(i).Name == name)
                return i;
        return -1;
    }
    // Enters the folder that hangs, by the keyboard; true when the key
    // came back at once.
    bool EnterSlow()
    {
        window->SetActivePane(Left());
        Left()->SetCurrentRow(Row(Left(), "slow"));
        QElapsedTimer took;
        took.start();
        QTest::keyClick(Left()->List(), Qt::Key_Return);
        return took.elapsed() < kAtOnceMs;
    }

    std::string root;
    std::unique_ptr<MainWindow> window;
    std::shared_ptr<HangingSource> source = std::make_shared<HangingSource>();
};

TEST_F(BlockedReadTest, TheNoticeComesAndTheUserGoesElsewhereAtOnce)
{
    ASSERT_GE(Row(Left(), "slow"), 0);
    EXPECT_TRUE(EnterSlow());
    EXPECT_EQ(Left()->Data().Path, root + "left/slow/");
    EXPECT_TRUE(Left()->Data().Reading());
    EXPECT_TRUE(Left()->ReadNoticeLabel()->isVisible());
    EXPECT_EQ(Left()->ReadNoticeLabel()->text(), "Reading...");
    EXPECT_EQ(Left()->Data().Count, 0) << "no rows of the folder left behind";
    TRY_VERIFY_WITH_TIMEOUT(Left()->ReadNoticeLabel()->text().contains("not answered for 2 seconds"), 5000);

    // Backspace goes up while the read still hangs, the cursor on the folder left.
    QElapsedTimer took;
    took.start();
    QTest::keyClick(Left()->List(), Qt::Key_Backspace);
    EXPECT_LT(took.elapsed(), kAtOnceMs);
    EXPECT_EQ(Left()->Data().Path, root + "left/");
    ASSERT_TRUE(test::PaneRead(Left()->Data()));
    EXPECT_FALSE(Left()->ReadNoticeLabel()->isVisible());
    ASSERT_GE(Row(Left(), "here.txt"), 0);
    EXPECT_EQ(Left()->CurrentRow(), Row(Left(), "slow"));

    // Into it again, then Back, and the other pane by Tab.
    EXPECT_TRUE(EnterSlow());
    took.restart();
    window->NavBackClick();
    EXPECT_LT(took.elapsed(), kAtOnceMs);
    EXPECT_EQ(Left()->Data().Path, root + "left/");
    ASSERT_TRUE(test::PaneRead(Left()->Data()));
    EXPECT_TRUE(EnterSlow());
    QTest::keyClick(Left()->List(), Qt::Key_Tab);
    EXPECT_TRUE(window->RightIsActive());

    // The hung reads answer late: their rows never reach the pane, which
    // still waits for its own.
    source->Release();
    TRY_VERIFY_WITH_TIMEOUT(!Left()->Data().Reading(), 10000);
    TRY_COMPARE_WITH_TIMEOUT(Left()->Data().Reads->Running(), 0, 10000);
    EXPECT_GE(Row(Left(), "late.txt"), 0) << "the last read's own listing";
    EXPECT_EQ(Left()->Data().Count - Left()->Data().DriveCount, 2) << "\"..\" and late.txt once, nothing stale";
}

TEST_F(BlockedReadTest, AStaleListingAfterGoingAwayIsDropped)
{
    EXPECT_TRUE(EnterSlow());
    QTest::keyClick(Left()->List(), Qt::Key_Backspace);
    ASSERT_TRUE(test::PaneRead(Left()->Data()));
    const int rows = Left()->Data().Count;
    source->Release(); // the abandoned read of slow/ answers now
    TRY_COMPARE_WITH_TIMEOUT(Left()->Data().Reads->Running(), 0, 10000);
    QApplication::processEvents();
    EXPECT_EQ(Left()->Data().Path, root + "left/");
    EXPECT_EQ(Left()->Data().Count, rows);
    EXPECT_LT(Row(Left(), "late.txt"), 0);
    EXPECT_FALSE(Left()->Data().Reading());
}

TEST_F(BlockedReadTest, QuittingWithAReadThatHangsDoesNotWait)
{
    EXPECT_TRUE(EnterSlow());
    QElapsedTimer took;
    took.start();
    window.reset();
    EXPECT_LT(took.elapsed(), kAtOnceMs);
    source->Release(); // the worker returns to nobody
    QTest::qWait(50);
}

} // namespace
