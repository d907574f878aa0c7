// The search window, the editor and the text page, headless.
#include "viewer/EditorForm.h"
#include "viewer/WhenEditing.h"
#include "viewer/SearchWindow.h"
#include "viewer/TextFont.h"
#include "viewer/TextPage.h"
#include "viewer/TextView.h"

#include "app/RecordedMessages.h"
#include "viewer/model/LineTestFile.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

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

QStringList Items(const QListWidget* list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

struct TextFixture : ::testing::Test {
    void Open(const std::string& content, Mymodes mode = VM_STANDARD)
    {
        file.Write(content);
        view.SetViewMode(mode);
        view.SetActive(false);
        view.SetFilename(file.Path());
        view.SetActive(true);
        view.FinishIndex();
    }
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
    // Runs action on the editor once its modal loop runs.
    void WhenEditing(std::function<void(Teditorform&)> action) { test::WhenEditorShown(view, std::move(action)); }

    LineTestFile file;
    tarnel::test::RecordedMessages messages;
    QStringList questions;
    Answer answer = Answer::Yes;
    TTextView view;
};

TEST_F(TextFixture, SearchListsOverlappingMatchesAndGoesToTheFirst)
{
    Open("xx\n\taaaa\n");
    view.ShowSearch("aa", false);
    TSearchwin* search = view.SearchWindow();
    ASSERT_NE(search, nullptr);
    EXPECT_EQ(search->windowTitle(), "Search Facility");
    EXPECT_TRUE(search->CheckBox1->isChecked()); // the opposite of the case flag
    EXPECT_EQ(Items(search->ListBox1), (QStringList{"1,9", "1,10", "1,11"}));
    EXPECT_EQ(search->Label2->text(), "3 matches..");
    EXPECT_EQ(view.lineaora(), 1);
    EXPECT_EQ(view.SelStart(), (TextCell{8, 1}));
    EXPECT_EQ(view.SelEnd(), (TextCell{10, 1}));
    search->ListBox1->setCurrentRow(2);
    EXPECT_EQ(view.SelStart(), (TextCell{10, 1}));

    // A second window is refused; the first stays.
    view.ShowSearch("x", false);
    EXPECT_EQ(view.SearchWindow(), search);
}

TEST_F(TextFixture, SearchTextsForNoneOneAndAnEmptyEdit)
{
    Open("Alpha beta\nALPHA\n");
    view.ShowSearch("", true);
    TSearchwin* search = view.SearchWindow();
    EXPECT_EQ(search->Label2->text(), "Enter to search!");
    search->Search();
    EXPECT_EQ(search->Label2->text(), "No matches..");
    search->Edit1->setText("beta");
    EXPECT_EQ(view.LastSearchText, "beta");
    QTest::keyClick(search->Edit1, Qt::Key_Return);
    EXPECT_EQ(search->Label2->text(), "1 match..");
    search->Edit1->setText("alpha");
    EXPECT_EQ(search->Label2->text(), "Enter to search!");
    EXPECT_EQ(search->ListBox1->count(), 0);
    search->CheckBox1->setChecked(true);
    search->BitBtn1->click();
    EXPECT_EQ(Items(search->ListBox1), (QStringList{"0,1", "1,1"}));

    // Closing the window lets the view destroy it.
    search->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return view.SearchWindow() == nullptr; }, 2000));
    EXPECT_EQ(view.SearchWindow(), nullptr);
}

TEST_F(TextFixture, SearchInHexModeSelectsTheCharacterColumn)
{
    Open("0123456789abcdefXYZ", VM_HEX);
    view.ShowSearch("Y", false);
    EXPECT_EQ(Items(view.SearchWindow()->ListBox1), (QStringList{"1,2"}));
    EXPECT_EQ(view.SelStart(), (TextCell{59, 1}));
    EXPECT_EQ(view.SelEnd(), (TextCell{60, 1}));
}

TEST_F(TextFixture, SearchStopsWhenTheViewMovesOn)
{
    // However short the search, it lets events run before its first match:
    // the view moves on then, whatever the build's speed.
    Open("a needle in a small file");
    LineTestFile other("needle needle");
    bool moved = false;
    QTimer::singleShot(0, [&] {
        moved = true;
        view.SetActive(false);
        view.SetFilename(other.Path());
        view.SetActive(true);
    });
    // Closing the file takes the window with it, in the middle of its search.
    view.ShowSearch("needle", false);
    EXPECT_TRUE(moved);
    EXPECT_EQ(view.SearchWindow(), nullptr);
    EXPECT_EQ(view.Filename(), other.Path());
}

TEST_F(TextFixture, EditorSavesAndReopensTheView)
{
    Open("first\nsecond\n");
    WhenEditing([](Teditorform& editor) {
        EXPECT_EQ(editor.memo1->toPlainText(), "first\nsecond\n");
        editor.memo1->moveCursor(QTextCursor::End);
        editor.memo1->insertPlainText("third\n");
        editor.SaveCloseItem->trigger();
    });
    EXPECT_TRUE(view.EditFile());
    EXPECT_EQ(ReadAll(file.Path()), "first\nsecond\nthird\n");
    EXPECT_TRUE(view.Active());
    EXPECT_EQ(view.LineCount(), 3);
    EXPECT_TRUE(questions.isEmpty());
}

TEST_F(TextFixture, EditorKeepsCrLfAndAsksOnCloseWhenModified)
{
    Open("a\r\nb\r\n");
    answer = Answer::No;
    WhenEditing([](Teditorform& editor) {
        editor.memo1->insertPlainText("x");
        editor.close();
    });
    EXPECT_FALSE(view.EditFile());
    ASSERT_EQ(questions.size(), 1);
    EXPECT_EQ(questions[0], "Save changes to " + QString::fromStdString(file.Path()) + " ?");
    EXPECT_EQ(ReadAll(file.Path()), "a\r\nb\r\n");

    answer = Answer::Yes;
    WhenEditing([](Teditorform& editor) {
        editor.memo1->moveCursor(QTextCursor::Start);
        editor.memo1->insertPlainText("x");
        editor.close();
    });
    EXPECT_TRUE(view.EditFile());
    EXPECT_EQ(ReadAll(file.Path()), "xa\r\nb\r\n");

    // Unchanged text closes without a question.
    questions.clear();
    WhenEditing([](Teditorform& editor) { editor.close(); });
    EXPECT_FALSE(view.EditFile());
    EXPECT_TRUE(questions.isEmpty());
}

TEST_F(TextFixture, ControlBytesAskWhetherToFilter)
{
    Open(std::string("bell\x07\ttab\n"));
    answer = Answer::Cancel;
    EXPECT_FALSE(view.EditFile());
    ASSERT_EQ(questions.size(), 1);
    EXPECT_TRUE(questions[0].startsWith("File you are trying to edit contains some non standard ASCII characters\r"));
    EXPECT_TRUE(view.Active()); // cancelled before the file was let go

    answer = Answer::Yes;
    QString shown;
    WhenEditing([&](Teditorform& editor) {
        shown = editor.memo1->toPlainText();
        editor.QuitItem->trigger();
    });
    EXPECT_FALSE(view.EditFile());
    EXPECT_EQ(shown, "bell    tab\n");

    answer = Answer::No;
    WhenEditing([&](Teditorform& editor) {
        shown = editor.memo1->toPlainText();
        editor.QuitItem->trigger();
    });
    view.EditFile();
    EXPECT_EQ(shown, "bell\x07\ttab\n");
    // High bytes alone are no reason to ask.
    questions.clear();
    Open("caf\xc3\xa9 and \xe9\n");
    WhenEditing([](Teditorform& editor) { editor.QuitItem->trigger(); });
    view.EditFile();
    EXPECT_TRUE(questions.isEmpty());
}

TEST_F(TextFixture, EditorRefusesHexModeAndHugeFiles)
{
    Open("abc", VM_HEX);
    EXPECT_FALSE(view.EditFile());
    EXPECT_EQ(messages.log, (QStringList{"information: Edit mode is yet supported in HEX mode"}));
    view.SetViewMode(VM_STANDARD);
    file.Truncate(off_t(Teditorform::kMaxEditBytes) + 1);
    view.SetActive(false);
    view.SetActive(true);
    messages.log.clear();
    EXPECT_FALSE(view.EditFile());
    ASSERT_EQ(messages.log.size(), 1);
    EXPECT_TRUE(messages.log[0].startsWith("warning: The file is too large for the editor"));
    EXPECT_TRUE(view.Active());
}

TEST_F(TextFixture, AFailedSaveKeepsTheEditorAndTheOldFile)
{
    Open("keep me\n");
    const std::string saved = file.Path() + ".moved";
    WhenEditing([&](Teditorform& editor) {
        editor.memo1->insertPlainText("lost? ");
        // The directory goes: no temporary can be made beside the file.
        ::rename(file.Path().c_str(), saved.c_str());
        ::rename(file.Dir().c_str(), (file.Dir() + ".gone").c_str());
        editor.SaveCloseItem->trigger();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !editor.Saving(); }, 10000)); // saved on a worker
        EXPECT_TRUE(editor.isVisible());
        ::rename((file.Dir() + ".gone").c_str(), file.Dir().c_str());
        editor.QuitItem->trigger();
    });
    EXPECT_FALSE(view.EditFile());
    ASSERT_EQ(messages.log.size(), 1);
    EXPECT_TRUE(messages.log[0].startsWith("error: Could not save"));
    EXPECT_EQ(ReadAll(saved), "keep me\n");
    EXPECT_FALSE(view.Active()); // the file is gone from its name
}

TEST_F(TextFixture, SaveACopyLeavesTheFileAndTheEditor)
{
    Open("orig\n");
    const std::string copy = file.Dir() + "/copy.txt";
    view.SetCopyNameChooser([&] { return QString::fromStdString(copy); });
    WhenEditing([](Teditorform& editor) {
        editor.memo1->insertPlainText("new ");
        editor.SaveCopyItem->trigger();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !editor.Saving(); }, 10000)); // saved on a worker
        EXPECT_TRUE(editor.isVisible());
        editor.QuitItem->trigger();
    });
    EXPECT_FALSE(view.EditFile());
    EXPECT_EQ(ReadAll(copy), "new orig\n");
    EXPECT_EQ(ReadAll(file.Path()), "orig\n");
}

TEST_F(TextFixture, EditorTakesTheFileAsItIsNowAndKeepsBytesItWasNotAskedToChange)
{
    // A log that grew after it was shown: the lines added since are edited
    // and saved too, never cut off at the length the view knew.
    Open("one\n");
    file.Write("one\ntwo\n");
    WhenEditing([](Teditorform& editor) { editor.SaveCloseItem->trigger(); });
    EXPECT_TRUE(view.EditFile());
    EXPECT_EQ(ReadAll(file.Path()), "one\ntwo\n");

    // Shift+Enter makes a line end like Enter, not a separator character.
    WhenEditing([](Teditorform& editor) {
        editor.memo1->moveCursor(QTextCursor::End);
        QTest::keyClicks(editor.memo1, "x");
        QTest::keyClick(editor.memo1, Qt::Key_Return, Qt::ShiftModifier);
        QTest::keyClicks(editor.memo1, "y");
        editor.SaveCloseItem->trigger();
    });
    EXPECT_TRUE(view.EditFile());
    EXPECT_EQ(ReadAll(file.Path()), "one\ntwo\nx\ny");

    // No-break spaces (8-bit and UTF-8) and a line separator survive a save.
    for (const std::string& text : {std::string("a\xa0" "b\n"), std::string("a\xc2\xa0" "b\xe2\x80\xa8" "c\n")}) {
        Open(text);
        WhenEditing([](Teditorform& editor) {
            editor.memo1->moveCursor(QTextCursor::End);
            editor.memo1->insertPlainText("z");
            editor.SaveCloseItem->trigger();
        });
        EXPECT_TRUE(view.EditFile());
        EXPECT_EQ(ReadAll(file.Path()), text + "z");
    }
}

TEST_F(TextFixture, ACharacterEightBitTextCannotHoldIsSavedOnlyWhenTheUserAgrees)
{
    Open("caf\xe9\n"); // 8-bit text
    answer = Answer::No;
    WhenEditing([](Teditorform& editor) {
        editor.memo1->moveCursor(QTextCursor::Start);
        editor.memo1->insertPlainText(QString::fromUtf8("\u03b1"));
        editor.SaveCloseItem->trigger();
        EXPECT_TRUE(editor.isVisible()); // not saved, still editing
        editor.QuitItem->trigger();
    });
    EXPECT_FALSE(view.EditFile());
    ASSERT_EQ(questions.size(), 1);
    EXPECT_TRUE(questions[0].startsWith("Some characters cannot be written"));
    EXPECT_EQ(ReadAll(file.Path()), "caf\xe9\n");
}

TEST_F(TextFixture, FilteringInWrappedModeKeepsLongLinesWhole)
{
    view.resize(120, 200); // a dozen columns: the long line wraps many times on screen
    Open("\x07" + std::string(200, 'w') + "\nshort\n", VM_WORDWRAP);
    ASSERT_GT(view.LineCount(), 10);
    answer = Answer::Yes;
    QString shown;
    WhenEditing([&](Teditorform& editor) {
        shown = editor.memo1->toPlainText();
        editor.QuitItem->trigger();
    });
    view.EditFile();
    EXPECT_EQ(shown, " " + QString(200, 'w') + "\nshort\n");
}

TEST_F(TextFixture, TheViewMovingOnDuringTheFilterQuestionCancelsTheEdit)
{
    Open(std::string("a\x01\n"));
    LineTestFile other("other file\n");
    view.SetAsk([&](const QString&) {
        view.SetFilename(other.Path()); // the cursor moved while the box was up
        return Answer::No;
    });
    EXPECT_FALSE(view.EditFile());
    EXPECT_EQ(view.EditorWindow(), nullptr);
    EXPECT_EQ(ReadAll(other.Path()), "other file\n");
    EXPECT_TRUE(view.Active());
}

TEST_F(TextFixture, SearchFindsMatchesPastTheIndexAndTextsTheFileCannotHold)
{
    std::string content;
    for (int i = 0; i < 300000; ++i)
        content += "row\n";
    file.Write(content + "needle?");
    view.SetActive(false);
    view.SetFilename(file.Path());
    view.SetActive(true);
    ASSERT_TRUE(view.Indexing()); // only the first slice is indexed
    view.ShowSearch("needle", false);
    TSearchwin* search = view.SearchWindow();
    EXPECT_EQ(Items(search->ListBox1), (QStringList{"300000,1"}));
    EXPECT_EQ(view.lineaora(), 300000);

    // A character no byte of the file's text stands for finds nothing, not '?'.
    search->Edit1->setText(QString::fromUtf8("needle\u03b1"));
    search->Search();
    EXPECT_EQ(search->Label2->text(), "No matches..");
}

// The search looks for the text as it is shown: in UTF-8 text a word with
// letters beyond ASCII is found, at its column in characters.
TEST_F(TextFixture, SearchFindsNonAsciiWordsInUtf8Text)
{
    Open("Gr\xc3\xbc\xc3\x9f" "e\n\xc3\xbc\xc3\xbc K\xc3\xb6ln, k\xc3\xb6ln\n");
    view.ShowSearch(QString::fromUtf8("K\u00f6ln"), true);
    TSearchwin* search = view.SearchWindow();
    EXPECT_EQ(Items(search->ListBox1), (QStringList{"1,4"}));
    EXPECT_EQ(view.SelStart(), (TextCell{3, 1}));
    EXPECT_EQ(view.SelEnd(), (TextCell{7, 1}));
    search->CheckBox1->setChecked(true);
    search->Search();
    EXPECT_EQ(Items(search->ListBox1), (QStringList{"1,4", "1,10"}));
    search->Edit1->setText(QString::fromUtf8("Gr\u00fc\u00dfe"));
    search->Search();
    EXPECT_EQ(Items(search->ListBox1), (QStringList{"0,1"}));
    search->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.SearchWindow() == nullptr; }, 2000));

    // 8-bit text is searched for its 8-bit bytes.
    Open("Gr\xfc\xdf" "e");
    view.ShowSearch(QString::fromUtf8("\u00fc\u00dfe"), true);
    EXPECT_EQ(Items(view.SearchWindow()->ListBox1), (QStringList{"0,3"}));
}

TEST_F(TextFixture, ChangingTheTextCallsOffARunningSearch)
{
    std::string content;
    for (int i = 0; i < 200000; ++i)
        content += "aaaa\n";
    Open(content);
    view.ShowSearch("", false);
    TSearchwin* search = view.SearchWindow();
    search->Edit1->setText("a");
    QTimer::singleShot(50, [&] { search->Edit1->setText("zzz"); });
    search->Search(); // hundreds of thousands of matches: still running when the text changes
    EXPECT_EQ(search->ListBox1->count(), 0);
    EXPECT_EQ(search->Label2->text(), "Enter to search!");
    EXPECT_FALSE(search->Searching());

    // Esc stops it too, and the window stays.
    search->Edit1->setText("a");
    QTimer::singleShot(50, [&] { QTest::keyClick(search->Edit1, Qt::Key_Escape); });
    search->Search();
    EXPECT_EQ(search->ListBox1->count(), 0);
    EXPECT_EQ(search->Label2->text(), "Enter to search!");
    EXPECT_FALSE(search->Searching());
    EXPECT_EQ(view.SearchWindow(), search);
    search->Search();
    EXPECT_EQ(search->Label2->text(), "800000 matches..");
}

TEST(TextPageTest, ShowFileSelectsNormalAndTheLabelFollows)
{
    LineTestFile file("12345\nab\n");
    TextPage page;
    EXPECT_EQ(page.CBTextViewMode->currentIndex(), -1);
    page.VWText->SetViewMode(VM_HEX);
    page.ShowFile(file.Path());
    EXPECT_EQ(page.CBTextViewMode->currentText(), "Normal");
    EXPECT_EQ(page.VWText->ViewMode(), VM_HEX); // the mode is not changed by it
    page.CBTextViewMode->setCurrentIndex(1);
    EXPECT_EQ(page.VWText->ViewMode(), VM_WORDWRAP);
    page.CBTextViewMode->setCurrentIndex(0);
    EXPECT_EQ(page.VWText->ViewMode(), VM_STANDARD);
    page.VWText->FinishIndex();
    page.VWText->Setlineaora(1);
    EXPECT_EQ(page.Position->text(), "Line 1/2:0/5");
    page.ClearPage();
    EXPECT_FALSE(page.VWText->Active());

    QStringList names;
    for (QAction* a : page.ViewerMenuActions())
        names << a->text();
    EXPECT_EQ(names, (QStringList{"Copy to clipboard", "Print", "Search"}));
}

TEST(TextPageTest, FindOpensTheSearchIgnoringCase)
{
    LineTestFile file("Needle needle NEEDLE\n");
    TextPage page;
    page.ShowFile(file.Path());
    page.VWText->LastSearchText = "needle";
    for (QAction* find : {static_cast<QAction*>(nullptr), page.Search1}) {
        if (find)
            find->trigger();
        else
            page.VWTextFind->click();
        TSearchwin* search = page.VWText->SearchWindow();
        ASSERT_NE(search, nullptr);
        EXPECT_TRUE(search->CheckBox1->isChecked());
        EXPECT_EQ(search->Label2->text(), "3 matches..");
        search->close();
        ASSERT_TRUE(QTest::qWaitFor([&] { return page.VWText->SearchWindow() == nullptr; }, 2000));
    }
}

TEST(TextPageTest, MissingStoredFontFallsBackAndIsKept)
{
    TextPage page;
    TextViewSettings settings;
    settings.fontName = "No Such Font Anywhere";
    settings.tabSize = 4;
    page.ApplySettings(settings);
    EXPECT_EQ(page.VWText->TextFont().family(), QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
    EXPECT_EQ(FontFamilyInUse("No Such Font Anywhere"), page.VWText->TextFont().family());
    EXPECT_EQ(page.Settings().fontName, "No Such Font Anywhere");
    EXPECT_EQ(page.VWText->Tab(), 4);
    EXPECT_EQ(page.VWText->TextColor(), QColor(192, 192, 192));
    EXPECT_EQ(page.VWText->BackColor(), QColor(Qt::black));
}

} // namespace
