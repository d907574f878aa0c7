#include "PaneFixture.h"
#include "panes/IconThread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <stdexcept>
#include <thread>

using namespace tarnel;
using List = std::vector<std::string>;

namespace {

struct NullSink : WorkerSink {
    std::mutex mutex;
    List errors;
    void RepaintSizeColumn(TDirData&) override {}
    void ShowWorkerError(const std::string& text) override
    {
        std::lock_guard lock(mutex);
        errors.push_back(text);
    }
};

// Hands out 100 + the number of the request and remembers what was asked.
struct RecordingResolver : IconResolver {
    std::mutex mutex;
    std::map<std::string, std::string> asked; // full path -> "kind" or the drive's root and type
    int calls = 0;
    int failAt = -1;

    int IconKeyFor(FileKind kind, const std::string& fullPath, const Volume* drive) override
    {
        std::lock_guard lock(mutex);
        if (calls == failAt)
            throw std::runtime_error("no icon theme");
        asked[fullPath] = std::to_string(int(kind)) + (drive ? " " + drive->root + " " + std::to_string(int(drive->type)) : "");
        return 100 + calls++;
    }
};

struct IconThreadTest : ::testing::Test, test::PaneFixture {
    NullSink sink;
    RecordingResolver resolver;

    IconThreadTest()
    {
        pane.Path = "/data/";
        drives = {Volume{"/", DriveType::Fixed, "ext4", "/dev/sda1", "", "/ []", "/"},
                  Volume{"/media/usb", DriveType::Removable, "vfat", "/dev/sdb1", "", "/media/usb", "usb"}};
        Add(fkDirectory, "..", -1);
        Add(fkDirectory, "docs", -1);
        Add(fkFile, "notes.txt", 5);
        Add(fkFile, "painted.png", 5).Icon = 7; // painting got there first
        Add(fkDrive, "/ []");
        Add(fkDrive, "/media/usb");
    }
    ~IconThreadTest() override { WaitForReleasedWorkers(); }
};

TEST_F(IconThreadTest, FindsEveryMissingIconByPathAndKeepsPaintedOnes)
{
    TReadIconsThread thread(pane, pane.IconMutex, pane.Path, resolver, sink);
    thread.Wait();
    EXPECT_EQ(thread.Checkpoint(), 3);
    const std::map<std::string, std::string> want = {
        {"/data/.", std::to_string(fkDirectory)},
        {"/data/docs", std::to_string(fkDirectory)},
        {"/data/notes.txt", std::to_string(fkFile)},
        {"/", std::to_string(fkDrive) + " / " + std::to_string(int(DriveType::Fixed))},
        {"/media/usb", std::to_string(fkDrive) + " /media/usb " + std::to_string(int(DriveType::Removable))},
    };
    EXPECT_EQ(resolver.asked, want);
    for (int i = 0; i < pane.Count; ++i)
        EXPECT_NE(pane.Item(i).Icon.load(), 0) << pane.Item(i).Name;
    EXPECT_EQ(pane.Item(3).Icon.load(), 7);
    EXPECT_TRUE(sink.errors.empty());
}

TEST_F(IconThreadTest, StoresOnlyWhilePaintingDoesNotHoldTheIconMutex)
{
    std::unique_lock painting(pane.IconMutex);
    TReadIconsThread thread(pane, pane.IconMutex, pane.Path, resolver, sink);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (int i = 0; i < pane.Count; ++i) {
        if (pane.Item(i).Name != "painted.png") {
            EXPECT_EQ(pane.Item(i).Icon.load(), 0) << pane.Item(i).Name;
        }
    }
    painting.unlock();
    thread.Wait();
    for (int i = 0; i < pane.Count; ++i)
        EXPECT_NE(pane.Item(i).Icon.load(), 0) << pane.Item(i).Name;
}

TEST_F(IconThreadTest, FailureEndsTheThreadWithItsText)
{
    resolver.failAt = 1; // the second entry asked about: "docs"
    TReadIconsThread thread(pane, pane.IconMutex, pane.Path, resolver, sink);
    thread.Wait();
    EXPECT_EQ(sink.errors, (List{"TREADICONSTHREAD error at index 2 for /data/"}));
    EXPECT_NE(pane.Item(0).Icon.load(), 0);
    EXPECT_EQ(pane.Item(1).Icon.load(), 0);
    EXPECT_EQ(pane.Item(2).Icon.load(), 0) << "nothing after the failure";
}

// A slow lookup (a file on a slow disk) must not hold up the owner: Release
// returns while the lookup is still running, and its result is dropped.
TEST_F(IconThreadTest, ReleaseDoesNotWaitForALookup)
{
    struct BlockingResolver : IconResolver {
        std::mutex mutex;
        std::condition_variable changed;
        bool entered = false, open = false;
        int IconKeyFor(FileKind, const std::string&, const Volume*) override
        {
            std::unique_lock lock(mutex);
            entered = true;
            changed.notify_all();
            changed.wait(lock, [&] { return open; });
            return 55;
        }
    } blocking;
    {
        TReadIconsThread thread(pane, pane.IconMutex, pane.Path, blocking, sink);
        {
            std::unique_lock lock(blocking.mutex);
            ASSERT_TRUE(blocking.changed.wait_for(lock, std::chrono::seconds(10), [&] { return blocking.entered; }));
        }
        thread.Release();
    }
    {
        std::lock_guard lock(blocking.mutex);
        blocking.open = true;
    }
    blocking.changed.notify_all();
    WaitForReleasedWorkers();
    EXPECT_EQ(pane.Item(0).Icon.load(), 0) << "a released thread stored a key";

    // Once let go, the pane itself may be freed (the window closing, after
    // its bounded wait for such threads) while a lookup is still under way:
    // the thread must not look at it again.
    auto gone = std::make_unique<test::PaneFixture>();
    gone->pane.Path = "/data/";
    gone->Add(fkFile, "a.txt");
    gone->Add(fkFile, "b.txt");
    {
        std::lock_guard lock(blocking.mutex);
        blocking.entered = blocking.open = false;
    }
    {
        TReadIconsThread thread(gone->pane, gone->pane.IconMutex, gone->pane.Path, blocking, sink);
        {
            std::unique_lock lock(blocking.mutex);
            ASSERT_TRUE(blocking.changed.wait_for(lock, std::chrono::seconds(10), [&] { return blocking.entered; }));
        }
        thread.Release();
    }
    gone.reset();
    {
        std::lock_guard lock(blocking.mutex);
        blocking.open = true;
    }
    blocking.changed.notify_all();
    EXPECT_TRUE(WaitForReleasedWorkers(std::chrono::seconds(10)));
}

} // namespace
