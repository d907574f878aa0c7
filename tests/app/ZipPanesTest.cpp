// Archives in the real window: entering one, copying out of and into it,
// deleting members, "To zip", and viewing a member through the driver.
#include "app/MainWindow.h"
#include "app/ModalAnswerer.h"
#include "app/PaneReads.h"
#include "app/RecordedMessages.h"
#include "fileops/NameDialogs.h"
#include "fileops/TargetDialog.h"
#include "fileops/model/ZipFileOperation.h"
#include "fileops/model/ZipMaster.h"
#include "panes/ReadDirectory.h"
#include "platform/ShellFileOperation.h"
#include "viewer/ViewerHost.h"
#include "widgets/PaneView.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QPushButton>
#include <QStatusBar>
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

class ZipPanesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-zippanes-XXXXXX";
        root = mkdtemp(tmpl);
        fs::create_directories(root + "/left/pack/docs");
        fs::create_directories(root + "/right");
        std::ofstream(root + "/left/pack/docs/c.txt") << "inner";
        std::ofstream(root + "/left/pack/top.txt") << "top";
        ASSERT_EQ(std::system(("cd '" + root + "/left/pack' && zip -qr ../data.zip docs top.txt").c_str()), 0);
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
    PaneView* Right() { return window->RightPane(); }
    int Row(PaneView* pane, const std::string& name)
    {
        EXPECT_TRUE(test::PaneRead(pane->Data())) << "the pane's read did not finish";
        for (int i = 0; i < pane->Data().Count; ++i)
            if (pane->Data().Item(i).Name == name)
                return i;
        return -1;
    }
    void Select(PaneView* pane, const std::vector<std::string>& names)
    {
        pane->SetRangeSelected(0, pane->Data().Count - 1, false);
        for (const std::string& n : names)
            pane->SetSelected(Row(pane, n), true);
    }
    void Enter(PaneView* pane, const std::string& name)
    {
        EXPECT_TRUE(test::PaneRead(pane->Data())) << "the pane's read did not finish";
        pane->SetCurrentRow(Row(pane, name));
        window->OpenEntryOf(pane);
    }
    std::vector<std::string> Members(const std::string& archive)
    {
        window->Zip().SetZipFilename(archive);
        std::vector<std::string> names;
        for (const ZipDirEntry& e : window->Zip().ZipContents())
            names.push_back(e.FileName);
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string root;
    std::unique_ptr<MainWindow> window;
    test::RecordedMessages* messages = nullptr;
};

TEST_F(ZipPanesTest, CopyOutOfAndDeleteInsideAnArchive)
{
    window->Settings().ConfirmCopyTarget = false; // the target dialog has a test of its own
    Enter(Left(), "data.zip");
    ASSERT_EQ(Left()->Data().ZipMode, 1);
    ASSERT_GE(Row(Left(), "docs"), 0);
    Enter(Left(), "docs");
    EXPECT_EQ(Left()->Data().ZipPath, "docs/");
    window->SetActivePane(Left());
    Select(Left(), {"c.txt"});
    QTest::mouseClick(window->CommandButton("BTNCopy"), Qt::LeftButton);
    test::WaitForOperations(*window);
    EXPECT_EQ(Slurp(root + "/right/docs/c.txt"), "inner");
    EXPECT_GE(Row(Right(), "docs"), 0) << "the target was re-read";
    EXPECT_FALSE(window->statusBar()->currentMessage().isEmpty()) << "library messages go to the status bar";

    Select(Left(), {"c.txt"});
    window->DoFileOperation(FO_RENAME);
    test::WaitForOperations(*window);
    EXPECT_EQ(messages->log, QStringList{QString("information: ") + kRenameInZipText});

    window->DoFileOperation(FO_DELETE);
    test::WaitForOperations(*window);
    EXPECT_EQ(Row(Left(), "c.txt"), -1) << "the archive pane was re-read";
    EXPECT_EQ(Members(root + "/left/data.zip"), (std::vector<std::string>{"docs/", "top.txt"}));
    EXPECT_EQ(std::system(("unzip -tqq '" + root + "/left/data.zip' >/dev/null").c_str()), 0);
}

TEST_F(ZipPanesTest, ToZipMakesAnArchiveInTheOtherPaneAndFillsIt)
{
    ASSERT_TRUE(window->Settings().ConfirmCopyTarget);
    // The archive's name was the target: its copy asks nothing more.
    test::ModalAnswerer unexpected([](QWidget* modal) {
        ADD_FAILURE() << "asked: " << modal->metaObject()->className();
        static_cast<QDialog*>(modal)->reject();
    });
    window->SetActivePane(Left());
    Select(Left(), {"pack"});
    window->SetNameDialogRunner([](QDialog& d) {
        static_cast<NewDirDialog&>(d).NameEdit()->setText("made");
        return int(QDialog::Accepted);
    });
    QTest::mouseClick(window->CommandButton("BTNToZip"), Qt::LeftButton);
    test::WaitForOperations(*window);
    const std::string made = root + "/right/made.ZIP";
    EXPECT_EQ(Right()->Data().ZipMode, 1);
    EXPECT_EQ(Right()->Data().Path, made + "/");
    EXPECT_GE(Row(Right(), "pack"), 0);
    EXPECT_EQ(Members(made), (std::vector<std::string>{"pack/", "pack/docs/", "pack/docs/c.txt", "pack/top.txt"}));
    EXPECT_EQ(std::system(("unzip -tqq '" + made + "' >/dev/null").c_str()), 0);
    EXPECT_TRUE(fs::exists(root + "/left/pack/top.txt")) << "a copy, not a move";

    // Between two archive panes nothing happens.
    Enter(Left(), "data.zip");
    Select(Left(), {"top.txt"});
    window->DoFileOperation(FO_COPY);
    test::WaitForOperations(*window);
    EXPECT_EQ(messages->log.back(), QString("information: ") + kBetweenZipsText);
}

// Copies out of and into an archive show their target first, as disk
// copies do; out of one it may be changed to another folder of the disk.
TEST_F(ZipPanesTest, CopiesBetweenAnArchiveAndTheDiskConfirmTheirTarget)
{
    ASSERT_TRUE(window->Settings().ConfirmCopyTarget);
    Enter(Left(), "data.zip");
    window->SetActivePane(Left());
    auto copyAnswering = [&](const std::function<void(TargetDialog*)>& answer) {
        Select(window->ActivePane(), {"top.txt"});
        test::ModalAnswerer answerer([&](QWidget* modal) {
            auto* dialog = qobject_cast<TargetDialog*>(modal);
            if (!dialog) { // a message after the dialog
                static_cast<QDialog*>(modal)->reject();
                return;
            }
            answer(dialog);
        });
        QTest::mouseClick(window->CommandButton("BTNCopy"), Qt::LeftButton);
        test::WaitForOperations(*window);
        return answerer.seen;
    };
    EXPECT_EQ(copyAnswering([&](TargetDialog* dialog) {
                  EXPECT_FALSE(dialog->TargetEdit()->isReadOnly());
                  EXPECT_EQ(dialog->TargetEdit()->text(), QString::fromStdString(root + "/right/"));
                  EXPECT_TRUE(dialog->findChild<QLabel*>("LBTarget")->text().contains("top.txt"));
                  QTest::keyClick(dialog->TargetEdit(), Qt::Key_Escape);
              }),
              1);
    EXPECT_FALSE(fs::exists(root + "/right/top.txt"));

    fs::create_directories(root + "/elsewhere");
    copyAnswering([&](TargetDialog* dialog) {
        dialog->TargetEdit()->setText(QString::fromStdString(root + "/elsewhere"));
        QTest::keyClick(dialog->TargetEdit(), Qt::Key_Return);
    });
    EXPECT_EQ(Slurp(root + "/elsewhere/top.txt"), "top");
    EXPECT_FALSE(fs::exists(root + "/right/top.txt"));

    // A folder that is not there: said so, nothing written anywhere.
    messages->log.clear();
    copyAnswering([&](TargetDialog* dialog) {
        dialog->TargetEdit()->setText(QString::fromStdString(root + "/missing"));
        QTest::keyClick(dialog->TargetEdit(), Qt::Key_Return);
    });
    EXPECT_FALSE(fs::exists(root + "/missing"));
    EXPECT_TRUE(messages->log.join("\n").contains("does not exist")) << messages->log.join("\n").toStdString();

    // Into the archive: the other pane's folder in it, shown and kept.
    std::ofstream(root + "/right/new.txt") << "new";
    ReadDirectory(Right()->Data());
    window->SetActivePane(Right());
    Select(Right(), {"new.txt"});
    test::ModalAnswerer into([&](QWidget* modal) {
        auto* dialog = qobject_cast<TargetDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(dialog->TargetEdit()->isReadOnly());
        EXPECT_EQ(dialog->TargetEdit()->text(), QString::fromStdString(Left()->Data().Place().Text()));
        QTest::keyClick(dialog->TargetEdit(), Qt::Key_Return);
    });
    QTest::mouseClick(window->CommandButton("BTNCopy"), Qt::LeftButton);
    test::WaitForOperations(*window);
    EXPECT_EQ(into.seen, 1);
    EXPECT_EQ(Members(root + "/left/data.zip"),
              (std::vector<std::string>{"docs/", "docs/c.txt", "new.txt", "top.txt"}));
}

// The error box comes once the listing is whole, with what could be read.
TEST_F(ZipPanesTest, ADamagedArchiveListsWhatCanBeReadThenSaysSo)
{
    const std::string whole = Slurp(root + "/left/data.zip");
    std::ofstream(root + "/left/cut.zip", std::ios::binary) << whole.substr(0, whole.find("top.txt") + 3);
    ReadDirectory(Left()->Data());
    Enter(Left(), "cut.zip");
    EXPECT_TRUE(messages->log.isEmpty()) << "no box inside the listing";
    EXPECT_GE(Row(Left(), "docs"), 0);
    QApplication::processEvents();
    EXPECT_EQ(messages->log, QStringList{"error: Error 2 reading Zip file"});
}

TEST_F(ZipPanesTest, AMemberIsViewedThroughItsCopy)
{
    Enter(Left(), "data.zip");
    const std::string dir = root + "/view/";
    fs::create_directories(dir);
    const ZipMemberExtractor& extract = window->Viewer()->ZipExtractor();
    ASSERT_TRUE(extract);
    ASSERT_TRUE(extract(root + "/left/data.zip", "docs/c.txt", dir));
    EXPECT_EQ(Slurp(dir + "c.txt"), "inner") << "stored folder names are off";
    std::ofstream(dir + "c.txt") << "stale";
    ASSERT_TRUE(extract(root + "/left/data.zip", "docs/c.txt", dir));
    EXPECT_EQ(Slurp(dir + "c.txt"), "inner") << "the copy is always overwritten";
    EXPECT_FALSE(extract(root + "/left/data.zip", "missing.txt", dir));
}

// Copying a member over a file asks the disk copy's question, with both
// files' sizes and times; No keeps the file on disk.
TEST_F(ZipPanesTest, CopyingOutOverAFileAsksFirst)
{
    window->Settings().ConfirmCopyTarget = false; // the target dialog has a test of its own
    std::ofstream(root + "/right/top.txt") << "newer text on disk";
    ReadDirectory(Right()->Data());
    Enter(Left(), "data.zip");
    window->SetActivePane(Left());
    Select(Left(), {"top.txt"});
    QString question;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        question = box->text();
        box->button(QMessageBox::No)->click();
    });
    answer.start(5);
    window->DoFileOperation(FO_COPY);
    test::WaitForOperations(*window);
    answer.stop();
    EXPECT_EQ(Slurp(root + "/right/top.txt"), "newer text on disk");
    EXPECT_TRUE(question.contains("top.txt already exists")) << question.toStdString();
    EXPECT_TRUE(question.contains("Existing file: 18 bytes")) << question.toStdString();
    EXPECT_TRUE(question.contains("From the archive: 3 bytes")) << question.toStdString();
}

} // namespace
