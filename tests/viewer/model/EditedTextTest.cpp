// The editor's text: files come back byte for byte where the user changed
// nothing, and changed lines fit in with the line ends around them.
#include "viewer/model/EditedText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

using namespace tarnel;

namespace {

std::string Utf16Le(const std::u16string& text)
{
    std::string out = "\xff\xfe";
    for (char16_t c : text) {
        out += char(c & 0xFF);
        out += char(c >> 8);
    }
    return out;
}

std::string Utf16Be(const std::u16string& text)
{
    std::string out = "\xfe\xff";
    for (char16_t c : text) {
        out += char(c >> 8);
        out += char(c & 0xFF);
    }
    return out;
}

std::string Saved(const std::string& raw, const std::function<void(std::vector<std::u16string>&)>& edit)
{
    const EditedText text(raw);
    std::vector<std::u16string> lines = text.Lines();
    edit(lines);
    return text.Encode(lines);
}

TEST(EditedText, UnchangedTextIsWrittenByteForByte)
{
    const std::vector<std::string> files = {
        "",
        "no line end",
        "lf\nonly\n",
        Utf16Le(u"UTF-16 \u00e4\r\nwith CR LF\r\n"),
        Utf16Be(u"big\r\nendian\n"),
        Utf16Le(u"lone \xd800 half\r\n"),
        "\xef\xbb\xbfUTF-8 with a byte order mark\r\n",
        "para\xe2\x80\xa9graph and line\xe2\x80\xa8separators\n",
        "mixed\r\nends\nhere\rand\n\rthere\n\n\r\r",
        "8-bit caf\xe9 \x80 \x81 \xa0 and \x07 control\r\n",
        "invalid \xc0\xaf overlong and \xed\xa0\x80 surrogate\n",
        "\xff\xfe odd length",
        std::string("nul\0inside\n", 11),
        "\xef\xbf\x90 noncharacters \xef\xb7\x90\xef\xb7\x91 break lines in a text box\n",
    };
    for (const std::string& raw : files) {
        const EditedText text(raw);
        bool lossless = false;
        EXPECT_EQ(text.Encode(text.Lines(), &lossless), raw) << raw;
        EXPECT_TRUE(lossless) << raw;
    }
    EXPECT_EQ(EditedText(Utf16Le(u"a\r\nb")).Encoding(), TextEncoding::Utf16LE);
    EXPECT_EQ(EditedText(Utf16Le(u"a\r\nb")).Lines(), (std::vector<std::u16string>{u"a", u"b"}));
    EXPECT_EQ(EditedText("\xef\xbb\xbf\xc3\xa4").Lines(), (std::vector<std::u16string>{u"\u00e4"}));
    EXPECT_EQ(EditedText("caf\xe9").Encoding(), TextEncoding::EightBit);
    // A file that ends with a line end shows an empty last line, as the text box does.
    EXPECT_EQ(EditedText("a\n").Lines(), (std::vector<std::u16string>{u"a", u""}));
}

TEST(EditedText, ChangedLinesTakeTheLineEndsAroundThem)
{
    const std::string mixed = "one\r\ntwo\nthree\rfour";
    EXPECT_EQ(Saved(mixed, [](auto& l) { l[1] = u"TWO"; }), "one\r\nTWO\nthree\rfour");
    EXPECT_EQ(Saved(mixed, [](auto& l) { l.erase(l.begin() + 2); }), "one\r\ntwo\nfour");
    // A new line takes the end of the line before it; the old last line gets
    // the file's first kind when it is followed by a new one.
    EXPECT_EQ(Saved(mixed, [](auto& l) { l.insert(l.begin() + 2, u"new"); }), "one\r\ntwo\nnew\nthree\rfour");
    EXPECT_EQ(Saved(mixed, [](auto& l) { l.push_back(u"five"); }), "one\r\ntwo\nthree\rfour\r\nfive");
    // Removing the empty last line removes the final line end.
    EXPECT_EQ(Saved("a\nb\n", [](auto& l) { l.pop_back(); }), "a\nb");
    // Two lines replaced by two: each keeps the end of the one it replaced.
    EXPECT_EQ(Saved("a\nb\r\nc\rd\n", [](auto& l) { l[1] = u"B", l[2] = u"C"; }), "a\nB\r\nC\rd\n");
    // Far apart changes leave every line between them as it was.
    std::string log;
    for (int i = 0; i < 500; ++i)
        log += "line " + std::to_string(i) + (i % 3 ? "\n" : "\r\n");
    std::string expected = log;
    expected.replace(0, 6, "LINE 0");
    expected.replace(expected.rfind("line 499"), 8, "LINE 499");
    EXPECT_EQ(Saved(log, [](auto& l) { l[0] = u"LINE 0", l[499] = u"LINE 499"; }), expected);

    // Encodings stay: UTF-16 with its mark, 8-bit with what it can hold.
    EXPECT_EQ(Saved(Utf16Le(u"a\r\nb\r\n"), [](auto& l) { l[1] = u"\u00df"; }), Utf16Le(u"a\r\n\u00df\r\n"));
    EXPECT_EQ(Saved(Utf16Be(u"x"), [](auto& l) { l[0] = u"\u20ac"; }), Utf16Be(u"\u20ac"));
    EXPECT_EQ(Saved("\xef\xbb\xbfx", [](auto& l) { l[0] = u"\U0001F600"; }), "\xef\xbb\xbf\xf0\x9f\x98\x80");
    const EditedText eightBit("caf\xe9\n");
    bool lossless = true;
    EXPECT_EQ(eightBit.Encode({u"\u20ac \u03b1", u""}, &lossless), "\x80 ?\n");
    EXPECT_FALSE(lossless);
}

TEST(EditedText, FilteringJoinsLinesWithCrLfAndKeepsTheLastLineEnd)
{
    EditedText text("a\x07\tb\nc\rd\n");
    EXPECT_FALSE(text.PureText());
    text.Filter(4);
    EXPECT_TRUE(text.PureText());
    EXPECT_EQ(text.Lines(), (std::vector<std::u16string>{u"a   b", u"c", u"d", u""}));
    EXPECT_EQ(text.Encode(text.Lines()), "a   b\r\nc\r\nd\r\n");

    EditedText noEnd("x\ty\x01");
    noEnd.Filter(8);
    EXPECT_EQ(noEnd.Encode(noEnd.Lines()), "x       y ");
    std::vector<std::u16string> added = noEnd.Lines();
    added.push_back(u"z");
    EXPECT_EQ(noEnd.Encode(added), "x       y \r\nz");

    // Only control characters count: form feeds, tabs, high bytes and the
    // zero bytes of UTF-16 do not.
    EXPECT_TRUE(EditedText("page\fbreak\tand caf\xe9\n").PureText());
    EXPECT_TRUE(EditedText(Utf16Le(u"wide text\r\n")).PureText());
    EXPECT_FALSE(EditedText(Utf16Le(u"bell\a\r\n")).PureText());
}

// The longest common subsequence's length, the slow way.
size_t CommonLines(const std::vector<std::u16string>& a, const std::vector<std::u16string>& b)
{
    std::vector<std::vector<size_t>> t(a.size() + 1, std::vector<size_t>(b.size() + 1, 0));
    for (size_t i = a.size(); i-- > 0;)
        for (size_t j = b.size(); j-- > 0;)
            t[i][j] = a[i] == b[j] ? t[i + 1][j + 1] + 1 : std::max(t[i + 1][j], t[i][j + 1]);
    return t[0][0];
}

TEST(EditedText, MatchingFindsAsManyUnchangedLinesAsThereAre)
{
    std::mt19937 random(7);
    for (int round = 0; round < 400; ++round) {
        std::vector<std::u16string> a, b;
        const int n = int(random() % 30);
        for (int i = 0; i < n; ++i)
            a.push_back(std::u16string(1, char16_t(u'a' + random() % 4)));
        b = a;
        const int edits = int(random() % 6);
        for (int e = 0; e < edits; ++e) {
            const size_t at = b.empty() ? 0 : random() % (b.size() + 1);
            switch (random() % 3) {
            case 0: b.insert(b.begin() + long(at), std::u16string(1, char16_t(u'a' + random() % 5))); break;
            case 1: if (at < b.size()) b.erase(b.begin() + long(at)); break;
            default: if (at < b.size()) b[at] = u"z"; break;
            }
        }
        const std::vector<int64_t> match = MatchUnchangedLines(a, b);
        ASSERT_EQ(match.size(), b.size());
        int64_t last = -1;
        size_t matched = 0;
        for (size_t j = 0; j < b.size(); ++j) {
            if (match[j] < 0)
                continue;
            ASSERT_GT(match[j], last) << "round " << round;
            ASSERT_EQ(a[size_t(match[j])], b[j]);
            last = match[j];
            ++matched;
        }
        EXPECT_EQ(matched, CommonLines(a, b)) << "round " << round;
    }
    // Past the bound only the common start and end are matched.
    std::vector<std::u16string> a, b;
    for (int i = 0; i < 50; ++i) {
        a.push_back(u"same");
        a.push_back(u"a" + std::u16string(1, char16_t(i)));
        b.push_back(u"same");
        b.push_back(u"b" + std::u16string(1, char16_t(i)));
    }
    const std::vector<int64_t> bounded = MatchUnchangedLines(a, b, 10);
    EXPECT_EQ(bounded[0], 0);
    EXPECT_EQ(std::count(bounded.begin(), bounded.end(), -1), 99);
}

} // namespace
