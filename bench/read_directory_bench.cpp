// Reads a generated directory of 100,000 files and 1,000 subdirectories the way
// a pane does and compares it with GNU "ls -l" on the same directory, measured
// in the same run, the two taking turns; both wall time and CPU time (user +
// system) are given, the latter being what a loaded machine disturbs least.
// Also reports the listing's heap bytes per entry and the cost
// of re-sorting by size and by time.
//
// usage: read_directory_bench [WORKDIR] [ROUNDS]
#include "panes/DirData.h"
#include "panes/HeadlessPane.h"
#include "panes/ReadDirectory.h"
#include "panes/Sorting.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <fstream>
#include <malloc.h>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace tarnel;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFiles = 100000;
constexpr int kDirs = 1000;
constexpr int kDescribed = 10000;

std::string RandomName(std::mt19937& rng, int index)
{
    static const char chars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-";
    const int length = 8 + int(rng() % 33); // 8..40 bytes
    std::string name = std::to_string(index) + "_";
    while (int(name.size()) < length - 4)
        name += chars[rng() % (sizeof chars - 1)];
    static const char* const exts[] = {".txt", ".jpg", ".cpp", ".doc"};
    return name + exts[rng() % 4];
}

void Generate(const std::string& dir)
{
    std::filesystem::create_directories(dir);
    if (std::filesystem::exists(dir + "/.generated"))
        return;
    std::mt19937 rng(42);
    std::ofstream descriptions(dir + "/DESCRIPT.ION", std::ios::binary);
    for (int i = 0; i < kFiles; ++i) {
        const std::string name = RandomName(rng, i);
        const int fd = open((dir + "/" + name).c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        if (fd >= 0) {
            if (ftruncate(fd, off_t(rng() % 100000)) != 0)
                std::perror("ftruncate");
            close(fd);
        }
        if (i % (kFiles / kDescribed) == 0)
            descriptions << name << " description of file number " << i << "\r\n";
    }
    for (int i = 0; i < kDirs; ++i)
        mkdir((dir + "/dir" + std::to_string(i)).c_str(), 0755);
    std::ofstream(dir + "/.generated") << "done\n";
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double CpuMs(const rusage& u)
{
    return (double(u.ru_utime.tv_sec) + double(u.ru_stime.tv_sec)) * 1e3 +
           (double(u.ru_utime.tv_usec) + double(u.ru_stime.tv_usec)) / 1e3;
}

struct Cost {
    double wallMs = 0;
    double cpuMs = 0;
};

Cost Measure(const std::function<void()>& run)
{
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = Clock::now();
    run();
    Cost cost;
    cost.wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    getrusage(RUSAGE_SELF, &after);
    cost.cpuMs = CpuMs(after) - CpuMs(before);
    return cost;
}

// "ls -l dir > /dev/null" as its own process, without a shell.
Cost RunLs(const std::string& dir)
{
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        execlp("ls", "ls", "-l", dir.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "ls failed\n");
    return {std::chrono::duration<double, std::milli>(Clock::now() - start).count(), CpuMs(usage)};
}

template <typename F>
double MedianMs(int rounds, F&& run)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        run();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const std::string work = argc > 1 ? argv[1] : "/tmp/tarnel-bench";
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
    const std::string dir = work + "/listing";
    Generate(dir);

    HeadlessPane controls;
    controls.filterText = "*.*";
    TDirData pane;
    DriveList drives; // drive rows are not what is measured here
    pane.Controls = &controls;
    pane.Drives = &drives;
    pane.Path = dir;

    ReadDirectory(pane); // warm the page cache for both tools
    RunLs(dir);

    std::vector<double> readWall, readCpu, lsWall, lsCpu, wallRatio, cpuRatio;
    for (int i = 0; i < rounds; ++i) {
        const Cost read = Measure([&] { ReadDirectory(pane); });
        const Cost ls = RunLs(dir);
        readWall.push_back(read.wallMs);
        readCpu.push_back(read.cpuMs);
        lsWall.push_back(ls.wallMs);
        lsCpu.push_back(ls.cpuMs);
        wallRatio.push_back(read.wallMs / ls.wallMs);
        cpuRatio.push_back(read.cpuMs / ls.cpuMs);
    }
    const double readMs = Median(readWall);

    pane.ClearEntries(); // measure the heap a fresh listing holds
    controls.SetRowCount(0);
    malloc_trim(0);
    const size_t before = mallinfo2().uordblks;
    ReadDirectory(pane);
    const size_t after = mallinfo2().uordblks;
    const int entries = pane.Count;

    controls.sortKey = skSize;
    const double bySizeMs = MedianMs(rounds, [&] { SortPane(pane, true, true); pane.Ascending ^= 1; });
    controls.sortKey = skTime;
    const double byTimeMs = MedianMs(rounds, [&] { SortPane(pane, true, true); pane.Ascending ^= 1; });

    std::printf("entries listed:             %d (%d described)\n", entries, kDescribed);
    std::printf("ReadDirectory (median):     %.1f ms wall, %.1f ms CPU\n", readMs, Median(readCpu));
    std::printf("ls -l > /dev/null (median): %.1f ms wall, %.1f ms CPU\n", Median(lsWall), Median(lsCpu));
    std::printf("ratio read / ls (median):   %.2f wall, %.2f CPU (target <= 1.0)\n", Median(wallRatio),
                Median(cpuRatio));
    std::printf("listing heap per entry:     %.0f bytes (target <= 200)\n", double(after - before) / entries);
    std::printf("re-sort by size:            %.1f ms (%.3f of the read, target <= 0.1)\n", bySizeMs, bySizeMs / readMs);
    std::printf("re-sort by time:            %.1f ms (%.3f of the read, target <= 0.1)\n", byTimeMs, byTimeMs / readMs);
    return 0;
}
