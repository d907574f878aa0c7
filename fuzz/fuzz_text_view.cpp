// Random files through the text viewer's model: the line index in slices,
// every line in every mode, and the search checked against a plain scan.
#include "viewer/model/LineIndex.h"
#include "viewer/model/TextFile.h"
#include "viewer/model/TextLines.h"
#include "viewer/model/TextSearch.h"

#include "viewer/model/LineRules.h" // from tests/

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

const std::string& ScratchPath()
{
    static const std::string path = "/dev/shm/fuzz_text_view." + std::to_string(::getpid());
    return path;
}

void WriteFile(const uint8_t* data, size_t size)
{
    const int fd = ::open(ScratchPath().c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        std::abort();
    if (size && ::write(fd, data, size) != ssize_t(size))
        std::abort();
    ::close(fd);
}

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

// Display columns of a line: one a byte, or one a character of UTF-8.
int64_t Columns(const std::string& line, bool utf8)
{
    if (!utf8)
        return int64_t(line.size());
    int64_t columns = 0;
    for (unsigned char c : line)
        columns += (c & 0xC0) != 0x80;
    return columns;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    using namespace tarnel;
    const Mymodes mode = Mymodes(data[0] % 3);
    const bool utf8 = (data[0] / 3) % 2;
    const bool sparse = (data[0] / 6) % 2; // a few kept starts: most lines found again
    const int tab = 1 + data[1] % 20;
    const int cols = data[2] % 64;
    const size_t needleSize = std::min<size_t>(data[3] % 16, size - 4);
    const std::string needle(reinterpret_cast<const char*>(data) + 4, needleSize);
    const std::string content(reinterpret_cast<const char*>(data) + 4 + needleSize, size - 4 - needleSize);
    WriteFile(reinterpret_cast<const uint8_t*>(content.data()), content.size());

    TextFile file;
    Check(file.Open(ScratchPath()));
    LineIndex index;
    index.Start(file, {mode, tab, cols, utf8}, sparse ? 16 : LineIndex::kDefaultMaxKept);
    while (!index.Step(1 + int64_t(content.size() / 3))) {
    }
    const int64_t count = index.LineCount();
    if (mode == VM_HEX) {
        Check(count == int64_t(content.size() + 15) / 16);
    } else {
        Check(count >= 1);
        int64_t previous = 0;
        for (int64_t n = 0; n < count; ++n) {
            Check(index.LineBegin(n) >= previous && index.LineEnd(n) >= index.LineBegin(n));
            previous = index.LineBegin(n);
        }
        Check(index.LineEnd(count - 1) <= int64_t(content.size()));
        if (mode == VM_WORDWRAP)
            Check(index.MaxWidth() <= std::max(1, cols - 1));
        const test::RuledLines expected = test::ByTheLineRules(content, mode, tab, cols, utf8);
        Check(int64_t(expected.starts.size()) == count + 1);
        for (int64_t n = 0; n < count; ++n)
            Check(index.LineBegin(n) == expected.starts[size_t(n)]);
        Check(index.LineEnd(count - 1) == expected.starts.back());
        Check(index.MaxWidth() == expected.width);
        Check(index.PureAscii() == expected.pure);
        // The line of an offset, from the end backwards: kept starts and the
        // window found again must agree in any order.
        for (int64_t at = int64_t(content.size()) - 1; at >= 0; at -= 1 + int64_t(content.size() / 50)) {
            const auto after = std::upper_bound(expected.starts.begin(), expected.starts.end() - 1, at);
            Check(index.LineOf(at) == std::min<int64_t>(after - expected.starts.begin() - 1, count - 1));
        }
    }

    std::vector<std::string> lines;
    int64_t failed = 0;
    Check(GetLines(file, index, 1, count, nullptr, lines, failed) && int64_t(lines.size()) == count);
    for (const std::string& line : lines) {
        if (mode != VM_HEX)
            Check(line.find_first_of("\r\n") == std::string::npos);
        if (mode == VM_STANDARD)
            Check(Columns(line, utf8) <= index.MaxWidth());
    }
    LineClip clip{cols / 2, cols};
    Check(GetLines(file, index, 1, count, &clip, lines, failed));
    for (const std::string& line : lines)
        Check(Columns(line, utf8 && mode != VM_HEX) <= (mode == VM_HEX ? 80 : cols));
    // Painting from column marks shows what painting from the line starts does.
    ColumnMarks marks;
    std::vector<std::string> marked;
    for (int64_t from : {int64_t(cols) * 1000, int64_t(cols) / 2, int64_t(cols) * 1000 + 3}) {
        LineClip plain{from, cols}, withMarks{from, cols, &marks};
        Check(GetLines(file, index, 1, count, &plain, lines, failed));
        Check(GetLines(file, index, 1, count, &withMarks, marked, failed) && marked == lines);
    }

    // Locating every match in order with a cursor agrees with locating each alone.
    if (!needle.empty() && mode != VM_HEX) {
        LocateCursor cursor;
        for (size_t at = content.find(needle); at != std::string::npos; at = content.find(needle, at + 1))
            Check(LocateOffset(file, index, int64_t(at), &cursor) == LocateOffset(file, index, int64_t(at)));
    }
    // The editor's filtered text is the normal mode's lines.
    const auto* bytes = reinterpret_cast<const unsigned char*>(content.data());
    if (mode == VM_STANDARD && utf8 == IsUtf8(bytes, content.size(), true)) {
        bool pure = false;
        std::vector<std::string> whole;
        Check(GetLines(file, index, 1, count, nullptr, whole, failed));
        std::string joined;
        for (size_t i = 0; i < whole.size(); ++i)
            joined += (i ? "\n" : "") + whole[i];
        Check(FilteredText(content, tab, pure) == joined && pure == index.PureAscii());
    }

    // The search against a plain scan, from a few starts.
    for (int64_t start : {int64_t(0), int64_t(content.size() / 2), int64_t(content.size())}) {
        const size_t expected = needle.empty() ? std::string::npos : content.find(needle, size_t(start));
        const int64_t found = FindFrom(file, needle, start, false);
        Check(found == (expected == std::string::npos ? -1 : int64_t(expected)));
        if (found >= 0 && mode != VM_HEX) {
            const auto [line, column] = LocateOffset(file, index, found);
            Check(line >= 0 && line < count && index.LineBegin(line) <= found && column >= 0);
        }
    }
    return 0;
}
