// Packs and unpacks 64 MiB of mixed text (words, numbers, some lines of
// noise) through the stored-data streams and reports MB/s both ways and the
// ratio, beside "gzip -1" on the same bytes in the same run. MB = 10^6 bytes;
// each figure is the best of the rounds. Speeds come from CPU time (of this
// process, of the gzip children), which a busy shared machine disturbs far
// less than wall time; wall-time figures follow for reference.
//
// usage: lzrw1kh_bench [ROUNDS]
#include "support/CompressStream.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

using namespace tarnel;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kSize = size_t(64) << 20;

std::vector<uint8_t> MixedText(size_t n)
{
    static const char* const words[] = {
        "file",  "archive", "directory", "the",   "of",     "and",  "Tarnel",  "copy",     "move",
        "pane",  "size",    "time",      "name",  "delete", "zip",  "entries", "selected", "volume",
        "drive", "target",  "source",    "bytes", "free",   "view", "DESCRIPT.ION"};
    std::mt19937 rng(2024);
    std::vector<uint8_t> out;
    out.reserve(n + 200);
    while (out.size() < n) {
        std::string line;
        if (rng() % 20 == 0) {
            const size_t length = 20 + rng() % 60; // a line of noise
            for (size_t i = 0; i < length; ++i)
                line += char(rng());
        } else {
            const int count = 4 + int(rng() % 12);
            for (int i = 0; i < count; ++i) {
                if (i)
                    line += ' ';
                if (rng() % 4 == 0)
                    line += std::to_string(rng() % 1000000);
                else
                    line += words[rng() % (sizeof words / sizeof *words)];
            }
        }
        line += '\n';
        out.insert(out.end(), line.begin(), line.end());
    }
    out.resize(n);
    return out;
}

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

double CpuSeconds(int who)
{
    rusage usage{};
    ::getrusage(who, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Timing {
    double cpu = 1e9;
    double wall = 1e9;
    void Keep(double c, double w)
    {
        cpu = std::min(cpu, c);
        wall = std::min(wall, w);
    }
};

double MBps(size_t bytes, double seconds) { return double(bytes) / 1e6 / seconds; }

// Runs a shell command and keeps its CPU and wall time; false when it failed.
bool TimeCommand(const std::string& command, Timing& timing)
{
    const double cpu = CpuSeconds(RUSAGE_CHILDREN);
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0)
        return false;
    timing.Keep(CpuSeconds(RUSAGE_CHILDREN) - cpu, Seconds(start));
    return true;
}

void Report(const char* name, size_t bytes, const Timing& pack, const Timing& unpack, size_t packedSize)
{
    std::printf("%-8s pack %7.1f MB/s  unpack %7.1f MB/s  ratio %.3f (%zu bytes)   wall: %.1f / %.1f MB/s\n", name,
                MBps(bytes, pack.cpu), MBps(bytes, unpack.cpu), double(packedSize) / double(bytes), packedSize,
                MBps(bytes, pack.wall), MBps(bytes, unpack.wall));
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::vector<uint8_t> data = MixedText(kSize);

    Timing pack, unpack;
    size_t packedSize = 0;
    // Kept across rounds: after the first, their pages are mapped and the
    // figures show the coder rather than the kernel's page faults.
    std::vector<uint8_t> packed, unpacked;
    packed.reserve(data.size() + data.size() / 16);
    unpacked.reserve(data.size());
    for (int round = 0; round < rounds; ++round) {
        packed.clear();
        unpacked.clear();
        std::string error;
        double cpu = CpuSeconds(RUSAGE_SELF);
        auto start = Clock::now();
        if (!PackData(data, packed, error)) {
            std::fprintf(stderr, "pack failed: %s\n", error.c_str());
            return 1;
        }
        pack.Keep(CpuSeconds(RUSAGE_SELF) - cpu, Seconds(start));
        packedSize = packed.size();

        cpu = CpuSeconds(RUSAGE_SELF);
        start = Clock::now();
        if (!UnpackData(packed, unpacked, error)) {
            std::fprintf(stderr, "unpack failed: %s\n", error.c_str());
            return 1;
        }
        unpack.Keep(CpuSeconds(RUSAGE_SELF) - cpu, Seconds(start));
        if (unpacked != data) {
            std::fprintf(stderr, "round trip differs\n");
            return 1;
        }
    }
    std::printf("data: %zu bytes of mixed text, %d rounds, round trip exact\n", data.size(), rounds);
    Report("LZRW1KH", data.size(), pack, unpack, packedSize);

    // The peer: gzip -1 on a file of the same bytes.
    char dirTemplate[] = "/tmp/lzrw1kh-bench-XXXXXX";
    if (!::mkdtemp(dirTemplate)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = dirTemplate;
    {
        std::ofstream out(dir + "/data", std::ios::binary);
        out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    }
    Timing gzip, gunzip;
    bool gzipOk = true;
    for (int round = 0; round < rounds && gzipOk; ++round)
        gzipOk = TimeCommand("gzip -1 -c '" + dir + "/data' > '" + dir + "/data.gz'", gzip) &&
                 TimeCommand("gzip -d -c '" + dir + "/data.gz' > /dev/null", gunzip);
    if (gzipOk) {
        Report("gzip -1", data.size(), gzip, gunzip, size_t(std::filesystem::file_size(dir + "/data.gz")));
    } else {
        std::printf("gzip -1  not measured (gzip failed or is missing)\n");
    }
    std::filesystem::remove_all(dir);
    return 0;
}
