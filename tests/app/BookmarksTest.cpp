// The bookmark items of the "&Bookmarks" menu and the dialog that removes them.
#include "app/Bookmarks.h"
#include "app/BookmarksDialog.h"
#include "app/UserMessages.h"
#include "panes/DirData.h"

#include <QAction>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include "RecordedMessages.h"

#include <gtest/gtest.h>

using namespace tarnel;

namespace {

using test::RecordedMessages;

class BookmarkTest : public ::testing::Test {
protected:
    QMenu menu{"&Bookmarks"};
    BookmarkMenu* bookmarks = nullptr;

    void SetUp() override
    {
        menu.addAction("Add bookmark");
        menu.addAction("Edit bookmarks");
        menu.addSeparator();
        bookmarks = new BookmarkMenu(&menu);
    }

    QStringList Names() const
    {
        QStringList names;
        for (const QAction* a : menu.actions())
            names << a->objectName();
        return names;
    }

    // Clicks a line of the dialog's list the way the user would.
    static void ClickLine(BookmarksDialog& dialog, int row)
    {
        QListWidget* list = dialog.List();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
    }
    static void Press(BookmarksDialog& dialog, const char* name)
    {
        QTest::mouseClick(dialog.findChild<QPushButton*>(name), Qt::LeftButton);
    }
    static int Shown(BookmarksDialog& dialog)
    {
        dialog.show();
        return QTest::qWaitForWindowExposed(&dialog) ? 1 : 0;
    }
};

} // namespace

TEST_F(BookmarkTest, ItemsAreNamedByTheMenuCountAndDuplicatesAreKept)
{
    bookmarks->Append("/data/");
    bookmarks->Append("/data/");
    bookmarks->Append("/a&b/");
    EXPECT_EQ(Names(), QStringList({"", "", "", "bkmk03", "bkmk04", "bkmk05"}));
    EXPECT_EQ(bookmarks->Paths(), (std::vector<std::string>{"/data/", "/data/", "/a&b/"}));
    const QAction* last = menu.actions().constLast();
    EXPECT_EQ(last->statusTip(), "/a&b/");
    EXPECT_EQ(last->toolTip(), "/a&b/");
    EXPECT_EQ(last->iconText(), "/a&b/"); // shown with "&", not as a mnemonic
}

TEST_F(BookmarkTest, AddFromPaneEndsThePathWithASlashAndRefusesArchives)
{
    RecordedMessages messages;
    TDirData pane;
    pane.Path = "/home/user/docs";
    EXPECT_TRUE(bookmarks->AddFromPane(pane, messages));
    pane.Path = "/";
    EXPECT_TRUE(bookmarks->AddFromPane(pane, messages));
    EXPECT_EQ(bookmarks->Paths(), (std::vector<std::string>{"/home/user/docs/", "/"}));
    EXPECT_TRUE(messages.log.isEmpty());

    pane.Path = "/home/user/data.zip";
    pane.ZipMode = 1;
    pane.ZipPath = "docs/";
    EXPECT_FALSE(bookmarks->AddFromPane(pane, messages));
    EXPECT_EQ(messages.log, QStringList({"information: You can't bookmark a compressed file (yet)."}));
    EXPECT_EQ(bookmarks->Paths().size(), 2u);
}

TEST_F(BookmarkTest, RawBytePathsSurviveListingTriggeringAndEditing)
{
    const std::string latin1 = "/tmp/caf\xe9/";      // not valid UTF-8
    const std::string broken = "/tmp/\xff\xfe x/";
    bookmarks->Append(latin1);
    bookmarks->Append(broken);
    EXPECT_EQ(bookmarks->Paths(), (std::vector<std::string>{latin1, broken}));

    std::vector<std::string> went;
    QObject::connect(bookmarks, &BookmarkMenu::goTo, [&](const std::string& p) { went.push_back(p); });
    menu.actions()[4]->trigger();
    menu.actions()[3]->trigger();
    EXPECT_EQ(went, (std::vector<std::string>{broken, latin1}));

    EXPECT_TRUE(BookmarksDialog::EditBookmarks(*bookmarks, nullptr, [](BookmarksDialog&) { return int(QDialog::Accepted); }));
    EXPECT_EQ(bookmarks->Paths(), (std::vector<std::string>{latin1, broken}));
}

TEST_F(BookmarkTest, ReplaceRenumbersAndKeepsTheFixedItems)
{
    bookmarks->Append("/a/");
    bookmarks->Append("/b/");
    bookmarks->Replace({"/c/", "/d/", "/e/"});
    EXPECT_EQ(Names(), QStringList({"", "", "", "bkmk03", "bkmk04", "bkmk05"}));
    EXPECT_EQ(bookmarks->Paths(), (std::vector<std::string>{"/c/", "/d/", "/e/"}));
    EXPECT_EQ(menu.actions()[0]->text(), "Add bookmark");

    // The replaced items no longer answer.
    int triggered = 0;
    QObject::connect(bookmarks, &BookmarkMenu::goTo, [&](const std::string&) { ++triggered; });
    bookmarks->Replace({});
    EXPECT_EQ(menu.actions().size(), 3);
    EXPECT_EQ(triggered, 0);
}

TEST_F(BookmarkTest, DialogDeleteNeedsASelectedLine)
{
    bookmarks->Replace({"/a/", "/b/", "/c/"});
    const bool applied = BookmarksDialog::EditBookmarks(*bookmarks, nullptr, [](BookmarksDialog& dialog) {
        EXPECT_EQ(Shown(dialog), 1);
        dialog.List()->setFocus(); // focus alone gives a current row, not a selection
        Press(dialog, "BtnDelete");
        EXPECT_EQ(dialog.Paths(), (std::vector<std::string>{"/a/", "/b/", "/c/"}));
        ClickLine(dialog, 1);
        Press(dialog, "BtnDelete");
        EXPECT_EQ(dialog.Paths(), (std::vector<std::string>{"/a/", "/c/"}));
        Press(dialog, "BtnOK");
        return dialog.result();
    });
    EXPECT_TRUE(applied);
    EXPECT_EQ(bookmarks->Paths(), (std::vector<std::string>{"/a/", "/c/"}));
    EXPECT_EQ(Names(), QStringList({"", "", "", "bkmk03", "bkmk04"}));
}

TEST_F(BookmarkTest, DialogOkAppliesDeletionsAndCancelKeepsEverything)
{
    bookmarks->Replace({"/a/", "/a/", "/b/"});
    auto deleteAllThen = [](const char* button) {
        return [button](BookmarksDialog& dialog) {
            EXPECT_EQ(Shown(dialog), 1);
            while (dialog.List()->count() > 0) {
                const int before = dialog.List()->count();
                ClickLine(dialog, 0);
                Press(dialog, "BtnDelete");
                if (dialog.List()->count() != before - 1) {
                    ADD_FAILURE() << "Delete removed no line";
                    break;
                }
            }
            Press(dialog, button);
            return dialog.result();
        };
    };

    EXPECT_FALSE(BookmarksDialog::EditBookmarks(*bookmarks, nullptr, deleteAllThen("BtnCancel")));
    EXPECT_EQ(bookmarks->Paths(), (std::vector<std::string>{"/a/", "/a/", "/b/"}));

    EXPECT_TRUE(BookmarksDialog::EditBookmarks(*bookmarks, nullptr, deleteAllThen("BtnOK")));
    EXPECT_TRUE(bookmarks->Paths().empty());
    EXPECT_EQ(menu.actions().size(), 3);
}
