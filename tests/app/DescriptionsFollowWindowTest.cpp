// Descriptions following their files through the window's file commands.
#include "app/PaneReads.h"
#include "app/MainWindow.h"
#include "descriptions/Descriptions.h"
#include "fileops/NameDialogs.h"
#include "platform/ShellFileOperation.h"
#include "widgets/PaneView.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

struct YesUi : OperationUi {
    ReplaceAnswer AskReplace(const std::string&) override { return ReplaceAnswer::No; }
    ErrorAnswer AskError(const std::string&, const std::string&, int) override { return ErrorAnswer::Cancel; }
    bool ConfirmTrash(size_t) override { return true; }
    DeleteAnswer AskDeletePermanently(const std::string&) override { return DeleteAnswer::No; }
    void Refused(const std::string&) override {}
    bool Progress(uint64_t, uint64_t, uint64_t, uint64_t, const std::string&) override { return true; }
};

struct Quiet : UserMessages {
    void Error(const QString&) override {}
    void Warning(const QString&) override {}
    void Information(const QString&) override {}
    bool Confirm(const QString&) override { return true; }
};

class DescriptionsFollowWindow : public ::testing::TestWithParam<bool> {
protected:
    std::string root, left, right;
    std::unique_ptr<MainWindow> window;
    YesUi ui;

    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-descfollow-XXXXXX";
        root = mkdtemp(tmpl);
        left = root + "/left/";
        right = root + "/right/";
        fs::create_directories(left);
        fs::create_directories(right);
        fs::create_directories(root + "/home");
        for (const char* name : {"copied.txt", "moved.txt", "renamed.txt", "deleted.txt", "kept.txt", "late.txt"})
            std::ofstream(left + name) << name;
        std::ofstream(right + "kept.txt") << "there already";
        // Written by another program: lower case, with a byte-order mark.
        std::ofstream(left + "descript.ion", std::ios::binary)
            << "\xEF\xBB\xBF" "copied.txt C\r\nmoved.txt M\r\nrenamed.txt R\r\ndeleted.txt D\r\nkept.txt K\r\nlate.txt L\r\n";
        std::ofstream(right + "DESCRIPT.ION", std::ios::binary) << "kept.txt theirs\r\n";
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(root + "/home"));
        StartOptions options;
        options.independent = true;
        options.leftDir = root + "/left";
        options.rightDir = root + "/right";
        window = std::make_unique<MainWindow>(options, nullptr);
        window->SetOperationUi(&ui);
        window->SetMessages(std::make_unique<Quiet>());
        window->Settings().DescriptionsFollow = GetParam();
        window->Settings().ConfirmCopyTarget = false; // the target dialog has tests of its own
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
    int Row(PaneView* pane, const std::string& name)
    {
        test::WaitForReads(*window);
        for (int i = 0; i < pane->Data().Count; ++i)
            if (pane->Data().Item(i).Name == name)
                return i;
        return -1;
    }
    std::string Shown(PaneView* pane, const std::string& name)
    {
        const int row = Row(pane, name);
        return row < 0 ? "(not listed)" : pane->Data().Item(row).Description;
    }
    void Select(const std::string& name)
    {
        test::WaitForReads(*window);
        Left()->SetRangeSelected(0, Left()->Data().Count - 1, false);
        Left()->SetSelected(Row(Left(), name), true);
        Left()->List()->setFocus();
    }
    static std::string Get(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
};

} // namespace

TEST_P(DescriptionsFollowWindow, CopyMoveRenameAndDeleteCarryTheirDescriptionsOnlyWhenOn)
{
    const bool on = GetParam();
    // Read from the other program's file at once.
    EXPECT_EQ(Shown(Left(), "copied.txt"), "C");

    Select("copied.txt");
    QTest::mouseClick(window->CommandButton("BTNCopy"), Qt::LeftButton);
    test::WaitForOperations(*window);
    EXPECT_EQ(Shown(window->RightPane(), "copied.txt"), on ? "C" : "");
    EXPECT_EQ(Shown(Left(), "copied.txt"), "C");

    Select("moved.txt");
    QTest::mouseClick(window->CommandButton("BTNMove"), Qt::LeftButton);
    test::WaitForOperations(*window);
    EXPECT_EQ(Shown(window->RightPane(), "moved.txt"), on ? "M" : "");
    EXPECT_EQ(ReadDescription(left + "moved.txt"), on ? "" : "M");

    // A conflict answered "No" carries nothing.
    Select("kept.txt");
    QTest::mouseClick(window->CommandButton("BTNCopy"), Qt::LeftButton);
    test::WaitForOperations(*window);
    EXPECT_EQ(Shown(window->RightPane(), "kept.txt"), "theirs");

    Select("renamed.txt");
    window->SetNameDialogRunner([](QDialog& d) {
        static_cast<RenameDialog&>(d).NameEdit()->setText("new name.txt");
        return int(QDialog::Accepted);
    });
    window->DoFileOperation(FO_RENAME);
    test::WaitForOperations(*window);
    EXPECT_EQ(Shown(Left(), "new name.txt"), on ? "R" : "");

    Select("deleted.txt");
    QTest::keyClick(Left()->List(), Qt::Key_Delete);
    test::WaitForOperations(*window);
    ASSERT_FALSE(fs::exists(left + "deleted.txt"));
    EXPECT_EQ(Get(left + "descript.ion").find("deleted.txt") == std::string::npos, on);

    // A background copy carries too, from its own thread.
    window->Settings().UseAsyncShell = true;
    Select("late.txt");
    window->DoFileOperation(FO_COPY);
    test::WaitForOperations(*window);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->AsyncSlots().Count() == 0; }, 10000));
    EXPECT_EQ(Shown(window->RightPane(), "late.txt"), on ? "L" : "");

    // The other program's file keeps its name and its mark.
    EXPECT_FALSE(fs::exists(left + "DESCRIPT.ION"));
    EXPECT_EQ(Get(left + "descript.ion").rfind("\xEF\xBB\xBF", 0), 0u);
    if (!on)
        EXPECT_EQ(Get(right + "DESCRIPT.ION"), "kept.txt theirs\r\n");
}

INSTANTIATE_TEST_SUITE_P(Option, DescriptionsFollowWindow, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "On" : "Off"; });
