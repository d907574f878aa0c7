// The keys and the function-key bar of the real window: each key and each
// bar button reaches its command once, the commander keys move F6 and F7
// and come back after a restart, the bar follows its option.
#include "app/PaneReads.h"
#include "app/CommandTable.h"
#include "app/ConfigureDialog.h"
#include "app/MainWindow.h"
#include "app/components/SysHotKey.h"
#include "app/components/VirtualKeys.h"
#include "panes/ViewerExtensions.h"
#include "platform/Registry.h"
#include "platform/ShellFileOperation.h"
#include "viewer/EditorForm.h"
#include "viewer/ViewerHost.h"
#include "widgets/FunctionKeyBar.h"
#include "widgets/PaneView.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace tarnel;
namespace fs = std::filesystem;

#define WAIT_FOR(condition) ASSERT_TRUE(QTest::qWaitFor([&] { return bool(condition); }, 5000)) << #condition

namespace {

struct CountingUi : OperationUi {
    int replaceAsked = 0, trashAsked = 0;
    ReplaceAnswer AskReplace(const std::string&) override
    {
        ++replaceAsked;
        return ReplaceAnswer::No;
    }
    ErrorAnswer AskError(const std::string&, const std::string&, int) override { return ErrorAnswer::Cancel; }
    bool ConfirmTrash(size_t) override
    {
        ++trashAsked;
        return true;
    }
    DeleteAnswer AskDeletePermanently(const std::string&) override { return DeleteAnswer::No; }
    void Refused(const std::string&) override {}
    bool Progress(uint64_t, uint64_t, uint64_t, uint64_t, const std::string&) override { return true; }
};

struct Quiet : UserMessages {
    QStringList* log;
    explicit Quiet(QStringList* l) : log(l) {}
    void Error(const QString& t) override { log->append(t); }
    void Warning(const QString& t) override { log->append(t); }
    void Information(const QString& t) override { log->append(t); }
    bool Confirm(const QString&) override { return true; }
};

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs action on the first modal window of type T once it is up (an exec()
// the test's own call is about to enter).
template <typename T>
void WhenModal(std::function<void(T&)> action)
{
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        if (auto* modal = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            action(*modal);
        }
    });
    timer->start(10);
}

class CommandKeysTest : public ::testing::Test {
protected:
    std::string root;
    std::unique_ptr<Registry> registry;
    std::unique_ptr<MainWindow> window;
    CountingUi ui;
    QStringList messages;
    int dialogsRun = 0;
    QString typedName; // what the name dialogs get; empty: they are cancelled

    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-keys-XXXXXX";
        root = mkdtemp(tmpl);
        fs::create_directories(root + "/left/dir");
        fs::create_directories(root + "/right");
        fs::create_directories(root + "/home");
        std::ofstream(root + "/left/a.txt") << "a";
        std::ofstream(root + "/left/b.txt") << "b";
        std::ofstream(root + "/left/c.txt") << "c";
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(root + "/home"));
    }
    void TearDown() override
    {
        window.reset();
        registry.reset();
        fs::remove_all(root);
    }
    // With a settings store: a restart reads what the last run saved.
    void Start()
    {
        window.reset();
        registry = std::make_unique<Registry>(root + "/user.reg", root + "/none.reg");
        registry->Load();
        StartOptions options;
        options.independent = true;
        options.registry = registry.get();
        options.leftDir = root + "/left";
        options.rightDir = root + "/right";
        window = std::make_unique<MainWindow>(options, nullptr);
        window->SetOperationUi(&ui);
        window->Settings().ConfirmCopyTarget = false; // the target dialog has tests of its own
        window->SetMessages(std::make_unique<Quiet>(&messages));
        window->SetNameDialogRunner([this](QDialog& dialog) {
            ++dialogsRun;
            if (typedName.isEmpty())
                return int(QDialog::Rejected);
            if (auto* input = qobject_cast<QInputDialog*>(&dialog))
                input->setTextValue(typedName);
            else if (auto* edit = dialog.findChild<QLineEdit*>())
                edit->setText(typedName);
            return int(QDialog::Accepted);
        });
        window->show();
        Activate();
        test::WaitForReads(*window);
    }
    // The window in front, as the user has it (the editor hides it while it runs).
    void Activate()
    {
        window->showNormal();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    void Restart()
    {
        window->SaveSettings();
        Start();
    }
    PaneView* Left() { return window->LeftPane(); }
    QWidget* List() { return Left()->List(); }
    int Row(const std::string& name)
    {
        test::WaitForReads(*window);
        for (int i = 0; i < Left()->Data().Count; ++i)
            if (Left()->Data().Item(i).Name == name)
                return i;
        return -1;
    }
    // The cursor on name, and name alone selected.
    void SelectOnly(const std::string& name)
    {
        test::WaitForReads(*window);
        Left()->SetRangeSelected(0, Left()->Data().Count - 1, false);
        const int row = Row(name);
        ASSERT_GE(row, 0) << name;
        Left()->SetCurrentRow(row);
        Left()->SetSelected(row, true);
    }
    void Configure(const std::function<void(TDlgConfigure&)>& change)
    {
        WhenModal<TDlgConfigure>([change](TDlgConfigure& d) {
            change(d);
            QTest::mouseClick(d.findChild<QPushButton*>("BtnOK"), Qt::LeftButton);
        });
        window->Configure1Click();
        Activate(); // as the desktop gives the window back its keys
    }
    QString BarText(const char* name)
    {
        QPushButton* button = window->FunctionKeys()->Button(name);
        return button ? button->text() : QString("<none>");
    }
};

} // namespace

TEST_F(CommandKeysTest, EachFunctionKeyRunsItsCommandOnce)
{
    Start();
    // F8 asks once and deletes the selection.
    SelectOnly("a.txt");
    QSignalSpy deletes(window->Action("Delete"), &QAction::triggered);
    QTest::keyClick(List(), Qt::Key_F8);
    test::WaitForOperations(*window);
    EXPECT_EQ(deletes.count(), 1);
    EXPECT_EQ(ui.trashAsked, 1);
    EXPECT_FALSE(fs::exists(root + "/left/a.txt"));
    // The list's Delete key is the same command.
    SelectOnly("dir");
    QTest::keyClick(List(), Qt::Key_Delete);
    test::WaitForOperations(*window);
    EXPECT_EQ(deletes.count(), 2);
    EXPECT_EQ(ui.trashAsked, 2);
    EXPECT_FALSE(fs::exists(root + "/left/dir"));

    // F5 copies once: a second copy would have asked before replacing.
    SelectOnly("b.txt");
    QTest::keyClick(List(), Qt::Key_F5);
    test::WaitForOperations(*window);
    EXPECT_EQ(ReadAll(root + "/right/b.txt"), "b");
    EXPECT_EQ(ui.replaceAsked, 0);

    // F2 and Shift+F6 each ask for the new name once.
    typedName = "c2.txt";
    SelectOnly("c.txt");
    QTest::keyClick(List(), Qt::Key_F2);
    test::WaitForOperations(*window);
    EXPECT_EQ(dialogsRun, 1);
    EXPECT_TRUE(fs::exists(root + "/left/c2.txt"));
    typedName = "c3.txt";
    SelectOnly("c2.txt");
    QTest::keyClick(List(), Qt::Key_F6, Qt::ShiftModifier);
    test::WaitForOperations(*window);
    EXPECT_EQ(dialogsRun, 2);
    EXPECT_TRUE(fs::exists(root + "/left/c3.txt"));

    // Without the commander keys, F6 and F7 stay the viewer's and move nothing.
    SelectOnly("b.txt");
    QTest::keyClick(List(), Qt::Key_F7);
    EXPECT_TRUE(window->Viewer()->IsOn());
    QTest::keyClick(List(), Qt::Key_F7);
    EXPECT_FALSE(window->Viewer()->IsOn());
    EXPECT_TRUE(fs::exists(root + "/left/b.txt"));
    EXPECT_EQ(dialogsRun, 2);

    // F3 shows the entry under the cursor; Ctrl+Q turns the viewer off, once.
    QTest::keyClick(List(), Qt::Key_F3);
    ASSERT_TRUE(window->Viewer()->IsOn());
    EXPECT_EQ(window->Viewer()->CurrentPage(), ViewerPageKind::Text);
    QTest::keyClick(List(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(window->Viewer()->IsOn());
    QTest::keyClick(List(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(window->Viewer()->IsOn());
    QTest::keyClick(List(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(window->Viewer()->IsOn());
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}

TEST_F(CommandKeysTest, EditAndNewFileKeysWriteTheFile)
{
    Start();
    // F4: the file in the editor, saved back; the viewer is off again after.
    SelectOnly("b.txt");
    WhenModal<Teditorform>([](Teditorform& editor) {
        editor.memo1->setPlainText("edited");
        editor.SaveCloseItem->trigger();
    });
    QTest::keyClick(List(), Qt::Key_F4);
    // The editor opens once the viewer's worker has read the file.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return ReadAll(root + "/left/b.txt") == "edited" && !window->Viewer()->IsOn(); }));
    Activate();

    // Shift+F4: a new empty file, which the editor then fills.
    typedName = "new.txt";
    WhenModal<Teditorform>([](Teditorform& editor) {
        editor.memo1->setPlainText("fresh");
        editor.SaveCloseItem->trigger();
    });
    QTest::keyClick(List(), Qt::Key_F4, Qt::ShiftModifier);
    EXPECT_EQ(dialogsRun, 1);
    // The editor opens once the folder's new listing has come in.
    EXPECT_TRUE(QTest::qWaitFor([&] { return ReadAll(root + "/left/new.txt") == "fresh"; }));
    test::WaitForReads(*window); // the cursor comes back with the listing the save asked for
    ASSERT_GE(Left()->CurrentRow(), 0);
    EXPECT_EQ(Left()->Data().Item(Left()->CurrentRow()).Name, "new.txt");
    Activate();

    // An existing name is never overwritten.
    typedName = "b.txt";
    QTest::keyClick(List(), Qt::Key_F4, Qt::ShiftModifier);
    // The file is made on a worker: its refusal comes back as a message.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !messages.isEmpty(); }));
    EXPECT_EQ(ReadAll(root + "/left/b.txt"), "edited");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith("Unable to create")) << messages[0].toStdString();
}

TEST_F(CommandKeysTest, BarButtonsTriggerTheCommandsOfTheirKeys)
{
    Start();
    FunctionKeyBar* bar = window->FunctionKeys();
    ASSERT_TRUE(bar->isVisible());
    // Each button triggers its command's action once, and its caption names
    // the key that action has.
    Left()->SetRangeSelected(0, Left()->Data().Count - 1, false);
    Left()->SetCurrentRow(Row("dir")); // nothing to copy, delete or edit
    int checked = 0;
    for (const CommandRow& row : CommandTable::Rows()) {
        if (!row.barText)
            continue;
        QPushButton* button = bar->Button(row.name);
        ASSERT_NE(button, nullptr) << row.name;
        QAction* action = window->Action(row.name);
        if (row.hotKey < 0 && !action->shortcuts().isEmpty())
            EXPECT_TRUE(button->text().startsWith(action->shortcuts().first().toString(QKeySequence::NativeText) + " "))
                << button->text().toStdString();
        QSignalSpy spy(action, &QAction::triggered);
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(spy.count(), 1) << row.name;
        ++checked;
    }
    EXPECT_GE(checked, 9);
    EXPECT_EQ(BarText("Copy"), "F5 Copy");
    EXPECT_EQ(BarText("FullScreenViewer"), "F6 Full screen");
    EXPECT_EQ(BarText("QuickViewer"), "F7 Viewer");

    // And does what the key does.
    window->Viewer()->SetViewerActive(Left(), false);
    SelectOnly("a.txt");
    QTest::mouseClick(bar->Button("Delete"), Qt::LeftButton);
    test::WaitForOperations(*window);
    EXPECT_EQ(ui.trashAsked, 1);
    EXPECT_FALSE(fs::exists(root + "/left/a.txt"));
    EXPECT_TRUE(List()->hasFocus());
}

TEST_F(CommandKeysTest, CommanderKeysMoveF6AndF7AndSurviveARestart)
{
    Start();
    Configure([](TDlgConfigure& d) {
        d.findChild<QCheckBox*>("CBCommanderKeys")->click();
        // The viewer's keys move out of the way before OK.
        EXPECT_EQ(d.HotKey(1)->KeyCombination(), QKeyCombination(Qt::Key_F11));
        EXPECT_EQ(d.HotKey(2)->KeyCombination(), QKeyCombination(Qt::ControlModifier, Qt::Key_Q));
    });
    EXPECT_EQ(BarText("Move"), "F6 Move");
    EXPECT_EQ(BarText("NewDir"), "F7 New dir");
    EXPECT_EQ(BarText("QuickViewer"), "Ctrl-Q Viewer");

    const auto commanderKeysWork = [this](const std::string& moved, const QString& folder) {
        SelectOnly(moved);
        QTest::keyClick(List(), Qt::Key_F6);
        test::WaitForOperations(*window);
        EXPECT_TRUE(fs::exists(root + "/right/" + moved));
        EXPECT_FALSE(fs::exists(root + "/left/" + moved));
        typedName = folder;
        QTest::keyClick(List(), Qt::Key_F7);
        test::WaitForOperations(*window);
        EXPECT_TRUE(fs::is_directory(root + "/left/" + folder.toStdString()));
        EXPECT_FALSE(window->Viewer()->IsOn());
        // Ctrl+Q is the viewer hot key now and the command's key too: one toggle.
        QTest::keyClick(List(), Qt::Key_Q, Qt::ControlModifier);
        EXPECT_TRUE(window->Viewer()->IsOn());
        QTest::keyClick(List(), Qt::Key_F11);
        EXPECT_TRUE(window->Viewer()->IsFullScreen());
        QTest::keyClick(List(), Qt::Key_F11);
        QTest::keyClick(List(), Qt::Key_Q, Qt::ControlModifier);
        EXPECT_FALSE(window->Viewer()->IsOn());
    };
    commanderKeysWork("a.txt", "made");
    EXPECT_EQ(dialogsRun, 1);

    Restart();
    EXPECT_TRUE(window->Settings().CommanderKeys);
    EXPECT_EQ(HotKeyName(window->HotKeys()->GetHotKey(2)), "Ctrl-Q");
    commanderKeysWork("b.txt", "made2");

    // Back to the design's keys: F6 and F7 are the viewer's again.
    Configure([](TDlgConfigure& d) { d.findChild<QCheckBox*>("CBCommanderKeys")->click(); });
    Restart();
    EXPECT_FALSE(window->Settings().CommanderKeys);
    EXPECT_EQ(BarText("Move"), "Move");
    SelectOnly("c.txt");
    QTest::keyClick(List(), Qt::Key_F6);
    test::WaitForOperations(*window);
    QTest::keyClick(List(), Qt::Key_F7);
    EXPECT_TRUE(window->Viewer()->IsOn());
    EXPECT_TRUE(fs::exists(root + "/left/c.txt"));
}

TEST_F(CommandKeysTest, TheBarFollowsItsOptionAcrossARestart)
{
    Start();
    EXPECT_TRUE(window->FunctionKeys()->isVisible());
    Configure([](TDlgConfigure& d) {
        QCheckBox* box = d.findChild<QCheckBox*>("CBFunctionKeyBar");
        EXPECT_TRUE(box->isChecked());
        box->click();
    });
    EXPECT_FALSE(window->FunctionKeys()->isVisible());
    Restart();
    EXPECT_FALSE(window->FunctionKeys()->isVisible());
    // Hidden, its keys still work.
    SelectOnly("a.txt");
    QTest::keyClick(List(), Qt::Key_F8);
    test::WaitForOperations(*window);
    EXPECT_EQ(ui.trashAsked, 1);
    Configure([](TDlgConfigure& d) { d.findChild<QCheckBox*>("CBFunctionKeyBar")->click(); });
    EXPECT_TRUE(window->FunctionKeys()->isVisible());
    Restart();
    EXPECT_TRUE(window->FunctionKeys()->isVisible());
}

TEST_F(CommandKeysTest, TheCommanderChoiceLeavesKeysTheUserPickedAlone)
{
    AppSettings settings;
    ViewerExtensionTable extensions;
    std::array<HotKeyDefinition, 4> stored = DefaultHotKeys();
    stored[1] = {hkAlt, 120}; // Alt+F9 for the full-screen viewer
    ConfigureHooks hooks;
    hooks.getHotKey = [&](int n) { return stored[size_t(n)]; };
    hooks.setHotKey = [&](int n, const HotKeyDefinition& d) { stored[size_t(n)] = d; };
    const int result = TDlgConfigure::RunConfigure(settings, extensions, hooks, nullptr, [](TDlgConfigure& d) {
        d.findChild<QCheckBox*>("CBCommanderKeys")->click();
        d.findChild<QPushButton*>("BtnOK")->click();
        return d.result();
    });
    ASSERT_EQ(result, QDialog::Accepted);
    EXPECT_TRUE(settings.CommanderKeys);
    EXPECT_EQ(HotKeyName(stored[1]), "Alt-F9");
    EXPECT_EQ(HotKeyName(stored[2]), "Ctrl-Q");
    EXPECT_EQ(HotKeyName(stored[3]), "Esc");

    // Cancelled, the choice and the keys stay as they were.
    TDlgConfigure::RunConfigure(settings, extensions, hooks, nullptr, [](TDlgConfigure& d) {
        d.findChild<QCheckBox*>("CBCommanderKeys")->click();
        d.reject();
        return d.result();
    });
    EXPECT_TRUE(settings.CommanderKeys);
    EXPECT_EQ(HotKeyName(stored[2]), "Ctrl-Q");
}
