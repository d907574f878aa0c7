// The "Renamer" dialog on real files: check texts, renames through the
// engine, chains, and a directory that changes after "Check".
#include "tools/DlgRenamer.h"
#include "tools/ToolText.h"

#include "app/RecordedMessages.h"
#include "panes/PaneFixture.h"
#include "panes/ReadDirectory.h"
#include "panes/TempTree.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

using namespace tarnel;

namespace {

class RenamerDialogTest : public ::testing::Test {
protected:
    test::TempTree dir;
    test::PaneFixture fixture;
    test::RecordedMessages messages;
    int rereads = 0;

    void Files(const std::vector<std::string>& names)
    {
        for (const std::string& n : names)
            std::ofstream(dir.Path() + n) << n;
        fixture.pane.Path = dir.Path();
        ReadDirectory(fixture.pane);
    }
    void Select(const std::vector<std::string>& names)
    {
        for (int i = 0; i < fixture.pane.Count; ++i)
            for (const std::string& n : names)
                if (fixture.pane.Item(i).Name == n)
                    fixture.controls.SetSelected(i, true);
    }
    std::unique_ptr<TDlgRenamer> Open()
    {
        return std::make_unique<TDlgRenamer>(
            fixture.pane,
            [this] {
                ++rereads;
                ReadDirectory(fixture.pane);
            },
            messages, nullptr);
    }
    bool OnDisk(const std::string& name) { return std::filesystem::exists(dir.Path() + name); }
    std::string Content(const std::string& name)
    {
        std::ifstream in(dir.Path() + name);
        std::string s;
        std::getline(in, s);
        return s;
    }
    static std::vector<std::string> NewNames(const TDlgRenamer& d)
    {
        std::vector<std::string> out;
        for (const RenameLine& l : d.Plan())
            out.push_back(l.newName);
        return out;
    }
};

} // namespace

TEST_F(RenamerDialogTest, CounterTemplateRenamesTheSelectedFilesAndCloses)
{
    Files({"a.jpg", "b.jpg", "c.jpg", "pic002", "notes.txt"});
    Select({"a.jpg", "b.jpg", "c.jpg"});
    auto d = Open();
    EXPECT_EQ(d->windowTitle(), "Renamer");
    EXPECT_EQ(NewNames(*d), (std::vector<std::string>{"a.jpg", "b.jpg", "c.jpg"})); // the defaults change nothing
    EXPECT_FALSE(d->RenameButton()->isEnabled());

    d->Template()->setText("pic[C3]");
    EXPECT_EQ(NewNames(*d), (std::vector<std::string>{"pic001", "pic003", "pic004"}));
    QTest::mouseClick(d->CheckButton(), Qt::LeftButton);
    ASSERT_TRUE(d->RenameButton()->isEnabled());
    QTest::mouseClick(d->RenameButton(), Qt::LeftButton);
    EXPECT_TRUE(messages.log.isEmpty()) << messages.log.join("|").toStdString();
    EXPECT_EQ(d->result(), QDialog::Accepted);
    EXPECT_EQ(rereads, 1);
    for (const char* n : {"pic001", "pic002", "pic003", "pic004", "notes.txt"})
        EXPECT_TRUE(OnDisk(n)) << n;
    EXPECT_EQ(Content("pic001"), "a.jpg");
    EXPECT_FALSE(OnDisk("a.jpg"));
}

TEST_F(RenamerDialogTest, CheckReportsClashesAndKeepsRenameDisabled)
{
    Files({"a.txt", "b.txt", "keep.bak"});
    Select({"a.txt", "b.txt"});
    auto d = Open();
    auto checkWith = [&](const QString& templ) {
        messages.log.clear();
        d->Template()->setText(templ);
        d->BTNCheckClick();
        return messages.log.join("|");
    };
    EXPECT_EQ(checkWith("same"), "error: Two files would be renamed to\nsame");
    EXPECT_FALSE(d->RenameButton()->isEnabled());
    d->Pattern()->setText("a*");
    EXPECT_EQ(checkWith("keep.bak"), "error: keep.bak\nalready exists");
    // The star of "a*" matched ".txt".
    EXPECT_EQ(checkWith("sub/[1]"), "error: \"sub/.txt\"\nis not a file name in this directory");
    EXPECT_EQ(checkWith(".."), "error: \"..\"\nis not a file name in this directory");
    EXPECT_FALSE(d->RenameButton()->isEnabled());
    EXPECT_TRUE(checkWith("[1].new").isEmpty());
    EXPECT_TRUE(d->RenameButton()->isEnabled());
    d->LowerCase()->setChecked(true); // any change asks for a new check
    EXPECT_FALSE(d->RenameButton()->isEnabled());
}

TEST_F(RenamerDialogTest, ATargetMadeAfterTheCheckIsNeverReplaced)
{
    Files({"a.txt", "b.txt"});
    auto d = Open();
    d->Pattern()->setText("*.txt");
    d->Template()->setText("[1].bak");
    d->BTNCheckClick();
    ASSERT_TRUE(d->RenameButton()->isEnabled());
    std::ofstream(dir.Path() + "a.bak") << "precious";
    d->BTNRenameClick();
    EXPECT_EQ(messages.log, QStringList{"error: 1 files could not be renamed"});
    EXPECT_EQ(Content("a.bak"), "precious");
    EXPECT_TRUE(OnDisk("a.txt"));
    EXPECT_TRUE(OnDisk("b.bak"));
    EXPECT_NE(d->result(), QDialog::Accepted);
    EXPECT_FALSE(d->RenameButton()->isEnabled());
    // The group keeps the renamed file under its new name.
    EXPECT_EQ(d->Plan().size(), 1u);
    EXPECT_EQ(d->Plan()[0].oldName, "a.txt");
}

TEST_F(RenamerDialogTest, ChainsCompleteOverSeveralPasses)
{
    Files({"a", "ax"});
    auto d = Open();
    d->Template()->setText("[1]x"); // a -> ax while ax -> axx
    d->BTNCheckClick();
    ASSERT_TRUE(d->RenameButton()->isEnabled());
    d->BTNRenameClick();
    EXPECT_TRUE(messages.log.isEmpty());
    EXPECT_EQ(Content("ax"), "a");
    EXPECT_EQ(Content("axx"), "ax");
    EXPECT_EQ(d->result(), QDialog::Accepted);
}

TEST_F(RenamerDialogTest, DescriptionsFollowAChainWhenAsked)
{
    for (const bool follow : {false, true}) {
        std::filesystem::remove_all(dir.Path());
        std::filesystem::create_directories(dir.Path());
        std::ofstream(dir.Path() + "descript.ion", std::ios::binary) << "a first\r\nax second\r\n";
        Files({"a", "ax"});
        Select({"a", "ax"});
        auto d = Open();
        d->SetDescriptionsFollow(follow);
        d->Template()->setText("[1]x"); // a -> ax while ax -> axx
        d->BTNCheckClick();
        ASSERT_TRUE(d->RenameButton()->isEnabled());
        d->BTNRenameClick();
        EXPECT_EQ(Content("axx"), "ax");
        EXPECT_EQ(Content("descript.ion"), follow ? "ax first\r" : "a first\r");
        std::map<std::string, std::string> shown;
        for (int i = 0; i < fixture.pane.Count; ++i)
            shown[fixture.pane.Item(i).Name] = fixture.pane.Item(i).Description;
        EXPECT_EQ(shown["ax"], follow ? "first" : "second") << follow;
        EXPECT_EQ(shown["axx"], follow ? "second" : "") << follow;
    }
}

TEST_F(RenamerDialogTest, OddNamesKeepTheirBytesAndShowOnOneLine)
{
    Files({"caf\xff.txt", "two\nlines.txt"});
    auto d = Open();
    d->Pattern()->setText("*.txt");
    d->Template()->setText("[1].bak");
    const QString shown = d->Lines()->model()->index(1, 0).data().toString();
    EXPECT_FALSE(shown.contains('\n'));
    d->BTNCheckClick();
    d->BTNRenameClick();
    EXPECT_TRUE(OnDisk("caf\xff.bak"));
    EXPECT_TRUE(OnDisk("two\nlines.bak"));
}

TEST_F(RenamerDialogTest, NoMatchingFilesMakesCheckDoNothing)
{
    Files({"a.txt"});
    auto d = Open();
    d->Pattern()->setText("*.none");
    d->BTNCheckClick();
    EXPECT_FALSE(d->RenameButton()->isEnabled());
    EXPECT_TRUE(messages.log.isEmpty());
}

TEST_F(RenamerDialogTest, TheTwoColumnsShareTheListWhateverItsWidth)
{
    std::vector<std::string> names;
    for (int i = 0; i < 80; ++i)
        names.push_back("note-" + std::to_string(i) + ".txt");
    Files(names);
    auto d = Open();
    QHeaderView* header = d->Lines()->header();
    QWidget* viewport = d->Lines()->viewport();
    auto halves = [&] {
        const int half = viewport->width() / 2;
        return header->sectionSize(0) == half && header->sectionSize(1) == half;
    };
    auto explain = [&] {
        return std::to_string(header->sectionSize(0)) + "+" + std::to_string(header->sectionSize(1)) + " in "
            + std::to_string(viewport->width());
    };
    d->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(d.get()));
    EXPECT_TRUE(QTest::qWaitFor(halves)) << explain();
    EXPECT_GT(header->sectionSize(0), 150) << explain();
    d->resize(900, 600);
    EXPECT_TRUE(QTest::qWaitFor(halves)) << explain();
    d->resize(420, 300);
    EXPECT_TRUE(QTest::qWaitFor(halves)) << explain();
    // Fewer lines take the scroll bar away and widen the viewport alone.
    ASSERT_TRUE(d->Lines()->verticalScrollBar()->isVisible());
    const int before = viewport->width();
    d->Pattern()->setText("note-1.*");
    EXPECT_TRUE(QTest::qWaitFor([&] { return viewport->width() > before && halves(); })) << explain();
}

TEST(RenamerLineText, CutsWithDotsOnlyWhenTooWide)
{
    const QFontMetrics metrics(QApplication::font());
    const QString text = "a-rather-long-file-name.txt";
    EXPECT_EQ(CutToWidth(text, metrics, 10000), text);
    const int width = metrics.horizontalAdvance(text) / 2;
    const QString cut = CutToWidth(text, metrics, width);
    EXPECT_TRUE(cut.endsWith("..."));
    EXPECT_TRUE(text.startsWith(cut.chopped(3)));
    EXPECT_LE(metrics.horizontalAdvance(cut), width);
    EXPECT_GT(metrics.horizontalAdvance(text.left(cut.size() - 2) + "..."), width); // as much as fits
    EXPECT_EQ(CutToWidth(text, metrics, 0), "...");
}
