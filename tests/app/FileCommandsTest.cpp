// The file commands of the real window: copy, move, delete, rename, new
// dir/zip, background operations and the popup's last command.
#include "app/MainWindow.h"
#include "app/components/TestEnvironment.h"
#include "app/PaneReads.h"
#include "app/PrivateMessages.h"
#include "fileops/BackgroundWork.h"
#include "fileops/NameDialogs.h"
#include "fileops/OperationProgressDialog.h"
#include "fileops/OperationsWindow.h"
#include "platform/ShellFileOperation.h"
#include "widgets/PaneView.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

struct AnsweringUi : OperationUi {
    ReplaceAnswer replace = ReplaceAnswer::Yes;
    int asked = 0;
    ReplaceAnswer AskReplace(const std::string&) override
    {
        ++asked;
        return replace;
    }
    ErrorAnswer AskError(const std::string&, const std::string&, int) override { return ErrorAnswer::Cancel; }
    bool ConfirmTrash(size_t) override { return true; }
    DeleteAnswer AskDeletePermanently(const std::string&) override { return DeleteAnswer::No; }
    void Refused(const std::string&) override {}
    bool Progress(uint64_t, uint64_t, uint64_t, uint64_t, const std::string&) override { return true; }
};

struct Silent : UserMessages {
    QStringList* log;
    explicit Silent(QStringList* l) : log(l) {}
    void Error(const QString& t) override { log->append(t); }
    void Warning(const QString& t) override { log->append(t); }
    void Information(const QString& t) override { log->append(t); }
    bool Confirm(const QString&) override { return true; }
};

class FileCommandsTest : public ::testing::Test {
protected:
    std::string root;
    EnvGuard env;
    std::unique_ptr<MainWindow> window;
    AnsweringUi ui;
    QStringList messages;

    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-cmds-XXXXXX";
        root = mkdtemp(tmpl);
        fs::create_directories(root + "/left/dir");
        fs::create_directories(root + "/right");
        fs::create_directories(root + "/home");
        std::ofstream(root + "/left/a.txt") << "new";
        std::ofstream(root + "/left/dir/inner") << "x";
        std::ofstream(root + "/right/a.txt") << "old";
        // The desktop's own applications stay out of reach: "Open this
        // directory" would start the machine's file manager.
        env.Set("XDG_DATA_HOME", root + "/home");
        env.Set("XDG_DATA_DIRS", root + "/home");
        env.Set("XDG_CONFIG_HOME", root + "/home");
        env.Set("XDG_CONFIG_DIRS", root + "/home");
        StartOptions options;
        options.independent = true;
        options.leftDir = root + "/left";
        options.rightDir = root + "/right";
        window = std::make_unique<MainWindow>(options, nullptr);
        window->SetOperationUi(&ui);
        window->Settings().ConfirmCopyTarget = false; // the target dialog has tests of its own
        window->SetMessages(std::make_unique<Silent>(&messages));
        window->show();
        QApplication::processEvents();
        test::WaitForReads(*window);
    }
    void TearDown() override
    {
        window.reset();
        fs::remove_all(root);
    }
    PaneView* Left() { return window->LeftPane(); }
    int Row(PaneView* pane, const std::string& name)
    {
        EXPECT_TRUE(test::PaneRead(pane->Data())) << "the pane's read did not finish";
        for (int i = 0; i < pane->Data().Count; ++i)
            if (pane->Data().Item(i).Name == name)
                return i;
        return -1;
    }
    void Select(const std::vector<std::string>& names)
    {
        Left()->SetRangeSelected(0, Left()->Data().Count - 1, false);
        for (const std::string& n : names)
            Left()->SetSelected(Row(Left(), n), true);
    }
    std::string Content(const std::string& path)
    {
        std::ifstream in(path);
        std::string s;
        std::getline(in, s);
        return s;
    }
};

} // namespace

TEST_F(FileCommandsTest, CopyAsksBeforeReplacingAndRereadsTheTarget)
{
    Select({"..", "a.txt", "dir"}); // ".." never takes part
    ui.replace = ReplaceAnswer::No;
    QTest::mouseClick(window->CommandButton("BTNCopy"), Qt::LeftButton);
    test::WaitForOperations(*window);
    EXPECT_EQ(ui.asked, 1);
    EXPECT_EQ(Content(root + "/right/a.txt"), "old");
    EXPECT_TRUE(fs::exists(root + "/right/dir/inner"));
    EXPECT_GE(Row(window->RightPane(), "dir"), 0); // the target was re-read

    Select({"a.txt"});
    ui.replace = ReplaceAnswer::Yes;
    window->DoFileOperation(FO_COPY);
    test::WaitForOperations(*window);
    EXPECT_EQ(Content(root + "/right/a.txt"), "new");
    EXPECT_TRUE(fs::exists(root + "/left/a.txt"));
}

TEST_F(FileCommandsTest, MoveDeleteAndRenameRereadTheirPanes)
{
    Select({"dir"});
    window->DoFileOperation(FO_MOVE);
    test::WaitForOperations(*window);
    EXPECT_FALSE(fs::exists(root + "/left/dir"));
    EXPECT_EQ(Row(Left(), "dir"), -1);
    EXPECT_GE(Row(window->RightPane(), "dir"), 0);

    Select({"a.txt"});
    window->SetNameDialogRunner([](QDialog& d) {
        static_cast<RenameDialog&>(d).NameEdit()->setText("b.txt");
        return int(QDialog::Accepted);
    });
    window->DoFileOperation(FO_RENAME);
    test::WaitForOperations(*window);
    EXPECT_TRUE(fs::exists(root + "/left/b.txt"));
    EXPECT_GE(Row(Left(), "b.txt"), 0);

    Select({"b.txt"});
    Left()->List()->setFocus();
    QTest::keyClick(Left()->List(), Qt::Key_Delete, Qt::ShiftModifier); // with Shift: nothing
    EXPECT_TRUE(fs::exists(root + "/left/b.txt"));
    QTest::keyClick(Left()->List(), Qt::Key_Delete);
    test::WaitForOperations(*window);
    EXPECT_FALSE(fs::exists(root + "/left/b.txt"));
    EXPECT_TRUE(fs::exists(root + "/home/Trash/files/b.txt"));
    EXPECT_EQ(Row(Left(), "b.txt"), -1);
}

TEST_F(FileCommandsTest, RenameToAnEmptyOrSlashedNameIsRefusedPlainly)
{
    Select({"a.txt"});
    QString typed;
    window->SetNameDialogRunner([&](QDialog& d) {
        static_cast<RenameDialog&>(d).NameEdit()->setText(typed);
        return int(QDialog::Accepted);
    });
    for (const QString name : {"", "sub/b.txt", ".."}) {
        typed = name;
        messages.clear();
        window->DoFileOperation(FO_RENAME);
        test::WaitForOperations(*window);
        ASSERT_EQ(1, messages.size()) << name.toStdString();
        EXPECT_FALSE(messages[0].contains("already exists")) << messages[0].toStdString();
        EXPECT_TRUE(fs::exists(root + "/left/a.txt"));
        if (name.isEmpty())
            EXPECT_EQ("The new name is empty.", messages[0]);
    }
}

TEST_F(FileCommandsTest, NewDirectoryAndNewArchive)
{
    window->SetNameDialogRunner([](QDialog& d) {
        auto& dialog = static_cast<NewDirDialog&>(d);
        dialog.NameEdit()->setText("data.zip"); // ticks "Create zip" by itself
        EXPECT_TRUE(dialog.ZipBox()->isChecked());
        return int(QDialog::Accepted);
    });
    EXPECT_EQ(window->CreateDirOrZip(false, false), root + "/left/data.zip");
    test::WaitForOperations(*window); // made on a worker
    EXPECT_GT(fs::file_size(root + "/left/data.zip"), 0u);
    EXPECT_GE(Row(Left(), "data.zip"), 0) << "the pane was re-read";

    int tries = 0;
    window->SetNameDialogRunner([&](QDialog& d) {
        auto& dialog = static_cast<NewDirDialog&>(d);
        if (++tries == 3)
            return int(QDialog::Rejected);
        dialog.NameEdit()->setText("data");
        dialog.ZipBox()->setChecked(tries == 1);
        return int(QDialog::Accepted);
    });
    EXPECT_EQ(window->CreateDirOrZip(false, false), root + "/left/data.ZIP");
    EXPECT_EQ(window->CreateDirOrZip(false, false), root + "/left/data");
    test::WaitForOperations(*window); // made on a worker
    EXPECT_TRUE(fs::is_directory(root + "/left/data"));
    EXPECT_GE(Row(Left(), "data"), 0) << "the pane was re-read";
    tries = 1; // "data" again: it exists, said once the worker has tried
    window->CreateDirOrZip(false, false);
    EXPECT_TRUE(messages.isEmpty()) << "said before the folder was tried";
    test::WaitForOperations(*window);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], QString::fromStdString("Unable to create " + root + "/left/data."));
}

TEST_F(FileCommandsTest, BackgroundCopyCompletesAndRereads)
{
    window->Settings().UseAsyncShell = true;
    Select({"dir"});
    window->DoFileOperation(FO_COPY);
    EXPECT_EQ(window->AsyncSlots().Count(), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->AsyncSlots().Count() == 0; }, 10000));
    EXPECT_TRUE(fs::exists(root + "/right/dir/inner"));
    EXPECT_GE(Row(window->RightPane(), "dir"), 0);
    PostPrivateMessage(window.get(), UM_ASYNCDONE, 4242);
    QApplication::processEvents();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], "Asynchronous shell operation completion with invalid ID.");
}

// Enough small files that a background copy of them runs for a while.
void MakeManyFiles(const std::string& dir, int count)
{
    fs::create_directories(dir);
    for (int i = 0; i < count; ++i) {
        if (i % 100 == 0)
            fs::create_directories(dir + "/d" + std::to_string(i / 100));
        std::ofstream(dir + "/d" + std::to_string(i / 100) + "/f" + std::to_string(i)) << i;
    }
}

// The quit path while one background copy has just finished (its completion
// still queued) and another is running.
TEST_F(FileCommandsTest, QuittingDuringBackgroundCopiesWaitsForThemAndEndsCleanly)
{
    MakeManyFiles(root + "/left/many", 1500);
    window->Settings().UseAsyncShell = true;
    window->BTNRefreshClick();
    Select({"dir"});
    window->DoFileOperation(FO_COPY);
    test::WaitForOperations(*window);
    Select({"many"});
    window->DoFileOperation(FO_COPY);
    test::WaitForOperations(*window);
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // "dir" is done, its message waits
    window->FinishBackgroundOperations();
    EXPECT_TRUE(fs::exists(root + "/right/dir/inner"));
    QApplication::processEvents();
    EXPECT_EQ(0, window->AsyncSlots().Count());
    window->FinishBackgroundOperations(); // a second quit finds nothing to wait for
}

// Progress lands in atomics: a window too busy to take events never stalls the copy.
TEST_F(FileCommandsTest, BackgroundCopyGoesOnWhileTheWindowIsBusy)
{
    MakeManyFiles(root + "/left/many", 1500);
    window->Settings().UseAsyncShell = true;
    window->BTNRefreshClick();
    Select({"many"});
    window->DoFileOperation(FO_COPY);
    test::WaitForOperations(*window);
    const auto last = root + "/right/many/d14/f1499";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(last) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10)); // no events served meanwhile
    EXPECT_TRUE(fs::exists(last));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->AsyncSlots().Count() == 0; }, 10000));
}

TEST_F(FileCommandsTest, PopupRepeatsTheLastCommand)
{
    Select({});
    window->RunFileCommand(FO_COPY);
    test::WaitForOperations(*window);
    QMenu* popup = window->DirPopup();
    ASSERT_GE(popup->actions().size(), 3);
    EXPECT_EQ(popup->actions()[1]->objectName(), "LastPopup");
    EXPECT_EQ(popup->actions()[1]->text(), "Copy");
    window->Action("PopOpen")->trigger(); // remembered, but never repeated next to itself
    window->BTNRefreshClick();
    EXPECT_EQ(popup->actions()[1]->text(), "Refresh");
}

// A replace question is a box over the window, not a loop inside the
// command: the command returns, the window goes on (a pane is navigated and
// re-read) and the answer then replaces the very file the question named.
TEST_F(FileCommandsTest, QuestionLeavesTheWindowWorkingAndItsAnswerGoesOnWithTheNamedFile)
{
    window->SetOperationUi(nullptr); // the window's own boxes
    Select({"a.txt"});
    window->DoFileOperation(FO_COPY);
    QMessageBox* box = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        const auto ops = window->Work().Operations();
        return !ops.empty() && (box = window->Work().QuestionOf(ops.front().get())) != nullptr && box->isVisible();
    }));
    EXPECT_EQ(window->Work().Operations().front()->State(), OperationState::Waiting);
    EXPECT_TRUE(box->text().contains(QString::fromStdString(root + "/right/a.txt")));
    EXPECT_EQ(Content(root + "/right/a.txt"), "old");

    // Meanwhile: into "dir" on the left, a new file there shows; the right is re-read.
    std::ofstream(root + "/left/dir/more") << "y";
    Left()->SetCurrentRow(Row(Left(), "dir"));
    window->OpenEntryOf(Left());
    test::WaitForReads(*window);
    EXPECT_GE(Row(Left(), "more"), 0);
    window->SetActivePane(window->RightPane());
    window->BTNRefreshClick();
    test::WaitForReads(*window);
    EXPECT_EQ(window->OperationsRunning(), 1);

    box->button(QMessageBox::Yes)->click();
    test::WaitForOperations(*window);
    EXPECT_EQ(Content(root + "/right/a.txt"), "new");
    EXPECT_FALSE(fs::exists(root + "/right/more")) << "the answer went to the file now under the cursor";
    EXPECT_GE(Row(Left(), "more"), 0) << "the left pane stays where the user went";
}

// Quitting while an operation waits on its question, and while another is
// paused: both end cancelled, the box goes, nothing more is written.
TEST_F(FileCommandsTest, QuittingCancelsOperationsWaitingOnAQuestionOrPaused)
{
    MakeManyFiles(root + "/left/many", 1500);
    window->SetOperationUi(nullptr);
    window->Settings().UseAsyncShell = true;
    window->BTNRefreshClick();
    test::WaitForReads(*window);
    Select({"many"});
    window->DoFileOperation(FO_COPY);
    ASSERT_EQ(window->Work().Operations().size(), 1u);
    const std::shared_ptr<Operation> paused = window->Work().Operations().front();
    paused->Pause();
    window->Settings().UseAsyncShell = false;
    Select({"a.txt"});
    window->DoFileOperation(FO_COPY);
    QPointer<QMessageBox> box;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        const auto ops = window->Work().Operations();
        return ops.size() == 2 && (box = window->Work().QuestionOf(ops.back().get())) != nullptr;
    }));
    const std::shared_ptr<Operation> waiting = window->Work().Operations().back();
    EXPECT_NE(paused->State(), OperationState::Done);

    window->FinishBackgroundOperations();
    EXPECT_EQ(paused->State(), OperationState::Cancelled);
    EXPECT_EQ(waiting->State(), OperationState::Cancelled);
    EXPECT_TRUE(QTest::qWaitFor([&] { return box.isNull(); }));
    EXPECT_EQ(Content(root + "/right/a.txt"), "old");
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->OperationsRunning() == 0; }));
    EXPECT_FALSE(fs::exists(root + "/right/many/d14/f1499"));
}

// With the queue on, a second copy onto the same disk waits for the first;
// the Operations window shows both, pauses the first and cancels it, and the
// second then runs.
TEST_F(FileCommandsTest, OperationsWindowPausesAndCancelsAndTheQueueLetsTheNextCopyGo)
{
    MakeManyFiles(root + "/left/many", 1500);
    window->Settings().UseAsyncShell = true;
    window->Settings().QueuePerVolume = true;
    window->BTNRefreshClick();
    test::WaitForReads(*window);
    Select({"many"});
    window->DoFileOperation(FO_COPY);
    Select({"dir"});
    window->DoFileOperation(FO_COPY);
    const auto ops = window->Work().Operations();
    ASSERT_EQ(ops.size(), 2u);
    EXPECT_EQ(ops[1]->State(), OperationState::Queued);

    window->Action("Operations")->trigger();
    OperationsWindow* shown = window->OperationsShown();
    ASSERT_NE(shown, nullptr);
    ASSERT_EQ(shown->List()->topLevelItemCount(), 2);
    EXPECT_EQ(shown->List()->topLevelItem(1)->text(1), "Queued");
    shown->List()->setCurrentItem(shown->List()->topLevelItem(0));
    QTest::mouseClick(shown->PauseButton(), Qt::LeftButton);
    EXPECT_TRUE(ops[0]->PauseRequested());
    EXPECT_TRUE(QTest::qWaitFor([&] { return ops[0]->State() == OperationState::Paused; }));
    EXPECT_EQ(shown->PauseButton()->text(), "&Resume");
    EXPECT_EQ(ops[1]->State(), OperationState::Queued) << "the queued copy went while the first was paused";

    QTest::mouseClick(shown->CancelButton(), Qt::LeftButton);
    test::WaitForOperations(*window);
    EXPECT_EQ(ops[0]->State(), OperationState::Cancelled);
    EXPECT_EQ(ops[1]->State(), OperationState::Done);
    EXPECT_TRUE(fs::exists(root + "/right/dir/inner"));
    EXPECT_FALSE(fs::exists(root + "/right/many/d14/f1499"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown->List()->topLevelItemCount() == 0; }));
}

// The one progress dialog: shown once the copy has run a while, it pauses,
// resumes and cancels the copy it shows, and goes when the copy has ended.
TEST_F(FileCommandsTest, ProgressDialogPausesResumesAndCancels)
{
    MakeManyFiles(root + "/left/many", 1500);
    window->Work().SetProgressDelayMs(0);
    window->BTNRefreshClick();
    test::WaitForReads(*window);
    Select({"many"});
    window->DoFileOperation(FO_COPY);
    ASSERT_EQ(window->Work().Operations().size(), 1u);
    const std::shared_ptr<Operation> copy = window->Work().Operations().front();
    QPointer<OperationProgressDialog> dialog;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (dialog = window->Work().ProgressDialogOf(copy.get())) != nullptr; }));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->isModal()) << "the window goes on working";

    QTest::mouseClick(dialog->PauseButton(), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return copy->State() == OperationState::Paused; }));
    EXPECT_EQ(dialog->PauseButton()->text(), "Resume");
    QTest::mouseClick(dialog->PauseButton(), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return copy->State() == OperationState::Running || Finished(copy->State()); }));
    if (!Finished(copy->State()))
        QTest::mouseClick(dialog->CancelButton(), Qt::LeftButton);
    test::WaitForOperations(*window);
    EXPECT_TRUE(dialog.isNull());
    EXPECT_NE(copy->State(), OperationState::Failed);
}
