// How soon a one-hour VOX recording sounds once the viewer reaches it: from
// the page being handed the file to its first sound leaving the sound server,
// beside sox decoding the same file into pacat in the same run. Both are
// heard the same way: parec records the sink's monitor, and the first byte
// that is not silence ends the wait.
//
//   scripts/with-null-sink build-bench/bench/vox_start_bench [ROUNDS]
#include "viewer/VoxPage.h"
#include "viewer/EnhWaveOut.h"

#include <QApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarnel;
using Clock = std::chrono::steady_clock;

namespace {

std::atomic<bool> armed{false};
std::atomic<int64_t> heardAt{0}; // Clock ticks of the first sound since arming

int64_t Now() { return Clock::now().time_since_epoch().count(); }

// parec on the default sink's monitor, unsigned 8-bit at 8000 Hz, read by a
// thread that notes when sound first arrives.
pid_t StartListener()
{
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeEnds[1], 1);
        ::close(pipeEnds[0]);
        ::execlp("parec", "parec", "-d", "@DEFAULT_MONITOR@", "--raw", "--format=u8", "--rate=8000",
                 "--channels=1", "--latency-msec=2", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    std::thread([fd = pipeEnds[0]] {
        unsigned char buffer[64];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                return;
            if (!armed)
                continue;
            for (ssize_t i = 0; i < n; ++i)
                if (std::abs(int(buffer[i]) - 128) > 4) {
                    heardAt = Now();
                    armed = false;
                    break;
                }
        }
    }).detach();
    return pid;
}

void Arm()
{
    heardAt = 0;
    armed = true;
}

// Runs the event loop until sound is heard; milliseconds, or -1 after 5 s.
double WaitForSound(int64_t start)
{
    const auto limit = Clock::now() + std::chrono::seconds(5);
    while (heardAt == 0 && Clock::now() < limit)
        QApplication::processEvents(QEventLoop::AllEvents, 1);
    armed = false;
    return heardAt ? std::chrono::duration<double, std::milli>(Clock::duration(heardAt - start)).count() : -1;
}

void Pause(int ms)
{
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < until)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Of the rounds that were heard; a silent round (-1) is counted apart.
double Median(std::vector<double> v)
{
    v.erase(std::remove(v.begin(), v.end(), -1.0), v.end());
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 7;
    const std::string path = "/tmp/vox_start_bench.vox";
    {
        std::vector<char> bytes(3600 * 8000 / 2); // one hour of 8000 Hz ADPCM
        std::mt19937 random(5);
        for (char& b : bytes)
            b = char(random());
        std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    }
    const pid_t listener = StartListener();
    Pause(2500); // the recording stream settles
    std::vector<double> ours, handed, peer;
    VoxPage page;
    for (int round = 0; round < rounds; ++round) {
        Arm();
        const int64_t start = Now();
        page.ShowFile(path); // what the viewer does when the cursor reaches the file
        handed.push_back(std::chrono::duration<double, std::milli>(Clock::duration(Now() - start)).count());
        ours.push_back(WaitForSound(start));
        page.Player().Stop();
        Pause(400);

        Arm();
        const int64_t peerStart = Now();
        const pid_t sox = ::fork();
        if (sox == 0) {
            ::setpgid(0, 0);
            ::execl("/bin/sh", "sh", "-c",
                    ("sox -q -t vox -r 8000 '" + path +
                     "' -t raw -e unsigned -b 8 -c 1 - | pacat --raw --format=u8 --rate=8000 --channels=1")
                        .c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::setpgid(sox, sox); // as the child does: the group exists before it is killed
        peer.push_back(WaitForSound(peerStart));
        ::kill(-sox, SIGTERM);
        ::kill(sox, SIGTERM);
        ::waitpid(sox, nullptr, 0);
        Pause(400);
        std::printf("round %d: ours %.1f ms (ShowFile returned after %.1f ms)   sox | pacat %.1f ms\n", round,
                    ours.back(), handed.back(), peer.back());
    }
    const auto silent = [](const std::vector<double>& v) { return std::count(v.begin(), v.end(), -1.0); };
    std::printf("median: ours %.1f ms   sox | pacat %.1f ms   (target 100 ms; silent rounds: ours %ld, peer %ld)\n",
                Median(ours), Median(peer), long(silent(ours)), long(silent(peer)));
    ::kill(listener, SIGTERM);
    ::waitpid(listener, nullptr, 0);
    ::unlink(path.c_str());
    return 0;
}
