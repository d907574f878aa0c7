#include "PaneFixture.h"
#include "TempTree.h"
#include "panes/BackgroundWorkers.h"
#include "panes/ReadDirectory.h"
#include "panes/SizeThread.h"
#include "panes/Sorting.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace tarnel;
using List = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

namespace {

// Called on the size thread. Each repaint records the directories that got
// their total since the previous one, which is the computed order as long as
// every total changes.
struct RecordingSink : WorkerSink {
    std::mutex mutex;
    List repainted;
    List errors;
    int repaints = 0;
    std::set<const TFileData*> seen;
    std::function<void(TDirData&)> onRepaint;
    bool failRepaints = false;
    // Reading the listing from the sink is for tests that never re-read
    // meanwhile: a look under way may end after the pane has a new listing.
    bool readListing = true;

    void RepaintSizeColumn(TDirData& pane) override
    {
        std::lock_guard lock(mutex);
        ++repaints;
        for (int i = 0; readListing && i < pane.Count; ++i) {
            const TFileData* e = pane.LoadItem(i);
            if (e->Kind == fkDirectory && e->SizeDone.load() && seen.insert(e).second)
                repainted.push_back(e->Name);
        }
        if (onRepaint)
            onRepaint(pane);
        if (failRepaints)
            throw std::runtime_error("no list window");
    }
    void ShowWorkerError(const std::string& text) override
    {
        std::lock_guard lock(mutex);
        errors.push_back(text);
    }
};

struct SizeThreadTest : ::testing::Test, test::PaneFixture {
    test::TempTree tree;
    RecordingSink sink;

    SizeThreadTest() { pane.Path = tree.Path(); }
    ~SizeThreadTest() override
    {
        pane.StopWorkers();
        WaitForReleasedWorkers(); // they may still use what this test owns
    }

    TFileData& SubDir(const std::string& name, int64_t remembered = -1)
    {
        tree.Dir(name);
        return Add(fkDirectory, name, remembered);
    }

    void RunToEnd()
    {
        TDirSizeThread thread(pane, pane.Path, sink);
        thread.Wait();
        EXPECT_EQ(thread.Checkpoint(), 8);
    }
};

TEST_F(SizeThreadTest, MissingTotalsComeFirstThenRememberedOnesAreRefreshed)
{
    TFileData& parent = Add(fkDirectory, "..", -1);
    TFileData& a = SubDir("a", 5); // remembered from an earlier visit, wrong by now
    tree.File("a/x", 60);
    tree.Dir("a/sub");
    tree.File("a/sub/y", 40);
    TFileData& b = SubDir("b");
    tree.File("b/x", 200);
    TFileData& c = SubDir("c", 7);
    tree.File("c/x", 300);
    TFileData& d = SubDir("d");
    Add(fkFile, "f.txt", 10);
    Add(fkDrive, "/ [root]", 0).SizeDone = 1;

    RunToEnd();
    EXPECT_EQ(sink.repainted, (List{"b", "d", "a", "c"}));
    EXPECT_EQ(sink.repaints, 4);
    EXPECT_EQ(a.Size.load(), 100);
    EXPECT_EQ(a.SubFiles.load(), 2);
    EXPECT_EQ(a.SubDirs.load(), 1);
    EXPECT_GT(a.UsedBytes.load(), 0);
    EXPECT_EQ(b.Size.load(), 200);
    EXPECT_EQ(c.Size.load(), 300);
    // An empty subdirectory: everything 0, and shown as measured.
    EXPECT_EQ(d.Size.load(), 0);
    EXPECT_EQ(d.UsedBytes.load(), 0);
    EXPECT_EQ(d.SubFiles.load(), 0);
    EXPECT_EQ(d.SubDirs.load(), 0);
    EXPECT_EQ(d.SizeDone.load(), 1);
    EXPECT_EQ(parent.SizeDone.load(), 0) << "'..' is never measured";
    EXPECT_EQ(parent.Size.load(), -1);
    EXPECT_TRUE(sink.errors.empty());
}

// The main thread may re-sort while a directory is computed; the scan then
// starts again at row 0 and takes the rows in their new order.
TEST_F(SizeThreadTest, ScanStartsAgainAtTheFirstRowAfterEachDirectory)
{
    SubDir("x");
    tree.File("x/f", 1);
    SubDir("y");
    tree.File("y/f", 2);
    SubDir("z");
    tree.File("z/f", 3);
    bool sorted = false;
    sink.onRepaint = [&](TDirData& p) {
        if (!sorted)
            p.SwapItems(0, 2); // z y x
        sorted = true;
    };
    RunToEnd();
    EXPECT_EQ(sink.repainted, (List{"x", "z", "y"}));
}

// A remembered total comes without the space used: the walk that finds the
// same total still has something new to show.
TEST_F(SizeThreadTest, RememberedTotalsAreRefreshedAndShown)
{
    TFileData& same = SubDir("same", 1234);
    tree.File("same/f", 1234);
    TFileData& empty = SubDir("empty", 0);
    TFileData& moved = SubDir("moved", 999);
    tree.File("moved/f", 10);

    RunToEnd();
    EXPECT_EQ(sink.repaints, 3) << "every folder walked to its end is shown";
    EXPECT_GT(same.UsedBytes.load(), 0);
    EXPECT_EQ(same.SizeDone.load(), 1);
    EXPECT_EQ(same.SubFiles.load(), 1);
    EXPECT_EQ(empty.SizeDone.load(), 1);
    EXPECT_EQ(moved.Size.load(), 10);
}

TEST_F(SizeThreadTest, ListingWithoutSubdirectoriesEndsAtOnce)
{
    TFileData& parent = Add(fkDirectory, "..", -1);
    Add(fkFile, "a.txt", 3);
    Add(fkDrive, "/ [root]", 0).SizeDone = 1;
    RunToEnd();
    EXPECT_EQ(sink.repaints, 0);
    EXPECT_EQ(parent.SizeDone.load(), 0);

    // An empty listing (a directory that could not be read) too.
    test::PaneFixture nothing;
    nothing.pane.Path = tree.Path();
    TDirSizeThread thread(nothing.pane, nothing.pane.Path, sink);
    thread.Wait();
    EXPECT_EQ(thread.Checkpoint(), 8);
    EXPECT_EQ(sink.repaints, 0);
}

TEST_F(SizeThreadTest, RepaintFailuresAreReportedAndTheScanGoesOn)
{
    TFileData& a = SubDir("a");
    tree.File("a/f", 5);
    TFileData& b = SubDir("b");
    sink.failRepaints = true;
    RunToEnd();
    EXPECT_EQ(sink.errors, (List{"UPDATELIST error for " + pane.Path, "UPDATELIST error for " + pane.Path}));
    EXPECT_EQ(a.Size.load(), 5);
    EXPECT_EQ(b.SizeDone.load(), 1);
}

// Stopping must not wait for a walk of a large tree to finish: the walk
// looks at the stop request at every entry.
TEST_F(SizeThreadTest, TerminateStopsADeepWalkAtOnce)
{
    TFileData& big = SubDir("big");
    ASSERT_TRUE(tree.File("seed", 1));
    for (int d = 0; d < 40; ++d) {
        const std::string sub = tree.Path() + "big/d" + std::to_string(d) + "/";
        tree.Dir("big/d" + std::to_string(d));
        for (int i = 0; i < 1000; ++i)
            ASSERT_EQ(link((tree.Path() + "seed").c_str(), (sub + std::to_string(i)).c_str()), 0);
    }
    TDirSizeThread thread(pane, pane.Path, sink);
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (thread.Checkpoint() != 3 && Clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_EQ(thread.Checkpoint(), 3) << "the walk never started";

    const auto start = Clock::now();
    thread.Terminate();
    thread.Wait();
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_LT(elapsed.count(), 5000); // generous: an idle-priority thread on a busy machine
    EXPECT_EQ(big.Size.load(), 0) << "a stopped walk stores no partial total";
    EXPECT_EQ(big.SizeDone.load(), 1);
    EXPECT_EQ(sink.repaints, 0) << "a stopped walk's zero is not shown";
}

// Releasing a worker never waits for the thread to be scheduled; afterwards
// it no longer touches the listing.
TEST_F(SizeThreadTest, ReleasedThreadLeavesTheListingAlone)
{
    for (int i = 0; i < 30; ++i) {
        SubDir("d" + std::to_string(i));
        tree.File("d" + std::to_string(i) + "/f", size_t(i));
    }
    for (int round = 0; round < 20; ++round) {
        TDirSizeThread thread(pane, pane.Path, sink);
        std::this_thread::sleep_for(std::chrono::microseconds(100 * round));
        const std::shared_ptr<ListingUse> use = thread.Release();
        while (use && use->InUse()) // the one look under way may finish
            std::this_thread::yield();
        std::vector<int64_t> sizes;
        for (int i = 0; i < pane.Count; ++i)
            sizes.push_back(pane.Item(i).Size.load());
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        for (int i = 0; i < pane.Count; ++i)
            ASSERT_EQ(pane.Item(i).Size.load(), sizes[size_t(i)]) << "written after release";
        for (int i = 0; i < pane.Count; ++i) {
            pane.Item(i).Size = -1;
            pane.Item(i).SizeDone = 0;
        }
    }
    WaitForReleasedWorkers();
}

// The main thread sorts by size while the totals come in. At the end every
// total is right and the rows are the same entries.
TEST_F(SizeThreadTest, SortingWhileTheThreadRunsKeepsEveryEntryAndTotal)
{
    std::map<std::string, int64_t> want;
    for (int i = 0; i < 150; ++i) {
        const std::string name = "d" + std::to_string(i);
        tree.Dir(name + "/inner");
        tree.File(name + "/a", size_t((i * 37) % 1000));
        tree.File(name + "/inner/b", size_t(i));
        want[name] = (i * 37) % 1000 + i;
    }
    tree.File("plain.txt", 3);
    controls.sortKey = skSize;
    BackgroundWorkers workers(sink);
    pane.Workers = &workers;
    ReadDirectory(pane);
    auto* thread = dynamic_cast<TDirSizeThread*>(pane.SizeThread.get());
    ASSERT_NE(thread, nullptr);
    const std::set<TFileData*> before(pane.Items.begin(), pane.Items.end());
    do {
        SortPane(pane, true, true);
        pane.Ascending ^= 1;
        std::this_thread::sleep_for(std::chrono::microseconds(20)); // leave the idle thread a processor
    } while (thread->Checkpoint() != 8);
    thread->Wait();
    EXPECT_EQ(std::set<TFileData*>(pane.Items.begin(), pane.Items.end()), before);
    for (int i = 0; i < pane.DirCount; ++i) {
        const TFileData& e = pane.Item(i);
        if (e.Name == "..")
            continue;
        EXPECT_EQ(e.Size.load(), want.at(e.Name)) << e.Name;
        EXPECT_EQ(e.SubDirs.load(), 1) << e.Name;
    }
    pane.Ascending = 1;
    SortPane(pane, true, true);
    for (int i = 2; i < pane.DirCount; ++i)
        EXPECT_LE(pane.Item(i - 1).Size.load(), pane.Item(i).Size.load());
}

// Re-reading while both workers run stops them first; the last read's workers
// end by themselves with every total in.
TEST_F(SizeThreadTest, RereadingWhileWorkersRunStartsThemAfresh)
{
    struct Names : IconResolver {
        int IconKeyFor(FileKind kind, const std::string&, const Volume*) override { return 1 + int(kind); }
    } icons;
    BackgroundWorkers workers(sink, icons);
    pane.Workers = &workers;
    sink.readListing = false;
    for (int i = 0; i < 20; ++i) {
        tree.Dir("d" + std::to_string(i) + "/e");
        tree.File("d" + std::to_string(i) + "/e/f", 100);
        tree.File("file" + std::to_string(i), 1);
    }
    for (int round = 0; round < 30; ++round)
        ReadDirectory(pane);
    // On a loaded machine the last read may find a released worker still
    // waiting for the processor and start none: it asks to be tried again.
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while ((!pane.SizeThread || !pane.IconThread) && Clock::now() < deadline) {
        EXPECT_GT(controls.workerRetries, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        StartPaneWorkers(pane);
    }
    ASSERT_TRUE(pane.SizeThread && pane.IconThread);
    pane.SizeThread->Wait();
    pane.IconThread->Wait();
    for (int i = 0; i < pane.Count; ++i) {
        const TFileData& e = pane.Item(i);
        EXPECT_NE(e.Icon.load(), 0) << e.Name;
        if (e.Kind == fkDirectory && e.Name != "..") {
            EXPECT_EQ(e.Size.load(), 100) << e.Name;
        }
    }
    EXPECT_TRUE(sink.errors.empty());
    WaitForReleasedWorkers(); // earlier rounds' icon threads may still ask the resolver

    // An archive pane runs neither.
    pane.ZipMode = 1;
    ReadDirectory(pane);
    EXPECT_EQ(pane.SizeThread, nullptr);
    EXPECT_EQ(pane.IconThread, nullptr);
}

} // namespace

namespace {

// At "/" the listing holds /proc and /sys: another volume is not this one's total.
TEST_F(SizeThreadTest, AMountPointInTheListingIsNotEntered)
{
    struct stat root {}, proc {};
    if (::stat("/", &root) != 0 || ::stat("/proc", &proc) != 0 || root.st_dev == proc.st_dev)
        GTEST_SKIP() << "/proc is not a mount point here";
    pane.Path = "/";
    TFileData& mounted = Add(fkDirectory, "proc", -1);
    RunToEnd();
    EXPECT_EQ(1, mounted.SizeDone.load());
    EXPECT_EQ(0, mounted.Size.load());
    EXPECT_EQ(0, mounted.SubFiles.load());
}

// Stands for a worker blocked on a dead network mount until the test lets it go.
struct StuckResolver : IconResolver {
    std::mutex mutex;
    std::condition_variable changed;
    bool free = false;
    int entered = 0;

    int IconKeyFor(FileKind, const std::string&, const Volume*) override
    {
        std::unique_lock lock(mutex);
        ++entered;
        changed.notify_all();
        changed.wait(lock, [&] { return free; });
        return 1;
    }
    void WaitUntilEntered()
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return entered > 0; });
    }
    void Free()
    {
        std::lock_guard lock(mutex);
        free = true;
        changed.notify_all();
    }
};

TEST_F(SizeThreadTest, AStuckWorkerIsNotJoinedByMoreAndDoesNotHoldUpTheEnd)
{
    Add(fkFile, "a.txt", 1);
    StuckResolver resolver;
    BackgroundWorkers workers(sink, resolver);
    std::mutex iconMutex;
    std::unique_ptr<PaneWorker> first = workers.StartIconThread(pane, iconMutex, pane.Path);
    ASSERT_TRUE(first);
    resolver.WaitUntilEntered();
    StopWorker(first); // a re-read lets it go; it stays blocked
    std::this_thread::sleep_for(std::chrono::milliseconds(120)); // past the grace: stuck, not winding down
    for (int reread = 0; reread < 3; ++reread) {
        std::unique_ptr<PaneWorker> next = workers.StartIconThread(pane, iconMutex, pane.Path);
        EXPECT_FALSE(next) << "re-read " << reread << " started another worker beside the stuck one";
        StopWorker(next);
    }
    const auto start = Clock::now();
    EXPECT_FALSE(WaitForReleasedWorkers(std::chrono::milliseconds(100)));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));

    resolver.Free();
    EXPECT_TRUE(WaitForReleasedWorkers(std::chrono::seconds(30)));
    std::unique_ptr<PaneWorker> again = workers.StartIconThread(pane, iconMutex, pane.Path);
    EXPECT_TRUE(again) << "once the stuck one ended, a re-read starts a worker again";
    StopWorker(again);
    WaitForReleasedWorkers(std::chrono::seconds(30));
}

// A re-read beside a stuck worker lists without it and asks to be tried
// again; the try after the stuck one ends starts the worker for the listing
// as it is, so its icons still come in.
TEST_F(SizeThreadTest, AWorkerARereadCouldNotStartStartsOnceTheStuckOneEnds)
{
    tree.File("a.txt", 1);
    StuckResolver resolver;
    BackgroundWorkers workers(sink, resolver);
    pane.Workers = &workers;
    ReadDirectory(pane);
    ASSERT_TRUE(pane.IconThread);
    resolver.WaitUntilEntered();
    ReadDirectory(pane); // lets the first go; it stays blocked
    std::this_thread::sleep_for(std::chrono::milliseconds(120)); // stuck now
    const int asked = controls.workerRetries;
    ReadDirectory(pane);
    EXPECT_FALSE(pane.IconThread) << "a second worker beside the stuck one";
    EXPECT_GT(controls.workerRetries, asked) << "the pane was not asked to try again";
    StartPaneWorkers(pane);
    EXPECT_FALSE(pane.IconThread) << "still stuck: still none";

    resolver.Free();
    ASSERT_TRUE(WaitForReleasedWorkers(std::chrono::seconds(30)));
    const int before = controls.workerRetries;
    StartPaneWorkers(pane);
    ASSERT_TRUE(pane.IconThread);
    EXPECT_EQ(controls.workerRetries, before) << "nothing is left to try again";
    pane.IconThread->Wait();
    for (int i = 0; i < pane.Count; ++i)
        EXPECT_NE(pane.Item(i).Icon.load(), 0) << pane.Item(i).Name;
}

} // namespace

namespace {

// A worker whose repaint, inside its bracket, waits until the test lets it:
// an idle thread kept off the processor mid-entry on a loaded machine.
struct HeldSink : WorkerSink {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false, go = false;

    void RepaintSizeColumn(TDirData&) override
    {
        std::unique_lock lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait(lock, [&] { return go; });
    }
    void ShowWorkerError(const std::string&) override {}
    bool WaitEntered()
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [&] { return entered; });
    }
    void Go()
    {
        {
            std::lock_guard lock(mutex);
            go = true;
        }
        changed.notify_all();
    }
};

} // namespace

TEST_F(SizeThreadTest, ARereadNeverWaitsForAWorkerHeldMidEntry)
{
    HeldSink held;
    BackgroundWorkers workers(held);
    pane.Workers = &workers;
    for (int i = 0; i < 3; ++i) {
        tree.Dir("d" + std::to_string(i));
        tree.File("d" + std::to_string(i) + "/f", 10);
    }
    ReadDirectory(pane);
    ASSERT_TRUE(held.WaitEntered());
    auto reread = std::async(std::launch::async, [&] { ReadDirectory(pane); });
    EXPECT_EQ(reread.wait_for(std::chrono::seconds(5)), std::future_status::ready)
        << "the re-read waited for the held worker";
    held.Go(); // the held look ends on the old listing, which it kept
    reread.wait();
    pane.SizeThread->Wait();
    int dirs = 0;
    for (int i = 0; i < pane.Count; ++i)
        if (pane.Item(i).Kind == fkDirectory && !pane.Item(i).IsParentEntry()) {
            ++dirs;
            EXPECT_EQ(pane.Item(i).Size.load(), 10) << pane.Item(i).Name;
        }
    EXPECT_EQ(dirs, 3);
    pane.StopWorkers();
    EXPECT_TRUE(WaitForReleasedWorkers(std::chrono::seconds(10)));
}
