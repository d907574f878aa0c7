// Remote places against OpenSSH's own clients, on the private test server
// over the loopback, in the same run: listing a 10,000-entry folder through
// the sftp source against "sftp -b" with "ls -l"; copying 1,000 small files
// and one large file to and from the server through the source's copy
// operation against "scp -r" and sftp's put -r / get -r. Every timed run
// starts without a connection, as the peers do; the listing is also timed
// on a kept connection. Ratios are against the faster peer.
//
// usage: sftp_bench [WORKDIR] [ROUNDS] [LARGE_MB] [list|small|large]
// Both sides' files lie in a folder of the bench's own in WORKDIR (default
// /dev/shm), removed at the end; on tmpfs the figures are those of the
// transfer, not of a disk.
#include "platform/ssh/SshConnection.h"
#include "sftp/PrivateSshd.h"
#include "sources/SftpSource.h"
#include "sources/sftp/SftpOperations.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tarnel;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

struct Count : ListSink {
    size_t entries = 0;
    std::string problem;
    void Chunk(std::vector<SourceEntry>&& chunk) override { entries += chunk.size(); }
    void Problem(const std::string& text) override { problem = text; }
};

// Answers nothing: the targets are always fresh, so no question comes.
struct SilentUi : SourceOperationUi {
    std::string error;
    void Inform(const std::string& text) override { error = text; }
    void Error(const std::string& text) override { error = text; }
    bool Confirm(const std::string&) override { return true; }
    ReplaceAnswer AskReplace(const std::string&, const FileFacts&, const FileFacts&) override
    {
        return ReplaceAnswer::No;
    }
};

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

void WriteRandom(const std::string& path, uint64_t size, uint64_t seed)
{
    std::mt19937_64 random(seed);
    std::vector<uint64_t> block(1 << 17);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (uint64_t left = size; left > 0;) {
        for (uint64_t& word : block)
            word = random();
        const uint64_t n = std::min<uint64_t>(left, block.size() * sizeof(uint64_t));
        out.write(reinterpret_cast<const char*>(block.data()), std::streamsize(n));
        left -= n;
    }
}

// Files and bytes below path: what a copy must have made.
std::pair<size_t, uint64_t> Tally(const std::string& path)
{
    size_t files = 0;
    uint64_t bytes = 0;
    if (fs::is_regular_file(path))
        return {1, fs::file_size(path)};
    if (!fs::is_directory(path))
        return {0, 0};
    for (const auto& e : fs::recursive_directory_iterator(path))
        if (e.is_regular_file()) {
            ++files;
            bytes += e.file_size();
        }
    return {files, bytes};
}

struct Timing {
    std::string label;
    double target = 1.0;
    double ours = 1e9, oursWarm = 1e9;
    std::vector<std::pair<std::string, double>> peers;
};

void Report(const Timing& t)
{
    double best = 1e9;
    std::string peerText;
    for (const auto& [name, seconds] : t.peers) {
        best = std::min(best, seconds);
        char part[64];
        std::snprintf(part, sizeof part, "   %s %7.3f s", name.c_str(), seconds);
        peerText += part;
    }
    const double ratio = t.ours / best;
    std::printf("%-22s tarnel %7.3f s%s   ratio %.2f (target <= %.1f) %s\n", t.label.c_str(), t.ours, peerText.c_str(),
                ratio, t.target, ratio <= t.target ? "MET" : "MISSED");
    if (t.oursWarm < 1e9)
        std::printf("%-22s tarnel %7.3f s on a kept connection\n", "", t.oursWarm);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string work =
        std::string(argc > 1 ? argv[1] : "/dev/shm") + "/tarnel-sftp-bench-" + std::to_string(::getpid());
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const uint64_t largeBytes = uint64_t(argc > 3 ? std::max(1, std::atoi(argv[3])) : 1024) << 20;
    const std::string only = argc > 4 ? argv[4] : "";
    auto runs = [&](const char* part) { return only.empty() || only == part; };

    test::PrivateSshd server;
    if (!server.Problem().empty()) {
        std::fprintf(stderr, "sftp_bench: %s\n", server.Problem().c_str());
        return 1;
    }
    server.Reset();

    // Gigabytes of memory on tmpfs: gone however the bench ends.
    static std::string made;
    made = work;
    std::atexit([] {
        std::error_code ignored;
        fs::remove_all(made, ignored);
    });
    const std::string local = work + "/local", remote = work + "/remote";
    fs::create_directories(local + "/small");
    fs::create_directories(remote + "/listed");
    fs::create_directories(remote + "/small");
    {
        std::mt19937 random(28);
        for (int i = 0; i < 10000; ++i)
            std::ofstream(remote + "/listed/entry-" + std::to_string(i) + ".txt") << "entry " << i << "\n";
        // 1 to 16 KiB each, the same files on both sides.
        for (int i = 0; i < 1000; ++i) {
            const std::string name = "/small/file-" + std::to_string(i) + ".dat";
            WriteRandom(local + name, 1024 + random() % (15 * 1024), uint64_t(i));
            fs::copy_file(local + name, remote + name);
        }
        WriteRandom(local + "/large.bin", largeBytes, 1);
        fs::copy_file(local + "/large.bin", remote + "/large.bin");
    }

    const std::string home = server.Home();
    const std::string options = "-F '" + home + "/.ssh/config' -i '" + home +
                                "/.ssh/id_ed25519' -o IdentitiesOnly=yes -o BatchMode=yes "
                                "-o StrictHostKeyChecking=yes -o UserKnownHostsFile='" + home +
                                "/.ssh/known_hosts' -o GlobalKnownHostsFile=/dev/null -o ControlMaster=no "
                                "-o ControlPath=none -P " + std::to_string(server.Port());
    const std::string host = server.User() + "@127.0.0.1";
    const std::string batch = work + "/batch";
    auto runQuiet = [](const std::string& command) {
        if (test::Shell(command + " >/dev/null 2>&1") != 0) {
            std::fprintf(stderr, "sftp_bench: failed: %s\n", command.c_str());
            std::exit(1);
        }
    };
    auto sftpBatch = [&](const std::string& commands) {
        std::ofstream(batch) << commands << "\n";
        runQuiet("sftp " + options + " -b '" + batch + "' " + host);
    };

    std::printf("server: OpenSSH sshd on 127.0.0.1:%d (plain loopback), files in %s\n", server.Port(), work.c_str());
    std::printf("rounds: best of %d; large file %llu MiB; threads: %u\n", rounds,
                static_cast<unsigned long long>(largeBytes >> 20), std::thread::hardware_concurrency());
    std::fflush(stdout);

    const std::shared_ptr<SshQuestions> questions = std::make_shared<NoSshQuestions>();
    const SftpSource source(questions);

    if (runs("list")) {
        Timing t;
        t.label = "list 10,000 entries";
        double peer = 1e9;
        const PanePlace place = PanePlace::FromPath(server.Url(remote + "/listed"));
        for (int round = 0; round < rounds; ++round) {
            SshConnection::DisconnectAll();
            Count cold;
            auto start = Clock::now();
            source.List(place, cold, CancelToken());
            t.ours = std::min(t.ours, Seconds(start));
            Count warm;
            start = Clock::now();
            source.List(place, warm, CancelToken());
            t.oursWarm = std::min(t.oursWarm, Seconds(start));
            if (cold.entries != 10001 || warm.entries != 10001) {
                std::fprintf(stderr, "sftp_bench: listed %zu entries: %s\n", cold.entries, cold.problem.c_str());
                return 1;
            }
            start = Clock::now();
            sftpBatch("ls -l " + remote + "/listed");
            peer = std::min(peer, Seconds(start));
        }
        t.peers = {{"sftp -b ls -l", peer}};
        Report(t);
    }

    // Copies: each tool into a fresh folder of its own, checked afterwards.
    auto copies = [&](const std::string& label, const std::string& name, bool folder, bool upload) {
        const std::string from = upload ? local : remote;
        const std::string to = upload ? remote : local;
        const auto expected = Tally(from + "/" + name);
        auto check = [&](const std::string& made) {
            if (Tally(made) != expected) {
                std::fprintf(stderr, "sftp_bench: %s: %s is not a whole copy\n", label.c_str(), made.c_str());
                std::exit(1);
            }
            fs::remove_all(made);
        };
        Timing t;
        t.label = label;
        t.target = 1.2;
        double scp = 1e9, sftp = 1e9;
        for (int round = 0; round < rounds; ++round) {
            for (const char* tool : {"tarnel", "scp", "sftp"})
                fs::create_directories(to + "/by-" + tool);
            SshConnection::DisconnectAll();
            SilentUi ui;
            const PanePlace fromPlace =
                upload ? PanePlace::Directory(from) : PanePlace::FromPath(server.Url(from));
            const PanePlace toPlace =
                upload ? PanePlace::FromPath(server.Url(to + "/by-tarnel")) : PanePlace::Directory(to + "/by-tarnel");
            std::unique_ptr<SourceOperation> op = MakeSftpOperation(FO_COPY, fromPlace, toPlace, ui, questions);
            auto start = Clock::now();
            op->Run({{name, folder}});
            t.ours = std::min(t.ours, Seconds(start));
            if (!ui.error.empty()) {
                std::fprintf(stderr, "sftp_bench: %s: %s\n", label.c_str(), ui.error.c_str());
                std::exit(1);
            }
            check(to + "/by-tarnel/" + name);

            const std::string scpFrom = upload ? "'" + from + "/" + name + "'" : host + ":'" + from + "/" + name + "'";
            const std::string scpTo = upload ? host + ":'" + to + "/by-scp/'" : "'" + to + "/by-scp/'";
            start = Clock::now();
            runQuiet("scp " + options + (folder ? " -r " : " ") + scpFrom + " " + scpTo);
            scp = std::min(scp, Seconds(start));
            check(to + "/by-scp/" + name);

            start = Clock::now();
            sftpBatch(std::string(upload ? "put" : "get") + (folder ? " -r " : " ") + from + "/" + name + " " + to +
                      "/by-sftp/" + name);
            sftp = std::min(sftp, Seconds(start));
            check(to + "/by-sftp/" + name);
        }
        t.peers = {{"scp", scp}, {"sftp", sftp}};
        Report(t);
    };
    if (runs("small")) {
        copies("upload 1,000 files", "small", true, true);
        copies("download 1,000 files", "small", true, false);
    }
    if (runs("large")) {
        copies("upload large file", "large.bin", false, true);
        copies("download large file", "large.bin", false, false);
    }

    SshConnection::DisconnectAll();
    return 0;
}
