// The find dialog in the real window: Alt+F7, a search typed and started
// with keys and clicks, hits streaming in with their first matching line,
// "Go to file", F3 into the viewer at the match, "Feed to pane", and the
// messages of a query that cannot run.
#include "app/MainWindow.h"
#include "app/PaneReads.h"
#include "app/RecordedMessages.h"
#include "panes/TempTree.h"
#include "tools/DlgFind.h"
#include "viewer/TextPage.h"
#include "viewer/TextView.h"
#include "viewer/ViewerHost.h"
#include "widgets/PaneView.h"
#include "app/TryWait.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

using namespace tarnel;

namespace {

class DlgFindTest : public ::testing::Test {
protected:
    test::TempTree dir;
    std::unique_ptr<MainWindow> window;

    void SetUp() override
    {
        dir.Dir("left/src/deep");
        dir.Dir("left/skip");
        dir.Dir("right");
        std::string text;
        for (int i = 1; i < 40; ++i)
            text += "filler line " + std::to_string(i) + "\n";
        text += "here the Needle stands\n";
        std::ofstream(dir.Path() + "left/src/deep/hit.txt") << text;
        std::ofstream(dir.Path() + "left/src/other.txt") << "no match here\n";
        std::ofstream(dir.Path() + "left/skip/also.txt") << "needle\n";
        std::ofstream(dir.Path() + "left/top.c") << "needle\n";
        StartOptions options;
        options.independent = true;
        options.leftDir = dir.Path() + "left";
        options.rightDir = dir.Path() + "right";
        window = std::make_unique<MainWindow>(options, nullptr);
        window->SetMessages(std::make_unique<test::RecordedMessages>());
        window->resize(1000, 600);
        window->show();
        QApplication::processEvents();
        test::WaitForReads(*window);
    }

    TDlgFind* OpenWithKeys()
    {
        QTest::keyClick(window->LeftPane()->List(), Qt::Key_F7, Qt::AltModifier);
        TDlgFind* d = window->FindDialog();
        EXPECT_NE(d, nullptr);
        if (d)
            EXPECT_TRUE(QTest::qWaitForWindowExposed(d));
        return d;
    }

    static void Type(QLineEdit* edit, const QString& text)
    {
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, text);
    }
};

TEST_F(DlgFindTest, ContentHitsStreamInAndLeadToTheFileAndTheMatch)
{
    TDlgFind* d = OpenWithKeys();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->FoldersEdit()->text().toStdString(), dir.Path() + "left/") << "the active pane's folder";
    EXPECT_FALSE(d->FeedButton()->isEnabled()) << "nothing found yet";

    Type(d->NamesEdit(), "*.txt;!skip");
    Type(d->TextEdit(), "needle");
    QTest::keyClick(d->TextEdit(), Qt::Key_Return); // Start is the default button
    TRY_VERIFY_WITH_TIMEOUT(d->Status()->text().startsWith("Done"), 20000);
    ASSERT_EQ(d->Results()->topLevelItemCount(), 1) << "other.txt lacks it, skip/ is left out, top.c is no .txt";
    QTreeWidgetItem* item = d->Results()->topLevelItem(0);
    EXPECT_EQ(item->text(0), "hit.txt");
    EXPECT_EQ(item->text(1).toStdString(), dir.Path() + "left/src/deep/");
    EXPECT_EQ(item->text(3), "40: here the Needle stands");
    EXPECT_TRUE(d->Status()->text().contains("1 found")) << d->Status()->text().toStdString();

    // "Go to file": the active pane on the folder, its cursor on the file.
    QTest::mouseClick(d->GoToButton(), Qt::LeftButton);
    PaneView* pane = window->LeftPane();
    TRY_VERIFY_WITH_TIMEOUT(pane->Data().Path == dir.Path() + "left/src/deep/" && !pane->Data().Reading(), 20000);
    TRY_VERIFY(pane->CurrentRow() >= 0 && pane->Data().Item(pane->CurrentRow()).Name == "hit.txt");

    // Return on the hit (not the search started over), then F3: the viewer
    // shows the file with the match selected on its line.
    window->SetActivePane(window->RightPane());
    d->Results()->setFocus();
    QTest::keyClick(d->Results(), Qt::Key_Return);
    EXPECT_FALSE(d->Running());
    EXPECT_EQ(d->Results()->topLevelItemCount(), 1);
    QTest::keyClick(d->Results(), Qt::Key_F3);
    TRY_VERIFY_WITH_TIMEOUT(window->Viewer()->IsOn() && !window->Viewer()->Reading(), 20000);
    TTextView* text = window->Viewer()->Pages().text->VWText;
    TRY_COMPARE(text->SelStart(), (TextCell{9, 39}));
    EXPECT_EQ(text->SelEnd(), (TextCell{15, 39}));
    EXPECT_EQ(window->RightPane()->Data().Path, dir.Path() + "left/src/deep/") << "the active pane went there";
}

TEST_F(DlgFindTest, NamesFeedAndQueriesThatCannotRun)
{
    std::vector<FindHit> fed;
    window->SetFindFeed([&](const FindQuery& q, std::vector<FindHit> hits) {
        EXPECT_EQ(q.namePatterns, "*.txt");
        fed = std::move(hits);
    });
    TDlgFind* d = OpenWithKeys();
    ASSERT_NE(d, nullptr);

    // A regular expression that does not compile is said; nothing runs.
    Type(d->TextEdit(), "a(b");
    QTest::mouseClick(d->RegexBox(), Qt::LeftButton);
    QTest::mouseClick(d->StartButton(), Qt::LeftButton);
    EXPECT_TRUE(d->Status()->text().contains("does not compile")) << d->Status()->text().toStdString();
    EXPECT_FALSE(d->Running());
    Type(d->MinSizeEdit(), "lots");
    Type(d->TextEdit(), "");
    QTest::mouseClick(d->StartButton(), Qt::LeftButton);
    EXPECT_TRUE(d->Status()->text().contains("is no size")) << d->Status()->text().toStdString();

    // By name, several folders; the hits go to the feed as found.
    Type(d->MinSizeEdit(), "");
    Type(d->NamesEdit(), "*.txt");
    Type(d->FoldersEdit(), QString::fromStdString(dir.Path() + "left/src; " + dir.Path() + "left/skip"));
    QTest::mouseClick(d->StartButton(), Qt::LeftButton);
    TRY_VERIFY_WITH_TIMEOUT(d->Status()->text().startsWith("Done"), 20000);
    EXPECT_EQ(d->Results()->topLevelItemCount(), 3);
    ASSERT_TRUE(d->FeedButton()->isEnabled());
    QTest::mouseClick(d->FeedButton(), Qt::LeftButton);
    EXPECT_EQ(fed.size(), 3u);

    // A folder that cannot be read is noted under the results.
    Type(d->FoldersEdit(), QString::fromStdString(dir.Path() + "nowhere"));
    QTest::mouseClick(d->StartButton(), Qt::LeftButton);
    TRY_VERIFY_WITH_TIMEOUT(d->Status()->text().startsWith("Done"), 20000);
    ASSERT_EQ(d->Notes()->count(), 1);
    EXPECT_TRUE(d->Notes()->item(0)->text().contains("No such file")) << d->Notes()->item(0)->text().toStdString();
    EXPECT_EQ(d->Results()->topLevelItemCount(), 0) << "the last search's hits went";

    // Closing the window with the dialog open, a search running: nothing waits.
    Type(d->FoldersEdit(), QString::fromStdString(dir.Path()));
    Type(d->NamesEdit(), "*");
    QTest::mouseClick(d->StartButton(), Qt::LeftButton);
    window.reset();
    QApplication::processEvents();
}

TEST_F(DlgFindTest, FeedToPaneMakesTheHitsThePanesPlace)
{
    TDlgFind* d = OpenWithKeys();
    ASSERT_NE(d, nullptr);
    Type(d->NamesEdit(), "*.txt;!skip");
    QTest::mouseClick(d->StartButton(), Qt::LeftButton);
    TRY_VERIFY_WITH_TIMEOUT(d->Status()->text().startsWith("Done"), 20000);
    ASSERT_EQ(d->Results()->topLevelItemCount(), 2);
    QTest::mouseClick(d->FeedButton(), Qt::LeftButton);

    PaneView* pane = window->LeftPane();
    TRY_VERIFY_WITH_TIMEOUT(pane->Data().SourceName == kSearchSourceName && !pane->Data().Reading(), 20000);
    std::vector<std::string> names;
    for (int i = 0; i < pane->Data().Count; ++i)
        if (pane->Data().Item(i).Kind == fkFile)
            names.push_back(pane->Data().Item(i).Name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"hit.txt", "other.txt"}));
}

} // namespace
