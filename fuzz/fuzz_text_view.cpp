// Random files through the text viewer's model: the line index in slices,
// every line in every mode, and the search checked against a plain scan.
#include "viewer/model/LineIndex.h"
#include "viewer/model/TextFile.h"
#include "viewer/model/TextLines.h"
#include "viewer/model/TextSearch.h"

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

// The line-end rules byte by byte, which the vector scan must agree with:
// the line starts, the widest line and whether every control byte is allowed.
struct Expected {
    std::vector<int64_t> starts{0};
    int64_t width = 0;
    bool pure = true;
};

Expected ByTheRules(const std::string& s, bool wraps, int tab, int cols)
{
    Expected e;
    const int64_t wrapAt = std::max(1, cols - 1);
    int64_t column = 0;
    bool pending = false;
    char previous = 0;
    const auto end = [&](int64_t at) {
        e.width = std::max(e.width, wraps ? std::min(column, wrapAt) : column);
        column = 0;
        e.starts.push_back(at);
    };
    for (size_t i = 0; i < s.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        if (b < 32 && b != '\t' && b != '\n' && b != '\f' && b != '\r')
            e.pure = false;
        if (b == '\r' || b == '\n') {
            if (pending && char(b) != previous) {
                end(int64_t(i) + 1);
                pending = false;
            } else if (pending) {
                end(int64_t(i));
            } else {
                pending = true;
            }
        } else {
            if (pending) {
                end(int64_t(i));
                pending = false;
            }
            column = b == '\t' ? (column / tab + 1) * tab : column + 1;
            if (wraps && column >= wrapAt)
                end(int64_t(i) + 1);
        }
        previous = char(b);
    }
    if (pending)
        end(int64_t(s.size()) - 1);
    else if (e.starts.back() < int64_t(s.size()))
        end(int64_t(s.size()));
    if (e.starts.size() == 1)
        end(0);
    e.width = std::max(e.width, column);
    return e;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    using namespace tarnel;
    const Mymodes mode = Mymodes(data[0] % 3);
    const int tab = 1 + data[1] % 20;
    const int cols = data[2] % 64;
    const size_t needleSize = std::min<size_t>(data[3] % 16, size - 4);
    const std::string needle(reinterpret_cast<const char*>(data) + 4, needleSize);
    const std::string content(reinterpret_cast<const char*>(data) + 4 + needleSize, size - 4 - needleSize);
    WriteFile(reinterpret_cast<const uint8_t*>(content.data()), content.size());

    TextFile file;
    Check(file.Open(ScratchPath()));
    LineIndex index;
    index.Start(file, {mode, tab, cols});
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
        const Expected expected = ByTheRules(content, mode == VM_WORDWRAP, tab, cols);
        Check(int64_t(expected.starts.size()) == count + 1);
        for (int64_t n = 0; n < count; ++n)
            Check(index.LineBegin(n) == expected.starts[size_t(n)]);
        Check(index.LineEnd(count - 1) == expected.starts.back());
        Check(index.MaxWidth() == expected.width);
        Check(index.PureAscii() == expected.pure);
    }

    std::vector<std::string> lines;
    int64_t failed = 0;
    Check(GetLines(file, index, 1, count, nullptr, lines, failed) && int64_t(lines.size()) == count);
    for (const std::string& line : lines) {
        if (mode != VM_HEX)
            Check(line.find_first_of("\r\n") == std::string::npos);
        if (mode == VM_STANDARD)
            Check(int64_t(line.size()) <= index.MaxWidth());
    }
    LineClip clip{cols / 2, cols};
    Check(GetLines(file, index, 1, count, &clip, lines, failed));
    for (const std::string& line : lines)
        Check(int64_t(line.size()) <= (mode == VM_HEX ? 80 : cols));
    // Painting from column marks shows what painting from the line starts does.
    ColumnMarks marks;
    std::vector<std::string> marked;
    for (int64_t from : {int64_t(cols) * 1000, int64_t(cols) / 2, int64_t(cols) * 1000 + 3}) {
        LineClip plain{from, cols}, withMarks{from, cols, &marks};
        Check(GetLines(file, index, 1, count, &plain, lines, failed));
        Check(GetLines(file, index, 1, count, &withMarks, marked, failed) && marked == lines);
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
