// The find engine alone, as "tarnel --find" drives it, without the window's
// libraries: prints the paths found, one a line, and with --first prints
// to stderr the milliseconds until the first hit came.
//
//   find_bench DIR [--name PATTERNS] [--content TEXT | --regex RE] [--ignore-case] [--first]
#include "tools/model/FindQuery.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

using namespace tarnel;

namespace {

class Print : public FindSink {
public:
    explicit Print(std::chrono::steady_clock::time_point start) : start_(start) {}
    void Found(std::vector<FindHit>&& hits) override
    {
        if (firstMs_ < 0)
            firstMs_ = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count();
        std::string text;
        for (const FindHit& h : hits)
            ((text += h.directory) += h.name) += '\n';
        fwrite(text.data(), 1, text.size(), stdout);
        fflush(stdout);
    }
    void Note(const std::string& text) override { fprintf(stderr, "%s\n", text.c_str()); }
    void Finished(bool) override
    {
        std::lock_guard lock(mutex_);
        done_ = true;
        cv_.notify_all();
    }
    void Wait()
    {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return done_; });
    }
    double firstMs_ = -1;

private:
    std::chrono::steady_clock::time_point start_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
};

} // namespace

int main(int argc, char** argv)
{
    FindQuery q;
    q.caseSensitive = true;
    q.sizesAndTimes = false;
    bool first = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--name" && i + 1 < argc)
            q.namePatterns = argv[++i];
        else if (a == "--content" && i + 1 < argc)
            q.text = argv[++i];
        else if (a == "--regex" && i + 1 < argc) {
            q.text = argv[++i];
            q.textKind = FindQuery::TextKind::Regex;
        } else if (a == "--ignore-case")
            q.caseSensitive = false;
        else if (a == "--first")
            first = true;
        else
            q.folders.push_back(a);
    }
    if (const std::string problem = FindQueryProblem(q); !problem.empty()) {
        fprintf(stderr, "%s\n", problem.c_str());
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    auto sink = std::make_shared<Print>(start);
    auto job = StartFind(q, sink);
    sink->Wait();
    if (first)
        fprintf(stderr, "first hit after %.1f ms\n", sink->firstMs_);
    return 0;
}
