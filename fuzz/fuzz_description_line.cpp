// Description files come from anywhere (archives, shares, other programs):
// parsing, reading and rewriting them must hold up against any bytes.
#include "descriptions/DescLineReader.h"
#include "descriptions/Descriptions.h"
#include "panes/PathUtil.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using namespace tarnel;

namespace {

// The line-end rule written out byte by byte, without blocks, as a yardstick
// for the buffered reader.
std::vector<std::string> ReferenceLines(const uint8_t* data, size_t size)
{
    std::vector<std::string> lines;
    size_t i = 0;
    while (i < size) {
        std::string line;
        while (i < size && data[i] != '\r' && data[i] != '\n') {
            if (line.size() < DescLineReader::kMaxLine)
                line.push_back(char(data[i]));
            ++i;
        }
        if (i < size && ++i < size && (data[i] == '\r' || data[i] == '\n'))
            ++i;
        lines.push_back(std::move(line));
    }
    return lines;
}

std::vector<std::string> ReaderLines(const std::string& path, size_t bufferSize)
{
    std::vector<std::string> lines;
    int h = DescLineReader::Open(path, bufferSize);
    if (h == 0)
        abort();
    while (!DescLineReader::EndOfData(h))
        lines.push_back(DescLineReader::ReadLine(h));
    DescLineReader::Close(h);
    return lines;
}

std::string g_workDir;

void RemoveWorkDir()
{
    std::string cmd = "rm -rf '" + g_workDir + "'";
    (void)!std::system(cmd.c_str());
}

std::string WorkDir()
{
    // tmpfs where there is one: every run rewrites and syncs a file.
    std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm/" : "/tmp/";
    dir += "tarnel-fuzz-desc-" + std::to_string(getpid()) + "/";
    std::string cmd = "mkdir -p '" + dir + "'";
    if (std::system(cmd.c_str()) != 0)
        abort();
    g_workDir = dir;
    std::atexit(RemoveWorkDir);
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string dir = WorkDir();
    static const int memfd = memfd_create("desc", 0);
    if (memfd < 0)
        abort();

    // Parsing: any parsed name must survive being written and read back.
    std::string_view whole(reinterpret_cast<const char*>(data), size);
    DescriptionLine d = ParseDescriptionLine(whole);
    if (d.name.size() + d.description.size() > size)
        abort();
    if (!d.name.empty()) {
        DescriptionLine back = ParseDescriptionLine(FormatDescriptionLine(d.name, d.description));
        if (back.name != d.name || back.description != d.description)
            abort();
    }

    // Reading: every buffer size must give the same lines as the yardstick.
    if (ftruncate(memfd, 0) != 0 || pwrite(memfd, data, size, 0) != ssize_t(size))
        abort();
    const std::string memPath = "/proc/self/fd/" + std::to_string(memfd);
    const std::vector<std::string> expected = ReferenceLines(data, size);
    for (size_t bufferSize : {size_t(1), size_t(7), kDescriptionBufferSize})
        if (ReaderLines(memPath, bufferSize) != expected)
            abort();

    // Rewriting: the file read after a write equals the file read before,
    // with only the target's description changed.
    FILE* f = std::fopen((dir + kDescriptionFileName).c_str(), "wb");
    if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0)
        abort();
    const std::string target = size % 3 == 0 ? "Target File" : "target";
    const std::string text = size % 2 ? "new text" : "";
    DescriptionList before, after;
    LoadDescriptions(dir, before);
    if (WriteDescription(dir + target, text) != WriteDescriptionResult::Written)
        abort();
    LoadDescriptions(dir, after);
    before.Set(target, text);
    if (before.Size() != after.Size())
        abort();
    for (const std::string& line : expected) {
        DescriptionLine e = ParseDescriptionLine(line);
        if (e.name.empty())
            continue;
        const std::string* b = before.Find(e.name);
        const std::string* a = after.Find(e.name);
        if ((a == nullptr) != (b == nullptr) || (a && *a != *b))
            abort();
    }
    return 0;
}
