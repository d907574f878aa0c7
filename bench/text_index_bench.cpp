// The text viewer's index and search on a 1 GiB file of lines of 1 to 200
// bytes, each against its peer in the same run: `wc -l` and `grep -c -F`.
// Also the index's memory per line and the bytes read per page when paging.
//
//   text_index_bench [DIR]     (default /tmp; needs 1 GiB free)
#include "viewer/model/LineIndex.h"
#include "viewer/model/TextFile.h"
#include "viewer/model/TextLines.h"
#include "viewer/model/TextSearch.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using namespace tarnel;
using Clock = std::chrono::steady_clock;

namespace {

const char kNeedle[] = "Zq7#needle!%"; // 12 bytes

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// Runs a shell command, returns its first output line and the wall time.
std::string Run(const std::string& command, double& seconds)
{
    const auto start = Clock::now();
    FILE* pipe = ::popen(command.c_str(), "r");
    char line[256] = {};
    if (pipe) {
        if (!std::fgets(line, sizeof line, pipe))
            line[0] = 0;
        ::pclose(pipe);
    }
    seconds = Seconds(start);
    std::string out = line;
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}

void MakeFile(const std::string& path, int64_t size)
{
    std::mt19937_64 random(42);
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    std::string block;
    int64_t written = 0;
    const int64_t needleEvery = size / 1000;
    int64_t nextNeedle = needleEvery / 2;
    while (written < size) {
        block.clear();
        while (block.size() < (4 << 20)) {
            const size_t length = 1 + random() % 200; // with its line feed
            std::string line(length - 1, 'a');
            for (char& c : line)
                c = char('a' + random() % 26);
            if (written + int64_t(block.size()) >= nextNeedle && line.size() >= 12) {
                line.replace(0, 12, kNeedle);
                nextNeedle += needleEvery;
            }
            block += line;
            block += '\n';
        }
        const int64_t take = std::min<int64_t>(int64_t(block.size()), size - written);
        (void)!::write(fd, block.data(), size_t(take));
        written += take;
    }
    ::fsync(fd); // no write-back of a fresh gigabyte competes with the timed rounds
    ::close(fd);
}

// The partial-match rule as first written: a list of candidates, each with
// the next character it expects. Used to confirm the counts, unbounded.
int64_t CountByPartialMatches(const TextFile& file, const std::string& text)
{
    std::vector<size_t> partial;
    std::vector<unsigned char> buffer(65536);
    int64_t matches = 0;
    for (int64_t at = 0; at < file.Size();) {
        const size_t got = file.ReadAt(at, buffer.data(), buffer.size());
        if (got == 0)
            break;
        for (size_t i = 0; i < got; ++i) {
            const unsigned char b = buffer[i];
            if (b == (unsigned char)text[0])
                partial.push_back(0);
            for (size_t k = 0; k < partial.size();) {
                if ((unsigned char)text[partial[k]] == b) {
                    if (++partial[k] == text.size()) {
                        ++matches;
                        partial[k] = partial.back();
                        partial.pop_back();
                        continue;
                    }
                    ++k;
                } else {
                    partial[k] = partial.back();
                    partial.pop_back();
                }
            }
        }
        at += int64_t(got);
    }
    return matches;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string dir = argc > 1 ? argv[1] : "/tmp";
    const std::string path = dir + "/text_index_bench.txt";
    const int64_t size = int64_t(1) << 30;
    std::printf("making %s (1 GiB)...\n", path.c_str());
    MakeFile(path, size);
    double seconds = 0;
    Run("cat '" + path + "' > /dev/null", seconds); // into the page cache for both

    TextFile file;
    if (!file.Open(path))
        return 1;
    std::vector<double> indexRatios, searchRatios;
    for (int round = 0; round < 5; ++round) {
        double wcTime = 0;
        const std::string wcLines = Run("wc -l < '" + path + "'", wcTime);
        const auto start = Clock::now();
        LineIndex index;
        index.Start(file, {VM_STANDARD, 8, 80});
        index.RunToEnd();
        const double ours = Seconds(start);
        const int64_t lines = index.LineCount();
        std::printf("index:  wc -l %.3f s (%s lines)   ours %.3f s (%lld lines)   ratio %.2f   memory %.2f bytes/line\n",
                    wcTime, wcLines.c_str(), ours, static_cast<long long>(lines), ours / wcTime,
                    double(index.MemoryBytes()) / double(lines));
        indexRatios.push_back(ours / wcTime);
    }

    for (int round = 0; round < 5; ++round) {
        double grepTime = 0;
        const std::string grepCount = Run(std::string("grep -c -F '") + kNeedle + "' '" + path + "'", grepTime);
        const auto start = Clock::now();
        TextSearcher searcher(file, kNeedle, false);
        searcher.Restart(0);
        int64_t match = 0, matches = 0;
        TextSearcher::Result result;
        while ((result = searcher.Next(int64_t(4) << 20, match)) != TextSearcher::Result::NotFound)
            matches += result == TextSearcher::Result::Found;
        const double ours = Seconds(start);
        std::printf("search: grep -c -F %.3f s (%s)   ours %.3f s (%lld matches)   ratio %.2f\n", grepTime,
                    grepCount.c_str(), ours, static_cast<long long>(matches), ours / grepTime);
        searchRatios.push_back(ours / grepTime);
    }
    std::printf("median ratios: index %.2f (target 2)   search %.2f (target 2)\n", Median(indexRatios),
                Median(searchRatios));
    const auto ruleStart = Clock::now();
    std::printf("partial-match rule: %lld matches (%.1f s)\n",
                static_cast<long long>(CountByPartialMatches(file, kNeedle)), Seconds(ruleStart));

    // Paging: each page reads the bytes of its own lines and no more.
    LineIndex index;
    index.Start(file, {VM_STANDARD, 8, 80});
    index.RunToEnd();
    const int rows = 50;
    const int pages = 2000;
    const int64_t stride = index.LineCount() / pages;
    const int64_t readBefore = file.BytesRead();
    int64_t visible = 0;
    const auto pageStart = Clock::now();
    for (int page = 0; page < pages; ++page) {
        const int64_t first = 1 + page * stride;
        std::vector<std::string> out;
        int64_t failed = 0;
        LineClip clip{0, 160};
        GetLines(file, index, first, rows, &clip, out, failed);
        visible += index.LineEnd(first + rows - 2) - index.LineBegin(first - 1);
    }
    std::printf("paging: %d pages of %d lines through the file, %.1f us a page, %.0f bytes read a page "
                "(the visible lines hold %.0f)\n",
                pages, rows, Seconds(pageStart) * 1e6 / pages, double(file.BytesRead() - readBefore) / pages,
                double(visible) / pages);
    ::unlink(path.c_str());
    return 0;
}
