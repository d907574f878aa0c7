// The text view with real widgets, headless: opening, the three modes,
// painting, mouse selection, keys, copy and print.
#include "viewer/TextView.h"

#include "app/RecordedMessages.h"
#include "viewer/model/LineTestFile.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QImage>
#include <QPrinter>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

using namespace tarnel;
using tarnel::test::LineTestFile;

namespace {

std::string Numbered(int count, const std::string& prefix = "line ")
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += prefix + std::to_string(i) + "\n";
    return text;
}

struct ViewFixture : ::testing::Test {
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
        view.SetBackColor(Qt::black);
        view.SetTextColor(Qt::white);
        view.resize(400, 300);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    }
    QPoint CellCentre(int col, int row) const
    {
        return {col * view.CharWidth() + view.CharWidth() / 2, row * view.LineHeight() + view.LineHeight() / 2};
    }
    QImage Shot() { return view.PaintBox()->grab().toImage(); }

    LineTestFile file;
    tarnel::test::RecordedMessages messages;
    TTextView view;
};

TEST_F(ViewFixture, OpensAndClosesWithTheFile)
{
    view.SetFilename("/nonexistent/file.txt");
    view.SetActive(true);
    EXPECT_FALSE(view.Active()); // a missing file leaves it inactive
    Open("one\ntwo\nthree");
    EXPECT_TRUE(view.Active());
    EXPECT_EQ(view.LineCount(), 3);
    EXPECT_EQ(view.MaxWidth(), 5);
    view.SetActive(false);
    EXPECT_EQ(view.LineCount(), 0);
    // Inactive: button face all over.
    EXPECT_EQ(Shot().pixelColor(5, 5), view.palette().color(QPalette::Button));
}

TEST_F(ViewFixture, GlyphsSitInTheirColumnsAlongALongLine)
{
    // A soft hyphen draws no width in most fonts, and a fractional advance
    // adds up: either would shift the rest of the line off the grid the
    // selection and the mouse use.
    Open("\xad" + std::string(38, ' ') + "#\n");
    ASSERT_GT(view.VisibleCols(), 40);
    const QImage shot = Shot();
    int first = -1;
    for (int x = 20 * view.CharWidth(); x < shot.width() && first < 0; ++x)
        for (int y = 0; y < view.LineHeight(); ++y)
            if (shot.pixelColor(x, y) != QColor(Qt::black)) {
                first = x;
                break;
            }
    EXPECT_GE(first, 39 * view.CharWidth() - 1);
    EXPECT_LT(first, 40 * view.CharWidth());
}

TEST_F(ViewFixture, ScrollReportCarriesPositionAndExtent)
{
    std::vector<std::array<qint64, 4>> reports;
    QObject::connect(&view, &TTextView::ScrollXY, [&](qint64 x, qint64 y, qint64 mx, qint64 my) {
        reports.push_back({x, y, mx, my});
    });
    Open(Numbered(100));
    view.Setlineaora(7);
    view.Setlineaorax(2);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), (std::array<qint64, 4>{7, 2, 100, 7}));
}

TEST_F(ViewFixture, TabRulesAndATabChangeWhileOpen)
{
    Open("a\tb\n");
    EXPECT_EQ(view.MaxWidth(), 9);
    EXPECT_FALSE(view.SetTab(0));
    EXPECT_FALSE(view.SetTab(21));
    EXPECT_EQ(messages.log, (QStringList{"warning: Invalid tab value", "warning: Invalid tab value"}));
    EXPECT_EQ(view.Tab(), 8);
    EXPECT_TRUE(view.SetTab(2));
    view.FinishIndex();
    EXPECT_EQ(view.MaxWidth(), 3);
    std::vector<std::string> lines;
    int64_t failed = 0;
    ASSERT_TRUE(view.GetLines(1, 1, false, lines, failed));
    EXPECT_EQ(lines[0], "a b");
}

TEST_F(ViewFixture, WrappedModeReWrapsOnResize)
{
    Open(std::string(300, 'w'), VM_WORDWRAP);
    const int cols = view.VisibleCols();
    ASSERT_GT(cols, 10);
    EXPECT_EQ(view.LineCount(), (300 + cols - 2) / (cols - 1));
    EXPECT_FALSE(view.HorizontalBar()->isVisible());
    view.resize(200, 300);
    view.FinishIndex();
    const int narrow = view.VisibleCols();
    EXPECT_LT(narrow, cols);
    EXPECT_EQ(view.LineCount(), (300 + narrow - 2) / (narrow - 1));
}

TEST_F(ViewFixture, ModeChangeCollapsesTheSelectionAndSurvivesANewFile)
{
    Open("0123456789abcdefXYZ\n");
    view.SetSelection({1, 0}, {4, 0});
    view.SetViewMode(VM_HEX);
    EXPECT_TRUE(view.SelectionEmpty());
    EXPECT_EQ(view.LineCount(), 2);
    EXPECT_EQ(view.MaxWidth(), 73);
    view.SetActive(false);
    view.SetActive(true);
    EXPECT_EQ(view.ViewMode(), VM_HEX);
    EXPECT_EQ(view.LineCount(), 2);
}

TEST_F(ViewFixture, PaintsTextSelectionAndBackground)
{
    Open("XXXXXXXXXX\nXXXXXXXXXX\n\n");
    view.SetSelection({2, 0}, {5, 1});
    const QImage shot = Shot();
    const QColor highlight = view.palette().color(QPalette::Highlight);
    const int h = view.LineHeight(), w = view.CharWidth();
    // Row 0: the selection from column 2 on, then the rest of the row.
    EXPECT_EQ(shot.pixelColor(2 * w, 1), highlight);
    EXPECT_EQ(shot.pixelColor(1 * w, 1), QColor(Qt::black));
    EXPECT_EQ(shot.pixelColor(30 * w, h / 2), highlight);
    // Row 1 ends the selection at column 5: beyond the text the row is plain.
    EXPECT_EQ(shot.pixelColor(30 * w, h + h / 2), QColor(Qt::black));
    bool selectedCell = false, plainCell = false;
    for (int x = 5 * w; x < 6 * w; ++x)
        plainCell |= shot.pixelColor(x, h + 1) == QColor(Qt::black);
    for (int x = 4 * w; x < 5 * w; ++x)
        selectedCell |= shot.pixelColor(x, h + 1) == highlight;
    EXPECT_TRUE(selectedCell);
    EXPECT_TRUE(plainCell);
    // Below the last line: the background colour.
    EXPECT_EQ(shot.pixelColor(5, shot.height() - 2), QColor(Qt::black));
}

TEST_F(ViewFixture, AShrunkenFileStopsDrawingAtTheLineItCannotRead)
{
    Open(Numbered(50));
    file.Truncate(20);
    std::vector<std::string> lines;
    int64_t failed = 0;
    EXPECT_FALSE(view.GetLines(1, 10, true, lines, failed));
    EXPECT_EQ(failed, 3);
    EXPECT_EQ(lines.size(), 2u);
    (void)Shot(); // draws the error line, never crashes
    // Deleted while shown: the open file still reads.
    Open(Numbered(5));
    ::unlink(file.Path().c_str());
    ASSERT_TRUE(view.GetLines(1, 5, true, lines, failed));
    EXPECT_EQ(lines.back(), "line 4");
}

TEST_F(ViewFixture, MouseDragSelectsFromTheEarlierCell)
{
    Open(Numbered(5));
    QWidget* box = view.PaintBox();
    QTest::mousePress(box, Qt::LeftButton, {}, CellCentre(4, 2));
    QTest::mouseMove(box, CellCentre(1, 0));
    QTest::mouseRelease(box, Qt::LeftButton, {}, CellCentre(1, 0));
    EXPECT_EQ(view.SelStart(), (TextCell{1, 0}));
    EXPECT_EQ(view.SelEnd(), (TextCell{4, 2}));
    view.CopySelection();
    EXPECT_EQ(QApplication::clipboard()->text(), "ine 0\r\nline 1\r\nline");

    // Past the last line: the end is the last line's widest column.
    QTest::mousePress(box, Qt::LeftButton, {}, CellCentre(2, 1));
    QTest::mouseMove(box, CellCentre(3, 9));
    QTest::mouseRelease(box, Qt::LeftButton, {}, CellCentre(3, 9));
    EXPECT_EQ(view.SelEnd(), (TextCell{view.MaxWidth(), 4}));
    view.CopySelection();
    EXPECT_EQ(QApplication::clipboard()->text(), "ne 1\r\nline 2\r\nline 3\r\nline 4");
}

TEST_F(ViewFixture, DraggingToTheEdgeScrolls)
{
    Open(Numbered(500));
    QWidget* box = view.PaintBox();
    QTest::mousePress(box, Qt::LeftButton, {}, CellCentre(0, 0));
    QTest::mouseMove(box, QPoint(5, box->height() - 2));
    QTest::qWait(400);
    QTest::mouseRelease(box, Qt::LeftButton, {}, QPoint(5, box->height() - 2));
    EXPECT_GT(view.lineaora(), 0);
    EXPECT_EQ(view.VerticalBar()->value(), view.lineaora());
    EXPECT_GT(view.SelEnd().line, view.VisibleRows()); // the selection followed
    const int64_t top = view.lineaora();

    // The right button scrolls without selecting.
    view.SetSelection({}, {});
    QTest::mousePress(box, Qt::RightButton, {}, CellCentre(3, 3));
    QTest::mouseMove(box, QPoint(5, 1));
    QTest::qWait(400);
    QTest::mouseRelease(box, Qt::RightButton, {}, QPoint(5, 1));
    EXPECT_LT(view.lineaora(), top);
    EXPECT_TRUE(view.SelectionEmpty());
}

TEST_F(ViewFixture, ScrollKeysMoveWithinTheFile)
{
    Open(Numbered(1000, "a long line of text number "));
    const int rows = view.VisibleRows();
    view.ScrollKey(Qt::Key_PageDown);
    EXPECT_EQ(view.lineaora(), rows);
    view.ScrollKey(Qt::Key_Up);
    EXPECT_EQ(view.lineaora(), rows - 1);
    view.ScrollKey(Qt::Key_End);
    EXPECT_EQ(view.lineaora(), 1000 - rows);
    view.ScrollKey(Qt::Key_PageDown);
    view.ScrollKey(Qt::Key_PageDown);
    EXPECT_EQ(view.lineaora(), 1000);
    view.ScrollKey(Qt::Key_Home);
    EXPECT_EQ(view.lineaora(), 0);
    view.ScrollKey(Qt::Key_Left);
    EXPECT_EQ(view.lineaorax(), 0);
    QTest::keyClick(&view, Qt::Key_Right);
    EXPECT_EQ(view.lineaorax(), 1);
    EXPECT_EQ(view.HorizontalBar()->value(), 1);
}

TEST_F(ViewFixture, CopyAndPrintWithNothingSelectedDoNothing)
{
    Open("text");
    QApplication::clipboard()->setText("before");
    view.CopySelection();
    EXPECT_EQ(QApplication::clipboard()->text(), "before");
    QPrinter printer;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(file.Dir() + "/none.pdf"));
    EXPECT_FALSE(view.PrintSelectionTo(printer));
    EXPECT_FALSE(QFile::exists(printer.outputFileName()));
}

TEST_F(ViewFixture, PrintsTheSelectedLinesToPdfOnePageAtATime)
{
    Open(Numbered(300));
    view.SetSelection({3, 10}, {2, 209});
    QPrinter printer;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(file.Dir() + "/out.pdf"));
    ASSERT_TRUE(view.PrintSelectionTo(printer));
    QFile pdf(printer.outputFileName());
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    const QByteArray data = pdf.readAll();
    EXPECT_TRUE(data.startsWith("%PDF"));
    // 200 lines at some 60 a page need several pages.
    EXPECT_GE(data.count("/Type /Page\n") + data.count("/Type /Page\r") + data.count("/Type /Page "), 3);
    EXPECT_EQ(printer.docName(), "Text File");
}

// A hex dump of 40 GiB has more lines than an int holds: the bar is scaled,
// and every line, the last one included, is still reached.
TEST_F(ViewFixture, HexDumpOfAHugeSparseFileReachesEveryLine)
{
    file.Write("head");
    file.Truncate(off_t(40) << 30);
    view.SetViewMode(VM_HEX);
    view.SetFilename(file.Path());
    view.SetActive(true);
    const int64_t lines = (int64_t(40) << 30) / 16;
    ASSERT_EQ(view.LineCount(), lines);
    QScrollBar* bar = view.VerticalBar();
    bar->setValue(bar->maximum());
    EXPECT_EQ(view.lineaora(), lines);
    view.ScrollKey(Qt::Key_End);
    EXPECT_EQ(view.lineaora(), lines - view.VisibleRows());
    std::vector<std::string> out;
    int64_t failed = 0;
    ASSERT_TRUE(view.GetLines(lines, 1, false, out, failed));
    EXPECT_EQ(out[0].substr(0, 10), "$9FFFFFFF0");

    // A line past any int is kept exactly; keys move one line from it.
    const int64_t far = int64_t(2'500'000'001);
    view.Setlineaora(far);
    EXPECT_EQ(view.lineaora(), far);
    EXPECT_GT(bar->value(), bar->maximum() / 2);
    EXPECT_LE(bar->value(), bar->maximum());
    view.ScrollKey(Qt::Key_Down);
    EXPECT_EQ(view.lineaora(), far + 1);
    const int64_t before = view.lineaora();
    bar->setValue(bar->value() - 1);
    EXPECT_LT(view.lineaora(), before);
    EXPECT_GT(view.lineaora(), before - 64);
    bar->setValue(0);
    EXPECT_EQ(view.lineaora(), 0);
    (void)Shot();
}

// UTF-8 text shows its characters, one a column, and the selection copies
// them; a file that is not UTF-8 keeps one byte a column.
TEST_F(ViewFixture, Utf8TextShowsOneCharacterAColumn)
{
    Open("Gr\xc3\xbc\xc3\x9f" "e aus K\xc3\xb6ln\n\xe2\x82\xac\t1\n");
    EXPECT_EQ(view.MaxWidth(), 14);
    view.SetSelection({0, 0}, {5, 0});
    view.CopySelection();
    EXPECT_EQ(QApplication::clipboard()->text(), QString::fromUtf8("Gr\u00fc\u00dfe"));
    QWidget* box = view.PaintBox();
    QTest::mousePress(box, Qt::LeftButton, {}, CellCentre(10, 0));
    QTest::mouseMove(box, CellCentre(9, 1));
    QTest::mouseRelease(box, Qt::LeftButton, {}, CellCentre(9, 1));
    view.CopySelection();
    EXPECT_EQ(QApplication::clipboard()->text(), QString::fromUtf8("K\u00f6ln\r\n\u20ac       1"));
    (void)Shot();

    Open("Gr\xfc\xdf" "e \x80");
    EXPECT_EQ(view.MaxWidth(), 7);
    view.SetSelection({0, 0}, {7, 0});
    view.CopySelection();
    EXPECT_EQ(QApplication::clipboard()->text(), QString::fromUtf8("Gr\u00fc\u00dfe \u20ac"));
}

// The first paint of a large file comes from the first slice of the index:
// the rest is indexed after it, and the count the position shows then is
// what is indexed so far.
TEST_F(ViewFixture, FirstScreenIsPaintedBeforeTheIndexIsBuilt)
{
    std::string big;
    for (int i = 0; i < 2'000'000; ++i)
        big += "row " + std::to_string(i) + " of a file long enough to take several slices\n";
    file.Write(big);
    struct FirstPaint : QObject {
        TTextView* view;
        bool seen = false, indexing = false;
        int64_t lines = 0;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::Paint && view->Active() && !seen) {
                seen = true;
                indexing = view->Indexing();
                lines = view->LineCount();
            }
            return false;
        }
    } first;
    first.view = &view;
    view.PaintBox()->installEventFilter(&first);
    qint64 labelLines = -1;
    QObject::connect(&view, &TTextView::ScrollXY, [&](qint64, qint64, qint64 maxX, qint64) {
        if (!first.seen)
            labelLines = maxX;
    });
    view.SetFilename(file.Path());
    view.SetActive(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.seen; }, 20000));
    EXPECT_TRUE(first.indexing);
    EXPECT_LT(first.lines, 2'000'000);
    EXPECT_LT(labelLines, 2'000'000);
    EXPECT_GT(first.lines, view.VisibleRows());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.Indexing(); }, 60000));
    EXPECT_EQ(view.LineCount(), 2'000'000);
}

TEST_F(ViewFixture, BigFileIndexesInTheBackground)
{
    std::string big;
    for (int i = 0; i < 600000; ++i)
        big += "row " + std::to_string(i) + " of the file\n";
    file.Write(big);
    view.SetFilename(file.Path());
    view.SetActive(true);
    // The first screen is there before the index is.
    EXPECT_TRUE(view.Indexing());
    std::vector<std::string> lines;
    int64_t failed = 0;
    ASSERT_TRUE(view.GetLines(1, 2, true, lines, failed));
    EXPECT_EQ(lines[0], "row 0 of the file");
    const int64_t early = view.LineCount();
    QTest::qWaitFor([&] { return !view.Indexing(); }, 20000);
    EXPECT_EQ(view.LineCount(), 600000);
    EXPECT_GT(view.LineCount(), early);
    EXPECT_EQ(view.VerticalBar()->maximum(), 600000);

    // Moving on stops the work at once.
    view.SetActive(false);
    view.SetActive(true);
    EXPECT_TRUE(view.Indexing());
    view.SetActive(false);
    EXPECT_FALSE(view.Indexing());
}

} // namespace
