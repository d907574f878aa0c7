#include "viewer/model/TextLines.h"

#include "viewer/model/LineIndex.h"
#include "viewer/model/TextFile.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <limits>

namespace tarnel {

namespace {

constexpr size_t kReadBlock = 65536;

// Turns raw line bytes into display text, keeping the columns [from, to).
class Expander {
public:
    Expander(int tab, int64_t from, int64_t to, std::string& out, int64_t column)
        : tab_(tab), from_(from), to_(to), out_(out), column_(column)
    {
    }
    bool Full() const { return column_ >= to_; }
    int64_t Column() const { return column_; }
    void Add(const unsigned char* data, size_t size)
    {
        for (size_t i = 0; i < size && column_ < to_; ++i) {
            const unsigned char b = data[i];
            if (b == '\r' || b == '\n')
                continue;
            if (b == '\t') {
                const int64_t next = (column_ / tab_ + 1) * tab_;
                while (column_ < next)
                    Put(' ');
            } else {
                Put(b < 32 ? ' ' : char(b));
            }
        }
    }

private:
    void Put(char c)
    {
        if (column_ >= from_ && column_ < to_)
            out_.push_back(c);
        ++column_;
    }
    int tab_;
    int64_t from_, to_;
    std::string& out_;
    int64_t column_;
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
    Expander expander(index.Options().tab, from, to, out, start.column);
    ColumnMarks::Mark reached = start; // the last block start still before the clip
    unsigned char buffer[kReadBlock];
    for (int64_t at = start.at; at < end && !expander.Full();) {
        if (expander.Column() <= from)
            reached = {begin, at, expander.Column()};
        const size_t want = size_t(std::min<int64_t>(int64_t(kReadBlock), end - at));
        if (file.ReadAt(at, buffer, want) != want)
            return false;
        expander.Add(buffer, want);
        at += int64_t(want);
    }
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
        if (!ok) {
            failedLine = n;
            return false;
        }
        out.push_back(std::move(line));
    }
    return true;
}

std::pair<int64_t, int64_t> LocateOffset(const TextFile& file, LineIndex& index, int64_t offset, LocateCursor* cursor)
{
    if (index.Mode() == VM_HEX)
        return {offset / 16, offset % 16 + 1};
    int64_t line = index.LineOf(offset);
    while (line < 0 && !index.Done()) {
        index.Step(int64_t(1) << 22);
        line = index.LineOf(offset);
    }
    if (line < 0)
        return {-1, 0};
    const int tab = index.Options().tab;
    LocateCursor from{line, index.LineBegin(line), 0};
    if (cursor && cursor->line == line && cursor->at > from.at && cursor->at <= offset)
        from = *cursor;
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
    LineStarts starts;
    LineScanner scanner(starts, {VM_STANDARD, tab, 80});
    scanner.Feed(data, bytes.size());
    scanner.Finish();
    pureAscii = scanner.PureAscii();
    std::string out;
    out.reserve(bytes.size());
    for (int64_t n = 0; n + 1 < starts.Size(); ++n) {
        if (n > 0)
            out += '\n';
        Expander line(std::max(1, tab), 0, std::numeric_limits<int64_t>::max(), out, 0);
        line.Add(data + starts[n], size_t(starts[n + 1] - starts[n]));
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

} // namespace tarnel
