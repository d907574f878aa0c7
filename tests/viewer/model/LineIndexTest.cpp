#include "viewer/model/LineIndex.h"
#include "viewer/model/TextFile.h"
#include "viewer/model/TextLines.h"

#include "viewer/model/LineRules.h"
#include "viewer/model/LineTestFile.h"

#include <gtest/gtest.h>

#include <random>

namespace tarnel {
namespace {

using test::LineTestFile;

std::vector<int64_t> ReferenceStarts(const std::string& s, Mymodes mode, int tab, int cols)
{
    return test::ByTheLineRules(s, mode, tab, cols).starts;
}

struct Indexed {
    explicit Indexed(const std::string& content, Mymodes mode = VM_STANDARD, int cols = 80, int tab = 8)
        : file(content)
    {
        text.Open(file.Path());
        index.Start(text, {mode, tab, cols});
        index.RunToEnd();
    }
    std::vector<std::string> Lines(const LineClip* clip = nullptr)
    {
        std::vector<std::string> out;
        int64_t failed = 0;
        EXPECT_TRUE(GetLines(text, index, 1, index.LineCount(), clip, out, failed));
        return out;
    }
    std::vector<int64_t> Starts() const
    {
        std::vector<int64_t> starts;
        for (int64_t n = 0; n < index.LineCount(); ++n)
            starts.push_back(index.LineBegin(n));
        starts.push_back(index.LineCount() ? index.LineEnd(index.LineCount() - 1) : 0);
        return starts;
    }
    LineTestFile file;
    TextFile text;
    LineIndex index;
};

using Lines = std::vector<std::string>;

TEST(LineIndexTest, LineEndsOfEveryKindGiveTheSameLines)
{
    EXPECT_EQ(Indexed("one\ntwo\nthree\n").Lines(), (Lines{"one", "two", "three"}));
    EXPECT_EQ(Indexed("one\r\ntwo\r\nthree\r\n").Lines(), (Lines{"one", "two", "three"}));
    EXPECT_EQ(Indexed("one\n\rtwo\n\rthree\n\r").Lines(), (Lines{"one", "two", "three"}));
    EXPECT_EQ(Indexed("one\rtwo\rthree").Lines(), (Lines{"one", "two", "three"}));
    EXPECT_EQ(Indexed("a\n\n\nb").Lines(), (Lines{"a", "", "", "b"}));
    EXPECT_EQ(Indexed("a\r\n\r\nb").Lines(), (Lines{"a", "", "b"}));
    EXPECT_EQ(Indexed("a\r\r\nb").Lines(), (Lines{"a", "", "b"}));
}

TEST(LineIndexTest, FinalLineRulesAndTinyFiles)
{
    EXPECT_EQ(Indexed("last\n").Lines(), (Lines{"last"}));
    EXPECT_EQ(Indexed("last").Lines(), (Lines{"last"}));
    EXPECT_EQ(Indexed("last\n\n").Lines(), (Lines{"last", ""}));
    EXPECT_EQ(Indexed("").Lines(), (Lines{""}));
    EXPECT_EQ(Indexed("x").Lines(), (Lines{"x"}));
    EXPECT_EQ(Indexed("\n").Lines(), (Lines{""}));
    EXPECT_EQ(Indexed(std::string(5, '\r')).index.LineCount(), 5);
    EXPECT_EQ(Indexed(std::string(5, '\n')).index.LineCount(), 5);
    EXPECT_EQ(Indexed(std::string(6, '\0')).Lines(), (Lines{"      "}));
}

TEST(LineIndexTest, WrappedModeBreaksBeforeTheLastColumn)
{
    const int w = 10;
    Indexed three(std::string(2 * (w - 1) + 1, 'x'), VM_WORDWRAP, w);
    EXPECT_EQ(three.Lines(), (Lines{std::string(w - 1, 'x'), std::string(w - 1, 'x'), "x"}));
    // A line that fills its rows exactly gets no empty row after it.
    EXPECT_EQ(Indexed(std::string(2 * (w - 1), 'x'), VM_WORDWRAP, w).index.LineCount(), 2);
    // A line end right after a break ends an empty row.
    EXPECT_EQ(Indexed(std::string(w - 1, 'x') + "\ny", VM_WORDWRAP, w).Lines(),
              (Lines{std::string(w - 1, 'x'), "", "y"}));
    // Every line breaks at the same width, not only the first.
    EXPECT_EQ(Indexed("ab\n" + std::string(w, 'x'), VM_WORDWRAP, w).Lines(),
              (Lines{"ab", std::string(w - 1, 'x'), "x"}));
    // A tab that reaches the edge ends the row.
    EXPECT_EQ(Indexed("abc\tz", VM_WORDWRAP, 6, 8).Lines(), (Lines{"abc     ", "z"}));
    EXPECT_EQ(Indexed(std::string(12, 'x'), VM_WORDWRAP, w).index.MaxWidth(), w - 1);
}

TEST(LineIndexTest, WidthTabsAndPurity)
{
    Indexed tabs("a\tb\n\t\tc\nxy");
    EXPECT_EQ(tabs.index.MaxWidth(), 17);
    EXPECT_EQ(tabs.Lines(), (Lines{"a       b", "                c", "xy"}));
    EXPECT_TRUE(tabs.index.PureAscii());
    EXPECT_TRUE(Indexed("form\ffeed and \xe9\xff high bytes\r\n").index.PureAscii());
    EXPECT_FALSE(Indexed("bell\x07").index.PureAscii());
    EXPECT_FALSE(Indexed(std::string(100, 'a') + '\0').index.PureAscii());
    EXPECT_FALSE(Indexed("esc\x1b[0m").index.PureAscii());
}

TEST(LineIndexTest, PurityOfEveryByteInLongBlocks)
{
    // 64 bytes of text full of tabs and line ends: the block-wise check must
    // neither stop at them nor miss one control byte among them.
    std::string text;
    for (int i = 0; i < 64; ++i)
        text += "ab\t\n\f\r\x80\xff"[i % 8];
    EXPECT_TRUE(Indexed(text).index.PureAscii());
    for (int b = 0; b < 32; ++b) {
        const bool allowed = b == '\t' || b == '\n' || b == '\f' || b == '\r';
        for (size_t at : {size_t(0), size_t(17), size_t(47), size_t(63)}) {
            std::string bad = text;
            bad[at] = char(b);
            EXPECT_EQ(Indexed(bad).index.PureAscii(), allowed) << "byte " << b << " at " << at;
        }
    }
}

TEST(LineIndexTest, TabSizeChangesColumns)
{
    Indexed four("a\tb", VM_STANDARD, 80, 4);
    EXPECT_EQ(four.Lines(), (Lines{"a   b"}));
    EXPECT_EQ(four.index.MaxWidth(), 5);
}

TEST(LineIndexTest, SlicedBuildMatchesTheRulesOnRandomFiles)
{
    std::mt19937 random(12);
    const char alphabet[] = {'a', 'b', '\r', '\n', '\t', '\0', '\xe9', ' '};
    for (int round = 0; round < 40; ++round) {
        // A few span several read blocks; most are small and many.
        std::string content(round % 10 == 0 ? (5 << 19) + random() % 1000 : random() % (200 << 10), 'a');
        for (char& c : content)
            c = alphabet[random() % (round % 2 ? 8 : 4)];
        const Mymodes mode = round % 3 == 0 ? VM_WORDWRAP : VM_STANDARD;
        const int cols = 1 + int(random() % 40), tab = 1 + int(random() % 20);
        LineTestFile file(content);
        TextFile text;
        ASSERT_TRUE(text.Open(file.Path()));
        LineIndex index;
        index.Start(text, {mode, tab, cols});
        int64_t seen = 0;
        while (!index.Step(1 + int64_t(random() % 100000))) {
            EXPECT_GE(index.LineCount(), seen); // the count only grows
            seen = index.LineCount();
        }
        std::vector<int64_t> starts;
        for (int64_t n = 0; n < index.LineCount(); ++n)
            starts.push_back(index.LineBegin(n));
        starts.push_back(index.LineEnd(index.LineCount() - 1));
        ASSERT_EQ(starts, ReferenceStarts(content, mode, tab, cols)) << "round " << round;
    }
}

// Text as most files hold it, letters and line feeds (or CR LF pairs), with a rare CR, tab or
// control byte: the vector scan takes the plain stretches and hands the rest
// to the byte rules, and the seams between them must not show. Line feeds
// are put at the edges of the scan's pieces and blocks on purpose.
TEST(LineIndexTest, PlainTextWithRareControlsMatchesTheRules)
{
    std::mt19937 random(7);
    const char rare[] = {'\r', '\t', '\x1b', '\0', '\n'};
    for (int round = 0; round < 60; ++round) {
        const size_t size = round % 4 == 0 ? 3 * 16384 + random() % 5000 : random() % 40000;
        std::string content(size, 'a');
        const int lineLength = 1 + int(random() % (round % 3 == 0 ? 8 : 150));
        const bool crLf = round % 2 == 1; // Windows text: CR LF pairs throughout
        for (size_t i = 0; i < size; ++i) {
            if (random() % uint32_t(lineLength) == 0) {
                content[i] = '\n';
                if (crLf && i > 0 && content[i - 1] != '\n')
                    content[i - 1] = '\r';
            } else {
                content[i] = char('a' + random() % 26);
            }
        }
        for (size_t edge : {size_t(16383), size_t(16384), size_t(32767), size_t(63), size_t(64)})
            if (edge < size && random() % 2)
                content[edge] = '\n';
        const int rareCount = round % 5 == 0 ? 0 : int(random() % 4);
        for (int k = 0; k < rareCount && size > 0; ++k)
            content[random() % size] = rare[random() % 5];
        if (round % 7 == 0 && size > 16385) { // a CR LF across a piece's edge
            content[16383] = '\n';
            content[16384] = '\r';
        }
        const Mymodes mode = round % 6 == 5 ? VM_WORDWRAP : VM_STANDARD;
        const int cols = 20 + int(random() % 200), tab = 1 + int(random() % 20);
        LineTestFile file(content);
        TextFile text;
        ASSERT_TRUE(text.Open(file.Path()));
        LineIndex index;
        index.Start(text, {mode, tab, cols});
        while (!index.Step(1 + int64_t(random() % 300000))) {
        }
        std::vector<int64_t> starts;
        for (int64_t n = 0; n < index.LineCount(); ++n)
            starts.push_back(index.LineBegin(n));
        starts.push_back(index.LineEnd(index.LineCount() - 1));
        const test::RuledLines expected = test::ByTheLineRules(content, mode, tab, cols);
        ASSERT_EQ(starts, expected.starts) << "round " << round;
        EXPECT_EQ(index.MaxWidth(), expected.width) << "round " << round;
        EXPECT_EQ(index.PureAscii(), expected.pure) << "round " << round;
    }
}

TEST(LineIndexTest, FirstLinesShowBeforeTheFileIsRead)
{
    std::string content;
    for (int i = 0; i < 200000; ++i)
        content += "line " + std::to_string(i) + "\n";
    LineTestFile file(content);
    TextFile text;
    ASSERT_TRUE(text.Open(file.Path()));
    LineIndex index;
    index.Start(text, {VM_STANDARD, 8, 80});
    index.Step(1);
    EXPECT_FALSE(index.Done());
    std::vector<std::string> out;
    int64_t failed = 0;
    ASSERT_TRUE(GetLines(text, index, 1, 3, nullptr, out, failed));
    EXPECT_EQ(out, (Lines{"line 0", "line 1", "line 2"}));
    // One long line still being read shows what is read so far.
    LineTestFile one(std::string(3 << 20, 'z'));
    TextFile oneText;
    ASSERT_TRUE(oneText.Open(one.Path()));
    LineIndex oneIndex;
    oneIndex.Start(oneText, {VM_STANDARD, 8, 80});
    oneIndex.Step(1);
    LineClip clip{0, 10};
    ASSERT_TRUE(GetLines(oneText, oneIndex, 1, 1, &clip, out, failed));
    EXPECT_EQ(out, (Lines{std::string(10, 'z')}));
}

TEST(LineIndexTest, CapStopsAFileOfLineFeeds)
{
    LineTestFile file(std::string(3 << 20, '\n'));
    TextFile text;
    ASSERT_TRUE(text.Open(file.Path()));
    LineIndex index;
    index.Start(text, {VM_STANDARD, 8, 80}, 1000);
    index.RunToEnd();
    EXPECT_TRUE(index.Capped());
    EXPECT_LT(index.LineCount(), 3 << 20);
    EXPECT_GE(index.LineCount(), 1000);
}

TEST(LineIndexTest, MemoryIsEightBytesALine)
{
    std::string content;
    for (int i = 0; i < 300000; ++i)
        content += "x\n";
    Indexed indexed(content);
    EXPECT_LE(indexed.index.MemoryBytes(), 8 * size_t(300000) + 8 * LineStarts::kChunk);
}

TEST(LineIndexTest, OffsetsPastFourGiB)
{
    LineStarts starts;
    const int64_t base = int64_t(5) << 30;
    for (int64_t i = 0; i < 3 * int64_t(LineStarts::kChunk); ++i)
        starts.Push(base + 10 * i);
    EXPECT_EQ(starts[2 * int64_t(LineStarts::kChunk) + 1], base + 10 * (2 * int64_t(LineStarts::kChunk) + 1));
    EXPECT_EQ(starts.LastAtOrBefore(base + 25), 2);

    // A sparse file: the dump reads only the line it shows.
    LineTestFile file;
    file.Truncate(off_t(5) << 30);
    TextFile text;
    ASSERT_TRUE(text.Open(file.Path()));
    std::string line;
    ASSERT_TRUE(HexLine(text, (int64_t(4) << 30) / 16 + 2, line));
    EXPECT_EQ(line.substr(0, 10), "$100000010");
    EXPECT_EQ(size_t(HexTextColumn(text.Size())), line.size() - 16);
}

} // namespace
} // namespace tarnel
