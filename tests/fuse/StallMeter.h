#pragma once
// How long the event loop of this thread is kept from running. A timer ticks
// every 10 ms; the gap between two ticks, less the interval, is a stall. The
// part of it the thread spent blocked (neither running nor waiting for a CPU:
// on a file system, a lock, a child) is its waiting: work the thread did and
// time other programs held the CPUs are not, so that a slow build
// (sanitizers) or a busy machine does not read as a freeze.
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

namespace tarnel::test {

// Milliseconds this thread has run or waited for a CPU: the kernel's
// schedstat when it keeps one, else the thread's CPU time alone.
inline double ThreadBusyMs()
{
    if (FILE* f = std::fopen("/proc/thread-self/schedstat", "r")) {
        unsigned long long running = 0, queued = 0;
        const int got = std::fscanf(f, "%llu %llu", &running, &queued);
        std::fclose(f);
        if (got == 2)
            return double(running + queued) / 1e6;
    }
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

inline double WallMs()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

class StallMeter : public QObject {
public:
    static constexpr int kTickMs = 10;

    StallMeter()
    {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(kTickMs);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
    }

    void Start()
    {
        startWall_ = lastWall_ = WallMs();
        lastCpu_ = ThreadBusyMs();
        timer_.start();
    }
    // Counts the stretch since the last tick too: a wait just before Stop
    // would otherwise go unseen.
    void Stop()
    {
        if (!timer_.isActive())
            return;
        Tick();
        timer_.stop();
    }

    // A stretch run outside the event loop (a constructor) counts as one gap.
    template <class F>
    void Measure(F&& f)
    {
        const double wall = WallMs(), cpu = ThreadBusyMs();
        f();
        Record(WallMs() - wall, ThreadBusyMs() - cpu);
    }

    double LongestGapMs() const { return longestGap_; }   // wall time, work included
    double LongestWaitMs() const { return longestWait_; } // the part of it spent blocked
    // The gaps over 50 ms: when (ms after Start), how long, how much of it waiting.
    const std::string& LongGaps() const { return longGaps_; }

private:
    void Tick()
    {
        const double wall = WallMs(), cpu = ThreadBusyMs();
        Record(wall - lastWall_ - kTickMs, cpu - lastCpu_);
        lastWall_ = wall;
        lastCpu_ = cpu;
    }
    void Record(double wallMs, double cpuMs)
    {
        longestGap_ = std::max(longestGap_, wallMs);
        longestWait_ = std::max(longestWait_, wallMs - cpuMs);
        if (wallMs > 50) {
            char line[96];
            std::snprintf(line, sizeof line, "  at %.0f ms: %.0f ms, %.0f waiting\n", WallMs() - startWall_, wallMs,
                          wallMs - cpuMs);
            longGaps_ += line;
        }
    }

    QTimer timer_;
    double startWall_ = 0, lastWall_ = 0, lastCpu_ = 0;
    std::string longGaps_;
    double longestGap_ = 0, longestWait_ = 0;
};

} // namespace tarnel::test
