// The quick-go menus over fake drives that are temporary directories.
#include "app/QuickGoMenu.h"
#include "platform/Volumes.h"

#include <QAction>
#include <QMenu>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

class QuickGoTest : public ::testing::Test {
protected:
    std::string root;
    DriveList saved;
    QWidget window;
    QuickGoMenu* quickGo = nullptr;
    std::vector<std::string> went;

    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-quickgo-XXXXXX";
        root = mkdtemp(tmpl);
        // d1: Alpha, beta (holds only a link to a directory), gamma/inner,
        // Link -> other, plus things that are no directories.
        fs::create_directories(root + "/d1/Alpha");
        fs::create_directories(root + "/d1/beta");
        fs::create_directories(root + "/d1/gamma/inner");
        fs::create_directories(root + "/other");
        fs::create_directory_symlink(root + "/d1/Alpha", root + "/d1/beta/toAlpha");
        fs::create_directory_symlink(root + "/other", root + "/d1/Link");
        fs::create_symlink(root + "/nowhere", root + "/d1/dangling");
        std::ofstream(root + "/d1/afile") << "x";
        std::ofstream(root + "/d1/gamma/file") << "x";

        saved = SystemDrives();
        Volume one;
        one.root = root + "/d1";
        one.displayText = "d1 [one]";
        Volume gone;
        gone.root = root + "/missing";
        gone.displayText = "gone";
        SetSystemDrives({one, gone});

        quickGo = new QuickGoMenu(&window);
        QObject::connect(quickGo, &QuickGoMenu::goTo, [this](const std::string& p) { went.push_back(p); });
    }
    void TearDown() override
    {
        SetSystemDrives(saved);
        chmod((root + "/d1/gamma").c_str(), 0755);
        fs::remove_all(root);
    }

    static QStringList Texts(const QMenu* menu)
    {
        QStringList texts;
        for (const QAction* a : menu->actions())
            texts << a->text();
        return texts;
    }
    static QMenu* Sub(const QMenu* menu, const QString& text)
    {
        for (QAction* a : menu->actions())
            if (a->text() == text)
                return a->menu<QMenu*>();
        return nullptr;
    }
    static QAction* Item(const QMenu* menu, const QString& text)
    {
        for (QAction* a : menu->actions())
            if (a->text() == text)
                return a;
        return nullptr;
    }
    // What the menu does when the user opens a sub-menu; the listing comes
    // from a worker, and the test waits for it.
    static void Open(QMenu* sub)
    {
        emit sub->aboutToShow();
        EXPECT_TRUE(QuickGoMenu::IsReading(sub));
        EXPECT_TRUE(QTest::qWaitFor([sub] { return !QuickGoMenu::IsReading(sub); }));
    }
};

} // namespace

TEST_F(QuickGoTest, DriveItemsCarryTheirRootAsDefaultArrowItem)
{
    QMenu* menu = quickGo->Menu();
    quickGo->Refill(menu);
    quickGo->Refill(menu); // rebuilt, not added to
    ASSERT_EQ(Texts(menu), QStringList({"d1 [one]", "gone"}));
    EXPECT_EQ(menu->actions()[0]->objectName(), "PopMyItem1");
    EXPECT_EQ(menu->actions()[1]->objectName(), "PopMyItem2");
    EXPECT_EQ(menu->findChildren<QMenu*>().size(), 2); // the old sub-menus are gone

    const QString place = QString::fromStdString(root + "/d1/");
    EXPECT_EQ(menu->actions()[0]->statusTip(), place);
    QMenu* drive = Sub(menu, "d1 [one]");
    ASSERT_NE(drive, nullptr);
    ASSERT_EQ(Texts(drive), QStringList({"-> " + place}));
    EXPECT_EQ(drive->defaultAction(), drive->actions()[0]);
    EXPECT_EQ(drive->actions()[0]->statusTip(), place);

    drive->actions()[0]->trigger();
    EXPECT_EQ(went, std::vector<std::string>{root + "/d1/"});
}

TEST_F(QuickGoTest, DriveItemsGoBeforeItemsAlreadyThere)
{
    QMenu menu;
    menu.addAction("Tail");
    quickGo->FillDriveItems(&menu);
    EXPECT_EQ(Texts(&menu), QStringList({"d1 [one]", "gone", "Tail"}));
    EXPECT_EQ(menu.actions()[0]->objectName(), "PopMyItem2");
    EXPECT_EQ(menu.actions()[1]->objectName(), "PopMyItem3");
}

TEST_F(QuickGoTest, OpeningASubMenuListsDirectoriesCaseBlindWithBranchesForNonEmptyOnes)
{
    QMenu* menu = quickGo->Menu();
    quickGo->Refill(menu);
    QMenu* drive = Sub(menu, "d1 [one]");
    Open(drive);
    const QString d1 = QString::fromStdString(root + "/d1/");
    EXPECT_EQ(Texts(drive), QStringList({"-> " + d1, "Alpha", "beta", "gamma", "Link"}));

    EXPECT_EQ(Sub(drive, "Alpha"), nullptr);
    EXPECT_EQ(Sub(drive, "Link"), nullptr);
    EXPECT_EQ(Item(drive, "Alpha")->statusTip(), d1 + "Alpha/");
    for (const char* branch : {"beta", "gamma"}) { // beta holds only a link to a directory
        QMenu* sub = Sub(drive, branch);
        ASSERT_NE(sub, nullptr) << branch;
        EXPECT_EQ(Texts(sub), QStringList({QString("-> ") + branch}));
        EXPECT_EQ(sub->defaultAction(), sub->actions()[0]);
        EXPECT_EQ(sub->menuAction()->statusTip(), d1 + branch + "/");
    }

    // One level at a time: gamma's own sub-menu waits for its opening.
    QMenu* gamma = Sub(drive, "gamma");
    Open(gamma);
    EXPECT_EQ(Texts(gamma), QStringList({"-> gamma", "inner"}));

    // Every opening lists afresh and drops the earlier sub-items.
    fs::create_directory(root + "/d1/Delta");
    fs::remove_all(root + "/d1/gamma");
    Open(drive);
    EXPECT_EQ(Texts(drive), QStringList({"-> " + d1, "Alpha", "beta", "Delta", "Link"}));
    EXPECT_EQ(drive->findChildren<QMenu*>(Qt::FindDirectChildrenOnly).size(), 1); // beta's
}

TEST_F(QuickGoTest, ChoosingALeafOrAnArrowItemGoesThere)
{
    const std::string odd = "zz\xe9"; // not valid UTF-8
    fs::create_directory(root + "/d1/" + odd);
    QMenu* menu = quickGo->Menu();
    quickGo->Refill(menu);
    QMenu* drive = Sub(menu, "d1 [one]");
    Open(drive);
    Item(drive, "Alpha")->trigger();
    Item(drive, "Link")->trigger();
    QMenu* gamma = Sub(drive, "gamma");
    gamma->actions()[0]->trigger();
    drive->actions().constLast()->trigger(); // zz... sorts last

    EXPECT_EQ(went, (std::vector<std::string>{root + "/d1/Alpha/", root + "/d1/Link/", root + "/d1/gamma/",
                                              root + "/d1/" + odd + "/"}));
}

TEST_F(QuickGoTest, UnreadableOrMissingDirectoriesKeepOnlyTheirArrowItem)
{
    QMenu* menu = quickGo->Menu();
    quickGo->Refill(menu);
    QMenu* gone = Sub(menu, "gone");
    Open(gone);
    EXPECT_EQ(Texts(gone), QStringList({"-> " + QString::fromStdString(root + "/missing/")}));

    QMenu* drive = Sub(menu, "d1 [one]");
    Open(drive);
    QMenu* beta = Sub(drive, "beta");
    QMenu* gamma = Sub(drive, "gamma");
    ASSERT_TRUE(beta && gamma);
    fs::remove_all(root + "/d1/beta"); // vanished since the listing
    Open(beta);
    EXPECT_EQ(Texts(beta), QStringList({"-> beta"}));
    if (geteuid() != 0) { // permissions do not stop root
        ASSERT_EQ(chmod((root + "/d1/gamma").c_str(), 0), 0);
        Open(gamma);
        EXPECT_EQ(Texts(gamma), QStringList({"-> gamma"}));
    }
}

TEST_F(QuickGoTest, KeyboardThroughThePoppedUpMenu)
{
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    quickGo->Popup(window.mapToGlobal(QPoint(10, 10)));
    QMenu* menu = quickGo->Menu();
    ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 3000));

    QTest::keyClick(menu, Qt::Key_Down);  // d1 [one]
    QTest::keyClick(menu, Qt::Key_Right); // opens it: listed on a worker, filled in while open
    QMenu* drive = Sub(menu, "d1 [one]");
    ASSERT_TRUE(QTest::qWaitFor([&] { return drive->isVisible(); }, 3000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !QuickGoMenu::IsReading(drive); }, 3000));
    EXPECT_EQ(drive->actions().size(), 5);
    for (int i = 0; i < 5 && drive->activeAction() != Item(drive, "Alpha"); ++i)
        QTest::keyClick(drive, Qt::Key_Down);
    ASSERT_EQ(drive->activeAction(), Item(drive, "Alpha"));
    QTest::keyClick(drive, Qt::Key_Return);
    EXPECT_EQ(went, std::vector<std::string>{root + "/d1/Alpha/"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return !menu->isVisible(); }, 3000));
}

TEST(QuickGoListing, SubdirectoriesOfAPlainTree)
{
    char tmpl[] = "/tmp/tarnel-subdirs-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    for (const char* name : {"b", "A", "c", "B"})
        fs::create_directory(dir + "/" + name);
    fs::create_directory(dir + "/c/x");
    std::ofstream(dir + "/file") << "x";
    std::vector<std::string> names;
    std::vector<bool> branches;
    EXPECT_TRUE(ListSubdirectories(dir, names, &branches));
    EXPECT_EQ(names, (std::vector<std::string>{"A", "B", "b", "c"})); // equal keys: byte order
    EXPECT_EQ(branches, (std::vector<bool>{false, false, false, true}));
    EXPECT_FALSE(ListSubdirectories(dir + "/nothing", names));
    EXPECT_TRUE(names.empty());
    fs::remove_all(dir);
}
