// Commands on a file whose server has gone away: describing it, its
// properties, saving it from the editor and opening it with its application.
// Each looks at the file on a worker; the window's thread never waits on the
// mount, and the answer arrives after the mount's sleep.
#include "fuse/SleepyMount.h"
#include "fuse/StallMeter.h"

#include "app/DescriptionDialog.h"
#include "app/MainWindow.h"
#include "app/RecordedMessages.h"
#include "app/components/InstanceBlock.h"
#include "app/components/TestEnvironment.h"
#include "fileops/PropertiesDialog.h"
#include "panes/DirData.h"
#include "viewer/EditorForm.h"
#include "viewer/TextView.h"
#include "viewer/WhenEditing.h"
#include "widgets/PaneView.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarnel;
using namespace tarnel::test;
namespace fs = std::filesystem;

namespace {

constexpr unsigned kSleepSeconds = 2;
// A wait on the mount blocks for the whole sleep; the loaded machine's own
// stalls stay well below half of it.
constexpr double kLongestWaitMs = 1000.0 * kSleepSeconds / 2;
// Enough for a read of the mount's folder: several answers in a row.
constexpr int kAnswerTimeoutMs = 12 * 1000 * int(kSleepSeconds) + 5000;

class FilesOnADeadMountTest : public ::testing::Test {
protected:
    std::string root, mountPoint, file;
    EnvGuard env;
    std::unique_ptr<InstanceBlock> block;
    std::unique_ptr<MainWindow> window;
    RecordedMessages* messages = nullptr;
    StallMeter meter;

    void SetUp() override
    {
        if (!MountSpaceProblem().empty())
            GTEST_SKIP() << "no FUSE mount here: " << MountSpaceProblem();
        char tmpl[] = "/tmp/tarnel-deadfiles-XXXXXX";
        root = mkdtemp(tmpl);
        fs::create_directories(root + "/right");
        mountPoint = root + "/share";
        file = mountPoint + "/file.txt";
        env.Set("XDG_STATE_HOME", root + "/state"); // where a save keeps a copy it could not place
        qputenv("TARNEL_INSTANCE_TAG", QByteArray("-deadfiles-") + QByteArray::number(getpid()));
        block = std::make_unique<InstanceBlock>();
        std::string error;
        ASSERT_TRUE(block->Open(&error)) << error;
    }

    void TearDown() override
    {
        window.reset();
        block.reset();
        if (!root.empty())
            fs::remove_all(root); // the share is unmounted by now: nothing here waits
    }

    // The window with its left pane on the mount, the cursor on its file.
    void StartOnTheMount()
    {
        StartOptions options;
        options.leftDir = mountPoint;
        options.rightDir = root + "/right";
        window = std::make_unique<MainWindow>(options, block.get());
        auto recorded = std::make_unique<RecordedMessages>();
        messages = recorded.get();
        window->SetMessages(std::move(recorded));
        window->resize(1000, 600);
        window->show();
        PaneView* pane = window->LeftPane();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !pane->Data().Reading() && FileRow() >= 0; }, kAnswerTimeoutMs))
            << "the mount's folder was not listed";
        pane->SetCurrentRow(FileRow());
        pane->SetSelected(FileRow(), true);
        window->LeftPane()->List()->setFocus();
    }

    int FileRow() const
    {
        const TDirData& data = window->LeftPane()->Data();
        for (int i = 0; i < data.Count; ++i)
            if (data.Item(i).Name == "file.txt")
                return i;
        return -1;
    }

    void ExpectNoWait()
    {
        meter.Stop();
        EXPECT_LT(meter.LongestWaitMs(), kLongestWaitMs) << "longest gap " << meter.LongestGapMs() << " ms\n"
                                                         << meter.LongGaps();
    }
};

TEST_F(FilesOnADeadMountTest, DescribeShowsTheDialogOnceTheFileHasAnswered)
{
    SleepyMount share(mountPoint, kSleepSeconds);
    ASSERT_TRUE(share.Mounted()) << share.Problem();
    StartOnTheMount();

    // The dialog is modal: it is looked for, and cancelled, from inside its loop.
    QElapsedTimer sinceClick;
    qint64 shownAfterMs = -1;
    QTimer cancel;
    cancel.setInterval(20);
    QObject::connect(&cancel, &QTimer::timeout, [&] {
        if (auto* dialog = window->findChild<DescriptionDialog*>(); dialog && dialog->isVisible()) {
            shownAfterMs = sinceClick.elapsed();
            dialog->reject();
        }
    });
    cancel.start();
    meter.Start();
    sinceClick.start();
    window->CommandButton("BTNDescribe")->click();
    EXPECT_EQ(window->findChild<DescriptionDialog*>(), nullptr) << "shown before the file could answer";
    ASSERT_TRUE(QTest::qWaitFor([&] { return shownAfterMs >= 0; }, kAnswerTimeoutMs));
    EXPECT_GE(shownAfterMs, 1000 * int(kSleepSeconds) - 100);
    ExpectNoWait();
    EXPECT_TRUE(messages->log.isEmpty()) << messages->log.join('\n').toStdString();
}

TEST_F(FilesOnADeadMountTest, PropertiesOpenAtOnceAndFillInLater)
{
    SleepyMount share(mountPoint, kSleepSeconds);
    ASSERT_TRUE(share.Mounted()) << share.Problem();
    meter.Start();
    auto dialog = std::make_unique<PropertiesDialog>(std::vector<std::string>{file});
    meter.Measure([&] { dialog->show(); });
    EXPECT_EQ(dialog->RowText("Name:"), "file.txt");
    EXPECT_EQ(dialog->RowText("Type:"), "…");
    EXPECT_FALSE(dialog->TotalsDone());
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->FactsDone() && dialog->TotalsDone(); }, kAnswerTimeoutMs));
    EXPECT_TRUE(dialog->RowText("Permissions:").startsWith("rw-r--r--")) << dialog->RowText("Permissions:").toStdString();
    EXPECT_TRUE(dialog->TotalsText().endsWith("(6 bytes), 1 files, 0 folders")) << dialog->TotalsText().toStdString();

    // Closed while its looks still wait on the mount: nothing waits for them.
    QElapsedTimer closing;
    meter.Measure([&] {
        dialog = std::make_unique<PropertiesDialog>(std::vector<std::string>{mountPoint});
        closing.start();
        dialog.reset();
    });
    EXPECT_LT(closing.elapsed(), 500);
    QTest::qWait(1000 * int(kSleepSeconds) + 500); // their answers come for nobody
    ExpectNoWait();
}

TEST_F(FilesOnADeadMountTest, TheEditorSavesWithoutWaitingAndCloseWaitsForTheAnswer)
{
    SleepyMount share(mountPoint, kSleepSeconds);
    ASSERT_TRUE(share.Mounted()) << share.Problem();
    RecordedMessages said;
    Teditorform editor;
    editor.SetMessages(&said);
    editor.Load(file, EditedText("hello\n"), nullptr);
    editor.show();
    editor.memo1->moveCursor(QTextCursor::End);
    editor.memo1->insertPlainText("more");

    meter.Start();
    editor.SaveCloseItem->trigger();
    EXPECT_TRUE(editor.Saving());
    EXPECT_TRUE(editor.memo1->isReadOnly());
    EXPECT_FALSE(editor.SaveCloseItem->isEnabled()) << "a second save while one is under way";
    EXPECT_FALSE(editor.QuitItem->isEnabled());
    const auto* state = editor.findChild<QLabel*>("SaveState");
    ASSERT_NE(state, nullptr);
    EXPECT_TRUE(state->isVisible());
    EXPECT_TRUE(state->text().startsWith("Saving " + QString::fromStdString(file)));
    editor.close(); // waits for the answer
    EXPECT_TRUE(editor.isVisible());

    ASSERT_TRUE(QTest::qWaitFor([&] { return !editor.Saving(); }, kAnswerTimeoutMs));
    // The mount takes no writes: the user is told, the text stays to be saved elsewhere.
    ASSERT_EQ(said.log.size(), 1);
    EXPECT_TRUE(said.log[0].startsWith("error: ")) << said.log[0].toStdString();
    EXPECT_TRUE(editor.isVisible());
    EXPECT_FALSE(editor.memo1->isReadOnly());
    EXPECT_TRUE(editor.SaveCloseItem->isEnabled());
    EXPECT_EQ(editor.memo1->toPlainText(), "hello\nmore");
    ExpectNoWait();
}

TEST_F(FilesOnADeadMountTest, TheEditorReadsTheFileWithoutWaiting)
{
    SleepyMount share(mountPoint, kSleepSeconds);
    ASSERT_TRUE(share.Mounted()) << share.Problem();
    RecordedMessages said;
    TTextView view;
    view.SetMessages(&said);
    // Showing the file is the view's own affair (painting reads its lines
    // on this thread): the view stays hidden, the edit command starts here.
    view.SetFilename(file);
    view.SetActive(true);
    view.FinishIndex();
    ASSERT_TRUE(view.Active());

    QElapsedTimer sinceEdit;
    qint64 shownAfterMs = -1;
    QString loaded;
    WhenEditorShown(view, [&](Teditorform& editor) {
        meter.Stop();
        shownAfterMs = sinceEdit.elapsed();
        loaded = editor.memo1->toPlainText();
        editor.QuitItem->trigger();
    }, kAnswerTimeoutMs);
    meter.Start();
    sinceEdit.start();
    EXPECT_FALSE(view.EditFile());
    EXPECT_EQ(loaded, "hello\n");
    EXPECT_GE(shownAfterMs, 1000 * int(kSleepSeconds) - 100);
    ExpectNoWait();
    EXPECT_TRUE(said.log.isEmpty()) << said.log.join('\n').toStdString();
}

TEST_F(FilesOnADeadMountTest, OpenFindsAndStartsTheApplicationOnAWorker)
{
    for (const char* d : {"config", "home/applications", "system"})
        fs::create_directories(root + "/" + d);
    fs::create_symlink("/usr/share/mime", root + "/system/mime");
    env.Set("XDG_CONFIG_HOME", root + "/config");
    env.Set("XDG_CONFIG_DIRS", root + "/config");
    env.Set("XDG_DATA_HOME", root + "/home");
    env.Set("XDG_DATA_DIRS", root + "/system");
    const std::string args = root + "/args";
    env.Set("ARGS_OUT", args);
    const std::string script = root + "/record-args";
    std::ofstream(script) << "#!/bin/sh\nprintf '<%s>' \"$@\" > \"$ARGS_OUT.tmp\"\nmv \"$ARGS_OUT.tmp\" \"$ARGS_OUT\"\n";
    ::chmod(script.c_str(), 0755);
    std::ofstream(root + "/home/applications/recorder.desktop")
        << "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" + script + " %f\n";
    std::ofstream(root + "/config/mimeapps.list") << "[Default Applications]\ntext/plain=recorder.desktop\n";

    SleepyMount share(mountPoint, kSleepSeconds);
    ASSERT_TRUE(share.Mounted()) << share.Problem();
    StartOnTheMount();
    meter.Start();
    QElapsedTimer sinceClick;
    sinceClick.start();
    window->CommandButton("BTNOpen")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(args); }, kAnswerTimeoutMs)) << "the application never started";
    EXPECT_GE(sinceClick.elapsed(), 1000 * int(kSleepSeconds) - 100);
    std::ifstream in(args);
    std::ostringstream got;
    got << in.rdbuf();
    EXPECT_EQ(got.str(), "<" + file + ">");
    ExpectNoWait();
    EXPECT_TRUE(messages->log.isEmpty()) << messages->log.join('\n').toStdString();
}

} // namespace
