// "To zip" with a format other than ZIP: the dialog's name follows the
// format, and the archive is made on a worker with the selection in it.
#include "app/MainWindow.h"
#include "app/ModalAnswerer.h"
#include "app/PaneReads.h"
#include "app/RecordedMessages.h"
#include "fileops/NameDialogs.h"
#include "widgets/PaneView.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> Members(const std::string& archive)
{
    std::vector<std::string> names;
    FILE* pipe = ::popen(("bsdtar -tf '" + archive + "' 2>/dev/null").c_str(), "r");
    if (!pipe)
        return names;
    char line[4096];
    while (fgets(line, sizeof line, pipe)) {
        std::string name = line;
        while (!name.empty() && (name.back() == '\n' || name.back() == '/'))
            name.pop_back();
        names.push_back(name);
    }
    ::pclose(pipe);
    std::sort(names.begin(), names.end());
    return names;
}

// Picks a format the way a user does: with the keyboard on the box.
void PickFormat(NewDirDialog& dialog, const QString& format)
{
    QComboBox* box = dialog.FormatBox();
    QTest::keyClick(box, Qt::Key_Home);
    for (int i = 0; i < box->count() && box->currentText() != format; ++i)
        QTest::keyClick(box, Qt::Key_Down);
}

TEST(NewArchiveDialog, TheNameFollowsTheFormatAndTheFormatTheName)
{
    NewDirDialog dialog(true);
    dialog.show();
    EXPECT_TRUE(dialog.FormatBox()->isEnabled());
    EXPECT_EQ(dialog.FormatBox()->currentText(), "ZIP");
    EXPECT_EQ(dialog.Kind(), std::nullopt);
    QTest::keyClicks(dialog.NameEdit(), "made");
    PickFormat(dialog, "tar.gz");
    EXPECT_EQ(dialog.NameEdit()->text(), "made.tar.gz");
    EXPECT_EQ(dialog.Kind(), ArchiveKind::TarGz);
    PickFormat(dialog, "7z");
    EXPECT_EQ(dialog.NameEdit()->text(), "made.7z");
    PickFormat(dialog, "ZIP");
    EXPECT_EQ(dialog.NameEdit()->text(), "made.zip");

    dialog.NameEdit()->clear();
    QTest::keyClicks(dialog.NameEdit(), "backup.tar.zst");
    EXPECT_EQ(dialog.FormatBox()->currentText(), "tar.zst");
    EXPECT_EQ(dialog.NameEdit()->text(), "backup.tar.zst") << "typing is not undone";

    // A folder's dialog offers the format only once an archive is asked for.
    NewDirDialog folder(false);
    folder.show();
    EXPECT_FALSE(folder.FormatBox()->isEnabled());
    QTest::keyClicks(folder.NameEdit(), "old.tgz");
    EXPECT_TRUE(folder.ZipBox()->isChecked());
    EXPECT_TRUE(folder.FormatBox()->isEnabled());
    EXPECT_EQ(folder.Kind(), ArchiveKind::TarGz);
}

class ArchiveToZipTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-totar-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        root = tmpl;
        fs::create_directories(root + "/left/pack/docs");
        fs::create_directories(root + "/right");
        std::ofstream(root + "/left/pack/docs/c.txt") << "inner";
        std::ofstream(root + "/left/pack/top.txt") << "top";
        std::ofstream(root + "/left/single.txt") << "single";
        StartOptions options;
        options.independent = true;
        options.leftDir = root + "/left";
        options.rightDir = root + "/right";
        window = std::make_unique<MainWindow>(options, nullptr);
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

    int Row(PaneView* pane, const std::string& name)
    {
        EXPECT_TRUE(test::PaneRead(pane->Data()));
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
    void ToArchive(const QString& name, const QString& format)
    {
        window->SetNameDialogRunner([=](QDialog& d) {
            auto& dialog = static_cast<NewDirDialog&>(d);
            QTest::keyClicks(dialog.NameEdit(), name);
            PickFormat(dialog, format);
            return int(QDialog::Accepted);
        });
        QTest::mouseClick(window->CommandButton("BTNToZip"), Qt::LeftButton);
    }

    std::string root;
    std::unique_ptr<MainWindow> window;
    test::RecordedMessages* messages = nullptr;
};

TEST_F(ArchiveToZipTest, MakesTheArchiveOnAWorkerAndShowsItInTheOtherPane)
{
    test::ModalAnswerer unexpected([](QWidget* modal) {
        ADD_FAILURE() << "asked: " << modal->metaObject()->className();
        static_cast<QDialog*>(modal)->reject();
    });
    window->SetActivePane(window->LeftPane());
    Select(window->LeftPane(), {"pack", "single.txt"});
    ToArchive("made", "tar.xz");
    // The click has returned with the work still the runner's.
    EXPECT_EQ(window->OperationsRunning(), 1);
    test::WaitForOperations(*window);
    const std::string made = root + "/right/made.tar.xz";
    EXPECT_EQ(Members(made), (std::vector<std::string>{"pack", "pack/docs", "pack/docs/c.txt", "pack/top.txt",
                                                        "single.txt"}));
    // As with a new ZIP, the other pane goes into the new archive.
    test::WaitForReads(*window);
    EXPECT_EQ(window->RightPane()->Data().ArchiveFile(), made);
    EXPECT_EQ(window->RightPane()->Data().Source(), std::string(kArchiveSourceName));
    EXPECT_GE(Row(window->RightPane(), "pack"), 0) << "the new archive is shown";
    EXPECT_GE(Row(window->RightPane(), "single.txt"), 0);
    EXPECT_TRUE(fs::exists(root + "/left/pack/top.txt")) << "a copy, not a move";
    EXPECT_TRUE(messages->log.isEmpty()) << messages->log.join("; ").toStdString();
}

TEST_F(ArchiveToZipTest, TheNewFolderDialogMakesAnEmptyArchiveAndAnExistingNameIsLeftAlone)
{
    window->SetActivePane(window->LeftPane());
    window->SetNameDialogRunner([](QDialog& d) {
        auto& dialog = static_cast<NewDirDialog&>(d);
        QTest::keyClicks(dialog.NameEdit(), "empty.tar");
        return int(QDialog::Accepted);
    });
    EXPECT_EQ(window->CreateDirOrZip(false, false), root + "/left/empty.tar");
    test::WaitForOperations(*window);
    EXPECT_TRUE(fs::exists(root + "/left/empty.tar"));
    EXPECT_TRUE(Members(root + "/left/empty.tar").empty());
    EXPECT_GE(Row(window->LeftPane(), "empty.tar"), 0);

    std::ofstream(root + "/right/made.7z") << "someone else's";
    window->SetActivePane(window->LeftPane());
    Select(window->LeftPane(), {"single.txt"});
    ToArchive("made", "7z");
    test::WaitForOperations(*window);
    std::ifstream in(root + "/right/made.7z");
    std::stringstream kept;
    kept << in.rdbuf();
    EXPECT_EQ(kept.str(), "someone else's");
    ASSERT_EQ(messages->log.size(), 1);
    EXPECT_TRUE(messages->log[0].contains("already there")) << messages->log[0].toStdString();
}

} // namespace
