#include "viewer/model/EditedText.h"

#include "platform/Utf8.h"
#include "viewer/model/TextLines.h"

#include <algorithm>
#include <array>
#include <functional>
#include <string_view>
#include <unordered_map>

namespace tarnel {

namespace {

constexpr char16_t kParagraphSeparator = 0x2029;
constexpr char16_t kFrameStart = 0xFDD0;
constexpr char16_t kFrameEnd = 0xFDD1;

// Strict: no overlong forms, no surrogates, nothing past U+10FFFF, so that
// decoding and encoding again gives the same bytes.
bool DecodeUtf8(const std::string& bytes, size_t from, std::u16string& out)
{
    out.clear();
    out.reserve(bytes.size() - from);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    size_t i = from;
    while (i < n) {
        const unsigned c = p[i];
        if (c < 0x80) {
            out += char16_t(c);
            ++i;
            continue;
        }
        int extra = 0;
        uint32_t cp = 0, min = 0;
        if ((c & 0xE0) == 0xC0) {
            extra = 1, cp = c & 0x1F, min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, cp = c & 0x0F, min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, cp = c & 0x07, min = 0x10000;
        } else {
            return false;
        }
        if (i + size_t(extra) >= n)
            return false;
        for (int k = 1; k <= extra; ++k) {
            const unsigned t = p[i + size_t(k)];
            if ((t & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (t & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += char16_t(0xD800 + (cp >> 10));
            out += char16_t(0xDC00 + (cp & 0x3FF));
        } else {
            out += char16_t(cp);
        }
        i += size_t(extra) + 1;
    }
    return true;
}

void EncodeUtf8(std::u16string_view text, std::string& out, bool& lossless)
{
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD; // half a pair has no UTF-8 form
            lossless = false;
        }
        AppendUtf8(out, char32_t(cp));
    }
}

const std::unordered_map<char16_t, char>& EightBitBytes()
{
    static const std::unordered_map<char16_t, char> table = [] {
        std::unordered_map<char16_t, char> t;
        for (int b = 0; b < 256; ++b)
            t.emplace(DisplayChar(static_cast<unsigned char>(b)), char(b));
        return t;
    }();
    return table;
}

std::u16string_view EndText(LineEnd end)
{
    switch (end) {
    case LineEnd::None: return {};
    case LineEnd::Lf: return u"\n";
    case LineEnd::Cr: return u"\r";
    case LineEnd::CrLf: return u"\r\n";
    case LineEnd::LfCr: return u"\n\r";
    case LineEnd::ParagraphSeparator: return u"\u2029";
    case LineEnd::FrameStart: return u"\uFDD0";
    case LineEnd::FrameEnd: return u"\uFDD1";
    }
    return {};
}

} // namespace

EditedText::EditedText(const std::string& raw)
{
    std::u16string units;
    const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
    const bool evenAfterMark = raw.size() >= 2 && raw.size() % 2 == 0;
    if (evenAfterMark && p[0] == 0xFF && p[1] == 0xFE) {
        encoding_ = TextEncoding::Utf16LE;
        bom_ = raw.substr(0, 2);
        for (size_t i = 2; i + 1 < raw.size(); i += 2)
            units += char16_t(p[i] | (p[i + 1] << 8));
    } else if (evenAfterMark && p[0] == 0xFE && p[1] == 0xFF) {
        encoding_ = TextEncoding::Utf16BE;
        bom_ = raw.substr(0, 2);
        for (size_t i = 2; i + 1 < raw.size(); i += 2)
            units += char16_t((p[i] << 8) | p[i + 1]);
    } else {
        const bool mark = raw.size() >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF;
        if (DecodeUtf8(raw, mark ? 3 : 0, units)) {
            encoding_ = TextEncoding::Utf8;
            if (mark)
                bom_ = raw.substr(0, 3);
        } else {
            encoding_ = TextEncoding::EightBit;
            units.resize(raw.size());
            for (size_t i = 0; i < raw.size(); ++i)
                units[i] = DisplayChar(p[i]);
        }
    }

    // CR LF and LF CR are one line end each, every other CR or LF is one.
    bool sawEnd = false;
    size_t start = 0;
    for (size_t i = 0; i < units.size(); ++i) {
        const char16_t c = units[i];
        LineEnd end = LineEnd::None;
        size_t length = 1;
        if (c == u'\r' || c == u'\n') {
            const bool pair = i + 1 < units.size() && (units[i + 1] == u'\r' || units[i + 1] == u'\n') && units[i + 1] != c;
            end = pair ? (c == u'\r' ? LineEnd::CrLf : LineEnd::LfCr) : (c == u'\r' ? LineEnd::Cr : LineEnd::Lf);
            length = pair ? 2 : 1;
        } else if (c == kParagraphSeparator) {
            end = LineEnd::ParagraphSeparator;
        } else if (c == kFrameStart) {
            end = LineEnd::FrameStart;
        } else if (c == kFrameEnd) {
            end = LineEnd::FrameEnd;
        } else {
            continue;
        }
        lines_.emplace_back(units, start, i - start);
        ends_.push_back(end);
        if (!sawEnd && end != LineEnd::ParagraphSeparator && end != LineEnd::FrameStart && end != LineEnd::FrameEnd) {
            defaultEnd_ = end;
            sawEnd = true;
        }
        i += length - 1;
        start = i + 1;
    }
    lines_.emplace_back(units, start);
    ends_.push_back(LineEnd::None);
}

bool EditedText::PureText() const
{
    for (const std::u16string& line : lines_)
        for (const char16_t c : line)
            if (c < 32 && c != u'\t' && c != u'\f')
                return false;
    return true;
}

void EditedText::Filter(int tab)
{
    tab = std::max(1, tab);
    for (std::u16string& line : lines_) {
        std::u16string out;
        out.reserve(line.size());
        for (const char16_t c : line) {
            if (c == u'\t')
                out.append(size_t(tab) - out.size() % size_t(tab), u' ');
            else
                out += c < 32 ? u' ' : c;
        }
        line = std::move(out);
    }
    for (LineEnd& end : ends_)
        if (end != LineEnd::None)
            end = LineEnd::CrLf;
    defaultEnd_ = LineEnd::CrLf;
}

std::string EditedText::Encode(const std::vector<std::u16string>& edited, bool* lossless) const
{
    const std::vector<int64_t> match = MatchUnchangedLines(lines_, edited);
    const int64_t n = int64_t(lines_.size());
    const int64_t m = int64_t(edited.size());

    std::vector<LineEnd> ends(size_t(m), LineEnd::None);
    int64_t before = -1; // the original line of the last unchanged line
    for (int64_t j = 0; j < m;) {
        if (match[size_t(j)] >= 0) {
            before = match[size_t(j)];
            ends[size_t(j)] = ends_[size_t(before)];
            ++j;
            continue;
        }
        // A run of changed lines takes the place of the original lines
        // between the unchanged ones around it, one for one.
        int64_t end = j;
        while (end < m && match[size_t(end)] < 0)
            ++end;
        const int64_t after = end < m ? match[size_t(end)] : n;
        const LineEnd nearby = before >= 0 && ends_[size_t(before)] != LineEnd::None ? ends_[size_t(before)] : defaultEnd_;
        for (int64_t r = 0; j + r < end; ++r) {
            const int64_t replaced = before + 1 + r;
            ends[size_t(j + r)] = replaced < after ? ends_[size_t(replaced)] : nearby;
            if (ends[size_t(j + r)] == LineEnd::None)
                ends[size_t(j + r)] = nearby;
        }
        j = end;
    }
    // Only the last line goes without a line end, and it always does.
    for (int64_t j = 0; j + 1 < m; ++j)
        if (ends[size_t(j)] == LineEnd::None)
            ends[size_t(j)] = defaultEnd_;
    if (m > 0)
        ends[size_t(m - 1)] = LineEnd::None;

    bool all = true;
    std::string out = bom_;
    std::u16string text;
    const auto& eightBit = EightBitBytes();
    for (int64_t j = 0; j < m; ++j) {
        text = edited[size_t(j)];
        text += EndText(ends[size_t(j)]);
        switch (encoding_) {
        case TextEncoding::Utf8: EncodeUtf8(text, out, all); break;
        case TextEncoding::Utf16LE:
            for (const char16_t c : text) {
                out += char(c & 0xFF);
                out += char(c >> 8);
            }
            break;
        case TextEncoding::Utf16BE:
            for (const char16_t c : text) {
                out += char(c >> 8);
                out += char(c & 0xFF);
            }
            break;
        case TextEncoding::EightBit:
            for (const char16_t c : text) {
                const auto found = eightBit.find(c);
                if (found == eightBit.end()) {
                    out += '?';
                    all = false;
                } else {
                    out += found->second;
                }
            }
            break;
        }
    }
    if (lossless)
        *lossless = all;
    return out;
}

std::vector<int64_t> MatchUnchangedLines(const std::vector<std::u16string>& a, const std::vector<std::u16string>& b,
                                         int maxEdits)
{
    std::vector<int64_t> match(b.size(), -1);
    const size_t n = a.size(), m = b.size();
    size_t head = 0;
    while (head < n && head < m && a[head] == b[head]) {
        match[head] = int64_t(head);
        ++head;
    }
    size_t tail = 0;
    while (tail < n - head && tail < m - head && a[n - 1 - tail] == b[m - 1 - tail]) {
        match[m - 1 - tail] = int64_t(n - 1 - tail);
        ++tail;
    }
    // The middle: Myers' greedy search for the fewest lines to delete and
    // insert, keeping each step's frontier to walk back along.
    const int64_t N = int64_t(n - head - tail), M = int64_t(m - head - tail);
    if (N == 0 || M == 0)
        return match;
    std::vector<size_t> ha(static_cast<size_t>(N)), hb(static_cast<size_t>(M));
    const std::hash<std::u16string> hash;
    for (int64_t i = 0; i < N; ++i)
        ha[size_t(i)] = hash(a[head + size_t(i)]);
    for (int64_t j = 0; j < M; ++j)
        hb[size_t(j)] = hash(b[head + size_t(j)]);
    auto same = [&](int64_t x, int64_t y) {
        return ha[size_t(x)] == hb[size_t(y)] && a[head + size_t(x)] == b[head + size_t(y)];
    };
    const int64_t limit = std::min<int64_t>(N + M, maxEdits);
    const int64_t offset = limit + 1;
    std::vector<int64_t> v(size_t(2 * limit + 3), 0);
    std::vector<std::vector<int64_t>> trace;
    int64_t found = -1;
    for (int64_t d = 0; d <= limit && found < 0; ++d) {
        trace.push_back(v);
        for (int64_t k = -d; k <= d; k += 2) {
            int64_t x = (k == -d || (k != d && v[size_t(offset + k - 1)] < v[size_t(offset + k + 1)]))
                            ? v[size_t(offset + k + 1)]
                            : v[size_t(offset + k - 1)] + 1;
            int64_t y = x - k;
            while (x < N && y < M && same(x, y))
                ++x, ++y;
            v[size_t(offset + k)] = x;
            if (x >= N && y >= M) {
                found = d;
                break;
            }
        }
    }
    if (found < 0)
        return match; // too many changes to say which lines stayed
    int64_t x = N, y = M;
    for (int64_t d = found; d > 0; --d) {
        const std::vector<int64_t>& prev = trace[size_t(d)];
        const int64_t k = x - y;
        const int64_t prevK = (k == -d || (k != d && prev[size_t(offset + k - 1)] < prev[size_t(offset + k + 1)]))
                                  ? k + 1
                                  : k - 1;
        const int64_t prevX = prev[size_t(offset + prevK)];
        const int64_t prevY = prevX - prevK;
        while (x > prevX && y > prevY) {
            --x, --y;
            match[head + size_t(y)] = int64_t(head) + x;
        }
        x = prevX, y = prevY;
    }
    while (x > 0 && y > 0) {
        --x, --y;
        match[head + size_t(y)] = int64_t(head) + x;
    }
    return match;
}

} // namespace tarnel
