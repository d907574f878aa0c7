// A large text on a file system that stops answering while it is shown: the
// start comes with the file, the rest is read on workers. The end, a page
// past the start and a search near the end keep the window's thread free
// while the server is gone, and show the file's lines once it is back.
#include "fuse/SleepyMount.h"
#include "fuse/StallMeter.h"

#include "app/MainWindow.h"
#include "app/components/InstanceBlock.h"
#include "panes/DirData.h"
#include "viewer/SearchWindow.h"
#include "viewer/TextPage.h"
#include "viewer/TextView.h"
#include "viewer/ViewerHost.h"
#include "widgets/PaneView.h"

#include <QLabel>
#include <QListWidget>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace tarnel;
using namespace tarnel::test;
namespace fs = std::filesystem;

namespace {

constexpr unsigned kSleepSeconds = 1;
constexpr double kLongestWaitMs = 1000.0 * kSleepSeconds / 2;
constexpr int kAnswerTimeoutMs = 40 * 1000 * int(kSleepSeconds) + 10000;
constexpr int kListingTimeoutMs = 60000;
constexpr int kLines = 800000; // 15 bytes each: 12 MB
constexpr int64_t kReadWithTheFile = TTextView::kReadWithOpenBytes;

std::string Numbered(int n)
{
    char text[32];
    std::snprintf(text, sizeof text, "line %09d", n);
    return text;
}

class DeadMountTextTest : public ::testing::Test {
protected:
    std::string root, served, sharePoint, asleep;
    std::unique_ptr<InstanceBlock> block;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<SleepyMount> share;
    std::unique_ptr<StallMeter> meter = std::make_unique<StallMeter>();

    void SetUp() override
    {
        if (!MountSpaceProblem().empty())
            GTEST_SKIP() << "no FUSE mount here: " << MountSpaceProblem();
        char tmpl[] = "/tmp/tarnel-deadtext-XXXXXX";
        root = mkdtemp(tmpl);
        served = root + "/served";
        fs::create_directories(served);
        fs::create_directories(root + "/right");
        {
            std::ofstream out(served + "/big.txt", std::ios::binary);
            for (int i = 0; i < kLines; ++i)
                out << Numbered(i) << (i == kLines - 100 ? '*' : '\n'); // found only there
            out << "THE END";
        }
        asleep = root + "/asleep";
        sharePoint = root + "/share";
        qputenv("TARNEL_INSTANCE_TAG", QByteArray("-deadtext-") + QByteArray::number(getpid()));
        block = std::make_unique<InstanceBlock>();
        std::string error;
        ASSERT_TRUE(block->Open(&error)) << error;

        qputenv("TARNEL_SLEEPY_FILES", QByteArray::fromStdString(served));
        qputenv("TARNEL_SLEEPY_SLOW_READS", QByteArray::number(qint64(kReadWithTheFile)) + ":" +
                                                QByteArray::fromStdString(asleep));
        share = std::make_unique<SleepyMount>(sharePoint, kSleepSeconds);
        qunsetenv("TARNEL_SLEEPY_FILES");
        qunsetenv("TARNEL_SLEEPY_SLOW_READS");
        ASSERT_TRUE(share->Mounted()) << share->Problem();

        StartOptions options;
        options.leftDir = sharePoint;
        options.rightDir = root + "/right";
        window = std::make_unique<MainWindow>(options, block.get());
        window->resize(1000, 600);
        window->show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !Pane()->Data().Reading() && EntryRow("big.txt") >= 0; },
                                    kListingTimeoutMs))
            << "the mount's listing never came";
        meter->Start();
    }

    void TearDown() override
    {
        window.reset();
        share.reset();
        block.reset();
        if (!root.empty())
            fs::remove_all(root);
    }

    PaneView* Pane() { return window->LeftPane(); }
    ViewerHost* Viewer() { return window->Viewer(); }
    TTextView* View() { return Viewer()->Pages().text->VWText; }

    int EntryRow(const std::string& name)
    {
        const TDirData& data = Pane()->Data();
        for (int i = 0; i < data.Count; ++i)
            if (data.Item(i).Name == name)
                return i;
        return -1;
    }

    // The server goes away (reads past the file's start wait), or comes back.
    void Asleep(bool on)
    {
        if (on)
            std::ofstream(asleep) << "zz";
        else
            fs::remove(asleep);
    }

    // Line n (from 1) as the view has it: "" while it is being read.
    std::string Line(int64_t n)
    {
        std::vector<std::string> out;
        int64_t failed = 0;
        if (!View()->GetLines(n, 1, false, out, failed) || out.empty())
            return {};
        return out[0];
    }

    // Each step is measured on its own.
    void ExpectNoWaitOnTheMount(const char* what)
    {
        meter->Stop();
        EXPECT_LT(meter->LongestWaitMs(), kLongestWaitMs)
            << what << ": longest gap " << meter->LongestGapMs() << " ms\n" << meter->LongGaps();
        std::printf("[ stall ] %s: longest wait %.0f ms, longest gap %.0f ms\n", what, meter->LongestWaitMs(),
                    meter->LongestGapMs());
        meter = std::make_unique<StallMeter>();
        meter->Start();
    }
};

TEST_F(DeadMountTextTest, TheEndAPageAndASearchPastTheStartWhileTheServerIsGone)
{
    Asleep(true);
    const int row = EntryRow("big.txt");
    ASSERT_GE(row, 0);
    Pane()->List()->setFocus();
    Pane()->SetCurrentRow(row);
    Viewer()->ShowEntryInViewer(Pane(), Pane()->Data().Path, row, false, false);
    ASSERT_EQ(Viewer()->CurrentPage(), ViewerPageKind::Text);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Viewer()->Reading(); }, kAnswerTimeoutMs));
    ASSERT_TRUE(View()->Active());
    EXPECT_EQ(Line(1), Numbered(0)) << "the first screen comes with the file";

    // Ctrl+End: the index stops at the start until the server answers; the
    // view goes to the end as it grows.
    const int64_t startLines = (kReadWithTheFile + 14) / 15;
    QTest::keyClick(View(), Qt::Key_End, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return View()->LineCount() > startLines; }, kAnswerTimeoutMs))
        << "no block past the start came";
    EXPECT_TRUE(View()->Indexing());
    ExpectNoWaitOnTheMount("Ctrl+End while the server is gone");
    Asleep(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !View()->Indexing(); }, kAnswerTimeoutMs));
    EXPECT_EQ(View()->LineCount(), kLines);
    EXPECT_EQ(View()->lineaora(), kLines - View()->VisibleRows());
    ASSERT_TRUE(QTest::qWaitFor([&] { return Line(kLines) == "THE END"; }, kAnswerTimeoutMs));
    ExpectNoWaitOnTheMount("Ctrl+End after the server is back");

    // A page down past the start, onto lines not in memory.
    Asleep(true);
    const int64_t at6Mb = (int64_t(6) << 20) / 15;
    View()->Setlineaora(at6Mb);
    QTest::keyClick(View(), Qt::Key_PageDown);
    const int64_t top = at6Mb + View()->VisibleRows();
    ASSERT_EQ(View()->lineaora(), top);
    View()->PaintBox()->repaint();
    EXPECT_EQ(Line(top + 1), "") << "read while the server was gone?";
    EXPECT_TRUE(View()->LinesWaiting());
    ExpectNoWaitOnTheMount("PgDn while the server is gone");
    Asleep(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Line(top + 1) == Numbered(int(top)); }, kAnswerTimeoutMs));
    EXPECT_EQ(Line(top + 2), Numbered(int(top + 1)));
    ExpectNoWaitOnTheMount("PgDn after the server is back");

    // A search for a text near the end: the server comes back while it runs.
    Asleep(true);
    QTimer::singleShot(3000, [this] { Asleep(false); });
    View()->ShowSearch("0799900*", false);
    TSearchwin* search = View()->SearchWindow();
    ASSERT_NE(search, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !search->Searching(); }, kAnswerTimeoutMs));
    EXPECT_EQ(search->Label2->text(), "1 match..");
    ASSERT_EQ(search->ListBox1->count(), 1);
    EXPECT_EQ(search->ListBox1->item(0)->text(), QString::number(kLines - 100) + ",8");
    EXPECT_EQ(View()->lineaora(), kLines - 100);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Line(kLines - 99) == Numbered(kLines - 100) + "*" + Numbered(kLines - 99); },
                                kAnswerTimeoutMs));
    ExpectNoWaitOnTheMount("a search while the server is gone, then back");
}

} // namespace
