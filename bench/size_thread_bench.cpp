// Directory totals: the size thread against "du -sxb --apparent-size" on a
// generated tree of 200,000 files in 20,000 directories spread over the 20
// subdirectories of one pane, measured in the same run with a warm cache; the
// walk alone at normal priority is shown too, since the thread's idle
// priority makes it yield to anything else the machine runs. Every total is
// checked against the sum over "find SUB -type f".
//
// Then the stop: a pane whose size thread walks a tree of a million entries
// is re-read, and the time from the request until ReadDirectory has stopped
// the worker (and until it returns) is reported, as is the time until the
// walk itself has ended (terminate and join).
//
// usage: size_thread_bench [WORKDIR] [ROUNDS]   (the trees are generated once)
#include "panes/BackgroundWorkers.h"
#include "panes/DirData.h"
#include "panes/HeadlessPane.h"
#include "panes/ReadDirectory.h"
#include "panes/SizeThread.h"
#include "platform/DirectoryTotals.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tarnel;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kSubdirs = 20;
constexpr int kTopDirs = 10;      // per subdirectory
constexpr int kLeafDirs = 99;     // per top directory: 10 + 990 = 1,000 directories per subdirectory
constexpr int kFilesPerDir = 10;  // 10,000 files per subdirectory
constexpr int kMillionDirs = 1000;
constexpr int kLinksPerDir = 1000; // hard links: a million entries without a million inodes

std::string SubName(int i)
{
    char name[16];
    std::snprintf(name, sizeof name, "sub%02d", i);
    return name;
}

std::string Numbered(char prefix, int i)
{
    char name[16];
    std::snprintf(name, sizeof name, "%c%d", prefix, i);
    return name;
}

void MakeFiles(int dirFd, std::mt19937& rng)
{
    for (int f = 0; f < kFilesPerDir; ++f) {
        char name[32];
        std::snprintf(name, sizeof name, "f%d.dat", f);
        const int fd = openat(dirFd, name, O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ftruncate(fd, off_t(rng() % 8193)) != 0)
            std::perror("file");
        if (fd >= 0)
            close(fd);
    }
}

int OpenDir(int at, const std::string& name)
{
    mkdirat(at, name.c_str(), 0755);
    return openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

void GenerateSizes(const std::string& root)
{
    if (std::filesystem::exists(root + "/.generated"))
        return;
    std::filesystem::create_directories(root);
    std::printf("generating %s ...\n", root.c_str());
    std::fflush(stdout);
    std::mt19937 rng(11);
    const int rootFd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int s = 0; s < kSubdirs; ++s) {
        const int sub = OpenDir(rootFd, SubName(s));
        for (int t = 0; t < kTopDirs; ++t) {
            const int top = OpenDir(sub, Numbered('d', t));
            MakeFiles(top, rng);
            for (int l = 0; l < kLeafDirs; ++l) {
                const int leaf = OpenDir(top, Numbered('e', l));
                MakeFiles(leaf, rng);
                close(leaf);
            }
            close(top);
        }
        close(sub);
    }
    close(rootFd);
    std::ofstream(root + "/.generated") << "done\n";
}

void GenerateMillion(const std::string& root)
{
    if (std::filesystem::exists(root + "/.generated"))
        return;
    std::filesystem::create_directories(root + "/million");
    std::printf("generating %s ...\n", root.c_str());
    std::fflush(stdout);
    // One file per directory and the rest links to it: file systems cap the
    // links to one inode (ext4: 65,000).
    for (int d = 0; d < kMillionDirs; ++d) {
        const std::string dir = root + "/million/d" + std::to_string(d) + "/";
        mkdir(dir.c_str(), 0755);
        const std::string seed = dir + "0";
        std::ofstream(seed) << "x";
        for (int i = 1; i < kLinksPerDir; ++i) {
            if (link(seed.c_str(), (dir + std::to_string(i)).c_str()) != 0 && errno != EEXIST) {
                std::perror("link");
                std::exit(1);
            }
        }
    }
    std::ofstream(root + "/.generated") << "done\n";
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int64_t FindSum(const std::string& dir)
{
    const std::string command = "find '" + dir + "' -type f -printf '%s\\n'";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    int64_t sum = 0;
    long long size;
    while (std::fscanf(pipe, "%lld", &size) == 1)
        sum += size;
    pclose(pipe);
    return sum;
}

struct QuietSink : WorkerSink {
    void RepaintSizeColumn(TDirData&) override {}
    void ShowWorkerError(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
};

struct BenchPane {
    HeadlessPane controls;
    DriveList drives; // drive rows are not what is measured
    TDirData pane;

    BenchPane(const std::string& path, PaneWorkerFactory& workers)
    {
        pane.Controls = &controls;
        pane.Drives = &drives;
        pane.Workers = &workers;
        pane.Path = path;
    }
};

void Du(const std::string& root)
{
    std::string command = "cd '" + root + "' && du -sxb --apparent-size";
    for (int s = 0; s < kSubdirs; ++s)
        command.append(" ").append(SubName(s));
    command += " > /dev/null";
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "du failed\n");
}

} // namespace

int main(int argc, char** argv)
{
    const std::string work = argc > 1 ? argv[1] : "/tmp/tarnel-bench";
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    const std::string sizesRoot = work + "/sizes";
    const std::string stopRoot = work + "/stop";
    GenerateSizes(sizesRoot);
    GenerateMillion(stopRoot);

    QuietSink sink;
    BackgroundWorkers workers(sink);

    // --- totals: size thread, walk alone, du
    BenchPane sizes(sizesRoot, workers);
    auto threadRun = [&] {
        ReadDirectory(sizes.pane);
        sizes.pane.SizeThread->Wait();
    };
    std::atomic<bool> never{false};
    const int64_t cluster = ClusterSizeOf(sizesRoot);
    auto walkRun = [&] {
        for (int s = 0; s < kSubdirs; ++s) {
            DirectoryWalker walker(never, cluster);
            DirectoryTotals totals;
            walker.Walk(sizesRoot + "/" + SubName(s), totals);
        }
    };
    threadRun(); // warm the cache for all three
    Du(sizesRoot);
    walkRun();
    std::vector<double> threadMs, walkMs, duMs;
    for (int r = 0; r < rounds; ++r) {
        auto start = Clock::now();
        threadRun();
        threadMs.push_back(Ms(Clock::now() - start));
        start = Clock::now();
        Du(sizesRoot);
        duMs.push_back(Ms(Clock::now() - start));
        start = Clock::now();
        walkRun();
        walkMs.push_back(Ms(Clock::now() - start));
    }

    int checked = 0, wrong = 0;
    int64_t files = 0, dirs = 0;
    for (int i = 0; i < sizes.pane.Count; ++i) {
        const TFileData& e = sizes.pane.Item(i);
        if (e.Kind != fkDirectory || e.Name == "..")
            continue;
        ++checked;
        files += e.SubFiles.load();
        dirs += e.SubDirs.load();
        const int64_t want = FindSum(sizesRoot + "/" + e.Name);
        if (e.Size.load() != want) {
            ++wrong;
            std::printf("  %s: total %lld, find says %lld\n", e.Name.c_str(), (long long)e.Size.load(), (long long)want);
        }
    }

    // --- stopping a walk of a million entries
    BenchPane stop(stopRoot, workers);
    std::vector<double> stopMs, rereadMs, joinMs;
    std::mt19937 rng(3);
    for (int r = 0; r < rounds; ++r) {
        ReadDirectory(stop.pane);
        auto* thread = dynamic_cast<GatedWorker*>(stop.pane.SizeThread.get());
        while (thread->Checkpoint() != 3)
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + rng() % 200)); // somewhere deep in the walk
        const auto start = Clock::now();
        stop.pane.StopWorkers(); // what ReadDirectory does first
        stopMs.push_back(Ms(Clock::now() - start));
        ReadDirectory(stop.pane); // starts a fresh walk
        rereadMs.push_back(Ms(Clock::now() - start));

        // The same, waiting until the walk itself has ended.
        thread = dynamic_cast<GatedWorker*>(stop.pane.SizeThread.get());
        while (thread->Checkpoint() != 3)
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + rng() % 200));
        const auto joinStart = Clock::now();
        thread->Terminate();
        thread->Wait();
        joinMs.push_back(Ms(Clock::now() - joinStart));
        stop.pane.StopWorkers();
    }
    WaitForReleasedWorkers();

    std::printf("tree: %d subdirectories, %lld files, %lld directories below them\n", checked, (long long)files,
                (long long)dirs);
    std::printf("size thread, 20 totals (median of %d): %8.1f ms\n", rounds, Median(threadMs));
    std::printf("du -sxb --apparent-size (median):    %8.1f ms\n", Median(duMs));
    std::printf("ratio thread / du:                    %8.2f (target <= 1.0)\n", Median(threadMs) / Median(duMs));
    std::printf("walk alone, normal priority (median): %8.1f ms (ratio to du %.2f)\n", Median(walkMs),
                Median(walkMs) / Median(duMs));
    std::printf("totals equal to find -type f sums:    %d of %d\n", checked - wrong, checked);
    std::printf("re-read during a 1M-entry walk: workers stopped after %.2f ms median, %.2f ms max;"
                " ReadDirectory returned after %.2f ms median, %.2f ms max (target <= 50)\n",
                Median(stopMs), *std::max_element(stopMs.begin(), stopMs.end()), Median(rereadMs),
                *std::max_element(rereadMs.begin(), rereadMs.end()));
    std::printf("terminate + join of that walk:        %.2f ms median, %.2f ms max\n", Median(joinMs),
                *std::max_element(joinMs.begin(), joinMs.end()));
    return wrong == 0 ? 0 : 1;
}
