// Copies a tree of 10,000 files of 1 to 64 KiB plus one 1 GiB file to another
// directory of the same volume with the file-operation engine and with
// "cp -a", in the same run (warm cache, the copy deleted and the disk synced
// between runs, median of the rounds), and checks that moving that selection
// within the volume costs one rename per selected entry.
//
// usage: copy_bench [WORKDIR] [ROUNDS]     (WORKDIR is deleted at the end)
#include "platform/FaultyFileSystem.h"
#include "platform/ShellFileOperation.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarnel;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFiles = 10000;
constexpr int kDirs = 100;
constexpr uint64_t kBigSize = uint64_t(1) << 30;

class SilentUi : public OperationUi {
public:
    int questions = 0;
    ReplaceAnswer AskReplace(const std::string&) override { return ++questions, ReplaceAnswer::Cancel; }
    ErrorAnswer AskError(const std::string& what, const std::string& path, int) override
    {
        std::fprintf(stderr, "%s %s\n", what.c_str(), path.c_str());
        return ++questions, ErrorAnswer::Cancel;
    }
    bool ConfirmTrash(size_t) override { return false; }
    DeleteAnswer AskDeletePermanently(const std::string&) override { return DeleteAnswer::Cancel; }
    void Refused(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()), ++questions; }
    bool Progress(uint64_t, uint64_t, uint64_t, uint64_t, const std::string&) override { return true; }
};

void WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n <= 0) {
            std::perror("write");
            std::exit(1);
        }
        data += n;
        size -= size_t(n);
    }
}

void Generate(const std::string& data)
{
    if (std::filesystem::exists(data + "/.generated"))
        return;
    std::filesystem::create_directories(data + "/tree");
    std::mt19937_64 rng(7);
    std::vector<char> block(64 * 1024);
    for (char& c : block)
        c = char(rng());
    for (int d = 0; d < kDirs; ++d)
        std::filesystem::create_directories(data + "/tree/dir" + std::to_string(d));
    for (int i = 0; i < kFiles; ++i) {
        const std::string path = data + "/tree/dir" + std::to_string(i % kDirs) + "/file" + std::to_string(i) + ".dat";
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const size_t size = 1024 + size_t(rng() % (63 * 1024 + 1));
        block[0] = char(i); // no two files alike
        WriteAll(fd, block.data(), size);
        close(fd);
    }
    // Real data blocks, not a sparse file: every MiB differs.
    const int fd = open((data + "/big.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<uint64_t> mib((1 << 20) / sizeof(uint64_t));
    for (uint64_t done = 0; done < kBigSize; done += mib.size() * sizeof(uint64_t)) {
        for (uint64_t& word : mib)
            word = rng();
        WriteAll(fd, reinterpret_cast<const char*>(mib.data()), mib.size() * sizeof(uint64_t));
    }
    close(fd);
    std::FILE* mark = std::fopen((data + "/.generated").c_str(), "w");
    std::fclose(mark);
}

void Shell(const std::string& command)
{
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
}

// Starts each run from the same state: no copy, nothing dirty waiting to be written.
void Reset(const std::string& out)
{
    std::filesystem::remove_all(out);
    std::filesystem::create_directories(out);
    sync();
}

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// User plus system time of this process or of its waited-for children: the
// work done, steadier than the wall clock on a disk shared with others.
double CpuSeconds(int who)
{
    struct rusage usage;
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void CheckCopy(const std::string& data, const std::string& out)
{
    struct stat a, b;
    if (stat((data + "/big.bin").c_str(), &a) != 0 || stat((out + "/big.bin").c_str(), &b) != 0
        || a.st_size != b.st_size || a.st_mtim.tv_nsec != b.st_mtim.tv_nsec) {
        std::fprintf(stderr, "the copy of big.bin is wrong\n");
        std::exit(1);
    }
}

} // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string work = argc > 1 ? argv[1] : "/tmp/tarnel-copy-bench";
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const std::string data = work + "/data";
    const std::string out = work + "/out";

    auto start = Clock::now();
    Generate(data);
    std::printf("data: %d files of 1-64 KiB in %d folders + 1 GiB file (%.1f s to make)\n", kFiles, kDirs,
                Seconds(start));
    const std::vector<std::string> selection = {data + "/tree", data + "/big.bin"};

    const auto engineCopy = [&] {
        SilentUi ui;
        ShellFileOperation op(ui);
        const OperationResult r = op.Run(FO_COPY, selection, out);
        if (r.status != OperationResult::Status::Done || ui.questions) {
            std::fprintf(stderr, "engine copy did not finish\n");
            std::exit(1);
        }
    };
    const auto cpCopy = [&] { Shell("cp -a '" + data + "/tree' '" + data + "/big.bin' '" + out + "/'"); };

    // Warm the cache with the sources (and both programs) once, untimed.
    Reset(out);
    cpCopy();
    Reset(out);
    engineCopy();
    CheckCopy(data, out);

    std::vector<double> engineTimes, cpTimes, engineCpu, cpCpu;
    const auto timeEngine = [&] {
        Reset(out);
        const double cpu = CpuSeconds(RUSAGE_SELF);
        const auto begin = Clock::now();
        engineCopy();
        engineTimes.push_back(Seconds(begin));
        engineCpu.push_back(CpuSeconds(RUSAGE_SELF) - cpu);
        CheckCopy(data, out);
    };
    const auto timeCp = [&] {
        Reset(out);
        const double cpu = CpuSeconds(RUSAGE_CHILDREN);
        const auto begin = Clock::now();
        cpCopy();
        cpTimes.push_back(Seconds(begin));
        cpCpu.push_back(CpuSeconds(RUSAGE_CHILDREN) - cpu);
    };
    for (int round = 0; round < rounds; ++round) {
        // Taking turns at going first spreads the disk's moods over both.
        if (round % 2 == 0) {
            timeEngine();
            timeCp();
        } else {
            timeCp();
            timeEngine();
        }
        std::printf("round %d: engine %.3f s (cpu %.3f s), cp -a %.3f s (cpu %.3f s)\n", round + 1,
                    engineTimes.back(), engineCpu.back(), cpTimes.back(), cpCpu.back());
    }
    const double engine = Median(engineTimes), cp = Median(cpTimes);
    std::printf("copy, median of %d: engine %.3f s, cp -a %.3f s, ratio %.3f (target <= 1.1)\n", rounds, engine, cp,
                engine / cp);
    std::printf("cpu time, median: engine %.3f s, cp -a %.3f s, ratio %.3f\n", Median(engineCpu), Median(cpCpu),
                Median(engineCpu) / Median(cpCpu));

    // Move the copied selection to another folder of the same volume.
    const std::string moved = work + "/moved";
    std::filesystem::create_directories(moved);
    SilentUi ui;
    tarnel::test::FaultyFileSystem counting;
    ShellFileOperation op(ui, counting);
    start = Clock::now();
    const OperationResult r = op.Run(FO_MOVE, {out + "/tree", out + "/big.bin"}, moved);
    const double moveTime = Seconds(start);
    const int renames = counting.Calls(tarnel::test::FsCall::Rename);
    std::printf("move within the volume: %d renames for 2 selected entries (%s), %.4f s, %d files opened\n", renames,
                r.status == OperationResult::Status::Done ? "done" : "NOT DONE", moveTime,
                counting.Calls(tarnel::test::FsCall::Open));

    std::filesystem::remove_all(work);
    return renames == 2 && r.status == OperationResult::Status::Done ? 0 : 1;
}
