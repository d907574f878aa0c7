// A member of a ZIP archive on a file system that has stopped answering: the
// viewer's copy of it is made on a worker, and the window goes on meanwhile.
#include "fuse/SleepyMount.h"
#include "fuse/StallMeter.h"

#include "app/MainWindow.h"
#include "app/components/InstanceBlock.h"
#include "fileops/model/ZipMaster.h"
#include "panes/DirData.h"
#include "viewer/TextPage.h"
#include "viewer/TextView.h"
#include "viewer/ViewerHost.h"
#include "widgets/PaneView.h"

#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace tarnel;
using namespace tarnel::test;
namespace fs = std::filesystem;

namespace {

constexpr unsigned kSleepSeconds = 1;
// A wait on the mount blocks for the whole sleep; a loaded machine's stalls
// are shorter than half of it.
constexpr double kLongestWaitMs = 1000.0 * kSleepSeconds / 2;
// Every look at the mount sleeps, queued behind the other workers' looks.
constexpr int kAnswerTimeoutMs = 120000;

class DeadMountZipMemberTest : public ::testing::Test {
protected:
    std::string root;
    std::unique_ptr<InstanceBlock> block;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<SleepyMount> share;

    void SetUp() override
    {
        if (!MountSpaceProblem().empty())
            GTEST_SKIP() << "no FUSE mount here: " << MountSpaceProblem();
        char tmpl[] = "/tmp/tarnel-deadzip-XXXXXX";
        root = mkdtemp(tmpl);
        const std::string served = root + "/served";
        fs::create_directories(served);
        fs::create_directories(root + "/pack");
        fs::create_directories(root + "/right");
        std::ofstream(root + "/pack/note.txt") << "inside the archive\n";
        ASSERT_EQ(std::system(("cd '" + root + "/pack' && zip -q '" + served + "/pack.zip' note.txt").c_str()), 0);
        qputenv("TARNEL_INSTANCE_TAG", QByteArray("-deadzip-") + QByteArray::number(getpid()));
        block = std::make_unique<InstanceBlock>();
        std::string error;
        ASSERT_TRUE(block->Open(&error)) << error;
        qputenv("TARNEL_SLEEPY_FILES", QByteArray::fromStdString(served));
        share = std::make_unique<SleepyMount>(root + "/share", kSleepSeconds);
        qunsetenv("TARNEL_SLEEPY_FILES");
        ASSERT_TRUE(share->Mounted()) << share->Problem();
        StartOptions options;
        options.leftDir = root + "/share";
        options.rightDir = root + "/right";
        window = std::make_unique<MainWindow>(options, block.get());
        window->Zip().OwnLibraryDirectory = TARNEL_ZIP_LIBRARY_DIR;
        window->resize(1000, 600);
        window->show();
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

    bool Listed(const std::string& name)
    {
        return QTest::qWaitFor([&] { return !Pane()->Data().Reading() && Row(name) >= 0; }, kAnswerTimeoutMs);
    }

    int Row(const std::string& name)
    {
        const TDirData& data = Pane()->Data();
        for (int i = 0; i < data.Count; ++i)
            if (data.Item(i).Name == name)
                return i;
        return -1;
    }
};

TEST_F(DeadMountZipMemberTest, TheViewersCopyOfAMemberIsMadeOffTheWindowsThread)
{
    ASSERT_TRUE(Listed("pack.zip")) << "the mount's listing never came";
    Pane()->SetCurrentRow(Row("pack.zip"));
    window->OpenEntryOf(Pane());
    ASSERT_TRUE(Listed("note.txt")) << "the archive's listing never came";

    StallMeter meter;
    meter.Start();
    Pane()->List()->setFocus();
    Pane()->SetCurrentRow(Row("note.txt"));
    ViewerHost* viewer = window->Viewer();
    viewer->ShowEntryInViewer(Pane(), Pane()->Data().Path, Pane()->CurrentRow(), false, false);
    EXPECT_TRUE(viewer->Reading());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !viewer->Reading(); }, kAnswerTimeoutMs)) << "the copy never came";
    meter.Stop();
    EXPECT_LT(meter.LongestWaitMs(), kLongestWaitMs) << "longest gap " << meter.LongestGapMs() << " ms\n"
                                                     << meter.LongGaps();

    EXPECT_EQ(viewer->CurrentPage(), ViewerPageKind::Text);
    TTextView* view = viewer->Pages().text->VWText;
    std::vector<std::string> lines;
    int64_t failed = 0;
    view->GetLines(1, 1, false, lines, failed);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "inside the archive");
    EXPECT_FALSE(viewer->ViewerTempFile().empty());
}

} // namespace
