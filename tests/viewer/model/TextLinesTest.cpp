#include "viewer/model/LineIndex.h"
#include "viewer/model/TextFile.h"
#include "viewer/model/TextLines.h"

#include "viewer/model/LineTestFile.h"

#include <gtest/gtest.h>

#include <fstream>

namespace tarnel {
namespace {

using test::LineTestFile;
using Lines = std::vector<std::string>;

struct Shown {
    explicit Shown(const std::string& content, Mymodes mode = VM_STANDARD) : file(content)
    {
        text.Open(file.Path());
        index.Start(text, {mode, 8, 80});
        index.RunToEnd();
    }
    Lines Get(int64_t first, int64_t count, const LineClip* clip = nullptr)
    {
        Lines out;
        ok = GetLines(text, index, first, count, clip, out, failed);
        return out;
    }
    LineTestFile file;
    TextFile text;
    LineIndex index;
    bool ok = false;
    int64_t failed = 0;
};

TEST(TextLinesTest, ControlBytesBecomeBlanksAndHighBytesStay)
{
    Shown shown(std::string("a\x01") + '\0' + "b\xe9\xff\f\n");
    EXPECT_EQ(shown.Get(1, 1), (Lines{"a  b\xe9\xff "}));
    EXPECT_EQ(DisplayChar(0xe9), u'\u00e9');
    EXPECT_EQ(DisplayChar(0x80), u'\u20ac');
    EXPECT_EQ(DisplayChar('A'), u'A');
}

TEST(TextLinesTest, ClipKeepsTheColumnsAskedFor)
{
    Shown shown("0123456789\tX\nshort\n");
    LineClip clip{8, 6};
    EXPECT_EQ(shown.Get(1, 2, &clip), (Lines{"89    ", ""}));
    LineClip past{100, 10};
    EXPECT_EQ(shown.Get(1, 1, &past), (Lines{""}));
    // Asking beyond the last line gives the lines there are.
    EXPECT_EQ(shown.Get(2, 10).size(), 1u);
}

// One long line with tabs in it, clipped far from its start: the second
// repaint resumes from the mark the first left, reads about a screen's worth,
// and shows the same text; scrolling back left still shows the right columns.
TEST(TextLinesTest, AClippedLongLineResumesFromItsMark)
{
    std::string line;
    for (int i = 0; line.size() < (6u << 20); ++i)
        line += (i % 97 == 0 ? "\t" : "") + std::to_string(i % 10);
    Shown shown(line + "\nnext\n");
    ColumnMarks marks;
    const int64_t far = 5 << 20;
    LineClip plain{far, 160}, marked{far, 160, &marks};
    const Lines expected = shown.Get(1, 2, &plain);
    ASSERT_EQ(expected[0].size(), 160u);

    EXPECT_EQ(shown.Get(1, 2, &marked), expected);
    const int64_t before = shown.text.BytesRead();
    EXPECT_EQ(shown.Get(1, 2, &marked), expected);
    EXPECT_LT(shown.text.BytesRead() - before, 3 * 65536) << "the line was read again from its start";

    LineClip left{1000, 50, &marks}, leftPlain{1000, 50};
    EXPECT_EQ(shown.Get(1, 1, &left), shown.Get(1, 1, &leftPlain));
    LineClip right{far + 7, 30, &marks}, rightPlain{far + 7, 30};
    EXPECT_EQ(shown.Get(1, 1, &right), shown.Get(1, 1, &rightPlain));
}

TEST(TextLinesTest, HexDumpLinesByteForByte)
{
    Shown shown("ABCDEFGHIJKLMNO\x01P", VM_HEX);
    ASSERT_EQ(shown.index.LineCount(), 2);
    const Lines lines = shown.Get(1, 2);
    EXPECT_EQ(lines[0], "$00000000 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 01 ABCDEFGHIJKLMNO.");
    EXPECT_EQ(lines[1], "$00000010 50" + std::string(57 - 12, ' ') + " P" + std::string(15, ' '));
    LineClip clip{58, 80};
    EXPECT_EQ(shown.Get(1, 1, &clip), (Lines{"ABCDEFGHIJKLMNO."}));
    EXPECT_EQ(Shown("", VM_HEX).index.LineCount(), 0);
}

TEST(TextLinesTest, LocateOffsetCountsDisplayColumns)
{
    Shown shown("ab\tcd\r\nxyz");
    EXPECT_EQ(LocateOffset(shown.text, shown.index, 0), (std::pair<int64_t, int64_t>{0, 1}));
    EXPECT_EQ(LocateOffset(shown.text, shown.index, 3), (std::pair<int64_t, int64_t>{0, 9}));
    EXPECT_EQ(LocateOffset(shown.text, shown.index, 8), (std::pair<int64_t, int64_t>{1, 2}));
    Shown hex("0123456789abcdefXYZ", VM_HEX);
    EXPECT_EQ(LocateOffset(hex.text, hex.index, 17), (std::pair<int64_t, int64_t>{1, 2}));
}

TEST(TextLinesTest, LocateOffsetIndexesAsFarAsNeeded)
{
    std::string content;
    for (int i = 0; i < 100000; ++i)
        content += "row\n";
    LineTestFile file(content + "needle");
    TextFile text;
    ASSERT_TRUE(text.Open(file.Path()));
    LineIndex index;
    index.Start(text, {VM_STANDARD, 8, 80});
    index.Step(1);
    EXPECT_EQ(LocateOffset(text, index, int64_t(content.size()) + 2), (std::pair<int64_t, int64_t>{100000, 3}));
}

TEST(TextLinesTest, AFileThatShrinksReportsTheLineItCannotRead)
{
    Shown shown("first\nsecond\nthird\n");
    shown.file.Truncate(8);
    const Lines lines = shown.Get(1, 3);
    EXPECT_FALSE(shown.ok);
    EXPECT_EQ(shown.failed, 2);
    EXPECT_EQ(lines, (Lines{"first"}));
    Shown hex(std::string(40, 'h'), VM_HEX);
    hex.file.Truncate(20);
    hex.Get(1, 3);
    EXPECT_FALSE(hex.ok);
    EXPECT_EQ(hex.failed, 2);
}

TEST(TextLinesTest, AFileThatGrowsKeepsItsOldLength)
{
    Shown shown("one\ntwo\n");
    shown.file.Write("one\ntwo\nthree\nfour\n");
    EXPECT_EQ(shown.Get(1, 10), (Lines{"one", "two"}));
    EXPECT_TRUE(shown.ok);
}

// The viewer opens a file on a worker with its first screen read there; the
// view it is handed to shows that screen from memory, and takes the rest from
// the file it opened.
TEST(TextLinesTest, AFileOpenedWithItsStartShowsThatStartFromMemory)
{
    LineTestFile file("first\nsecond\nthird\n");
    TextFile opened;
    ASSERT_TRUE(opened.Open(file.Path(), 9));
    std::fstream(file.Path(), std::ios::in | std::ios::out | std::ios::binary) << "FIRST\nSECOND\nTHIRD\n";
    TextFile text;
    text.TakeFrom(opened);
    EXPECT_FALSE(opened.IsOpen());
    ASSERT_TRUE(text.IsOpen());
    LineIndex index;
    index.Start(text, {VM_STANDARD, 8, 80});
    index.RunToEnd();
    Lines out;
    int64_t failed = 0;
    ASSERT_TRUE(GetLines(text, index, 1, 3, nullptr, out, failed));
    EXPECT_EQ(out, (Lines{"first", "secOND", "THIRD"})) << "9 bytes from memory, the rest from the file";

    // A start that holds the whole file keeps its length, as an open file does.
    LineTestFile small("one\n");
    TextFile whole;
    ASSERT_TRUE(whole.Open(small.Path(), 1 << 20));
    std::ofstream(small.Path(), std::ios::app) << "two\n";
    char buffer[16];
    EXPECT_EQ(whole.ReadAt(0, buffer, sizeof buffer), 4u);
    EXPECT_EQ(whole.ReadAt(2, buffer, sizeof buffer), 2u);
}

TEST(TextLinesTest, ShrinkingWhileIndexingStopsTheIndex)
{
    std::string content;
    for (int i = 0; i < 400000; ++i)
        content += "line\n";
    LineTestFile file(content);
    TextFile text;
    ASSERT_TRUE(text.Open(file.Path()));
    LineIndex index;
    index.Start(text, {VM_STANDARD, 8, 80});
    index.Step(1);
    file.Truncate(1 << 20 | 3);
    index.RunToEnd();
    EXPECT_TRUE(index.FileChanged());
    EXPECT_LE(index.LineCount(), (1 << 20) / 5 + 2);
}

TEST(TextLinesTest, ACursorLocatesTheMatchesOfOneLongLineInOnePass)
{
    std::string line;
    for (int i = 0; i < 2000; ++i)
        line += std::string(97, 'x') + "\tab";
    Shown shown(line + "\nend\n");
    std::vector<std::pair<int64_t, int64_t>> plain, cursored;
    for (size_t at = line.find("ab"); at != std::string::npos; at = line.find("ab", at + 1))
        plain.push_back(LocateOffset(shown.text, shown.index, int64_t(at)));
    const int64_t before = shown.text.BytesRead();
    LocateCursor cursor;
    for (size_t at = line.find("ab"); at != std::string::npos; at = line.find("ab", at + 1))
        cursored.push_back(LocateOffset(shown.text, shown.index, int64_t(at), &cursor));
    EXPECT_EQ(cursored, plain);
    EXPECT_LE(shown.text.BytesRead() - before, int64_t(line.size())); // not the line again per match
    // A match on a later line starts that line afresh.
    EXPECT_EQ(LocateOffset(shown.text, shown.index, int64_t(line.size()) + 2, &cursor),
              (std::pair<int64_t, int64_t>{1, 2}));
}

TEST(TextLinesTest, FilteredTextIsTheNormalModeLinesWhateverTheView)
{
    bool pure = false;
    EXPECT_EQ(FilteredText("ab\x07\tc\r\n" + std::string(300, 'w') + "\n\x01", 8, pure),
              "ab      c\n" + std::string(300, 'w') + "\n ");
    EXPECT_FALSE(pure);
    EXPECT_EQ(FilteredText("caf\xc3\xa9\f\r\n", 4, pure), "caf\xc3\xa9 ");
    EXPECT_TRUE(pure); // form feed and high bytes are no reason to filter
    EXPECT_EQ(FilteredText("", 8, pure), "");
}

} // namespace
} // namespace tarnel
