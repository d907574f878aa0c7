// The window as a new user meets it: the first layout, closing and saving,
// drive rows after a mount change, the keys of two-pane file managers and
// names that are not UTF-8; then what someone used to such managers does in
// the first hour: typed filters, where the keys go, mnemonics, the viewer
// following the cursor, sizes, dialogs, volumes, sorting and the status bar.
#include "app/MainWindow.h"
#include "app/PaneReads.h"
#include "app/WorkerSinkQt.h"
#include "panes/DisplayOptions.h"
#include "panes/ReadDirectory.h"
#include "viewer/InfoPage.h"
#include "viewer/SearchWindow.h"
#include "viewer/TextPage.h"
#include "viewer/TextView.h"
#include "viewer/ViewerHost.h"
#include "widgets/RowPainter.h"
#include "app/components/TrayIcon.h"
#include "fileops/NameDialogs.h"
#include "fileops/PropertiesDialog.h"
#include "platform/Registry.h"
#include "platform/ShellFileOperation.h"
#include "widgets/PaneView.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QSplitter>
#include <QTabWidget>
#include <QToolButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace tarnel;
namespace fs = std::filesystem;

// Waits for what the window does after an event, and fails the test (Qt's own
// QTRY macros would only report to Qt's test log).
#define WAIT_FOR(condition) ASSERT_TRUE(QTest::qWaitFor([&] { return bool(condition); }, 5000)) << #condition
#define WAIT_LONG_FOR(condition) ASSERT_TRUE(QTest::qWaitFor([&] { return bool(condition); }, 20000)) << #condition

namespace {

struct Recorder : UserMessages {
    QStringList log;
    void Error(const QString& t) override { log.append("error: " + t); }
    void Warning(const QString& t) override { log.append("warning: " + t); }
    void Information(const QString& t) override { log.append("information: " + t); }
    void Plain(const QString& t) override { log.append("plain: " + t); }
    bool Confirm(const QString& t) override
    {
        log.append("confirm: " + t);
        return true;
    }
};

struct FullDisk : RegistryFileOps {
    bool Write(int, std::string_view) override
    {
        errno = ENOSPC;
        return false;
    }
};

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class EverydayWindowTest : public ::testing::Test {
protected:
    std::string root;
    std::unique_ptr<Registry> registry;
    std::unique_ptr<MainWindow> window;
    Recorder* messages = nullptr;

    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-everyday-XXXXXX";
        root = mkdtemp(tmpl);
        fs::create_directories(root + "/left/sub");
        fs::create_directories(root + "/right");
        std::ofstream(root + "/left/a.txt") << "a";
        std::ofstream(root + "/left/big.bin") << std::string(1234567, 'b');
        std::ofstream(root + "/right/r.txt") << "r";
    }
    void TearDown() override
    {
        window.reset();
        registry.reset();
        fs::remove_all(root);
    }
    void Start(int width = 1000, RegistryFileOps* ops = nullptr)
    {
        StartOptions options;
        options.independent = true;
        options.leftDir = root + "/left";
        options.rightDir = root + "/right";
        if (fs::exists(root + "/user.reg") || ops) {
            registry = std::make_unique<Registry>(root + "/user.reg", root + "/none.reg", ops);
            registry->Load();
            options.registry = registry.get();
        }
        window = std::make_unique<MainWindow>(options, nullptr);
        auto recorder = std::make_unique<Recorder>();
        messages = recorder.get();
        window->SetMessages(std::move(recorder));
        window->resize(width, 600);
        window->show();
        for (int i = 0; i < 3; ++i)
            QApplication::processEvents();
        test::WaitForReads(*window);
    }
    PaneView* Left() { return window->LeftPane(); }
    PaneView* Right() { return window->RightPane(); }
    static int Row(PaneView* pane, const std::string& name)
    {
        EXPECT_TRUE(test::PaneRead(pane->Data())) << "the pane's read did not finish";
        for (int i = 0; i < pane->Data().Count; ++i)
            if (pane->Data().Item(i).Name == name)
                return i;
        return -1;
    }
    static std::string CurrentName(PaneView* pane)
    {
        EXPECT_TRUE(test::PaneRead(pane->Data())) << "the pane's read did not finish";
        const int row = pane->CurrentRow();
        return row >= 0 && row < pane->Data().Count ? pane->Data().Item(row).Name : std::string("<none>");
    }
    // The window in front, as the user has it.
    void Activate()
    {
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    QPoint RowCentre(PaneView* pane, int row)
    {
        EXPECT_TRUE(test::PaneRead(pane->Data())) << "the pane's read did not finish";
        return pane->List()->visualRect(pane->List()->model()->index(row, 0)).center();
    }
    void ClickRow(PaneView* pane, int row, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTest::mouseClick(pane->List()->viewport(), Qt::LeftButton, mods, RowCentre(pane, row));
    }
    // Moves the cursor with Home and Down, as the user does.
    void KeyTo(PaneView* pane, const std::string& name)
    {
        EXPECT_TRUE(test::PaneRead(pane->Data())) << "the pane's read did not finish";
        const int row = Row(pane, name);
        ASSERT_GE(row, 0) << name;
        QTest::keyClick(pane->List(), Qt::Key_Home);
        for (int i = 0; i < row; ++i)
            QTest::keyClick(pane->List(), Qt::Key_Down);
        ASSERT_EQ(CurrentName(pane), name);
    }
    static std::vector<std::string> FileNames(PaneView* pane)
    {
        EXPECT_TRUE(test::PaneRead(pane->Data())) << "the pane's read did not finish";
        std::vector<std::string> names;
        const TDirData& d = pane->Data();
        for (int i = d.DirCount; i < d.DirCount + d.FileCount; ++i)
            names.push_back(d.Item(i).Name);
        return names;
    }
};

} // namespace

TEST_F(EverydayWindowTest, PanesStartInHalvesAndStayThereOnResize)
{
    Start(1000);
    const int handle = window->findChild<QSplitter*>("LeftSplit")->handleWidth();
    EXPECT_LE(std::abs(Left()->width() - Right()->width()), handle + 1) << Left()->width() << " " << Right()->width();
    window->resize(1400, 600);
    QApplication::processEvents();
    EXPECT_LE(std::abs(Left()->width() - Right()->width()), handle + 1) << Left()->width() << " " << Right()->width();
}

TEST_F(EverydayWindowTest, DefaultColumnsFitTheirTextsAndStoredWidthsStay)
{
    Start(1000);
    const QFontMetrics metrics = Left()->List()->fontMetrics();
    auto fits = [&](PaneView* pane, int column, const std::string& text) {
        return metrics.horizontalAdvance(QString::fromStdString(text)) + 3 <= pane->SectionWidths()[size_t(column)];
    };
    DisplayLocale locale; // the texts the rows show are measured as the rows format them
    const TDirData& data = Left()->Data();
    for (int i = 0; i < data.Count; ++i) {
        const TFileData& e = data.Item(i);
        if (e.Kind == fkDrive)
            continue;
        EXPECT_TRUE(fits(Left(), 2, TimeText(e.Time, locale))) << e.Name;
    }
    EXPECT_TRUE(fits(Left(), 1, "1,205.6 KB"));
    EXPECT_TRUE(fits(Left(), 1, "9.999/9.999"));
    EXPECT_TRUE(fits(Left(), 0, "big.bin" + std::string(12, ' '))); // short names fit whole, icon included
    // Size and time stay inside the pane.
    const auto w = Right()->SectionWidths();
    EXPECT_LT(w[0] + w[1] + w[2], Right()->List()->viewport()->width());
    window.reset();

    // A width the user set is kept; only the others are fitted.
    std::ofstream(root + "/user.reg") << "Windows Registry Editor Version 5.00\n\n"
                                         "[HKEY_CURRENT_USER\\Software\\Vormane\\orv\\LeftHeader]\n"
                                         "\"width1\"=dword:00000021\n";
    Start(1000);
    EXPECT_EQ(Left()->SectionWidths()[1], 33);
    EXPECT_EQ(Right()->SectionWidths()[1], Left()->SectionWidths()[1] == 33 ? Right()->SectionWidths()[1] : -1);
    EXPECT_GT(Right()->SectionWidths()[1], 50);
}

TEST_F(EverydayWindowTest, AutoSizeKeepsEveryColumnInView)
{
    std::ofstream(root + "/left/" + std::string(200, 'n') + ".txt") << "x";
    Start(1000);
    window->AutoSizeColumns(Left());
    const auto w = Left()->SectionWidths();
    EXPECT_LT(w[0] + w[1] + w[2], Left()->List()->viewport()->width());
    EXPECT_GE(w[0], 30);
}

TEST_F(EverydayWindowTest, ShutDownEndsTheRunEvenWhileHidden)
{
    Start();
    window->hide(); // as in the tray
    QTimer::singleShot(0, window.get(), [this] { window->TrayMenu()->findChild<QAction*>("Shutdown2")->trigger(); });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(7); });
    guard.start(3000);
    EXPECT_EQ(QApplication::exec(), 0);
}

TEST_F(EverydayWindowTest, AFailedSaveIsReportedOnceAndTheFileStaysWhole)
{
    const std::string before = "Windows Registry Editor Version 5.00\n\n"
                               "[HKEY_CURRENT_USER\\Software\\Vormane\\orv\\cfg]\n\"QuitType\"=dword:00000002\n";
    std::ofstream(root + "/user.reg") << before;
    FullDisk disk;
    Start(1000, &disk);
    window->SaveSettings();
    window->SaveSettings();
    ASSERT_EQ(messages->log.size(), 1) << messages->log.join("|").toStdString();
    EXPECT_TRUE(messages->log[0].startsWith("error: The settings could not be saved"));
    EXPECT_EQ(ReadFile(root + "/user.reg"), before);
    window.reset();

    // A file refused at start-up is kept on purpose and was reported then.
    std::ofstream(root + "/user.reg") << "garbage\n";
    Start();
    window->SaveSettings();
    EXPECT_TRUE(messages->log.isEmpty()) << messages->log.join("|").toStdString();
    EXPECT_EQ(ReadFile(root + "/user.reg"), "garbage\n");
}

TEST_F(EverydayWindowTest, EveryPaneFollowsANewDriveList)
{
    Start();
    auto volume = [](const std::string& root, const std::string& text) {
        Volume v;
        v.root = root;
        v.displayText = text;
        v.buttonCaption = text;
        return v;
    };
    window->ReplaceDriveList({volume(root + "/right", "data"), volume(root + "/left/sub", "usb")});
    // A volume mounted ahead of the others: neither pane's place is on it.
    window->ReplaceDriveList({volume(root + "/left", "new"), volume(root + "/right", "data"),
                              volume(root + "/left/sub", "usb")});
    for (PaneView* pane : {Left(), Right()}) {
        const TDirData& data = pane->Data();
        ASSERT_TRUE(test::PaneRead(data));
        ASSERT_EQ(data.DriveCount, 3);
        EXPECT_EQ(data.Item(data.Count - 3).Name, "new");
        EXPECT_EQ(data.Item(data.Count - 1).Name, "usb");
    }
    // The row named "usb" opens usb.
    const int usb = Row(Right(), "usb");
    Right()->SetCurrentRow(usb);
    window->OpenEntryOf(Right());
    EXPECT_EQ(Right()->Data().Path, root + "/left/sub/");
}

TEST_F(EverydayWindowTest, KeysOfTwoPaneFileManagers)
{
    Start();
    QApplication::setActiveWindow(window.get());
    Left()->List()->setFocus();
    QTest::keyClick(Left()->List(), Qt::Key_Tab);
    EXPECT_TRUE(window->RightIsActive());
    EXPECT_TRUE(Right()->List()->hasFocus());
    QTest::keyClick(Right()->List(), Qt::Key_Tab);
    EXPECT_FALSE(window->RightIsActive());

    PaneView* pane = Left();
    pane->SetCurrentRow(0);
    QTest::keyClick(pane->List(), Qt::Key_Insert); // toggles and moves down
    EXPECT_TRUE(pane->IsSelected(0));
    EXPECT_EQ(pane->CurrentRow(), 1);
    QTest::keyClick(pane->List(), Qt::Key_Space); // toggles in place
    EXPECT_TRUE(pane->IsSelected(1));
    EXPECT_EQ(pane->CurrentRow(), 1);
    QTest::keyClick(pane->List(), Qt::Key_Insert);
    EXPECT_FALSE(pane->IsSelected(1));
    EXPECT_TRUE(pane->IsSelected(0));
    EXPECT_FALSE(window->StatusText().isEmpty()); // the selection summary follows

    std::ofstream(root + "/left/late.txt") << "l";
    QTest::keyClick(pane->List(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_GE(Row(pane, "late.txt"), 0);

    QTest::keyClick(pane->List(), Qt::Key_Backspace);
    EXPECT_EQ(pane->Data().Path, root + "/");
}

TEST_F(EverydayWindowTest, WorkerErrorsArePlainBoxes)
{
    Start();
    window->WorkerMessages()->ShowWorkerError("Cannot read /x");
    QApplication::processEvents();
    EXPECT_EQ(messages->log, QStringList{"plain: Cannot read /x"});
}

TEST_F(EverydayWindowTest, RenamingOnlyTheExtensionKeepsUndecodableBytes)
{
    const std::string odd = "caf\xe9-\xff.txt";
    std::ofstream(root + "/left/" + odd) << "x";
    Start();
    const int row = Row(Left(), odd);
    ASSERT_GE(row, 0);
    Left()->SetCurrentRow(row);
    Left()->SetSelected(row, true);
    window->SetNameDialogRunner([](QDialog& d) {
        QLineEdit* edit = static_cast<RenameDialog&>(d).NameEdit();
        QTest::keyClick(edit, Qt::Key_End);
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, "dat");
        return int(QDialog::Accepted);
    });
    window->DoFileOperation(FO_RENAME);
    test::WaitForOperations(*window);
    EXPECT_TRUE(fs::exists(root + "/left/caf\xe9-\xff.dat"));
    EXPECT_FALSE(fs::exists(root + "/left/" + odd));

    // A new directory typed beside such a name is plain UTF-8.
    window->SetNameDialogRunner([](QDialog& d) {
        auto& dialog = static_cast<NewDirDialog&>(d);
        dialog.NameEdit()->setText(QString::fromUtf8("caf\xc3\xa9"));
        EXPECT_EQ(dialog.Name(), "caf\xc3\xa9");
        return int(QDialog::Rejected);
    });
    window->NewDirClick();
}

TEST_F(EverydayWindowTest, PropertiesOfOneFolderCountWhatItHolds)
{
    fs::create_directories(root + "/left/sub/one");
    fs::create_directories(root + "/left/sub/two");
    std::ofstream(root + "/left/sub/f") << "f";
    for (const auto& [paths, expected] :
         {std::pair{std::vector<std::string>{root + "/left/sub"}, QString("1 files, 2 folders")},
          std::pair{std::vector<std::string>{root + "/left/sub", root + "/left/a.txt"}, QString("2 files, 3 folders")}}) {
        PropertiesDialog dialog(paths);
        for (int i = 0; i < 200 && !dialog.TotalsDone(); ++i)
            QTest::qWait(10);
        ASSERT_TRUE(dialog.TotalsDone());
        EXPECT_TRUE(dialog.TotalsText().endsWith(expected)) << dialog.TotalsText().toStdString();
    }
}

TEST_F(EverydayWindowTest, ANarrowPaneShowsTheEndOfItsPath)
{
    const std::string deep = root + "/left/" + std::string(60, 'd') + "/end";
    fs::create_directories(deep);
    Start(700);
    window->LeftPane()->SetPathLabel(deep + "/");
    QApplication::processEvents();
    const QString shown = Left()->PathLabel()->text();
    EXPECT_TRUE(shown.startsWith(QChar(0x2026)) || shown.startsWith("...")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("/end/"));
    EXPECT_EQ(Left()->PathLabel()->toolTip(), QString::fromStdString(deep + "/"));
    NewDirDialog dialog(false);
    EXPECT_GT(dialog.minimumWidth(), dialog.fontMetrics().horizontalAdvance(dialog.windowTitle()));
}

TEST_F(EverydayWindowTest, ATypedFilterAppliesOnEnterAndJoinsTheDropDown)
{
    for (const char* name : {"x5.txt", "y5.txt", "z.txt"})
        std::ofstream(root + "/left/" + name) << name;
    std::ofstream(root + "/right/r5.txt") << "r";
    Start();
    Activate();
    // Typed where the keys go after a click in the box: the combo box.
    for (const auto& [pane, enter] : {std::pair{Left(), Qt::Key_Enter}, std::pair{Right(), Qt::Key_Return}}) {
        QComboBox* box = pane->FilterBox();
        QTest::mouseClick(box->lineEdit(), Qt::LeftButton);
        QWidget* typedInto = QApplication::focusWidget();
        ASSERT_TRUE(typedInto == box || typedInto == box->lineEdit());
        QTest::keyClick(typedInto, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(typedInto, "*5.txt");
        QTest::keyClick(typedInto, enter, enter == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        ASSERT_TRUE(test::PaneRead(pane->Data()));
        EXPECT_EQ(box->currentText(), "*5.txt");
        EXPECT_GE(box->findText("*5.txt"), 0) << "the typed filter is offered again";
        EXPECT_TRUE(pane->List()->hasFocus()) << "the keys go back to the list";
        EXPECT_EQ(pane->Data().History.size(), 1u);
    }
    EXPECT_EQ(FileNames(Left()), (std::vector<std::string>{"x5.txt", "y5.txt"}));
    EXPECT_EQ(FileNames(Right()), (std::vector<std::string>{"r5.txt"}));
    EXPECT_TRUE(window->RightIsActive());
}

TEST_F(EverydayWindowTest, TheKeysStayWithTheActiveList)
{
    fs::create_directories(root + "/left/sub/deeper");
    for (int i = 0; i < 60; ++i) // enough rows that the folder came from lies out of view
        fs::create_directories(root + "/left/d" + std::to_string(100 + i));
    fs::create_directories(root + "/left/zlast");
    std::ofstream(root + "/left/zlast/f.txt") << "f";
    Start();
    Activate();
    EXPECT_EQ(QApplication::focusWidget(), Left()->List()) << "after start";
    EXPECT_EQ(Left()->CurrentRow(), 0) << "a read leaves a cursor to draw";

    QTest::mouseClick(window->CommandButton("BTNRefresh"), Qt::LeftButton);
    EXPECT_EQ(QApplication::focusWidget(), Left()->List()) << "after a command button";
    QTest::mouseClick(window->DriveButton(0), Qt::LeftButton);
    EXPECT_EQ(QApplication::focusWidget(), Left()->List()) << "after a drive button";
    window->NavBackClick();

    // Alt+R clicks Refresh a moment later, as a mnemonic does.
    QSignalSpy refreshed(window->CommandButton("BTNRefresh"), &QPushButton::clicked);
    QTest::keyClick(window.get(), Qt::Key_R, Qt::AltModifier);
    WAIT_FOR(refreshed.count() == 1);
    EXPECT_EQ(QApplication::focusWidget(), Left()->List()) << "after a mnemonic";

    // A dialog closes and gives the keys back to the list.
    KeyTo(Left(), "a.txt");
    window->SetNameDialogRunner([](QDialog& d) {
        d.show();
        QTest::qWaitForWindowActive(&d);
        d.close();
        return int(QDialog::Rejected);
    });
    QTest::mouseClick(window->CommandButton("BTNProperties"), Qt::LeftButton);
    WAIT_FOR(QApplication::focusWidget() == Left()->List());
    // The closed dialog's window-system events may still be queued, and
    // waiting for a read below would take them: they are taken here, and
    // the window is active again before the keys are tried.
    QApplication::processEvents();
    window->activateWindow();
    WAIT_FOR(QApplication::activeWindow() == window.get());
    WAIT_FOR(QApplication::focusWidget() == Left()->List());

    // Into a folder, then Backspace: the cursor stands on the folder left.
    KeyTo(Left(), "zlast");
    QTest::keyClick(Left()->List(), Qt::Key_Return);
    ASSERT_EQ(Left()->Data().Path, root + "/left/zlast/");
    ASSERT_TRUE(test::PaneRead(Left()->Data()));
    EXPECT_EQ(Left()->CurrentRow(), 0);
    QTest::keyClick(Left()->List(), Qt::Key_Backspace);
    ASSERT_EQ(Left()->Data().Path, root + "/left/");
    EXPECT_EQ(CurrentName(Left()), "zlast");
    const QRect cursor = Left()->List()->visualRect(Left()->List()->currentIndex());
    EXPECT_TRUE(Left()->List()->viewport()->rect().contains(cursor)) << "the cursor is in view";
    // Also from a place never entered from its parent (the start place's children).
    window->OpenEntryOf(Left()); // into zlast again
    Left()->Data().Positions = TDirPos(); // nothing remembered
    window->GoParentClick(Left());
    EXPECT_EQ(CurrentName(Left()), "zlast");
    EXPECT_EQ(QApplication::focusWidget(), Left()->List());

    // A read of the other pane (the target of a copy) leaves the keys alone.
    Right()->Data().Positions.Store(Right()->Data().Key(), 0, 0);
    ReadDirectory(Right()->Data());
    ASSERT_TRUE(test::PaneRead(Right()->Data()));
    EXPECT_EQ(QApplication::focusWidget(), Left()->List());
}

// Alt and a letter, anywhere in the window, runs one command; Esc closes
// what is open before it is the hot key.
TEST_F(EverydayWindowTest, EveryAltLetterDoesOneThingAndEscClosesWhatIsOpenFirst)
{
    Start();
    Activate();
    std::map<QChar, QStringList> owners;
    const auto note = [&](const QString& text, const QString& owner) {
        const qsizetype amp = text.indexOf('&');
        if (amp >= 0 && amp + 1 < text.size() && text[amp + 1] != '&')
            owners[text[amp + 1].toUpper()].append(owner);
    };
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
        if (button->isVisibleTo(window.get()))
            note(button->text(), button->objectName());
    for (QAction* action : window->menuBar()->actions())
        if (action->isVisible())
            note(action->text(), action->text());
    for (const auto& [letter, names] : owners)
        EXPECT_EQ(names.size(), 1) << "Alt+" << QString(letter).toStdString() << ": " << names.join(", ").toStdString();

    KeyTo(Left(), "a.txt");
    QSignalSpy viewAsText(window->CommandButton("BTNViewAsText"), &QPushButton::clicked);
    QTest::keyClick(window.get(), Qt::Key_T, Qt::AltModifier);
    WAIT_FOR(viewAsText.count() == 1);
    WAIT_FOR(window->Viewer()->IsOn());
    EXPECT_EQ(window->Viewer()->CurrentPage(), ViewerPageKind::Text);
    QTest::keyClick(Left()->List(), Qt::Key_Escape); // the hot key: leaves the viewer
    EXPECT_FALSE(window->Viewer()->IsOn());

    // Alt+L opens the utility menu; Esc closes it and leaves the window up.
    auto* utility = qobject_cast<QMenu*>(window->findChild<QAction*>("Refreshdrivelist1")->associatedObjects().value(0));
    ASSERT_NE(utility, nullptr);
    QTest::keyClick(window.get(), Qt::Key_L, Qt::AltModifier);
    WAIT_FOR(utility->isVisible());
    QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
    WAIT_FOR(!utility->isVisible());
    // Alt alone takes up the menu bar; Esc gives the keys back.
    QTest::keyClick(window.get(), Qt::Key_Alt, Qt::AltModifier);
    if (qobject_cast<QMenuBar*>(QApplication::focusWidget()))
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    // The sort box's drop-down: Esc closes it.
    QComboBox* sort = Left()->SortBox();
    sort->showPopup();
    WAIT_FOR(QApplication::activePopupWidget() != nullptr);
    QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
    WAIT_FOR(QApplication::activePopupWidget() == nullptr);
    EXPECT_TRUE(window->isVisible() && !window->isMinimized()) << "the first Esc only closed what was open";
    WAIT_FOR(QApplication::focusWidget() == Left()->List());

    // Now Esc is the hot key: it puts the program away.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    WAIT_FOR(window->isMinimized() || !window->isVisible());
}

TEST_F(EverydayWindowTest, TheViewerShowsTheEntryUnderTheCursor)
{
    fs::create_directories(root + "/left/pics/inner");
    QImage picture(8, 6, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(QString::fromStdString(root + "/left/pics/p.bmp")));
    std::ofstream(root + "/left/DESCRIPT.ION") << "pics the pictures\n";
    Start();
    Activate();
    KeyTo(Left(), "pics");
    QTest::keyClick(Left()->List(), Qt::Key_Return);
    KeyTo(Left(), "p.bmp");
    // The viewer key shows a picture as a picture at once.
    QTest::keyClick(Left()->List(), Qt::Key_F7);
    ASSERT_TRUE(window->Viewer()->IsOn());
    EXPECT_EQ(window->Viewer()->CurrentPage(), ViewerPageKind::Image);

    // Out of the folder: the cursor is on it, the page tells about it.
    QTest::keyClick(Left()->List(), Qt::Key_Backspace);
    ASSERT_EQ(CurrentName(Left()), "pics");
    const InfoPage* info = window->Viewer()->Pages().info;
    WAIT_FOR(window->Viewer()->CurrentPage() == ViewerPageKind::Info);
    WAIT_FOR(info->Description()->text() == "the pictures");

    // Into it again: the page is that of the new cursor's entry, "..".
    QTest::keyClick(Left()->List(), Qt::Key_Return);
    ASSERT_EQ(CurrentName(Left()), "..");
    WAIT_FOR(info->Description()->text() == "");
    EXPECT_EQ(window->Viewer()->CurrentPage(), ViewerPageKind::Info);
    KeyTo(Left(), "p.bmp");
    EXPECT_EQ(window->Viewer()->CurrentPage(), ViewerPageKind::Image);
    // A refresh keeps the entry on its page.
    QTest::keyClick(Left()->List(), Qt::Key_R, Qt::ControlModifier);
    QApplication::processEvents();
    EXPECT_EQ(window->Viewer()->CurrentPage(), ViewerPageKind::Image);
}

TEST_F(EverydayWindowTest, AllocatedSizesShowWithoutARepaintAndInsideArchives)
{
    for (int i = 0; i < 3000; ++i) // a walk that takes a while
        std::ofstream(root + "/left/sub/f" + std::to_string(i)) << "x";
    fs::create_directories(root + "/left/pack/docs");
    std::ofstream(root + "/left/pack/docs/c.txt") << std::string(3000, 'c');
    ASSERT_EQ(std::system(("cd '" + root + "/left/pack' && zip -qr ../data.zip docs").c_str()), 0);
    Start();
    Activate();
    DisplayOptions& options = Options();
    struct Restore {
        DisplayOptions saved = Options();
        ~Restore() { Options() = saved; }
    } restore;
    options.ShowBigSize = true;
    TDirData& data = Left()->Data();
    WAIT_LONG_FOR(data.Item(Row(Left(), "sub")).SizeDone.load() == 1);

    // Read again: the total comes from memory, the space used from a new walk.
    struct SizeCellPaints : QObject {
        PaneView* pane;
        int row = -1;
        int paintedDone = 0;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::Paint && row >= 0 && pane->Data().Item(row).SizeDone.load() == 1) {
                const QRect cell = pane->List()->visualRect(pane->List()->model()->index(row, 0));
                if (static_cast<QPaintEvent*>(e)->region().intersects(cell))
                    ++paintedDone;
            }
            return false;
        }
    } paints;
    paints.pane = Left();
    QTest::keyClick(Left()->List(), Qt::Key_R, Qt::ControlModifier);
    const int sub = Row(Left(), "sub");
    ASSERT_GE(data.Item(sub).Size.load(), 3000) << "remembered";
    QApplication::processEvents(); // the read's own paint
    ASSERT_EQ(data.Item(sub).SizeDone.load(), 0) << "the walk ended before the first paint: no telling";
    paints.row = sub;
    Left()->List()->viewport()->installEventFilter(&paints);
    WAIT_LONG_FOR(data.Item(sub).SizeDone.load() == 1);
    WAIT_FOR(paints.paintedDone > 0);
    Left()->List()->viewport()->removeEventFilter(&paints);

    // Inside an archive a folder shows what its members add up to.
    KeyTo(Left(), "data.zip");
    QTest::keyClick(Left()->List(), Qt::Key_Return);
    ASSERT_TRUE(data.InArchive());
    const int docs = Row(Left(), "docs");
    ASSERT_GE(docs, 0);
    const RowTexts texts = ComputeRowTexts(data, docs, Left()->SectionWidths(), Left()->List()->fontMetrics(),
                                           DisplayLocale(), options, nullptr, false);
    EXPECT_EQ(texts.size, "2.9 KB");
}

// The window's own dialogs and windows come up whole on the screen, over
// the main window, and take the keys.
TEST_F(EverydayWindowTest, DialogsOpenOnScreenOverTheWindowAndFocused)
{
    std::ofstream(root + "/left/" + std::string(150, 'n') + ".txt") << "long";
    std::ofstream(root + "/left/words.txt") << "alpha\nbeta\nalpha beta\n";
    Start();
    Activate();
    const QRect screen = window->screen()->availableGeometry();
    const auto onScreenAndCentred = [&](QWidget* w) {
        const QRect g = w->frameGeometry(), m = window->frameGeometry();
        EXPECT_TRUE(screen.contains(w->frameGeometry())) << w->objectName().toStdString() << " " << g.x() << "," << g.y() << " " << g.width() << "x" << g.height() << " screen " << screen.width() << "x" << screen.height() << " main " << m.x() << "," << m.y() << " " << m.width() << "x" << m.height();
        const QRect over = window->frameGeometry() & screen;
        const QPoint centre = w->frameGeometry().center();
        // Centred on the window, unless that would leave the screen.
        if (screen.contains(QRect(over.center() - QPoint(w->width() / 2, w->height() / 2), w->size())))
            EXPECT_LE((centre - over.center()).manhattanLength(), 40) << w->objectName().toStdString() << " " << g.x() << "," << g.y() << " " << g.width() << "x" << g.height();
    };

    KeyTo(Left(), std::string(150, 'n') + ".txt");
    bool shown = false;
    window->SetNameDialogRunner([&](QDialog& d) {
        d.show();
        shown = QTest::qWaitForWindowActive(&d);
        onScreenAndCentred(&d);
        d.close();
        return int(QDialog::Rejected);
    });
    QTest::mouseClick(window->CommandButton("BTNProperties"), Qt::LeftButton);
    EXPECT_TRUE(shown) << "the dialog has the keys";

    // The text viewer's search window.
    KeyTo(Left(), "words.txt");
    QTest::keyClick(window.get(), Qt::Key_T, Qt::AltModifier);
    WAIT_FOR(window->Viewer()->CurrentPage() == ViewerPageKind::Text);
    window->Action("Search1")->trigger();
    TSearchwin* search = window->Viewer()->Pages().text->VWText->SearchWindow();
    ASSERT_NE(search, nullptr);
    WAIT_FOR(search->isActiveWindow());
    onScreenAndCentred(search);
    EXPECT_EQ(QApplication::focusWidget(), search->Edit1);
}

// Only a pane on a volume that came or went is read again; selections stay.
TEST_F(EverydayWindowTest, AVolumeChangeRereadsOnlyThePaneOnIt)
{
    std::ofstream(root + "/right/s.txt") << "s";
    Start();
    Activate();
    auto volume = [](const std::string& where, const std::string& text) {
        Volume v;
        v.root = where;
        v.displayText = text;
        v.buttonCaption = text;
        return v;
    };
    window->ReplaceDriveList({volume(root + "/left", "one")});
    ClickRow(Left(), Row(Left(), "a.txt"));
    ClickRow(Left(), Row(Left(), "sub"), Qt::ControlModifier);
    ClickRow(Right(), Row(Right(), "s.txt"));
    ClickRow(Right(), Row(Right(), "r.txt"), Qt::ControlModifier);
    std::ofstream(root + "/left/late-left.txt") << "l";
    std::ofstream(root + "/right/0-late-right.txt") << "r"; // sorts first: the selected rows move down

    window->SetDriveListReader([&] { return DriveList{volume(root + "/left", "one"), volume(root + "/right", "usb")}; });
    window->VolumesChanged({root + "/right"});
    WAIT_FOR(Row(Right(), "0-late-right.txt") >= 0);
    EXPECT_EQ(Right()->SelectedRows(), (std::vector<int>{Row(Right(), "r.txt"), Row(Right(), "s.txt")}));
    EXPECT_EQ(CurrentName(Right()), "r.txt");
    // The left pane was not read, yet its drive rows follow the new list.
    EXPECT_EQ(Row(Left(), "late-left.txt"), -1);
    EXPECT_EQ(Left()->SelectedRows(), (std::vector<int>{Row(Left(), "sub"), Row(Left(), "a.txt")}));
    EXPECT_EQ(CurrentName(Left()), "sub");
    ASSERT_EQ(Left()->Data().DriveCount, 2);
    EXPECT_EQ(Left()->Data().Item(Left()->Data().Count - 1).Name, "usb");
    EXPECT_EQ(Left()->RowCount(), Left()->Data().Count);
    EXPECT_EQ(window->DriveButton(1)->toolTip(), "usb");
}

TEST_F(EverydayWindowTest, EqualKeysAreOrderedByNameInEitherDirection)
{
    for (const char* name : {"e.dat", "b.dat", "d.dat", "a.dat", "c.dat"})
        std::ofstream(root + "/right/" + name) << "same";
    fs::remove(root + "/right/r.txt");
    Start();
    Activate();
    QComboBox* sort = Right()->SortBox();
    QTest::mouseClick(Right()->List()->viewport(), Qt::LeftButton, {}, RowCentre(Right(), 0));
    sort->setFocus();
    QTest::keyClick(sort, Qt::Key_End); // "by desc": nobody has a description
    ASSERT_EQ(Right()->SortKey(), 4);
    const std::vector<std::string> ascending{"a.dat", "b.dat", "c.dat", "d.dat", "e.dat"};
    EXPECT_EQ(FileNames(Right()), ascending);
    PaneHeader* header = Right()->Header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionViewportPosition(3) + 10, 5));
    EXPECT_EQ(FileNames(Right()), std::vector<std::string>(ascending.rbegin(), ascending.rend()));
    QTest::keyClick(sort, Qt::Key_Up); // "by time": all written in the same second or so
    QTest::keyClick(sort, Qt::Key_Up); // "by type": one extension
    ASSERT_EQ(Right()->SortKey(), 2);
    EXPECT_EQ(FileNames(Right()), std::vector<std::string>(ascending.rbegin(), ascending.rend()));
}

TEST_F(EverydayWindowTest, StatusAfterSelectAllAndControlCharactersInNames)
{
    fs::create_directories(root + "/left/two\nlines");
    std::ofstream(root + "/left/new\nline.txt") << "n";
    Start();
    Activate();
    QTest::keyClick(window.get(), Qt::Key_E, Qt::AltModifier);
    WAIT_FOR(QApplication::activePopupWidget() != nullptr);
    QWidget* edit = QApplication::activePopupWidget();
    QTest::keyClick(edit, Qt::Key_A); // "Select &all"
    WAIT_FOR(QApplication::activePopupWidget() != nullptr && QApplication::activePopupWidget() != edit);
    QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_F); // "&Files"
    WAIT_FOR(QApplication::activePopupWidget() == nullptr);
    EXPECT_EQ(Left()->SelectedRows().size(), 3u);
    EXPECT_EQ(window->StatusText(), "Selected : 0 dirs and 3 files (1,234,569 bytes)");

    const int odd = Row(Left(), "new\nline.txt");
    const RowTexts texts = ComputeRowTexts(Left()->Data(), odd, Left()->SectionWidths(), Left()->List()->fontMetrics(),
                                           DisplayLocale(), Options(), nullptr, false);
    EXPECT_FALSE(texts.name.contains('\n'));
    EXPECT_TRUE(texts.name.startsWith(QString("new") + QChar(0xFFFD) + "line")) << texts.name.toStdString();
    KeyTo(Left(), "two\nlines");
    QTest::keyClick(Left()->List(), Qt::Key_Return);
    ASSERT_EQ(Left()->Data().Path, root + "/left/two\nlines/");
    EXPECT_FALSE(Left()->PathLabel()->text().contains('\n'));
    EXPECT_FALSE(Left()->PathLabel()->toolTip().contains('\n'));
}

// Letters typed in a list move the cursor to the first name starting with
// them; the list's own keys keep their meaning and Esc or a pause ends it.
TEST_F(EverydayWindowTest, TypedLettersFindANameUntilEscOrAPause)
{
    std::ofstream(root + "/left/file1") << "1";
    std::ofstream(root + "/left/file2") << "2";
    Start();
    Activate();
    PaneList* list = Left()->List();
    list->setFocus();
    WAIT_FOR(QApplication::focusWidget() == list);

    QTest::keyClick(list, Qt::Key_Home);
    QTest::keyClicks(list, "fi");
    EXPECT_EQ(CurrentName(Left()), "file1");
    QTest::keyClick(list, Qt::Key_Home);
    QTest::keyClicks(list, "FI");
    EXPECT_EQ(CurrentName(Left()), "file1") << "case does not matter";
    QTest::keyClicks(list, "le2");
    EXPECT_EQ(CurrentName(Left()), "file2") << "more letters continue the search";

    // ".." and volume rows are never taken.
    QTest::keyClick(list, Qt::Key_Escape);
    QTest::keyClicks(list, ".");
    EXPECT_EQ(CurrentName(Left()), "file2");
    const TDirData& data = Left()->Data();
    for (int i = 0; i < data.Count; ++i) {
        const TFileData& e = data.Item(i);
        if (e.Kind != fkDrive || e.Name.empty())
            continue;
        QTest::keyClick(list, Qt::Key_Home);
        QTest::keyClicks(list, QString::fromStdString(e.Name.substr(0, 1)));
        EXPECT_NE(data.Item(Left()->CurrentRow()).Kind, fkDrive) << e.Name;
    }

    // Esc ends the search and leaves the window up: "b" then starts a new one.
    QTest::keyClick(list, Qt::Key_Home);
    QTest::keyClicks(list, "f");
    ASSERT_EQ(CurrentName(Left()), "file1");
    QTest::keyClick(list, Qt::Key_Escape);
    EXPECT_FALSE(list->QuickSearching());
    EXPECT_TRUE(window->isVisible() && !window->isMinimized());
    QTest::keyClicks(list, "b");
    EXPECT_EQ(CurrentName(Left()), "big.bin");

    // Without a pause "fb" matches nothing; after one, "b" is a new search.
    QTest::keyClick(list, Qt::Key_Home);
    QTest::keyClicks(list, "fb");
    EXPECT_EQ(CurrentName(Left()), "file1");
    WAIT_FOR(!list->QuickSearching());
    QTest::keyClicks(list, "b");
    EXPECT_EQ(CurrentName(Left()), "big.bin");

    // Space marks during a search, Backspace still goes up.
    QTest::keyClick(list, Qt::Key_Home);
    QTest::keyClicks(list, "fi");
    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_TRUE(Left()->IsSelected(Row(Left(), "file1")));
    EXPECT_EQ(CurrentName(Left()), "file1");

    // Letters typed into the filter box stay there.
    QTest::keyClick(list, Qt::Key_Home);
    QTest::mouseClick(Left()->FilterBox()->lineEdit(), Qt::LeftButton);
    ASSERT_NE(QApplication::focusWidget(), list);
    QTest::keyClicks(QApplication::focusWidget(), "fi");
    EXPECT_EQ(Left()->CurrentRow(), 0);
    EXPECT_FALSE(list->QuickSearching());

    list->setFocus();
    QTest::keyClicks(list, "fi");
    QTest::keyClick(list, Qt::Key_Backspace);
    WAIT_FOR(Left()->Data().Count > 0 && CurrentName(Left()) == "left");
}
