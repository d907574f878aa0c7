// Archives other than ZIP in the real window: Enter opens one by its name or
// its content, folders inside it, a nested archive through its copy, and
// members copied out and viewed.
#include "app/MainWindow.h"
#include "app/PaneReads.h"
#include "app/RecordedMessages.h"
#include "fileops/model/ZipMaster.h"
#include "platform/ShellFileOperation.h"
#include "panes/ReadDirectory.h"
#include "viewer/ViewerHost.h"
#include "widgets/PaneView.h"
#include "app/TryWait.h"

#include <QApplication>
#include <QListView>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class ArchivePanesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-archivepanes-XXXXXX";
        root = mkdtemp(tmpl);
        fs::create_directories(root + "/left/pack/docs");
        fs::create_directories(root + "/right");
        std::ofstream(root + "/left/pack/docs/c.txt") << "inner";
        std::ofstream(root + "/left/pack/top.txt") << "top";
        const std::string pack = "cd '" + root + "/left/pack' && ";
        ASSERT_EQ(std::system((pack + "bsdtar -czf ../data.tar.gz docs top.txt").c_str()), 0);
        ASSERT_EQ(std::system((pack + "bsdtar -cJf ../renamed.bin docs").c_str()), 0);
        ASSERT_EQ(std::system((pack + "cp ../data.tar.gz inner.tar.gz && bsdtar -cf ../outer.tar inner.tar.gz top.txt && "
                                      "zip -q ../outer.zip inner.tar.gz && rm inner.tar.gz")
                                  .c_str()),
                  0);
        StartOptions options;
        options.independent = true;
        options.leftDir = root + "/left";
        options.rightDir = root + "/right";
        window = std::make_unique<MainWindow>(options, nullptr);
        window->Zip().OwnLibraryDirectory = TARNEL_ZIP_LIBRARY_DIR;
        auto recorded = std::make_unique<test::RecordedMessages>();
        messages = recorded.get();
        window->SetMessages(std::move(recorded));
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
    // Enter pressed on the row, as the user does.
    void Enter(PaneView* pane, const std::string& name)
    {
        const int row = Row(pane, name);
        ASSERT_GE(row, 0) << name;
        window->SetActivePane(pane);
        pane->SetCurrentRow(row);
        pane->List()->setFocus();
        QTest::keyClick(pane->List(), Qt::Key_Return);
    }
    std::vector<std::string> Names(PaneView* pane)
    {
        EXPECT_TRUE(test::PaneRead(pane->Data()));
        std::vector<std::string> names;
        for (int i = 0; i < pane->Data().Count; ++i)
            if (pane->Data().Item(i).Kind != fkDrive)
                names.push_back(pane->Data().Item(i).Name);
        return names;
    }

    std::string root;
    std::unique_ptr<MainWindow> window;
    test::RecordedMessages* messages = nullptr;
};

TEST_F(ArchivePanesTest, EnterOpensACompressedTarAndItsFoldersThenLeavesIt)
{
    Enter(Left(), "data.tar.gz");
    test::WaitForReads(*window);
    EXPECT_EQ(Left()->Data().Source(), std::string(kArchiveSourceName));
    EXPECT_EQ(Names(Left()), (std::vector<std::string>{"..", "docs", "top.txt"}));
    Enter(Left(), "docs");
    EXPECT_EQ(Left()->Data().ZipPath, "docs/");
    EXPECT_EQ(Names(Left()), (std::vector<std::string>{"..", "c.txt"}));

    window->Settings().ConfirmCopyTarget = false;
    Left()->SetSelected(Row(Left(), "c.txt"), true);
    window->DoFileOperation(FO_COPY);
    test::WaitForOperations(*window);
    EXPECT_EQ(Slurp(root + "/right/c.txt"), "inner");
    EXPECT_GE(Row(window->RightPane(), "c.txt"), 0) << "the target was re-read";

    Enter(Left(), "..");
    Enter(Left(), "..");
    test::WaitForReads(*window);
    EXPECT_FALSE(Left()->Data().InArchive());
    EXPECT_EQ(Left()->Data().Item(Left()->CurrentRow()).Name, "data.tar.gz") << "the cursor is on the archive";
    EXPECT_TRUE(messages->log.isEmpty()) << messages->log.join("\n").toStdString();
}

TEST_F(ArchivePanesTest, ATarTakesFilesInGivesMembersUpOnAMoveAndLosesThemOnADelete)
{
    fs::copy_file(root + "/left/data.tar.gz", root + "/right/data.tar.gz");
    std::ofstream(root + "/left/new.txt") << "fresh";
    PaneView* right = window->RightPane();
    window->Settings().ConfirmCopyTarget = false;
    for (PaneView* pane : {Left(), right}) {
        pane->List()->setFocus();
        QTest::keyClick(pane->List(), Qt::Key_R, Qt::ControlModifier);
    }
    test::WaitForReads(*window);
    Enter(right, "data.tar.gz");
    test::WaitForReads(*window);
    ASSERT_EQ(right->Data().Source(), std::string(kArchiveSourceName));

    // A copy in, from the disk pane.
    window->SetActivePane(Left());
    ASSERT_GE(Row(Left(), "new.txt"), 0);
    Left()->SetSelected(Row(Left(), "new.txt"), true);
    window->DoFileOperation(FO_COPY);
    test::WaitForOperations(*window);
    test::WaitForReads(*window);
    EXPECT_EQ(Names(right), (std::vector<std::string>{"..", "docs", "new.txt", "top.txt"}));
    EXPECT_TRUE(fs::exists(root + "/left/new.txt")) << "a copy keeps its source";

    // A move out: the member reaches the disk, then leaves the archive.
    window->SetActivePane(right);
    right->SetSelected(Row(right, "top.txt"), true);
    window->DoFileOperation(FO_MOVE);
    test::WaitForOperations(*window);
    test::WaitForReads(*window);
    EXPECT_EQ(Slurp(root + "/left/top.txt"), "top");
    EXPECT_EQ(Row(right, "top.txt"), -1);

    // A delete.
    right->SetSelected(Row(right, "new.txt"), true);
    window->DoFileOperation(FO_DELETE);
    test::WaitForOperations(*window);
    test::WaitForReads(*window);
    EXPECT_EQ(Names(right), (std::vector<std::string>{"..", "docs"}));
    EXPECT_EQ(std::system(("bsdtar -tzf '" + root + "/right/data.tar.gz' >/dev/null").c_str()), 0);
    EXPECT_TRUE(messages->log.isEmpty()) << messages->log.join("\n").toStdString();
}

TEST_F(ArchivePanesTest, TestArchiveReadsItOnTheRunnerAndSaysWhatItFound)
{
    const std::string whole = Slurp(root + "/left/data.tar.gz");
    std::ofstream(root + "/left/cut.tar.gz", std::ios::binary) << whole.substr(0, whole.size() / 2);
    window->SetActivePane(Left());
    Left()->List()->setFocus();
    QTest::keyClick(Left()->List(), Qt::Key_R, Qt::ControlModifier);
    test::WaitForReads(*window);
    Left()->SetCurrentRow(Row(Left(), "data.tar.gz"));
    window->TestArchiveClick();
    test::WaitForOperations(*window);
    ASSERT_EQ(messages->log.size(), 1);
    EXPECT_TRUE(messages->log[0].startsWith("information: No errors")) << messages->log[0].toStdString();

    messages->log.clear();
    Left()->SetCurrentRow(Row(Left(), "cut.tar.gz"));
    window->TestArchiveClick();
    test::WaitForOperations(*window);
    ASSERT_EQ(messages->log.size(), 1);
    EXPECT_TRUE(messages->log[0].startsWith("warning: Errors were found")) << messages->log[0].toStdString();

    // Inside the archive, the archive itself is tested.
    messages->log.clear();
    Enter(Left(), "data.tar.gz");
    test::WaitForReads(*window);
    window->TestArchiveClick();
    test::WaitForOperations(*window);
    ASSERT_EQ(messages->log.size(), 1);
    EXPECT_TRUE(messages->log[0].startsWith("information: No errors")) << messages->log[0].toStdString();
}

TEST_F(ArchivePanesTest, ContentTellsAnArchiveWhoseNameDoesNot)
{
    Enter(Left(), "renamed.bin");
    TRY_VERIFY_WITH_TIMEOUT(Left()->Data().InArchive(), 20000);
    EXPECT_EQ(Names(Left()), (std::vector<std::string>{"..", "docs"}));
}

TEST_F(ArchivePanesTest, ANestedArchiveOpensThroughACopyOfItAndUpLeadsBack)
{
    for (const char* outer : {"outer.tar", "outer.zip"}) {
        SCOPED_TRACE(outer);
        Enter(Left(), outer);
        test::WaitForReads(*window);
        ASSERT_GE(Row(Left(), "inner.tar.gz"), 0);
        Enter(Left(), "inner.tar.gz");
        TRY_VERIFY_WITH_TIMEOUT(Left()->Data().ZipMode == 2, 20000);
        EXPECT_EQ(Names(Left()), (std::vector<std::string>{"..", "docs", "top.txt"}));
        EXPECT_NE(Left()->Data().Path.find("orvtmp"), std::string::npos) << "a private copy: " << Left()->Data().Path;
        Enter(Left(), "..");
        test::WaitForReads(*window);
        EXPECT_EQ(Left()->Data().ZipMode, 1);
        EXPECT_EQ(Left()->Data().ArchiveFile(), root + "/left/" + outer);
        EXPECT_EQ(Left()->Data().Item(Left()->CurrentRow()).Name, "inner.tar.gz");
        Enter(Left(), "..");
        test::WaitForReads(*window);
        ASSERT_FALSE(Left()->Data().InArchive());
    }
}

TEST_F(ArchivePanesTest, AMemberIsViewedThroughItsCopy)
{
    const std::string dir = root + "/view/";
    fs::create_directories(dir);
    const ZipMemberExtractor& extract = window->Viewer()->ZipExtractor();
    ASSERT_TRUE(extract);
    ASSERT_TRUE(extract(root + "/left/data.tar.gz", "docs/c.txt", dir));
    EXPECT_EQ(Slurp(dir + "c.txt"), "inner");
    std::ofstream(dir + "c.txt") << "stale";
    ASSERT_TRUE(extract(root + "/left/data.tar.gz", "docs/c.txt", dir));
    EXPECT_EQ(Slurp(dir + "c.txt"), "inner") << "the copy is always overwritten";
    EXPECT_FALSE(extract(root + "/left/data.tar.gz", "missing.txt", dir));
    ASSERT_TRUE(extract(root + "/left/outer.zip", "inner.tar.gz", dir)) << "a ZIP stays with its driver";

    // F3 on a member shows the copy in the viewer.
    Enter(Left(), "data.tar.gz");
    test::WaitForReads(*window);
    Left()->SetCurrentRow(Row(Left(), "top.txt"));
    QTest::keyClick(Left()->List(), Qt::Key_F3);
    TRY_VERIFY_WITH_TIMEOUT(window->Viewer()->IsOn(), 20000);
}

TEST_F(ArchivePanesTest, ADamagedArchiveListsWhatCanBeReadThenSaysSo)
{
    const std::string whole = Slurp(root + "/left/outer.tar");
    std::ofstream(root + "/left/cut.tar", std::ios::binary) << whole.substr(0, 1024 + 100);
    ReadDirectory(Left()->Data());
    Enter(Left(), "cut.tar");
    test::WaitForReads(*window);
    EXPECT_GE(Row(Left(), "inner.tar.gz"), 0);
    TRY_COMPARE_WITH_TIMEOUT(messages->log.size(), 1, 5000);
    EXPECT_TRUE(messages->log.front().startsWith("error: ")) << messages->log.front().toStdString();
}

} // namespace
