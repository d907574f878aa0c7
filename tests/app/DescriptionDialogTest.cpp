// The Describe command on real files, and the memo that keeps a description
// on one line.
#include "app/DescriptionDialog.h"
#include "app/UserMessages.h"
#include "panes/DirData.h"
#include "panes/HeadlessPane.h"
#include "panes/ReadDirectory.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include "RecordedMessages.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <unistd.h>

using namespace tarnel;

namespace {

using DescribeMessages = test::RecordedMessages;

class DescribeCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string templ = testing::TempDir() + "describe-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(templ.data()));
        dir_ = templ + "/";
        pane_.Controls = &controls_;
        pane_.Drives = &noDrives_;
        QApplication::clipboard()->setText(QString());
    }

    void TearDown() override
    {
        pane_.StopWorkers();
        std::filesystem::remove_all(dir_);
    }

    void Make(const std::string& name) const
    {
        const int fd = ::open((dir_ + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        EXPECT_GE(fd, 0) << name;
        ::close(fd);
    }

    void WriteDescFile(const std::string& bytes) const
    {
        std::ofstream(dir_ + "DESCRIPT.ION", std::ios::binary) << bytes;
    }

    std::string DescFile() const
    {
        std::ifstream in(dir_ + "DESCRIPT.ION", std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }

    void List(std::initializer_list<const char*> selected)
    {
        pane_.Path = dir_;
        ReadDirectory(pane_);
        for (const char* name : selected)
            controls_.SetSelected(Row(name), true);
    }

    int Row(const std::string& name) const
    {
        for (int i = 0; i < pane_.Count; ++i)
            if (pane_.Item(i).Name == name)
                return i;
        ADD_FAILURE() << name << " not listed";
        return -1;
    }

    const TFileData& Entry(const std::string& name) const { return pane_.Item(Row(name)); }

    // Runs the command to its end; each step sees the dialog as shown for
    // one entry. Returns how often the dialog was shown.
    int Run(const std::function<int(DescriptionDialog&)>& step)
    {
        int shown = 0;
        bool finished = false;
        RunDescribeCommand(
            pane_, controls_, messages_, nullptr,
            [&](DescriptionDialog& dialog) {
                ++shown;
                return step(dialog);
            },
            {}, [&] { finished = true; });
        EXPECT_TRUE(QTest::qWaitFor([&] { return finished; }, 10000)) << "the command did not finish";
        return shown;
    }

    std::string dir_;
    HeadlessPane controls_;
    DriveList noDrives_;
    TDirData pane_;
    DescribeMessages messages_;
};

TEST_F(DescribeCommandTest, EachSelectedEntryInTurnAndCancelSkipsOnlyThatOne)
{
    Make("a.txt");
    Make("b.txt");
    Make("c.txt");
    Make("unselected.txt");
    std::filesystem::create_directory(dir_ + "sub");
    WriteDescFile("b.txt old text\r\nunselected.txt stays\r\n");
    List({"a.txt", "b.txt", "c.txt", "sub"});
    controls_.currentRow = Row("c.txt");

    QStringList shown;
    int call = 0;
    const int times = Run([&](DescriptionDialog& dialog) {
        shown << dialog.Memo()->toPlainText();
        EXPECT_EQ(dialog.Memo()->textCursor().selectedText(), dialog.Memo()->toPlainText()) << "all text selected";
        switch (++call) {
        case 2: return int(QDialog::Rejected);
        case 3: return int(QDialog::Accepted); // unchanged
        default: dialog.SetText(QString("new %1").arg(call)); return int(QDialog::Accepted);
        }
    });
    // List order: directories first.
    EXPECT_EQ(4, times);
    EXPECT_EQ(shown, QStringList({"", "", "old text", ""}));
    EXPECT_EQ(DescFile(), "b.txt old text\r\nunselected.txt stays\r\nsub new 1\r\nc.txt new 4\r\n");
    EXPECT_TRUE(messages_.log.isEmpty());

    // The pane was read again, back at its place.
    EXPECT_EQ("new 1", Entry("sub").Description);
    EXPECT_EQ("", Entry("a.txt").Description) << "cancelled";
    EXPECT_EQ("old text", Entry("b.txt").Description);
    EXPECT_EQ("new 4", Entry("c.txt").Description);
    EXPECT_EQ(Row("c.txt"), controls_.currentRow);
    EXPECT_EQ(1u, pane_.History.size());
}

TEST_F(DescribeCommandTest, NameWithABlankIsWrittenQuotedAndTextAsUtf8)
{
    Make("My File.txt");
    Make("readme.txt");
    List({"My File.txt"});
    Run([](DescriptionDialog& dialog) {
        dialog.SetText(QString::fromUtf8("Grüße"));
        return int(QDialog::Accepted);
    });
    controls_.SetSelected(Row("readme.txt"), true);
    controls_.SetSelected(Row("My File.txt"), false);
    Run([](DescriptionDialog& dialog) {
        dialog.SetText("plain");
        return int(QDialog::Accepted);
    });
    EXPECT_EQ(DescFile(), "\"My File.txt\" Gr\xc3\xbc\xc3\x9f" "e\r\nreadme.txt plain\r\n");
    EXPECT_EQ("Gr\xc3\xbc\xc3\x9f" "e", Entry("My File.txt").Description);
}

TEST_F(DescribeCommandTest, UnchangedTextKeepsItsBytes)
{
    Make("latin.txt");
    WriteDescFile("latin.txt caf\xe9\r\n"); // not UTF-8
    List({"latin.txt"});
    Run([](DescriptionDialog&) { return int(QDialog::Accepted); });
    EXPECT_EQ(DescFile(), "latin.txt caf\xe9\r\n");
}

TEST_F(DescribeCommandTest, EmptyDescriptionStartsWithTheClipboardBlanked)
{
    Make("empty.txt");
    Make("described.txt");
    WriteDescFile("described.txt kept\r\n");
    QApplication::clipboard()->setText("from\r\nclip\tboard");
    List({"empty.txt", "described.txt"});
    QStringList shown;
    Run([&](DescriptionDialog& dialog) {
        shown << dialog.Memo()->toPlainText();
        return int(QDialog::Accepted);
    });
    EXPECT_EQ(shown, QStringList({"kept", "from  clip board"}));
    EXPECT_EQ(DescFile(), "described.txt kept\r\nempty.txt from  clip board\r\n");
}

TEST_F(DescribeCommandTest, ArchiveIsRefused)
{
    Make("file");
    List({"file"});
    pane_.ZipMode = 1;
    EXPECT_EQ(0, Run([](DescriptionDialog&) { return int(QDialog::Accepted); }));
    EXPECT_EQ(messages_.log,
              QStringList({"information: I'm currently unable to set descriptions inside ZIP files. Sorry."}));
    pane_.ZipMode = 0;
    EXPECT_FALSE(std::filesystem::exists(dir_ + "DESCRIPT.ION"));
}

TEST_F(DescribeCommandTest, RenameFailureWarnsAndTheNextEntryStillComes)
{
    Make("a");
    Make("b");
    // A directory in the way of the rename.
    std::filesystem::create_directories(dir_ + "DESCRIPT.ION/inside");
    List({"a", "b"});
    EXPECT_EQ(2, Run([](DescriptionDialog& dialog) {
        dialog.SetText("text");
        return int(QDialog::Accepted);
    }));
    EXPECT_EQ(messages_.log,
              QStringList({"warning: Unable to rename to DESCRIPT.ION.", "warning: Unable to rename to DESCRIPT.ION."}));
}

TEST(DescriptionMemo, EnterPressesOkAndNoLineBreakGetsIn)
{
    DescriptionDialog dialog;
    dialog.show();
    DescriptionMemo* memo = dialog.Memo();
    memo->setFocus();
    QTest::keyClicks(memo, "one");
    QTest::keyClick(memo, Qt::Key_Return, Qt::ShiftModifier); // no line break either
    EXPECT_TRUE(dialog.isVisible());
    QTest::keyClick(memo, Qt::Key_Return);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(QDialog::Accepted, dialog.result());
    EXPECT_EQ(dialog.Text(), "one");

    dialog.setResult(QDialog::Rejected);
    dialog.show();
    dialog.SetText(QString());
    QTest::keyClick(memo, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(QDialog::Accepted, dialog.result());
    EXPECT_EQ(memo->toPlainText(), "");
}

TEST(DescriptionMemo, PastedAndInsertedLineBreaksBecomeBlanks)
{
    DescriptionDialog dialog;
    DescriptionMemo* memo = dialog.Memo();

    QApplication::clipboard()->setText("line1\nline2\tend");
    memo->setFocus();
    QTest::keyClick(memo, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(memo->toPlainText(), "line1 line2 end");

    // Whatever else inserts text, the document keeps one block.
    memo->setPlainText("a");
    memo->moveCursor(QTextCursor::End);
    memo->insertPlainText("\n\tb");
    EXPECT_EQ(memo->toPlainText(), "a  b");
    EXPECT_EQ(1, memo->document()->blockCount());
    EXPECT_EQ(4, memo->textCursor().position()) << "the cursor stays after the insert";

    // The button appends, blanked, to what is there.
    QApplication::clipboard()->setText("x\ny");
    QTest::mouseClick(dialog.findChild<QPushButton*>("PasteClip"), Qt::LeftButton);
    EXPECT_EQ(memo->toPlainText(), "a  bx y");
}

} // namespace

namespace {

// A re-read of the pane while a dialog is open (a copy finishing, a mount
// change) changes which entry a row holds: the descriptions must still go to
// the files they were typed for.
TEST_F(DescribeCommandTest, PaneReadAgainDuringTheDialogKeepsEachTextWithItsFile)
{
    Make("b.txt");
    Make("d.txt");
    List({"b.txt", "d.txt"});
    int call = 0;
    QStringList described;
    Run([&](DescriptionDialog& dialog) {
        if (++call == 1) {
            Make("a.txt"); // sorts before both: every row moves down
            ::unlink((dir_ + "d.txt").c_str());
            ReadDirectory(pane_);
        }
        dialog.SetText(QString("text %1").arg(call));
        return int(QDialog::Accepted);
    });
    EXPECT_EQ(1, call) << "d.txt is gone and is skipped";
    EXPECT_EQ(DescFile(), "b.txt text 1\r\n");
}

TEST_F(DescribeCommandTest, ANameTheFileCannotHoldIsReported)
{
    Make("\"quoted");
    List({"\"quoted"});
    Run([](DescriptionDialog& dialog) {
        dialog.SetText("text");
        return int(QDialog::Accepted);
    });
    ASSERT_EQ(1, messages_.log.size());
    EXPECT_TRUE(messages_.log[0].startsWith("warning: ")) << messages_.log[0].toStdString();
    EXPECT_TRUE(messages_.log[0].contains("\"quoted"));
    EXPECT_FALSE(std::filesystem::exists(dir_ + "DESCRIPT.ION"));
}

} // namespace
