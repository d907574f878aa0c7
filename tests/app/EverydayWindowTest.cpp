// The window as a new user meets it: the first layout, closing and saving,
// drive rows after a mount change, the keys of two-pane file managers and
// names that are not UTF-8.
#include "app/MainWindow.h"
#include "app/WorkerSinkQt.h"
#include "app/components/TrayIcon.h"
#include "fileops/NameDialogs.h"
#include "fileops/PropertiesDialog.h"
#include "platform/Registry.h"
#include "platform/ShellFileOperation.h"
#include "widgets/PaneView.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSplitter>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace tarnel;
namespace fs = std::filesystem;

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
    }
    PaneView* Left() { return window->LeftPane(); }
    PaneView* Right() { return window->RightPane(); }
    static int Row(PaneView* pane, const std::string& name)
    {
        for (int i = 0; i < pane->Data().Count; ++i)
            if (pane->Data().Item(i).Name == name)
                return i;
        return -1;
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
