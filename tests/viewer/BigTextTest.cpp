// A text file larger than what the viewer reads with it: the rest is read by
// blocks on a worker, and the end, a search past the start and the hex dump
// of the end still show the file's bytes.
#include "viewer/SearchWindow.h"
#include "viewer/TextPage.h"
#include "viewer/TextView.h"
#include "viewer/model/LineTestFile.h"
#include "app/TryWait.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdio>

using namespace tarnel;
using tarnel::test::LineTestFile;

namespace {

constexpr int kLines = 800000; // 15 bytes each: 12 MB

std::string Row(int n)
{
    char text[32];
    std::snprintf(text, sizeof text, "line %09d", n);
    return text;
}

std::string Numbered(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "row " + std::to_string(i) + "\n";
    return text;
}

struct BigTextTest : ::testing::Test {
    void SetUp() override
    {
        std::string content;
        content.reserve(size_t(kLines) * 15 + 16);
        for (int i = 0; i < kLines; ++i) {
            content += Row(i);
            content += i == kLines - 100 ? '*' : '\n'; // a line that is found only there
        }
        content += "THE END";
        file.Write(content);
        size = int64_t(content.size());
        page.PageWidget()->resize(700, 400);
        page.PageWidget()->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(page.PageWidget()));
        page.ShowFile(file.Path());
        ASSERT_TRUE(view()->Active());
        ASSERT_TRUE(view()->ReadsByBlocks());
    }
    TTextView* view() { return page.VWText; }
    // Line n (from 1) once it is read; "" until then.
    std::string Line(int64_t n)
    {
        std::vector<std::string> out;
        int64_t failed = 0;
        if (!view()->GetLines(n, 1, false, out, failed) || out.empty()) {
            EXPECT_TRUE(view()->LinesWaiting()) << "line " << n << " failed";
            return {};
        }
        return out[0];
    }

    LineTestFile file;
    int64_t size = 0;
    TextPage page;
};

TEST_F(BigTextTest, TheEndASearchAndTheHexDumpPastTheStart)
{
    EXPECT_EQ(Line(1), Row(0));
    // Ctrl+End while the index is still being built stays at the end as it grows.
    view()->setFocus();
    QTest::keyClick(view(), Qt::Key_End, Qt::ControlModifier);
    TRY_VERIFY_WITH_TIMEOUT(!view()->Indexing(), 60000);
    EXPECT_EQ(view()->LineCount(), kLines);
    EXPECT_EQ(view()->lineaora(), kLines - view()->VisibleRows());
    TRY_COMPARE_WITH_TIMEOUT(Line(kLines), "THE END", 10000);
    TRY_COMPARE_WITH_TIMEOUT(Line(kLines - 1), Row(kLines - 1), 10000);

    // A page down from just before 4 MB: lines that were never read.
    const int64_t before4Mb = (int64_t(4) << 20) / 15 - 5;
    view()->Setlineaora(before4Mb);
    QTest::keyClick(view(), Qt::Key_PageDown);
    const int64_t top = before4Mb + view()->VisibleRows();
    EXPECT_EQ(view()->lineaora(), top);
    TRY_COMPARE_WITH_TIMEOUT(Line(top + 1), Row(int(top)), 10000);
    TRY_COMPARE_WITH_TIMEOUT(Line(top + 3), Row(int(top + 2)), 10000);
    // Copying lines read by blocks.
    view()->SetSelection({5, top}, {9, top + 1});
    view()->CopySelection();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), Row(int(top)).substr(5) + "\r\n" + Row(int(top + 1)).substr(0, 9));

    // The search reads on a worker and goes to the match.
    view()->ShowSearch("0799900*", false);
    TSearchwin* search = view()->SearchWindow();
    ASSERT_NE(search, nullptr);
    TRY_VERIFY_WITH_TIMEOUT(!search->Searching(), 60000);
    EXPECT_EQ(search->Label2->text(), "1 match..");
    ASSERT_EQ(search->ListBox1->count(), 1);
    EXPECT_EQ(search->ListBox1->item(0)->text(), QString::number(kLines - 100) + ",8");
    EXPECT_EQ(view()->lineaora(), kLines - 100);
    TRY_COMPARE_WITH_TIMEOUT(Line(kLines - 100 + 1), Row(kLines - 100) + "*" + Row(kLines - 99), 10000);
    search->close();

    // The hex dump of the end.
    page.CBTextViewMode->setCurrentIndex(2);
    ASSERT_EQ(view()->ViewMode(), VM_HEX);
    QTest::keyClick(view(), Qt::Key_End);
    const int64_t last = (size + 15) / 16;
    EXPECT_EQ(view()->LineCount(), last);
    TRY_VERIFY_WITH_TIMEOUT(!Line(last).empty(), 10000);
    const std::string dump = Line(last);
    char offset[16];
    std::snprintf(offset, sizeof offset, "$%08llX", static_cast<unsigned long long>((last - 1) * 16));
    EXPECT_EQ(dump.substr(0, 9), offset);
    const int64_t tail = size - (last - 1) * 16;
    EXPECT_NE(dump.find("54 48 45 20 45 4E 44"), std::string::npos) << dump; // "THE END"
    EXPECT_EQ(dump.substr(size_t(HexTextColumn(size)), size_t(tail)).substr(size_t(tail) - 7), "THE END") << dump;
}

// Another file shown while blocks of the first are asked for: their reads
// are dropped, and nothing of the first file reaches the view.
TEST_F(BigTextTest, MovingOnDropsTheReadsOfTheFileBefore)
{
    LineTestFile other(Numbered(3));
    for (int round = 0; round < 5; ++round) {
        page.ShowFile(file.Path());
        ASSERT_TRUE(view()->ReadsByBlocks());
        page.CBTextViewMode->setCurrentIndex(round % 2 ? 2 : 0);
        QTest::keyClick(view(), Qt::Key_End);
        view()->PaintBox()->repaint(); // asks for the end's blocks
        page.ShowFile(other.Path());
        EXPECT_FALSE(view()->ReadsByBlocks());
        QTest::qWait(5);
    }
    page.CBTextViewMode->setCurrentIndex(0);
    TRY_VERIFY(!view()->Indexing());
    EXPECT_EQ(view()->LineCount(), 3);
    EXPECT_EQ(Line(3), "row 2");
    EXPECT_EQ(view()->lineaora(), 0);
}

} // namespace
