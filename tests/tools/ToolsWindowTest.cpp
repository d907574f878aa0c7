// The tools reached from the real window: the rename command without a single
// selected entry, and the two "&Utility" items.
#include "app/MainWindow.h"
#include "app/PaneReads.h"
#include "tools/DlgId3.h"
#include "tools/DlgRenamer.h"
#include "tools/DlgUninstall.h"
#include "widgets/PaneView.h"

#include "app/RecordedMessages.h"
#include "panes/TempTree.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace tarnel;

namespace {

class ToolsWindowTest : public ::testing::Test {
protected:
    test::TempTree dir;
    std::unique_ptr<MainWindow> window;
    QStringList opened;

    void SetUp() override
    {
        dir.Dir("left");
        dir.Dir("right");
        for (const char* n : {"one.mp3", "two.mp3", "three.txt"})
            std::ofstream(dir.Path() + "left/" + n) << std::string(200, 'a');
        StartOptions options;
        options.independent = true;
        options.leftDir = dir.Path() + "left";
        options.rightDir = dir.Path() + "right";
        window = std::make_unique<MainWindow>(options, nullptr);
        window->SetMessages(std::make_unique<test::RecordedMessages>());
        window->show();
        QApplication::processEvents();
        test::WaitForReads(*window);
    }
};

} // namespace

TEST_F(ToolsWindowTest, RenameWithoutASingleSelectionOpensTheRenamer)
{
    window->SetNameDialogRunner([&](QDialog& d) {
        auto* renamer = qobject_cast<TDlgRenamer*>(&d);
        opened << d.windowTitle();
        if (!renamer)
            return int(QDialog::Rejected);
        renamer->Pattern()->setText("*.mp3");
        renamer->Template()->setText("song[C2]");
        renamer->BTNCheckClick();
        renamer->BTNRenameClick();
        return renamer->result();
    });
    QTest::mouseClick(window->CommandButton("BTNRename"), Qt::LeftButton);
    EXPECT_EQ(opened, QStringList{"Renamer"});
    EXPECT_TRUE(std::filesystem::exists(dir.Path() + "left/song01"));
    EXPECT_TRUE(std::filesystem::exists(dir.Path() + "left/song02"));
    bool listed = false;
    ASSERT_TRUE(test::PaneRead(window->LeftPane()->Data()));
    for (int i = 0; i < window->LeftPane()->Data().Count; ++i)
        listed |= window->LeftPane()->Data().Item(i).Name == "song02";
    EXPECT_TRUE(listed); // the pane was read again
}

TEST_F(ToolsWindowTest, UtilityMenuOpensTheTagManagerAndTheSoftwareList)
{
    window->SetNameDialogRunner([&](QDialog& d) {
        opened << d.windowTitle();
        if (auto* id3 = qobject_cast<TDlgId3*>(&d))
            opened << QString::number(id3->Grid()->rowCount());
        return int(QDialog::Rejected);
    });
    QAction* id3 = window->Action("EditID3tags1");
    QAction* uninstall = window->Action("Uninstall1");
    ASSERT_TRUE(id3 && uninstall);
    EXPECT_TRUE(id3->isEnabled());
    EXPECT_EQ(uninstall->statusTip(), "Remove some software currently installed on this machine");
    id3->trigger();
    uninstall->trigger();
    EXPECT_EQ(opened, (QStringList{"ID3 manager", "2", "Uninstall software"}));
}
