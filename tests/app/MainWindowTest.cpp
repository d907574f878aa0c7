// The main window with real widgets, driven by Qt Test's mouse and key events.
#include "app/CloseQueryDialog.h"
#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "app/PaneReads.h"
#include "app/PrivateMessages.h"
#include "app/components/InstanceBlock.h"
#include "panes/Selection.h"
#include "panes/Sorting.h"
#include "widgets/PaneView.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

struct RecordedMessages : UserMessages {
    QStringList* log;
    explicit RecordedMessages(QStringList* l) : log(l) {}
    void Error(const QString& t) override { log->append("error: " + t); }
    void Warning(const QString& t) override { log->append("warning: " + t); }
    void Information(const QString& t) override { log->append("information: " + t); }
    bool Confirm(const QString& t) override
    {
        log->append("confirm: " + t);
        return true;
    }
};

class MainWindowTest : public ::testing::Test {
protected:
    std::string root;
    std::unique_ptr<InstanceBlock> block;
    std::unique_ptr<MainWindow> window;
    QStringList messages;

    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-window-XXXXXX";
        root = mkdtemp(tmpl);
        fs::create_directories(root + "/left/sub1");
        fs::create_directories(root + "/left/sub2");
        fs::create_directories(root + "/right");
        std::ofstream(root + "/left/a.txt") << std::string(1025, 'a');
        std::ofstream(root + "/left/b.bin") << "bb";
        std::ofstream(root + "/right/Readme.TXT") << "r";
        qputenv("TARNEL_INSTANCE_TAG", QByteArray("-wtest-") + QByteArray::number(getpid()));
        block = std::make_unique<InstanceBlock>();
        std::string error;
        ASSERT_TRUE(block->Open(&error)) << error;
        StartOptions options;
        options.independent = true;
        options.leftDir = root + "/left";
        options.rightDir = root + "/right";
        window = std::make_unique<MainWindow>(options, block.get());
        window->SetMessages(std::make_unique<RecordedMessages>(&messages));
        window->resize(1000, 600);
        window->show();
        QApplication::processEvents();
        test::WaitForReads(*window);
    }
    void TearDown() override
    {
        window.reset();
        block.reset();
        fs::remove_all(root);
    }

    PaneView* Left() { return window->LeftPane(); }
    PaneView* Right() { return window->RightPane(); }
    QPoint RowCentre(PaneView* pane, int row)
    {
        EXPECT_TRUE(test::PaneRead(pane->Data())) << "the pane's read did not finish";
        return pane->List()->visualRect(pane->List()->model()->index(row, 0)).center();
    }
    void ClickRow(PaneView* pane, int row, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTest::mouseClick(pane->List()->viewport(), Qt::LeftButton, mods, RowCentre(pane, row));
    }
    void ShellCall(const std::string& path)
    {
        block->WriteShellCall(path);
        PostPrivateMessage(window.get(), UM_SHELLCALL);
        QApplication::processEvents();
        // Whether the path exists is asked off the window's thread.
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->PlaceChecksWaiting() == 0; }));
        QApplication::processEvents();
        test::WaitForReads(*window);
    }
};

} // namespace

TEST_F(MainWindowTest, ActivePaneColoursAndDirectionCaption)
{
    const QColor highlight = QApplication::palette().color(QPalette::Highlight);
    EXPECT_FALSE(window->RightIsActive());
    EXPECT_EQ(window->DirectionButton()->text(), ">>>>");
    EXPECT_EQ(Left()->palette().color(QPalette::Window), highlight);

    ClickRow(Right(), 0);
    EXPECT_TRUE(window->RightIsActive());
    EXPECT_EQ(window->DirectionButton()->text(), "<<<<");
    EXPECT_EQ(Right()->palette().color(QPalette::Window), highlight);
    EXPECT_EQ(Left()->palette().color(QPalette::Window), QApplication::palette().color(QPalette::Button));

    QTest::mouseClick(window->DirectionButton(), Qt::LeftButton);
    EXPECT_FALSE(window->RightIsActive());
    QTest::mouseClick(Right()->PathLabel(), Qt::LeftButton);
    EXPECT_TRUE(window->RightIsActive());
}

TEST_F(MainWindowTest, HeaderClicksFlipTheDirectionAndMoveTheMarker)
{
    PaneHeader* header = Left()->Header();
    const QPoint sizeSection(header->sectionViewportPosition(1) + 10, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, sizeSection);
    EXPECT_EQ(Left()->SortKey(), skSize);
    EXPECT_EQ(Left()->Data().Ascending, 1);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, sizeSection);
    EXPECT_EQ(Left()->Data().Ascending, 0);
    EXPECT_EQ(Left()->SortBox()->currentText(), "by size");
    // Files sorted by size, descending: a.txt (1025) before b.bin (2).
    const TDirData& data = Left()->Data();
    EXPECT_EQ(data.Item(data.DirCount).Name, "a.txt");
    EXPECT_EQ(Left()->SelectedRows().size(), 0u);
}

TEST_F(MainWindowTest, SelectionSummaryOnMouseRelease)
{
    ClickRow(Left(), 0); // only ".."
    EXPECT_EQ(window->StatusText(), "Selected : 0 dirs and 0 files ( bytes)");
    SelectAllOfKind(Left()->Data(), selBoth);
    ClickRow(Left(), 4, Qt::ControlModifier); // deselect b.bin, release recomputes
    EXPECT_EQ(window->StatusText(), "Selected : 2 dirs and 1 files (1,025 bytes)");
    EXPECT_EQ(Left()->List()->statusTip(), window->StatusText());
}

TEST_F(MainWindowTest, SelectAllMenuItems)
{
    const TDirData& data = Left()->Data(); // "..", sub1, sub2, a.txt, b.bin, drives
    window->Action("Directories1")->trigger();
    EXPECT_EQ(Left()->SelectedRows(), (std::vector<int>{0, 1, 2}));
    window->Action("Files1")->trigger();
    EXPECT_EQ(Left()->SelectedRows(), (std::vector<int>{3, 4}));
    window->Action("Filesanddirectories1")->trigger();
    EXPECT_EQ(Left()->SelectedRows(), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(int(Left()->SelectedRows().size()), data.DirCount + data.FileCount);
}

TEST_F(MainWindowTest, CloseHandlingForEveryQuitType)
{
    struct Case {
        int quitType;
        int answer;
        bool closes;
        int quitTypeAfter;
        bool hides;
    } cases[] = {
        {qtAsk, CloseQueryDialog::Yes, true, qtAsk, false},
        {qtAsk, CloseQueryDialog::No, false, qtAsk, false},
        {qtAsk, CloseQueryDialog::YesAlways, true, qtAlways, false},
        {qtAsk, CloseQueryDialog::NoNever, false, qtNever, false},
        {qtAsk, CloseQueryDialog::NoAlwaysMinimize, false, qtToTray, true},
        {qtAsk, CloseQueryDialog::Minimize, false, qtAsk, true},
        {qtAsk, 0, true, qtAsk, false}, // closed some other way
        {qtNever, -1, false, qtNever, false},
        {qtAlways, -1, true, qtAlways, false},
        {qtToTray, -1, false, qtToTray, true},
    };
    for (const Case& c : cases) {
        window->showNormal();
        QApplication::processEvents();
        window->Settings().QuitType = c.quitType;
        int asked = 0;
        window->SetCloseQuery([&] {
            ++asked;
            return c.answer;
        });
        EXPECT_EQ(window->close(), c.closes) << c.quitType << "/" << c.answer;
        QApplication::processEvents();
        EXPECT_EQ(asked, c.quitType == qtAsk ? 1 : 0);
        EXPECT_EQ(window->Settings().QuitType, c.quitTypeAfter);
        EXPECT_EQ(window->isMinimized() || !window->isVisible(), c.hides || c.closes) << c.quitType << "/" << c.answer;
    }
    window->showNormal();
    window->Settings().QuitType = qtNever;
    window->ShutdownProgram(); // quits whatever the setting
    EXPECT_FALSE(window->isVisible());
}

TEST_F(MainWindowTest, ShellCallsForDirectoriesFilesAndUnknownPaths)
{
    ClickRow(Right(), 0); // the right pane is active
    ShellCall(root + "/left/sub1");
    EXPECT_EQ(Right()->Data().Path, root + "/left/sub1/");
    EXPECT_TRUE(messages.isEmpty());

    ShellCall(root + "/LEFT/nothing-here");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], QString::fromStdString("information: Unknown received: <" + root + "/LEFT/nothing-here>"));

    ShellCall(root + "/right/Readme.TXT"); // a file: its directory, the file current and selected
    EXPECT_EQ(Right()->Data().Path, root + "/right/");
    const int current = Right()->CurrentRow();
    ASSERT_GE(current, 0);
    EXPECT_EQ(Right()->Data().Item(current).Name, "Readme.TXT");
    EXPECT_TRUE(Right()->IsSelected(current));
}

TEST_F(MainWindowTest, ShellCallTakesTheExactNameBeforeACaseVariant)
{
    // Someone else's README.TXT and readme.txt beside ours: each path given
    // is the file it names, whichever of them sorts first.
    std::ofstream(root + "/right/README.TXT") << "other";
    std::ofstream(root + "/right/readme.txt") << "other";
    ClickRow(Right(), 0); // the right pane is active
    for (const std::string name : {"readme.txt", "Readme.TXT", "README.TXT"}) {
        ShellCall(root + "/right/" + name);
        const int current = Right()->CurrentRow();
        ASSERT_GE(current, 0) << name;
        EXPECT_EQ(Right()->Data().Item(current).Name, name);
    }
}

TEST_F(MainWindowTest, ShellCallLengthLimit)
{
    // A directory whose path is exactly 512 bytes is accepted; 513 is refused.
    std::string path = root;
    while (512 - path.size() > 101)
        path += "/" + std::string(100, 'd');
    path += "/" + std::string(512 - path.size() - 1, 'x');
    ASSERT_EQ(path.size(), 512u);
    fs::create_directories(path);
    ShellCall(path);
    EXPECT_EQ(Left()->Data().Path, path + "/");
    EXPECT_TRUE(messages.isEmpty());

    ShellCall(path + "y");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], "error: String length too large from SHELL CALL");
    EXPECT_EQ(Left()->Data().Path, path + "/");
}

TEST_F(MainWindowTest, NavigationByDoubleClickEnterAndParent)
{
    QTest::mouseDClick(Left()->List()->viewport(), Qt::LeftButton, Qt::NoModifier, RowCentre(Left(), 1));
    EXPECT_EQ(Left()->Data().Path, root + "/left/sub1/");
    QTest::mouseClick(Left()->ParentButton(), Qt::LeftButton);
    EXPECT_EQ(Left()->Data().Path, root + "/left/");
    ASSERT_TRUE(test::PaneRead(Left()->Data()));
    Left()->List()->setFocus();
    Left()->SetCurrentRow(2);
    QTest::keyClick(Left()->List(), Qt::Key_Return);
    EXPECT_EQ(Left()->Data().Path, root + "/left/sub2/");
    window->NavBackClick();
    EXPECT_EQ(Left()->Data().Path, root + "/left/");
    ASSERT_TRUE(test::PaneRead(Left()->Data()));
    EXPECT_EQ(Left()->CurrentRow(), 2); // the place remembers its row
    window->Action("Synchronize1")->trigger();
    EXPECT_EQ(Left()->Data().Path, root + "/right/");
    ASSERT_TRUE(test::PaneRead(Left()->Data()));

    Left()->SetCurrentRow(Left()->Data().DirCount); // Readme.TXT: the viewer's own type
    QTest::keyClick(Left()->List(), Qt::Key_Return);
    EXPECT_EQ(Left()->Data().Path, root + "/right/");
    Left()->SetSelected(Left()->CurrentRow(), true);
    window->Action("Copypathtoclipboard1")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QString::fromStdString(root + "/right/Readme.TXT"));
}

TEST_F(MainWindowTest, FilterBoxEnterRereadsWithTheFilter)
{
    QComboBox* filter = Left()->FilterBox();
    filter->setEditText("*.TXT");
    QTest::keyClick(filter->lineEdit(), Qt::Key_Return);
    const TDirData& data = Left()->Data();
    ASSERT_TRUE(test::PaneRead(data));
    EXPECT_EQ(data.FileCount, 1);
    EXPECT_EQ(filter->currentText(), "*.txt"); // the matching drop-down item, lower-cased
    EXPECT_EQ(data.History.size(), 1u);        // filtering records no history
}

TEST_F(MainWindowTest, AutoSizeColumnsUsesTheBestWidths)
{
    window->AutoSizeColumns(Left());
    const auto widths = Left()->SectionWidths();
    // The name gives way so that size, time and some description stay in view.
    const auto& best = Left()->Data().BestWidths;
    const int room = Left()->List()->viewport()->width() - best[1] - best[2] - 40;
    EXPECT_EQ(widths[0], std::max(30, std::min(best[0], room)));
    EXPECT_EQ(widths[1], Left()->Data().BestWidths[1]);
    EXPECT_EQ(widths[2], Left()->Data().BestWidths[2]);
    EXPECT_EQ(widths[3], 5000);
}

TEST_F(MainWindowTest, CommandButtonsArePresentAndEnabled)
{
    for (const char* name : {"BTNToZip", "BTNViewAsText", "BTNOpen", "BTNViewInfos"})
        EXPECT_TRUE(window->CommandButton(name)->isEnabled()) << name;
    EXPECT_TRUE(window->CommandButton("BTNRefresh")->isEnabled());
    EXPECT_EQ(window->CommandButton("BTNGoToOther")->statusTip(),
              "Go to the same directory that is shown in the other pane");
    EXPECT_NE(window->DriveButton(25), nullptr);
}

TEST(CommandLine, MinArgumentSpellings)
{
    for (const char* yes : {"-MIN", "-min", "/MIN", "/min"})
        EXPECT_TRUE(StartHiddenRequested({yes})) << yes;
    for (const char* no : {"MIN", "--MIN", "/tmp", "-minimal"})
        EXPECT_FALSE(StartHiddenRequested({no})) << no;
}

TEST(CommandLine, GivenFoldersAreTheFirstTwoNonOptionsMadeAbsolute)
{
    using Places = std::vector<std::string>;
    EXPECT_EQ(GivenPlaces({"-min", "./a//b/", "/x/./y", "third"}, "/home/u"), (Places{"/home/u/a/b", "/x/y"}));
    // Options are skipped until "--"; after it a leading "-" is a name.
    EXPECT_EQ(GivenPlaces({"--weird", "--", "-dir"}, "/w"), (Places{"/w/-dir"}));
    EXPECT_EQ(GivenPlaces({"/MIN", "a b\n$(x)"}, "/"), (Places{"/a b\n$(x)"}));
    EXPECT_TRUE(GivenPlaces({}, "/w").empty());
}

TEST_F(MainWindowTest, PanePopupTakesTheRowUnderTheMouse)
{
    const int file = Right()->Data().DirCount; // Readme.TXT
    window->DirPopupPopup(Right(), RowCentre(Right(), file));
    EXPECT_TRUE(window->RightIsActive());
    EXPECT_EQ(Right()->CurrentRow(), file);
    EXPECT_TRUE(Right()->IsSelected(file));
    EXPECT_TRUE(window->Action("PopOpen")->isEnabled());
    const int drive = Right()->Data().Count - 1;
    Right()->SetRangeSelected(0, drive, false);
    window->DirPopupPopup(Right(), RowCentre(Right(), drive));
    EXPECT_EQ(Right()->CurrentRow(), drive);
    EXPECT_FALSE(window->Action("PopOpen")->isEnabled()); // a drive row
}
