// The properties dialog opens with what the names tell and fills in what the
// file system tells as workers answer; going away never waits for them.
#include "fileops/PropertiesDialog.h"
#include "panes/TempTree.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <fstream>

#include <unistd.h>

using namespace tarnel;

TEST(PropertiesDialog, ClosedDuringItsWalkWaitsForNothingAndHearsNothing)
{
    test::TempTree tree;
    for (int i = 0; i < 200; ++i)
        tree.Dir("d" + std::to_string(i) + "/e/f");
    QWidget window;
    QElapsedTimer closing;
    {
        PropertiesDialog dialog({tree.Path() + "d0"}, &window);
        closing.start();
    } // closed at once: the totals arrive for nobody
    EXPECT_LT(closing.elapsed(), 1000);
    QTest::qWait(200); // a late answer would reach a freed dialog here

    PropertiesDialog dialog({tree.Path() + "d1"}, &window);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.TotalsDone(); }, 5000));
    EXPECT_TRUE(dialog.TotalsText().endsWith("0 files, 2 folders")) << dialog.TotalsText().toStdString();
}

TEST(PropertiesDialog, OneEntrysFactsFillInAndAMissingOneSaysSo)
{
    test::TempTree tree;
    const std::string file = tree.Path() + "notes.txt";
    std::ofstream(file) << "some text\n";
    ASSERT_EQ(::symlink("notes.txt", (tree.Path() + "link").c_str()), 0);

    PropertiesDialog text({file});
    EXPECT_EQ(text.RowText("Location:").toStdString() + "/", tree.Path());
    ASSERT_TRUE(QTest::qWaitFor([&] { return text.FactsDone() && text.TotalsDone(); }, 5000));
    EXPECT_NE(text.RowText("Type:"), "…");
    EXPECT_TRUE(text.RowText("Type:").contains("text", Qt::CaseInsensitive)) << text.RowText("Type:").toStdString();
    EXPECT_TRUE(text.RowText("Permissions:").startsWith("rw")) << text.RowText("Permissions:").toStdString();
    EXPECT_TRUE(text.TotalsText().endsWith("(10 bytes), 1 files, 0 folders")) << text.TotalsText().toStdString();

    PropertiesDialog link({tree.Path() + "link"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return link.FactsDone(); }, 5000));
    EXPECT_EQ(link.RowText("Type:"), "Symbolic link");

    PropertiesDialog gone({tree.Path() + "gone"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return gone.FactsDone(); }, 5000));
    EXPECT_TRUE(gone.RowText("Type:").startsWith("Cannot be looked at")) << gone.RowText("Type:").toStdString();
    EXPECT_EQ(gone.RowText("Owner:"), "?");
}
