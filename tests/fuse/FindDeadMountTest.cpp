// A find whose tree holds a mount that never answers: one worker stays
// blocked on it, the rest of the tree is found, the mount is named, and the
// find ends without waiting for it.
#include "fuse/SleepyMount.h"

#include "tools/model/FindQuery.h"
#include "tools/model/FindWalk.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

using namespace tarnel;
using namespace tarnel::test;
namespace fs = std::filesystem;

namespace {

// Longer than the whole test: the mount only answers once it is taken away.
constexpr unsigned kSleepSeconds = 60;

class Collect : public FindSink {
public:
    void Found(std::vector<FindHit>&& hits) override
    {
        std::lock_guard lock(mutex);
        for (FindHit& h : hits)
            names.push_back(h.directory + h.name);
    }
    void Note(const std::string& text) override
    {
        std::lock_guard lock(mutex);
        notes.push_back(text);
    }
    void Finished(bool wasStopped) override
    {
        std::lock_guard lock(mutex);
        finished = true;
        stopped = wasStopped;
        cv.notify_all();
    }
    bool Wait(std::chrono::milliseconds limit)
    {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, limit, [&] { return finished; });
    }
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<std::string> names, notes;
    bool finished = false, stopped = false;
};

class FindDeadMountTest : public ::testing::Test {
protected:
    std::string root;

    void SetUp() override
    {
        if (!MountSpaceProblem().empty())
            GTEST_SKIP() << "no FUSE mount here: " << MountSpaceProblem();
        char tmpl[] = "/tmp/tarnel-finddead-XXXXXX";
        root = mkdtemp(tmpl);
        fs::create_directories(root + "/a");
        fs::create_directories(root + "/z/deeper");
        std::ofstream(root + "/a/x.txt") << "needle";
        std::ofstream(root + "/z/deeper/y.txt") << "needle";
    }
    void TearDown() override
    {
        if (!root.empty())
            fs::remove_all(root);
    }

    // The workers left behind wake once the mount is gone, and end.
    static void ExpectLeftBehindWorkersEnd()
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (FindThreadsAlive() > 0 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(FindThreadsAlive(), 0);
    }
};

TEST_F(FindDeadMountTest, TheRestIsFoundTheMountNamedAndTheEndNotHeld)
{
    SleepyMount dead(root + "/m-dead", kSleepSeconds);
    ASSERT_TRUE(dead.Mounted()) << dead.Problem();
    for (const bool content : {false, true}) {
        SCOPED_TRACE(content ? "by content" : "by name");
        FindQuery q;
        q.folders = {root};
        q.namePatterns = "*.txt";
        if (content)
            q.text = "needle";
        auto sink = std::make_shared<Collect>();
        const auto start = std::chrono::steady_clock::now();
        auto job = StartFind(q, sink);
        ASSERT_TRUE(sink->Wait(std::chrono::milliseconds(kFindQuietMilliseconds + 10000)));
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took, std::chrono::milliseconds(kFindQuietMilliseconds + 5000));
        std::lock_guard lock(sink->mutex);
        EXPECT_FALSE(sink->stopped);
        std::sort(sink->names.begin(), sink->names.end());
        EXPECT_EQ(sink->names, (std::vector<std::string>{root + "/a/x.txt", root + "/z/deeper/y.txt"}));
        ASSERT_EQ(sink->notes.size(), 1u);
        EXPECT_EQ(sink->notes[0], root + "/m-dead/ does not answer");
        EXPECT_GE(FindThreadsAlive(), 1) << "the blocked worker is left behind, not waited for";
    }
    // Stopping while a worker is blocked ends the find at once.
    FindQuery q;
    q.folders = {root};
    auto sink = std::make_shared<Collect>();
    auto job = StartFind(q, sink);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto stopAt = std::chrono::steady_clock::now();
    job->Stop();
    ASSERT_TRUE(sink->Wait(std::chrono::seconds(2)));
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::milliseconds(500));
    EXPECT_TRUE(sink->stopped);
    // Everything that started the finds is dropped before the workers wake.
    job.reset();
    sink.reset();
    dead.Unmount();
    ExpectLeftBehindWorkersEnd();
}

} // namespace
