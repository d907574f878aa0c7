#include "viewer/model/LineIndex.h"
#include "viewer/model/TextFile.h"
#include "viewer/model/TextLines.h"

#include "viewer/model/LineRules.h"
#include "viewer/model/LineTestFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

namespace tarnel {
namespace {

using test::LineTestFile;

std::vector<int64_t> ReferenceStarts(const std::string& s, Mymodes mode, int tab, int cols)
{
    return test::ByTheLineRules(s, mode, tab, cols).starts;
}

struct Indexed {
    explicit Indexed(const std::string& content, Mymodes mode = VM_STANDARD, int cols = 80, int tab = 8,
                     bool utf8 = false)
        : file(content)
    {
        text.Open(file.Path());
        index.Start(text, {mode, tab, cols, utf8});
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

// Starts read back from the index, and the end of the last line.
std::vector<int64_t> StartsOf(const LineIndex& index)
{
    std::vector<int64_t> starts;
    for (int64_t n = 0; n < index.LineCount(); ++n)
        starts.push_back(index.LineBegin(n));
    starts.push_back(index.LineEnd(index.LineCount() - 1));
    return starts;
}

// With room for a few kept starts, the index keeps one in many and finds
// the others again: every line, and the line of every offset, is exact,
// in any order of asking, while it is built and after.
TEST(LineIndexTest, SparseIndexFindsEveryLineExactly)
{
    std::mt19937 random(5);
    const std::string alphabet[] = {"a", "b", "\r", "\n", "\n", "\t", "\xc3\xbc", "\xe2\x82\xac", "\xe9", " "};
    for (int round = 0; round < 24; ++round) {
        std::string content;
        const size_t size = round % 6 == 0 ? 400000 : 2000 + random() % 60000;
        while (content.size() < size) {
            const int longLine = round % 4 == 0 && random() % 50 == 0 ? int(random() % 5000) : 0;
            content += longLine ? std::string(size_t(longLine), 'L') : alphabet[random() % (round % 2 ? 10 : 6)];
        }
        const Mymodes mode = round % 3 == 1 ? VM_WORDWRAP : VM_STANDARD;
        const int cols = 2 + int(random() % 60), tab = 1 + int(random() % 20);
        const bool utf8 = round % 2 == 1;
        const test::RuledLines expected = test::ByTheLineRules(content, mode, tab, cols, utf8);
        LineTestFile file(content);
        TextFile text;
        ASSERT_TRUE(text.Open(file.Path()));
        LineIndex index;
        index.Start(text, {mode, tab, cols, utf8}, 16);
        while (!index.Step(1 + int64_t(random() % 40000))) {
            // Half built: what is there already is right.
            const int64_t n = int64_t(random() % uint64_t(index.LineCount()));
            ASSERT_EQ(index.LineBegin(n), expected.starts[size_t(n)]) << "round " << round;
        }
        ASSERT_EQ(index.LineCount() + 1, int64_t(expected.starts.size())) << "round " << round;
        EXPECT_GT(index.Spacing(), 1);
        ASSERT_EQ(StartsOf(index), expected.starts) << "round " << round;
        EXPECT_EQ(index.MaxWidth(), expected.width) << "round " << round;
        for (int probe = 0; probe < 200; ++probe) {
            const int64_t at = int64_t(random() % content.size());
            const auto after = std::upper_bound(expected.starts.begin(), expected.starts.end() - 1, at);
            const int64_t line = std::min<int64_t>(after - expected.starts.begin() - 1, index.LineCount() - 1);
            ASSERT_EQ(index.LineOf(at), line) << "round " << round << " offset " << at;
            const int64_t n = int64_t(random() % uint64_t(index.LineCount()));
            ASSERT_EQ(index.LineBegin(n), expected.starts[size_t(n)]);
            ASSERT_EQ(index.LineEnd(n), expected.starts[size_t(n) + 1]);
        }
    }
}

// A file of nothing but line feeds: its index once took 8 bytes a byte.
TEST(LineIndexTest, IndexMemoryIsBoundedWhateverTheLineCount)
{
    const int64_t lines = 10'000'000;
    LineTestFile file(std::string(size_t(lines), '\n') + "last");
    TextFile text;
    ASSERT_TRUE(text.Open(file.Path()));
    LineIndex index;
    index.Start(text, {VM_STANDARD, 8, 80});
    index.RunToEnd();
    EXPECT_LE(index.MemoryBytes(), size_t(64) << 20);
    ASSERT_EQ(index.LineCount(), lines + 1);
    EXPECT_EQ(index.LineOf(lines), lines); // "last" is on its own true line
    EXPECT_EQ(index.LineBegin(lines), lines);
    EXPECT_EQ(index.LineOf(lines - 2), lines - 2);
    std::vector<std::string> out;
    int64_t failed = 0;
    ASSERT_TRUE(GetLines(text, index, lines, 2, nullptr, out, failed));
    EXPECT_EQ(out, (Lines{"", "last"}));
}

// UTF-8 text has a column a character; bytes that are no character keep
// a column each and show as their 8-bit characters.
TEST(LineIndexTest, Utf8TextIsOneColumnACharacter)
{
    const auto utf8 = [](const std::string& content, Mymodes mode = VM_STANDARD, int cols = 80) {
        return std::make_unique<Indexed>(content, mode, cols, 8, true);
    };
    auto greeting = utf8("Gr\xc3\xbc\xc3\x9f" "e\n\xe2\x82\xac\tx\n");
    EXPECT_EQ(greeting->Lines(), (Lines{"Gr\xc3\xbc\xc3\x9f" "e", "\xe2\x82\xac       x"}));
    EXPECT_EQ(greeting->index.MaxWidth(), 9);
    EXPECT_EQ(utf8("\xc3\xbc\xc3\xbc\xc3\xbc\xc3\xbc\xc3\xbc", VM_WORDWRAP, 4)->Lines(),
              (Lines{"\xc3\xbc\xc3\xbc\xc3\xbc", "\xc3\xbc\xc3\xbc"}));
    // A Latin-1 byte, a sequence cut short, an overlong form, a surrogate.
    auto broken = utf8("a\xe9z\n\xe2\x82z\n\xc0\xaf\n\xed\xa0\x80\n\xf0\x9f\x98\x80");
    EXPECT_EQ(broken->Lines(), (Lines{"a\xc3\xa9z", "\xc3\xa2\xe2\x80\x9az", "\xc3\x80\xc2\xaf",
                                      "\xc3\xad\xc2\xa0\xe2\x82\xac", "\xf0\x9f\x98\x80"}));
    EXPECT_EQ(broken->index.MaxWidth(), 3);
    // C1 controls are controls: blanks.
    EXPECT_EQ(utf8("x\xc2\x85y")->Lines(), (Lines{"x y"}));
    // The same bytes in the 8-bit display are one column each.
    EXPECT_EQ(Indexed("Gr\xc3\xbc\xc3\x9f" "e").index.MaxWidth(), 7);

    // The column of a match counts characters up to the one it starts at.
    auto located = utf8("x\n\xc3\xbc\xc3\xbc\tK\xc3\xb6ln \xe9!");
    LocateCursor cursor;
    using At = std::pair<int64_t, int64_t>;
    EXPECT_EQ(LocateOffset(located->text, located->index, 6, &cursor), (At{1, 8}));
    EXPECT_EQ(LocateOffset(located->text, located->index, 7, &cursor), (At{1, 9}));
    EXPECT_EQ(LocateOffset(located->text, located->index, 8, &cursor), (At{1, 10}));
    EXPECT_EQ(LocateOffset(located->text, located->index, 13, &cursor), (At{1, 14}));
    EXPECT_EQ(LocateOffset(located->text, located->index, 14), (At{1, 15}));
}

TEST(LineIndexTest, Utf8FilesAreToldByTheirStart)
{
    const auto looks = [](const std::string& content) {
        LineTestFile file(content);
        TextFile text;
        EXPECT_TRUE(text.Open(file.Path()));
        return LooksLikeUtf8(text);
    };
    EXPECT_TRUE(looks("plain ASCII\n"));
    EXPECT_TRUE(looks("Gr\xc3\xbc\xc3\x9f" "e"));
    EXPECT_FALSE(looks("Gr\xfc\xdf" "e"));
    EXPECT_FALSE(looks("cut at the end \xc3"));
    // Past the part looked at, a bad byte changes nothing; a character cut
    // by the edge of that part is no fault.
    const std::string head(size_t(kUtf8Probe) - 1, 'a');
    EXPECT_TRUE(looks(head + "\xc3\xbc and then \xfc"));
    EXPECT_FALSE(looks("\xfc" + head));
    EXPECT_TRUE(looks(""));
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
