// The quick viewer on files whose file system has stopped answering: every
// lookup and open of theirs takes seconds. The page for the name shows at
// once, "Reading..." beside the tabs, and the file's contents come when the
// mount answers; the window's thread never waits for them.
#include "fuse/SleepyMount.h"
#include "fuse/StallMeter.h"

#include "app/MainWindow.h"
#include "app/RecordedMessages.h"
#include "app/components/InstanceBlock.h"
#include "panes/DirData.h"
#include "viewer/ImagePage.h"
#include "viewer/InfoPage.h"
#include "viewer/MediaPage.h"
#include "viewer/PackedPage.h"
#include "viewer/TextPage.h"
#include "viewer/TextView.h"
#include "viewer/VoxPage.h"
#include "viewer/ViewerHost.h"
#include "widgets/PaneView.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace tarnel;
using namespace tarnel::test;
namespace fs = std::filesystem;

namespace {

// One second: each look at a file takes several answers of the mount.
constexpr unsigned kSleepSeconds = 1;
// As for the other dead-mount tests: a wait on the mount blocks for the
// whole sleep, a loaded machine's stalls are shorter than half of it.
constexpr double kLongestWaitMs = 1000.0 * kSleepSeconds / 2;
// A look at a file takes a few answers of the mount (lookup, open, stat),
// queued behind the other workers' (icons, hints) on the same server.
constexpr int kAnswerTimeoutMs = 40 * 1000 * int(kSleepSeconds) + 10000;
// The listing stats every entry, one sleep each.
constexpr int kListingTimeoutMs = 60000;

class DeadMountViewerTest : public ::testing::Test {
protected:
    std::string root, served, sharePoint;
    std::unique_ptr<InstanceBlock> block;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<SleepyMount> share;
    StallMeter meter;

    void SetUp() override
    {
        if (!MountSpaceProblem().empty())
            GTEST_SKIP() << "no FUSE mount here: " << MountSpaceProblem();
        char tmpl[] = "/tmp/tarnel-deadviewer-XXXXXX";
        root = mkdtemp(tmpl);
        served = root + "/served";
        fs::create_directories(served);
        fs::create_directories(root + "/right");
        QImage picture(5, 3, QImage::Format_RGB32);
        picture.fill(Qt::red);
        ASSERT_TRUE(picture.save(QString::fromStdString(served + "/photo.bmp"), "BMP"));
        // Named as nothing in particular, but its first bytes say RAR.
        std::ofstream(served + "/notes.dat", std::ios::binary) << std::string("Rar!\x1a\x07\x00", 7) << "not really";
        std::ofstream(served + "/readme.txt") << "hello from the mount\nsecond line\n";
        std::string rough(16 * 1024, '\0');
        for (size_t i = 0; i < rough.size(); ++i)
            rough[i] = char((i * 73) & 0xFF); // far from smooth: guessed as ADPCM
        std::ofstream(served + "/call.vox", std::ios::binary) << rough;
        std::ofstream(served + "/tune.wav", std::ios::binary) << std::string(4000, '\x5a');
        sharePoint = root + "/share";
        qputenv("TARNEL_INSTANCE_TAG", QByteArray("-deadviewer-") + QByteArray::number(getpid()));
        block = std::make_unique<InstanceBlock>();
        std::string error;
        ASSERT_TRUE(block->Open(&error)) << error;

        qputenv("TARNEL_SLEEPY_FILES", QByteArray::fromStdString(served));
        share = std::make_unique<SleepyMount>(sharePoint, kSleepSeconds);
        qunsetenv("TARNEL_SLEEPY_FILES");
        ASSERT_TRUE(share->Mounted()) << share->Problem();

        // The left pane lists the mount; the viewer's part is measured from
        // the moment the listing is in.
        StartOptions options;
        options.leftDir = sharePoint;
        options.rightDir = root + "/right";
        window = std::make_unique<MainWindow>(options, block.get());
        window->resize(1000, 600);
        window->show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !Pane()->Data().Reading() && Row("readme.txt") >= 0; },
                                    kListingTimeoutMs))
            << "the mount's listing never came";
        meter.Start();
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

    int Row(const std::string& name)
    {
        const TDirData& data = Pane()->Data();
        for (int i = 0; i < data.Count; ++i)
            if (data.Item(i).Name == name)
                return i;
        return -1;
    }

    // The cursor to the entry, as the user moves it: the viewer, when on, follows.
    void Cursor(const std::string& name)
    {
        const int row = Row(name);
        ASSERT_GE(row, 0) << name;
        Pane()->List()->setFocus();
        Pane()->SetCurrentRow(row);
        Viewer()->FilesLeftClick(Pane());
    }

    void Show(bool asInfo, bool asText)
    {
        Viewer()->ShowEntryInViewer(Pane(), Pane()->Data().Path, Pane()->CurrentRow(), asInfo, asText);
    }

    bool Answered() { return QTest::qWaitFor([&] { return !Viewer()->Reading(); }, kAnswerTimeoutMs); }

    QString FirstLine()
    {
        TTextView* view = Viewer()->Pages().text->VWText;
        std::vector<std::string> lines;
        int64_t failed = 0;
        view->GetLines(1, 1, false, lines, failed);
        return lines.empty() ? QString() : DisplayText(lines[0]);
    }

    void ExpectNoWaitOnTheMount()
    {
        meter.Stop();
        EXPECT_LT(meter.LongestWaitMs(), kLongestWaitMs)
            << "longest gap " << meter.LongestGapMs() << " ms\n" << meter.LongGaps();
    }
};

// The viewer follows the cursor over a picture, a file that is a RAR archive
// by its first bytes, and a text; each page shows for its name at once and
// fills in once the mount answers.
TEST_F(DeadMountViewerTest, PagesFollowTheCursorAndFillInWhenTheMountAnswers)
{
    Cursor("photo.bmp");
    Show(false, false);
    ASSERT_TRUE(Viewer()->IsOn());
    EXPECT_EQ(Viewer()->CurrentPage(), ViewerPageKind::Image);
    EXPECT_TRUE(Viewer()->Reading());
    EXPECT_EQ(Viewer()->ReadingLabel()->text(), "Reading...");
    EXPECT_TRUE(Viewer()->Pages().image->Image()->Picture().isNull());
    ASSERT_TRUE(Answered());
    EXPECT_EQ(Viewer()->CurrentPage(), ViewerPageKind::Image);
    EXPECT_EQ(Viewer()->Pages().image->Image()->FileWidth(), 5);
    EXPECT_EQ(Viewer()->Pages().image->Image()->FileHeight(), 3);

    // Its name asks for text; its signature, read on the worker, for the archive page.
    Cursor("notes.dat");
    EXPECT_EQ(Viewer()->CurrentPage(), ViewerPageKind::Text);
    EXPECT_TRUE(Viewer()->Reading());
    ASSERT_TRUE(Answered());
    EXPECT_EQ(Viewer()->CurrentPage(), ViewerPageKind::Packed);
    EXPECT_GT(Viewer()->Pages().packed->List()->count(), 0);
    // Testing it walks the archive on the window's runner, not on its thread.
    auto recorded = std::make_unique<test::RecordedMessages>();
    test::RecordedMessages* messages = recorded.get();
    window->SetMessages(std::move(recorded));
    Viewer()->Pages().packed->VWPackTestClick();
    EXPECT_EQ(window->OperationsRunning(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->OperationsRunning() == 0; }, kAnswerTimeoutMs));
    EXPECT_EQ(messages->log, QStringList{"warning: Bad archive while testing archive"});

    Cursor("readme.txt");
    EXPECT_EQ(Viewer()->CurrentPage(), ViewerPageKind::Text);
    EXPECT_FALSE(Viewer()->Pages().text->VWText->Active());
    ASSERT_TRUE(Answered());
    EXPECT_TRUE(Viewer()->Pages().text->VWText->Active());
    EXPECT_EQ(FirstLine(), "hello from the mount");
    ExpectNoWaitOnTheMount();
}

// "View as text" on a picture, "View infos" on a file, and a cursor that
// moves on before the mount answers: the page is always the entry's under
// the cursor.
TEST_F(DeadMountViewerTest, ViewAsTextInfosAndAMoveBeforeTheAnswer)
{
    Cursor("photo.bmp");
    Show(false, true); // F3 / view as text
    EXPECT_EQ(Viewer()->CurrentPage(), ViewerPageKind::Text);
    EXPECT_TRUE(Viewer()->Reading());
    ASSERT_TRUE(Answered());
    EXPECT_EQ(Viewer()->CurrentPage(), ViewerPageKind::Text);
    EXPECT_TRUE(FirstLine().startsWith("BM")) << FirstLine().toStdString();

    Show(true, false); // view infos: from the listing, nothing to read
    EXPECT_EQ(Viewer()->CurrentPage(), ViewerPageKind::Info);
    EXPECT_FALSE(Viewer()->Reading());

    // Off the picture before its answer, onto the text: the picture's
    // answer, when it comes, is dropped.
    Show(false, false);
    EXPECT_EQ(Viewer()->CurrentPage(), ViewerPageKind::Image);
    Cursor("readme.txt");
    ASSERT_TRUE(Answered());
    ASSERT_TRUE(QTest::qWaitFor([&] { return Viewer()->ReadsWaiting() == 0; }, kAnswerTimeoutMs));
    QApplication::processEvents();
    EXPECT_EQ(Viewer()->CurrentPage(), ViewerPageKind::Text);
    EXPECT_EQ(FirstLine(), "hello from the mount");
    EXPECT_TRUE(Viewer()->Pages().image->Image()->Picture().isNull());
    ExpectNoWaitOnTheMount();
}

// A VOX file is read whole on the worker and plays from memory; a media
// file is handed to the player once a worker found it a regular file that
// answers.
TEST_F(DeadMountViewerTest, SoundPagesGetTheirFilesFromWorkers)
{
    Cursor("call.vox");
    Show(false, false);
    EXPECT_EQ(Viewer()->CurrentPage(), ViewerPageKind::Vox);
    EXPECT_FALSE(Viewer()->Pages().vox->PlayButton()->isEnabled());
    ASSERT_TRUE(Answered());
    EXPECT_TRUE(Viewer()->Pages().vox->PlayButton()->isEnabled());
    EXPECT_EQ(Viewer()->Pages().vox->Player().PlayedAs(), VoxType::Adpcm);
    EXPECT_TRUE(Viewer()->Pages().vox->State()->text().startsWith("AD PCM, 8000 Hz"))
        << Viewer()->Pages().vox->State()->text().toStdString();

    Cursor("tune.wav");
    EXPECT_EQ(Viewer()->CurrentPage(), ViewerPageKind::Music);
    EXPECT_FALSE(Viewer()->Pages().music->IsOpen());
    ASSERT_TRUE(Answered());
    EXPECT_TRUE(Viewer()->Pages().music->IsOpen());
    ExpectNoWaitOnTheMount();
}

} // namespace
