// The quick viewer in the real window: switching on and off, following the
// cursor, full screen and its hot keys, the information page, bad entries,
// archive members and the list hints.
#include "app/MainWindow.h"
#include "app/PaneReads.h"
#include "app/RecordedMessages.h"
#include "app/components/TestEnvironment.h"
#include "panes/Navigation.h"
#include "panes/TempTree.h"
#include "viewer/EntryHints.h"
#include "viewer/ImagePage.h"
#include "viewer/InfoPage.h"
#include "viewer/MediaPage.h"
#include "viewer/SearchWindow.h"
#include "viewer/TextPage.h"
#include "viewer/TextView.h"
#include "viewer/ViewerHost.h"
#include "widgets/PaneView.h"
#include "app/TryWait.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QComboBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QMediaPlayer>
#include <QUrl>
#include <QToolBar>
#include <QToolButton>
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

class ViewerTest : public ::testing::Test {
protected:
    std::string root;
    EnvGuard env;
    std::unique_ptr<MainWindow> window;
    test::RecordedMessages* messages = nullptr;

    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-viewer-XXXXXX";
        root = mkdtemp(tmpl);
        fs::create_directories(root + "/run");
        chmod((root + "/run").c_str(), 0700);
        env.Set("XDG_RUNTIME_DIR", root + "/run");
        fs::create_directories(root + "/left/sub/deeper");
        fs::create_directories(root + "/right");
        Write("left/a.txt", "hello\nworld");
        Write("left/b.jpg", "Rar!\x1a\x07"); // the signature wins over the extension
        Write("left/c.bin", "binary");
        Write("left/sub/one", "1");
        Write("left/sub/two", "2");
        Write("left/DESCRIPT.ION", "a.txt my text\n");
        Write("right/r.txt", "right side");
    }
    void TearDown() override
    {
        window.reset();
        fs::remove_all(root);
    }
    void Write(const std::string& name, const std::string& bytes)
    {
        std::ofstream(root + "/" + name, std::ios::binary) << bytes;
    }
    void Open()
    {
        StartOptions options;
        options.independent = true;
        options.leftDir = root + "/left";
        options.rightDir = root + "/right";
        window = std::make_unique<MainWindow>(options, nullptr);
        auto recorded = std::make_unique<test::RecordedMessages>();
        messages = recorded.get();
        window->SetMessages(std::move(recorded));
        window->resize(1000, 600);
        window->show();
        QApplication::processEvents();
        test::WaitForReads(*window);
    }
    PaneView* Left() { return window->LeftPane(); }
    PaneView* Right() { return window->RightPane(); }
    ViewerHost* Viewer() { return window->Viewer(); }
    QToolButton* ViewerButton() { return window->findChild<QToolButton*>("SBViewer"); }
    int Row(PaneView* pane, const std::string& name)
    {
        EXPECT_TRUE(test::PaneRead(pane->Data())) << "the pane's read did not finish";
        const TDirData& data = pane->Data();
        for (int i = 0; i < data.Count; ++i)
            if (data.Item(i).Name == name)
                return i;
        return -1;
    }
    void Cursor(PaneView* pane, const std::string& name)
    {
        EXPECT_TRUE(test::PaneRead(pane->Data())) << "the pane's read did not finish";
        pane->List()->setFocus();
        pane->SetCurrentRow(Row(pane, name));
    }
    // The page's file is read on a worker: waits for it to be shown.
    void Settle()
    {
        EXPECT_TRUE(QTest::qWaitFor([&] { return !Viewer()->Reading(); }, 10000)) << "the page's read never answered";
    }
    // Every line of the text page, joined by line feeds; empty while it is inactive.
    QString ShownText()
    {
        Settle();
        TTextView* view = Viewer()->Pages().text->VWText;
        view->FinishIndex();
        std::vector<std::string> lines;
        int64_t failed = 0;
        view->GetLines(1, view->LineCount(), false, lines, failed);
        QStringList shown;
        for (const std::string& line : lines)
            shown << DisplayText(line);
        return shown.join('\n');
    }
    bool InsideOf(QWidget* w, QWidget* container)
    {
        for (; w; w = w->parentWidget())
            if (w == container)
                return true;
        return false;
    }
};

} // namespace

TEST_F(ViewerTest, ViewerButtonShowsTheEntryAndTheViewerFollowsTheKeyboard)
{
    Open();
    Cursor(Left(), "a.txt");
    QTest::mouseClick(ViewerButton(), Qt::LeftButton);
    ASSERT_TRUE(Viewer()->IsOn());
    EXPECT_TRUE(ViewerButton()->isChecked());
    EXPECT_TRUE(InsideOf(Viewer()->Views(), Right()->ViewerPanel()));
    EXPECT_TRUE(Viewer()->Views()->isVisible());
    for (QWidget* hidden : {static_cast<QWidget*>(Right()->List()), Right()->FilterPanel(), Right()->TopPanel(),
                            window->findChild<QWidget*>("PanCenter")})
        EXPECT_FALSE(hidden->isVisible()) << hidden->objectName().toStdString();
    EXPECT_EQ(window->windowTitle(),
              "Tarnel - Viewer mode activated. Press Esc or F7 to exit or F6 to toggle full screen mode");
    EXPECT_EQ(Viewer()->CurrentPage(), ViewerPageKind::Text);
    EXPECT_EQ(ShownText(), "hello\nworld");
    EXPECT_TRUE(window->Action("Viewer1")->isVisible());

    QTest::keyClick(Left()->List(), Qt::Key_Down); // b.jpg, which starts "Rar!"
    Settle();
    EXPECT_EQ(Viewer()->CurrentPage(), ViewerPageKind::Packed);
    EXPECT_EQ(ShownText(), ""); // the previous page was cleared
    QTest::keyClick(Left()->List(), Qt::Key_Down); // c.bin: not in the table, shown as text
    EXPECT_EQ(Viewer()->CurrentPage(), ViewerPageKind::Text);
    EXPECT_EQ(ShownText(), "binary");
    QTest::mouseClick(Left()->List()->viewport(), Qt::LeftButton, Qt::NoModifier,
                      Left()->List()->visualRect(Left()->List()->model()->index(Row(Left(), "sub"), 0)).center());
    EXPECT_EQ(Viewer()->CurrentPage(), ViewerPageKind::Info);

    QTest::mouseClick(ViewerButton(), Qt::LeftButton);
    EXPECT_FALSE(Viewer()->IsOn());
    EXPECT_FALSE(ViewerButton()->isChecked());
    EXPECT_FALSE(window->Action("Viewer1")->isVisible());
    EXPECT_TRUE(Right()->List()->isVisible());
    EXPECT_TRUE(Right()->FilterPanel()->isVisible());
    EXPECT_TRUE(window->findChild<QWidget*>("PanCenter")->isVisible());
    EXPECT_EQ(window->windowTitle(), "Tarnel - Esc or Shift-F5 to hide");
}

TEST_F(ViewerTest, RightPaneEntriesAreShownInTheLeftArea)
{
    Open();
    QTest::mouseClick(Right()->List()->viewport(), Qt::LeftButton, Qt::NoModifier,
                      Right()->List()->visualRect(Right()->List()->model()->index(Row(Right(), "r.txt"), 0)).center());
    EXPECT_TRUE(window->RightIsActive());
    EXPECT_FALSE(Viewer()->IsOn()); // following starts with the viewer button
    window->CommandButton("BTNViewAsText")->click();
    ASSERT_TRUE(Viewer()->IsOn());
    EXPECT_TRUE(InsideOf(Viewer()->Views(), Left()->ViewerPanel()));
    EXPECT_FALSE(Left()->List()->isVisible());
    EXPECT_TRUE(Right()->List()->isVisible());
    EXPECT_EQ(ShownText(), "right side");
    window->SysHotKeyHotKey(3); // Esc leaves the viewer
    EXPECT_FALSE(Viewer()->IsOn());
    EXPECT_TRUE(Left()->List()->isVisible());
}

TEST_F(ViewerTest, FullScreenHotKeysAndLeavingFromFullScreen)
{
    Open();
    Cursor(Left(), "a.txt");
    window->SysHotKeyHotKey(1); // F6 does nothing while the viewer is off
    EXPECT_TRUE(window->menuBar()->isVisible());
    window->SysHotKeyHotKey(2); // F7: viewer on
    ASSERT_TRUE(Viewer()->IsOn());
    EXPECT_TRUE(ViewerButton()->isChecked());
    window->SysHotKeyHotKey(1);
    EXPECT_TRUE(Viewer()->IsFullScreen());
    EXPECT_FALSE(window->menuBar()->isVisible());
    EXPECT_FALSE(window->statusBar()->isVisible());
    EXPECT_FALSE(Left()->isVisible());
    for (QToolBar* bar : window->findChildren<QToolBar*>())
        EXPECT_FALSE(bar->isVisible());
    EXPECT_TRUE(Viewer()->Views()->isVisible());
    window->findChild<QToolButton*>("SpeedButton2")->click(); // back from full screen
    EXPECT_TRUE(window->menuBar()->isVisible());
    window->SysHotKeyHotKey(1);
    window->SysHotKeyHotKey(3); // leaving from full screen restores everything
    EXPECT_FALSE(Viewer()->IsOn());
    EXPECT_FALSE(Viewer()->IsFullScreen());
    EXPECT_TRUE(window->menuBar()->isVisible());
    EXPECT_TRUE(window->statusBar()->isVisible());
    EXPECT_TRUE(Left()->isVisible());
    for (QToolBar* bar : window->findChildren<QToolBar*>())
        EXPECT_TRUE(bar->isVisible());
    window->SysHotKeyHotKey(3); // no viewer: Esc hides the program
    EXPECT_TRUE(window->isMinimized() || !window->isVisible());
}

TEST_F(ViewerTest, TextPageTakesTheViewerMenuAndTheFullScreenKeys)
{
    std::string lines;
    for (int i = 0; i < 200; ++i)
        lines += "row " + std::to_string(i) + "\n";
    Write("left/long.txt", lines);
    Open();
    Cursor(Left(), "long.txt");
    QTest::mouseClick(ViewerButton(), Qt::LeftButton);
    TextPage* page = Viewer()->Pages().text;
    TTextView* view = page->VWText;
    Settle();
    ASSERT_TRUE(view->Active());
    view->FinishIndex();
    EXPECT_EQ(view->LineCount(), 200);
    EXPECT_EQ(page->Position->text(), "Line 0/200:0/7");

    // The window's "&Viewer" menu works on the page.
    view->SetSelection({4, 1}, {3, 2});
    window->Action("Copytoclipboard1")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), "1\r\nrow");
    window->Action("Search1")->trigger();
    ASSERT_NE(view->SearchWindow(), nullptr);
    view->SearchWindow()->close();
    QTest::qWaitFor([&] { return view->SearchWindow() == nullptr; }, 2000);
    EXPECT_EQ(view->SearchWindow(), nullptr);

    // Full screen: plain keys scroll the text wherever the focus is; the
    // list under it stays put, and the hot keys still come first.
    window->SysHotKeyHotKey(1);
    ASSERT_TRUE(Viewer()->IsFullScreen());
    Left()->List()->setFocus();
    const int row = Left()->CurrentRow();
    QTest::keyClick(Left()->List(), Qt::Key_Down);
    QTest::keyClick(Left()->List(), Qt::Key_Down);
    EXPECT_EQ(view->lineaora(), 2);
    EXPECT_EQ(Left()->CurrentRow(), row);
    EXPECT_EQ(page->Position->text(), "Line 2/200:0/7");
    QApplication::clipboard()->clear();
    QTest::keyClick(Left()->List(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "1\r\nrow");
    QTest::keyClick(Left()->List(), Qt::Key_Escape);
    EXPECT_FALSE(Viewer()->IsOn());
    EXPECT_FALSE(view->Active());
    // Outside full screen the list has its keys again.
    QTest::keyClick(Left()->List(), Qt::Key_Down);
    EXPECT_NE(Left()->CurrentRow(), row);
}

TEST_F(ViewerTest, TextPageMessagesReachTheWindowsSink)
{
    Open();
    Cursor(Left(), "a.txt");
    window->CommandButton("BTNViewAsText")->click();
    Settle();
    TextPage* page = Viewer()->Pages().text;
    page->CBTextViewMode->setCurrentIndex(2);
    EXPECT_EQ(page->VWText->ViewMode(), VM_HEX);
    QTest::mouseClick(page->VWTextEdit, Qt::LeftButton);
    EXPECT_EQ(messages->log, QStringList{"information: Edit mode is yet supported in HEX mode"});
    // The mode stays with the next file.
    Cursor(Left(), "c.bin");
    window->CommandButton("BTNViewAsText")->click();
    Settle();
    EXPECT_EQ(page->VWText->ViewMode(), VM_HEX);
    EXPECT_EQ(page->VWText->LineCount(), 1);
}

TEST_F(ViewerTest, ViewInfosShowsCountsSpaceOrTheDescription)
{
    Open();
    const TDirData& data = Left()->Data();
    const TFileData& sub = data.Item(Row(Left(), "sub"));
    QElapsedTimer wait;
    wait.start();
    while (!sub.SizeDone && wait.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    InfoPage* info = Viewer()->Pages().info;
    Cursor(Left(), "sub");
    window->CommandButton("BTNViewInfos")->click();
    EXPECT_EQ(Viewer()->CurrentPage(), ViewerPageKind::Info);
    EXPECT_EQ(info->Info1()->text(), "Subdirectories : 1");
    EXPECT_EQ(info->Info2()->text(), "Files : 2");
    Cursor(Left(), "a.txt");
    window->CommandButton("BTNViewInfos")->click();
    EXPECT_EQ(info->Description()->text(), "my text");
    EXPECT_EQ(info->Info1()->text(), ""); // nothing left over from the directory
    Left()->List()->setFocus();
    Left()->SetCurrentRow(data.Count - 1); // a drive row
    window->CommandButton("BTNViewInfos")->click();
    EXPECT_TRUE(info->Info1()->text().startsWith("Disk size : ")) << info->Info1()->text().toStdString();
    EXPECT_TRUE(info->Info2()->text().startsWith("Free space : "));
}

TEST_F(ViewerTest, BadEntriesGiveACleanPageAndNeverBlock)
{
    ASSERT_EQ(mkfifo((root + "/left/pipe.txt").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", root + "/left/zero.wav");
    Write("left/empty.txt", "");
    Write("left/gone.txt", "soon gone");
    Write("left/\xff\xfe odd.txt", "odd name");
    Open();
    fs::remove(root + "/left/gone.txt");
    const struct {
        const char* name;
        ViewerPageKind page;
        QString text;
    } cases[] = {
        {"pipe.txt", ViewerPageKind::Text, ""},
        {"zero.wav", ViewerPageKind::Music, ""},
        {"empty.txt", ViewerPageKind::Text, ""},
        {"gone.txt", ViewerPageKind::Text, ""},
        {"\xff\xfe odd.txt", ViewerPageKind::Text, "odd name"},
    };
    for (const auto& c : cases) {
        Cursor(Left(), c.name);
        ASSERT_GE(Left()->CurrentRow(), 0) << c.name;
        window->LaunchEntry(Left(), false, false, false);
        Settle();
        EXPECT_EQ(Viewer()->CurrentPage(), c.page) << c.name;
        if (c.page == ViewerPageKind::Text) {
            EXPECT_EQ(ShownText(), c.text) << c.name;
            // What cannot be read as a regular file leaves the view inactive.
            EXPECT_EQ(Viewer()->Pages().text->VWText->Active(), !c.text.isEmpty() || c.name == std::string("empty.txt"))
                << c.name;
        }
    }
    EXPECT_FALSE(Viewer()->Pages().music->IsOpen()); // a device is never handed to the player
}

TEST_F(ViewerTest, FollowingTheCursorOverAThousandEntries)
{
    fs::create_directories(root + "/many");
    for (int i = 0; i < 1000; ++i)
        Write("many/f" + std::to_string(1000 + i) + (i % 3 ? ".txt" : ".dat"), std::to_string(i));
    Open();
    GoToDirectory(Left()->Data(), root + "/many", {});
    Cursor(Left(), "f1000.dat");
    QTest::mouseClick(ViewerButton(), Qt::LeftButton);
    for (int i = 0; i < 999; ++i)
        QTest::keyClick(Left()->List(), Qt::Key_Down);
    EXPECT_EQ(Left()->Data().Item(Left()->CurrentRow()).Name, "f1999.dat");
    EXPECT_EQ(ShownText(), "999");
}

TEST_F(ViewerTest, ArchiveMembersShowInformationUntilCopiedAndTheCopyGoesWithTheNextEntry)
{
    Open();
    TDirData& data = Left()->Data();
    data.ZipMode = 1; // as if the pane listed the inside of an archive
    data.Path = root + "/left/pack.zip/";
    Cursor(Left(), "a.txt");
    Viewer()->SetZipExtractor({});
    window->LaunchEntry(Left(), false, false, false);
    Settle(); // the copy is made on a worker
    EXPECT_EQ(Viewer()->CurrentPage(), ViewerPageKind::Info); // no copy without an extractor
    std::vector<std::string> asked;
    Viewer()->SetZipExtractor([&](const std::string& archive, const std::string& member, const std::string& dir) {
        asked = {archive, member, dir};
        std::ofstream(dir + member) << "copied " << member;
        return true;
    });
    window->LaunchEntry(Left(), false, false, false);
    Settle();
    EXPECT_EQ(asked, (std::vector<std::string>{root + "/left/pack.zip", "a.txt", root + "/run/tarnel/orvtmp/vw/"}));
    EXPECT_EQ(Viewer()->ViewerTempFile(), root + "/run/tarnel/orvtmp/vw/a.txt");
    EXPECT_EQ(ShownText(), "copied a.txt");
    QTest::keyClick(Left()->List(), Qt::Key_Down);
    EXPECT_FALSE(fs::exists(root + "/run/tarnel/orvtmp/vw/a.txt"));
    Settle();
    EXPECT_EQ(Viewer()->ViewerTempFile(), root + "/run/tarnel/orvtmp/vw/b.jpg");
    Settle();
    QTest::mouseClick(ViewerButton(), Qt::LeftButton);
    EXPECT_FALSE(fs::exists(root + "/run/tarnel/orvtmp/vw/b.jpg"));
    // The copy of b.jpg holds text: the image page reports what libjpeg said.
    EXPECT_EQ(messages->log, QStringList({"error: Not a JPEG file: starts with 0x63 0x6f"}));
}

namespace {

// Holds the viewer's reads of one file on their worker until opened.
struct ReadLatch {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    void Open()
    {
        {
            const std::lock_guard lock(mutex);
            open = true;
        }
        opened.notify_all();
    }
    void Wait()
    {
        std::unique_lock lock(mutex);
        opened.wait(lock, [this] { return open; });
    }
};

} // namespace

// The page's file is read on a worker; an answer that comes after the cursor
// has moved on is dropped, and the page stays with the entry under the cursor.
TEST_F(ViewerTest, AReadThatAnswersAfterTheCursorMovedOnIsDropped)
{
    Open();
    auto latch = std::make_shared<ReadLatch>();
    struct OpenAtEnd {
        std::shared_ptr<ReadLatch> latch;
        ~OpenAtEnd() { latch->Open(); }
    } openAtEnd{latch};
    Viewer()->SetBeforeRead([latch](const std::string& file) {
        if (file.size() >= 6 && file.compare(file.size() - 6, 6, "/b.jpg") == 0)
            latch->Wait();
    });
    Cursor(Left(), "a.txt");
    QTest::mouseClick(ViewerButton(), Qt::LeftButton);
    EXPECT_EQ(ShownText(), "hello\nworld");

    // b.jpg starts "Rar!": its answer would move the page to the archive page.
    QTest::keyClick(Left()->List(), Qt::Key_Down);
    EXPECT_EQ(Viewer()->CurrentPage(), ViewerPageKind::Image); // its name's page, empty meanwhile
    EXPECT_TRUE(Viewer()->Reading());
    EXPECT_TRUE(Viewer()->ReadingLabel()->isVisible());
    EXPECT_EQ(Viewer()->ReadingLabel()->text(), "Reading...");
    EXPECT_TRUE(Viewer()->Pages().image->Image()->Picture().isNull());

    QTest::keyClick(Left()->List(), Qt::Key_Down); // c.bin answers at once
    EXPECT_EQ(ShownText(), "binary");
    latch->Open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Viewer()->ReadsWaiting() == 0; }, 10000));
    QApplication::processEvents(); // b.jpg's answer is delivered, and dropped
    EXPECT_EQ(Viewer()->CurrentPage(), ViewerPageKind::Text);
    EXPECT_FALSE(Viewer()->Reading());
    EXPECT_EQ(ShownText(), "binary");

    // Back on b.jpg its read counts again; a read held past the viewer's
    // end is dropped the same way.
    QTest::keyClick(Left()->List(), Qt::Key_Up);
    Settle();
    EXPECT_EQ(Viewer()->CurrentPage(), ViewerPageKind::Packed);
    auto held = std::make_shared<ReadLatch>();
    Viewer()->SetBeforeRead([held](const std::string&) { held->Wait(); });
    QTest::keyClick(Left()->List(), Qt::Key_Up); // a.txt, held
    EXPECT_TRUE(Viewer()->Reading());
    QTest::mouseClick(ViewerButton(), Qt::LeftButton); // off
    EXPECT_FALSE(Viewer()->Reading());
    held->Open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Viewer()->ReadsWaiting() == 0; }, 10000));
    QApplication::processEvents();
    EXPECT_FALSE(Viewer()->IsOn());
    EXPECT_FALSE(Viewer()->Pages().text->VWText->Active());
}

TEST_F(ViewerTest, ListHintsAreBuiltOnDemandAndKeptWithinTheRow)
{
    Open();
    EntryHints* hints = window->Hints();
    QWidget* viewport = Left()->List()->viewport();
    const QRect row = Left()->List()->visualRect(Left()->List()->model()->index(Row(Left(), "a.txt"), 0));
    const QString text = hints->ListHint(Left(), row.center());
    EXPECT_TRUE(text.startsWith("a.txt\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("\nSize : 11 bytes\nSupported\nmy text")) << text.toStdString();
    EXPECT_EQ(hints->ListHint(Left(), QPoint(5, viewport->height() - 2)), ""); // below the last row

    QHelpEvent help(QEvent::ToolTip, row.center(), viewport->mapToGlobal(row.center()));
    QApplication::sendEvent(viewport, &help);
    ASSERT_NE(hints->ShownHint(), nullptr);
    EXPECT_EQ(hints->ShownHint()->text(), text);
    EXPECT_GE(hints->ShownHint()->width(), 1);
    EXPECT_LE(hints->ShownHint()->width(), std::max(180, Left()->List()->width() / 4 * 3));
    QTest::mouseMove(viewport, row.center() + QPoint(30, 0));
    EXPECT_NE(hints->ShownHint(), nullptr); // still in the row
    QTest::mouseMove(viewport, row.center() + QPoint(0, row.height()));
    EXPECT_EQ(hints->ShownHint(), nullptr);
}

// Nothing is played headless; the page must take the file and hand it to the
// player, and survive whatever the back end says about bytes that are no media.
TEST(MediaPage, TheDesktopsSoundAndVideoFilesAreTakenAndHandedToThePlayer)
{
    test::TempTree dir;
    MediaPage page;
    for (const char* name : {"a.mp3", "a.ogg", "a.flac", "a.opus", "a.mp4", "a.mkv", "a.webm"}) {
        const std::string path = dir.Path() + name;
        std::ofstream(path, std::ios::binary) << std::string(2000, '\x5a');
        page.ShowFile(path);
        EXPECT_TRUE(page.IsOpen()) << name;
        ASSERT_NE(page.Player(), nullptr);
        // Read before, played from memory: the player never opens the file itself.
        EXPECT_NE(page.Player()->sourceDevice(), nullptr) << name;
        EXPECT_TRUE(page.Player()->source().isEmpty()) << name;
        QTest::qWait(20);
    }
    page.ClearPage();
    EXPECT_FALSE(page.IsOpen());
    EXPECT_EQ(page.Player()->sourceDevice(), nullptr);
}

TEST(MediaPage, PausingWithoutAFileReportsAndSpecialFilesAreNeverPlayed)
{
    MediaPage page;
    QStringList errors;
    page.SetErrorSink([&](const QString& text) { errors << text; });
    page.SBPauseClick();
    EXPECT_EQ(errors, QStringList{"No MCI device open"});
    page.ShowFile("/dev/zero");
    EXPECT_FALSE(page.IsOpen());
    EXPECT_EQ(page.Player(), nullptr); // no media back end started for it
    page.VWTimerTimer();
    EXPECT_EQ(page.Slider()->value(), 0);
}

namespace {

// The MP3 tag of a list hint is read on a worker: the hint shows without it
// at once and takes it when it comes, still over the same row.
TEST_F(ViewerTest, ListHintsTakeTheMp3TagFromAWorker)
{
    std::string tag(128, '\0');
    tag.replace(0, 3, "TAG");
    tag.replace(3, 4, "Song");
    Write("left/song.mp3", std::string(300, 'x') + tag);
    tag.replace(3, 4, "Tune");
    Write("left/tune.mp3", std::string(300, 'y') + tag);
    Open();
    EntryHints* hints = window->Hints();
    const auto rowOf = [&](const char* name) {
        return Left()->List()->visualRect(Left()->List()->model()->index(Row(Left(), name), 0));
    };
    EXPECT_FALSE(hints->ListHint(Left(), rowOf("song.mp3").center()).contains("Title"));
    TRY_VERIFY(hints->ListHint(Left(), rowOf("song.mp3").center()).contains("\nTitle : Song"));

    QWidget* viewport = Left()->List()->viewport();
    const QPoint at = rowOf("tune.mp3").center();
    QHelpEvent help(QEvent::ToolTip, at, viewport->mapToGlobal(at));
    QApplication::sendEvent(viewport, &help);
    ASSERT_NE(hints->ShownHint(), nullptr);
    EXPECT_FALSE(hints->ShownHint()->text().contains("Title"));
    TRY_VERIFY(hints->ShownHint() && hints->ShownHint()->text().contains("\nTitle : Tune"));
}

} // namespace
