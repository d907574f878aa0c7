// What the editor's save does to the file on disk, driven through the text
// view and the real editor window, headless.
#include "viewer/EditorForm.h"
#include "viewer/TextView.h"
#include "viewer/WhenEditing.h"

#include "app/RecordedMessages.h"
#include "viewer/model/LineTestFile.h"

#include <QAction>
#include <QApplication>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace tarnel;
using tarnel::test::LineTestFile;

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct EditorSave : ::testing::Test {
    void SetUp() override
    {
        view.SetMessages(&messages);
        view.SetAsk([this](const QString& text) {
            questions << text;
            return answer;
        });
        view.resize(400, 300);
        view.show();
    }
    void Open(const std::string& content)
    {
        file.Write(content);
        view.SetActive(false);
        view.SetFilename(file.Path());
        view.SetActive(true);
        view.FinishIndex();
    }
    // Saves run on a worker: a step that looks at what a save did waits for it.
    static void WaitForSave(Teditorform& editor)
    {
        EXPECT_TRUE(QTest::qWaitFor([&] { return !editor.Saving(); }, 10000)) << "the save did not answer";
    }
    void WhenEditing(std::function<void(Teditorform&)> action) { test::WhenEditorShown(view, std::move(action)); }
    // Saves the text as loaded, without touching it.
    std::string SavedUnedited(const std::string& content)
    {
        Open(content);
        WhenEditing([](Teditorform& editor) { editor.SaveCloseItem->trigger(); });
        EXPECT_TRUE(view.EditFile());
        return ReadAll(file.Path());
    }

    LineTestFile file;
    tarnel::test::RecordedMessages messages;
    QStringList questions;
    Answer answer = Answer::Yes;
    TTextView view;
};

TEST_F(EditorSave, TheFileKeepsItsLinksOwnerModeAndAttributes)
{
    Open("old text\n");
    const std::string link = file.Dir() + "/second-name.txt";
    ASSERT_EQ(::link(file.Path().c_str(), link.c_str()), 0);
    const bool root = geteuid() == 0;
    if (root)
        ASSERT_EQ(::chown(file.Path().c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(file.Path().c_str(), 0604), 0);
    const bool xattrs = ::setxattr(file.Path().c_str(), "user.DOSATTRIB", "0x20", 4, 0) == 0;

    WhenEditing([](Teditorform& editor) {
        editor.memo1->moveCursor(QTextCursor::Start);
        editor.memo1->insertPlainText("new ");
        editor.SaveCloseItem->trigger();
    });
    EXPECT_TRUE(view.EditFile());
    EXPECT_EQ(ReadAll(file.Path()), "new old text\n");
    EXPECT_EQ(ReadAll(link), "new old text\n");
    struct stat st;
    ASSERT_EQ(::stat(file.Path().c_str(), &st), 0);
    EXPECT_EQ(st.st_nlink, 2u);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    if (root)
        EXPECT_EQ(st.st_uid, 65534u);
    if (xattrs) {
        char value[8] = {};
        EXPECT_EQ(::getxattr(file.Path().c_str(), "user.DOSATTRIB", value, sizeof value), 4);
    }
    EXPECT_TRUE(messages.log.isEmpty());
    EXPECT_TRUE(questions.isEmpty());
}

TEST_F(EditorSave, AReadOnlyFileIsRefusedWithAMessageAndTheEditorStays)
{
    Open("keep\n");
    ASSERT_EQ(::chmod(file.Path().c_str(), 0444), 0);
    bool stayed = false;
    WhenEditing([&](Teditorform& editor) {
        editor.memo1->insertPlainText("lost? ");
        editor.SaveCloseItem->trigger();
        WaitForSave(editor);
        stayed = editor.isVisible();
        editor.QuitItem->trigger();
    });
    EXPECT_FALSE(view.EditFile());
    EXPECT_TRUE(stayed);
    EXPECT_EQ(ReadAll(file.Path()), "keep\n");
    ASSERT_EQ(messages.log.size(), 1);
    EXPECT_EQ(messages.log[0], "error: " + QString::fromStdString(file.Path()) +
                                   " is read-only and was not saved.\nSave a copy under another name instead.");
    ::chmod(file.Path().c_str(), 0644);
}

TEST_F(EditorSave, SavingWithoutAnEditKeepsEveryByte)
{
    const std::string utf16 = std::string("\xff\xfe" "a\0\r\0\n\0\xe4\0\r\0\n\0", 14);
    EXPECT_EQ(SavedUnedited(utf16), utf16);
    EXPECT_TRUE(questions.isEmpty()); // wide text is no control characters
    EXPECT_EQ(SavedUnedited("\xef\xbb\xbf" "bom\r\n"), "\xef\xbb\xbf" "bom\r\n");
    EXPECT_EQ(SavedUnedited("para\xe2\x80\xa9graph\n"), "para\xe2\x80\xa9graph\n");
    EXPECT_EQ(SavedUnedited("mixed\r\nends\nand\rmore\n\r"), "mixed\r\nends\nand\rmore\n\r");

    // An edit in one line leaves the others' line ends alone.
    Open("mixed\r\nends\nand\rmore");
    WhenEditing([](Teditorform& editor) {
        QTextCursor cursor(editor.memo1->document()->findBlockByNumber(2));
        cursor.insertText("AND ");
        editor.memo1->setTextCursor(cursor);
        editor.SaveCloseItem->trigger();
    });
    EXPECT_TRUE(view.EditFile());
    EXPECT_EQ(ReadAll(file.Path()), "mixed\r\nends\nAND and\rmore");
}

TEST_F(EditorSave, FilteredTextIsSavedWithCrLfAndItsLastLineEnd)
{
    Open("bell\x07\n" "tab\there\n");
    answer = Answer::Yes;
    WhenEditing([](Teditorform& editor) {
        editor.memo1->moveCursor(QTextCursor::Start);
        editor.memo1->insertPlainText("x");
        editor.SaveCloseItem->trigger();
    });
    EXPECT_TRUE(view.EditFile());
    ASSERT_EQ(questions.size(), 1);
    EXPECT_EQ(ReadAll(file.Path()), "xbell \r\ntab     here\r\n");
}

TEST_F(EditorSave, AFileChangedMeanwhileIsOverwrittenCopiedOrKeptAsTheUserSays)
{
    Open("mine\n");
    const std::string copy = file.Dir() + "/copy.txt";
    view.SetCopyNameChooser([&] { return QString::fromStdString(copy); });
    bool stayedOnCancel = false, stayedAfterCopy = false;
    std::string afterCancel;
    WhenEditing([&](Teditorform& editor) {
        editor.memo1->moveCursor(QTextCursor::End);
        editor.memo1->insertPlainText("edited");
        std::ofstream(file.Path(), std::ios::app) << "theirs\n";

        answer = Answer::Cancel;
        editor.SaveCloseItem->trigger();
        WaitForSave(editor);
        stayedOnCancel = editor.isVisible();
        afterCancel = ReadAll(file.Path());

        answer = Answer::No; // a copy
        editor.SaveCloseItem->trigger();
        WaitForSave(editor);
        stayedAfterCopy = editor.isVisible();

        answer = Answer::Yes; // overwrite
        editor.SaveCloseItem->trigger();
    });
    EXPECT_TRUE(view.EditFile());
    EXPECT_TRUE(stayedOnCancel);
    EXPECT_EQ(afterCancel, "mine\ntheirs\n");
    EXPECT_TRUE(stayedAfterCopy);
    EXPECT_EQ(ReadAll(copy), "mine\nedited");
    EXPECT_EQ(ReadAll(file.Path()), "mine\nedited");
    ASSERT_EQ(questions.size(), 3);
    EXPECT_EQ(questions[0], QString::fromStdString(file.Path()) +
                                " was changed by another program after it was opened for editing.\n"
                                "Overwrite it with this text, save this text as a copy, or go on editing?");
    EXPECT_TRUE(messages.log.isEmpty());

    // Unchanged since it was read: no question.
    questions.clear();
    WhenEditing([](Teditorform& editor) {
        editor.memo1->insertPlainText("again ");
        editor.SaveCloseItem->trigger();
    });
    EXPECT_TRUE(view.EditFile());
    EXPECT_TRUE(questions.isEmpty());
    EXPECT_EQ(ReadAll(file.Path()), "again mine\nedited");
}

} // namespace
