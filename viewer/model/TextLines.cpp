#include "viewer/model/TextLines.h"

#include "platform/Utf8.h"
#include "viewer/model/LineIndex.h"
#include "viewer/model/TextFile.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <limits>

namespace tarnel {

namespace {

constexpr size_t kReadBlock = 65536;

// Turns raw line bytes into display text, keeping the columns [from, to):
// one byte a column, or for UTF-8 text one character a column, written as
// UTF-8 (a byte that is no character shows as its 8-bit character).
class Expander {
public:
    Expander(int tab, bool utf8, int64_t from, int64_t to, std::string& out, int64_t column)
        : tab_(tab), utf8_(utf8), from_(from), to_(to), out_(out), column_(column)
    {
    }
    bool Full() const { return column_ >= to_; }
    int64_t Column() const { return column_; }
    // Bytes of a character not complete yet.
    int Held() const { return decoder_.Held(); }
    void Add(const unsigned char* data, size_t size)
    {
        for (size_t i = 0; i < size && column_ < to_; ++i) {
            const unsigned char b = data[i];
            if (utf8_ && (b >= 0x80 || decoder_.Holding())) {
                decoder_.Add(b, 0, [this](int64_t, int, uint32_t code) { Code(code); });
                continue;
            }
            if (b == '\r' || b == '\n')
                continue;
            if (b == '\t')
                Tab();
            else
                Put(b < 32 ? ' ' : char(b));
        }
    }
    // The line ends: a character cut short shows byte by byte.
    void Finish()
    {
        decoder_.Flush([this](int64_t, int, uint32_t code) { Code(code); });
    }

private:
    void Tab()
    {
        const int64_t next = (column_ / tab_ + 1) * tab_;
        while (column_ < next)
            Put(' ');
    }
    void Code(uint32_t code)
    {
        if (code & Utf8Columns::kLoneByte) {
            Column(DisplayChar(static_cast<unsigned char>(code)));
        } else if (code == '\r' || code == '\n') {
        } else if (code == '\t') {
            Tab();
        } else {
            // Control characters, C1 ones too, show as blanks.
            Column(code < 32 || (code >= 0x80 && code < 0xA0) ? uint32_t(' ') : code);
        }
    }
    void Column(uint32_t code)
    {
        if (column_ >= from_ && column_ < to_)
            AppendUtf8(out_, code);
        ++column_;
    }
    void Put(char c)
    {
        if (column_ >= from_ && column_ < to_)
            out_.push_back(c);
        ++column_;
    }
    int tab_;
    bool utf8_;
    int64_t from_, to_;
    std::string& out_;
    int64_t column_;
    Utf8Columns decoder_;
};

bool TextLine(const TextFile& file, const LineIndex& index, int64_t n, const LineClip* clip, std::string& out)
{
    const int64_t begin = index.LineBegin(n), end = index.LineEnd(n);
    const int64_t from = clip ? std::max<int64_t>(0, clip->fromColumn) : 0;
    const int64_t to = clip ? from + std::max<int64_t>(0, clip->columns) : std::numeric_limits<int64_t>::max();
    ColumnMarks* const marks = clip ? clip->marks : nullptr;
    ColumnMarks::Mark start{begin, begin, 0};
    if (const ColumnMarks::Mark* mark = marks && from > 0 ? marks->Find(begin, from) : nullptr)
        start = *mark;
    Expander expander(index.Options().tab, index.Options().utf8, from, to, out, start.column);
    ColumnMarks::Mark reached = start; // the last block start still before the clip
    unsigned char buffer[kReadBlock];
    int64_t at = start.at;
    for (; at < end && !expander.Full();) {
        // A character across the blocks' seam is marked where it starts.
        if (expander.Column() <= from)
            reached = {begin, at - expander.Held(), expander.Column()};
        const size_t want = size_t(std::min<int64_t>(int64_t(kReadBlock), end - at));
        if (file.ReadAt(at, buffer, want) != want)
            return false;
        expander.Add(buffer, want);
        at += int64_t(want);
    }
    if (at >= end)
        expander.Finish();
    if (marks && reached.at != start.at)
        marks->Remember(reached);
    return true;
}

size_t MarkSlot(int64_t lineBegin, size_t slots) { return size_t(uint64_t(lineBegin) * 0x9E3779B97F4A7C15u >> 32) % slots; }

int HexDigitsFor(int64_t fileSize)
{
    int digits = 8;
    while (digits < 16 && (uint64_t(fileSize > 0 ? fileSize - 1 : 0) >> (4 * digits)) != 0)
        ++digits;
    return digits;
}

} // namespace

int64_t HexTextColumn(int64_t fileSize) { return 1 + HexDigitsFor(fileSize) + 48 + 1; }

const ColumnMarks::Mark* ColumnMarks::Find(int64_t lineBegin, int64_t column) const
{
    const Mark& mark = marks_[MarkSlot(lineBegin, marks_.size())];
    return mark.lineBegin == lineBegin && mark.column <= column ? &mark : nullptr;
}

void ColumnMarks::Remember(const Mark& mark) { marks_[MarkSlot(mark.lineBegin, marks_.size())] = mark; }

bool HexLine(const TextFile& file, int64_t n, std::string& out)
{
    const int64_t offset = (n - 1) * 16;
    const size_t want = size_t(std::clamp<int64_t>(file.Size() - offset, 0, 16));
    unsigned char bytes[16];
    if (file.ReadAt(offset, bytes, want) != want)
        return false;
    char text[40];
    std::snprintf(text, sizeof text, "$%0*" PRIX64, HexDigitsFor(file.Size()), uint64_t(offset));
    out = text;
    for (size_t i = 0; i < want; ++i) {
        std::snprintf(text, sizeof text, " %02X", bytes[i]);
        out += text;
    }
    out.resize(size_t(HexTextColumn(file.Size()) - 1), ' ');
    out += ' ';
    for (size_t i = 0; i < 16; ++i)
        out += i < want ? (bytes[i] < 32 ? '.' : char(bytes[i])) : ' ';
    return true;
}

bool GetLines(const TextFile& file, const LineIndex& index, int64_t first, int64_t count, const LineClip* clip,
              std::vector<std::string>& out, int64_t& failedLine)
{
    out.clear();
    failedLine = 0;
    const int64_t last = std::min(first + count - 1, index.LineCount());
    const int64_t misses = file.Misses();
    for (int64_t n = std::max<int64_t>(first, 1); n <= last; ++n) {
        std::string line;
        bool ok;
        if (index.Mode() == VM_HEX) {
            ok = HexLine(file, n, line);
            if (ok && clip)
                line = line.substr(size_t(std::min<int64_t>(std::max<int64_t>(0, clip->fromColumn), int64_t(line.size()))), 80);
        } else {
            ok = TextLine(file, index, n - 1, clip, line);
        }
        // A line whose bytes (or whose start) are not in memory yet is no
        // line of the file: the caller tells it by the file's misses.
        if (!ok || file.Misses() != misses) {
            failedLine = n;
            return false;
        }
        out.push_back(std::move(line));
    }
    return true;
}

namespace {

// The column of the character that holds offset: it may need the bytes
// after offset to tell whether its sequence is whole.
std::pair<int64_t, int64_t> LocateUtf8(const TextFile& file, const LineIndex& index, int64_t line, int64_t offset,
                                       LocateCursor from, LocateCursor* cursor)
{
    const int tab = index.Options().tab;
    const int64_t lineEnd = index.LineEnd(line);
    const int64_t stop = std::max(offset + 1, std::min(lineEnd, offset + 4));
    int64_t column = from.column;
    int64_t answer = -1;
    LocateCursor resume{-1, 0, 0};
    Utf8Columns decoder;
    auto onColumn = [&](int64_t start, int length, uint32_t code) {
        const int64_t before = column;
        if (code == '\t')
            column = (column / tab + 1) * tab;
        else if (code != '\r' && code != '\n')
            ++column;
        if (answer < 0 && start <= offset && offset < start + length) {
            answer = column;
            resume = {line, start, before};
        }
    };
    unsigned char buffer[kReadBlock];
    int64_t at = from.at;
    while (at < stop) {
        const size_t want = size_t(std::min<int64_t>(int64_t(kReadBlock), stop - at));
        const size_t got = file.ReadAt(at, buffer, want);
        for (size_t i = 0; i < got; ++i)
            decoder.Add(buffer[i], at + int64_t(i), onColumn);
        at += int64_t(got);
        if (got < want)
            break;
    }
    if (at >= lineEnd || answer < 0)
        decoder.Flush(onColumn);
    if (cursor)
        *cursor = resume;
    return {line, answer < 0 ? column : answer};
}

} // namespace

std::pair<int64_t, int64_t> LocateOffset(const TextFile& file, LineIndex& index, int64_t offset, LocateCursor* cursor)
{
    if (index.Mode() == VM_HEX)
        return {offset / 16, offset % 16 + 1};
    int64_t line = index.LineOf(offset);
    while (line < 0 && !index.Done()) {
        index.Step(int64_t(1) << 22);
        line = index.LineOf(offset);
        if (index.Waiting())
            break; // bytes not in memory yet: not found for now
    }
    if (line < 0)
        return {-1, 0};
    const int tab = index.Options().tab;
    LocateCursor from{line, index.LineBegin(line), 0};
    if (cursor && cursor->line == line && cursor->at > from.at && cursor->at <= offset)
        from = *cursor;
    if (index.Options().utf8)
        return LocateUtf8(file, index, line, offset, from, cursor);
    int64_t column = from.column;
    int64_t at = from.at;
    unsigned char buffer[kReadBlock];
    while (at <= offset) {
        const size_t want = size_t(std::min<int64_t>(int64_t(kReadBlock), offset + 1 - at));
        const size_t got = file.ReadAt(at, buffer, want);
        for (size_t i = 0; i < got; ++i) {
            const unsigned char b = buffer[i];
            if (b == '\t')
                column = (column / tab + 1) * tab;
            else if (b != '\r' && b != '\n')
                ++column;
        }
        at += int64_t(got);
        if (got < want)
            break;
    }
    if (cursor)
        *cursor = {line, at, column};
    return {line, column};
}

std::string FilteredText(const std::string& bytes, int tab, bool& pureAscii)
{
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const bool utf8 = IsUtf8(data, bytes.size(), true);
    LineStarts starts;
    LineScanner scanner(starts, {VM_STANDARD, tab, 80, utf8});
    scanner.Feed(data, bytes.size());
    scanner.Finish();
    pureAscii = scanner.PureAscii();
    std::string out;
    out.reserve(bytes.size());
    for (int64_t n = 0; n + 1 < starts.Size(); ++n) {
        if (n > 0)
            out += '\n';
        Expander line(std::max(1, tab), utf8, 0, std::numeric_limits<int64_t>::max(), out, 0);
        line.Add(data + starts[n], size_t(starts[n + 1] - starts[n]));
        line.Finish();
    }
    return out;
}

char16_t DisplayChar(unsigned char b)
{
    static const char16_t k80[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                     0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    return b >= 0x80 && b < 0xA0 ? k80[b - 0x80] : char16_t(b);
}

bool IsUtf8(const unsigned char* data, size_t size, bool wholeFile)
{
    Utf8Columns decoder;
    bool lone = false;
    auto onColumn = [&](int64_t, int, uint32_t code) { lone = lone || (code & Utf8Columns::kLoneByte); };
    for (size_t i = 0; i < size && !lone; ++i) {
        // Plain ASCII goes by eight bytes at a time.
        if (!decoder.Holding() && i + 8 <= size) {
            uint64_t word;
            std::memcpy(&word, data + i, 8);
            if ((word & 0x8080808080808080u) == 0) {
                i += 7;
                continue;
            }
        }
        decoder.Add(data[i], int64_t(i), onColumn);
    }
    if (wholeFile)
        decoder.Flush(onColumn);
    return !lone;
}

bool LooksLikeUtf8(const TextFile& file)
{
    std::vector<unsigned char> head(size_t(std::min<int64_t>(file.Size(), kUtf8Probe)));
    const size_t got = file.ReadAt(0, head.data(), head.size());
    return IsUtf8(head.data(), got, int64_t(got) >= file.Size());
}

} // namespace tarnel
