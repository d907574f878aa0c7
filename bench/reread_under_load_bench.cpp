// A re-read of a pane of 8,000 sub-directories while its idle-priority size
// thread scans the listing and two busy threads hold both cores: how long the
// main thread waits to stop the workers (the listing's lock), and how long
// ReadDirectory takes in all. Measured against "ls -U" listing the same
// directory under the same load, in the same run.
//
// usage: reread_under_load_bench [WORKDIR] [ROUNDS]
#include "panes/BackgroundWorkers.h"
#include "panes/DirData.h"
#include "panes/HeadlessPane.h"
#include "panes/ReadDirectory.h"
#include "panes/WorkerThread.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace tarnel;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kSubdirs = 8000;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double Max(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

struct QuietSink : WorkerSink {
    void RepaintSizeColumn(TDirData&) override {}
    void ShowWorkerError(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
};

} // namespace

int main(int argc, char** argv)
{
    const std::string root = (argc > 1 ? argv[1] : "/tmp/tarnel-bench") + std::string("/reread");
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 100;
    std::system(("mkdir -p '" + root + "'").c_str());
    for (int i = 0; i < kSubdirs; ++i)
        mkdir((root + "/d" + std::to_string(i)).c_str(), 0755);

    std::atomic<bool> busy{true};
    std::vector<std::thread> load;
    for (int i = 0; i < 2; ++i)
        load.emplace_back([&busy] {
            volatile uint64_t n = 0;
            while (busy.load(std::memory_order_relaxed))
                n = n + 1;
        });

    QuietSink sink;
    BackgroundWorkers workers(sink);
    HeadlessPane controls;
    DriveList drives;
    TDirData pane;
    pane.Controls = &controls;
    pane.Drives = &drives;
    pane.Workers = &workers;
    pane.Path = root;

    std::mt19937 rng(7);
    std::vector<double> stopMs, rereadMs, lsMs;
    ReadDirectory(pane);
    for (int r = 0; r < rounds; ++r) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + rng() % 40)); // somewhere in the scan
        auto start = Clock::now();
        pane.StopWorkers(); // what ReadDirectory does first
        stopMs.push_back(Ms(Clock::now() - start));
        ReadDirectory(pane);
        rereadMs.push_back(Ms(Clock::now() - start));
        start = Clock::now();
        if (std::system(("ls -U '" + root + "' > /dev/null").c_str()) != 0)
            std::fprintf(stderr, "ls failed\n");
        lsMs.push_back(Ms(Clock::now() - start));
    }
    pane.StopWorkers();
    WaitForReleasedWorkers();
    busy = false;
    for (auto& t : load)
        t.join();

    std::printf("%d re-reads of %d sub-directories, two busy threads on the cores\n", rounds, kSubdirs);
    std::printf("wait to stop the workers:  %7.2f ms median, %7.2f ms max (target <= 50)\n", Median(stopMs),
                Max(stopMs));
    std::printf("whole ReadDirectory:       %7.2f ms median, %7.2f ms max\n", Median(rereadMs), Max(rereadMs));
    std::printf("ls -U of the same folder:  %7.2f ms median, %7.2f ms max\n", Median(lsMs), Max(lsMs));
    return Max(stopMs) <= 50 ? 0 : 1;
}
