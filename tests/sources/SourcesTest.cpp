// The file sources on their own, and a pane reading through them on a
// worker, driven by hand instead of an event loop.
#include "fileops/model/ZipBuilder.h"
#include "panes/PaneFixture.h"
#include "panes/ReadDirectory.h"
#include "panes/TempTree.h"
#include "fileops/model/ZipMaster.h"
#include "sources/ListingChannel.h"
#include "sources/LocalSource.h"
#include "sources/SourceTable.h"
#include "sources/ZipSource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <set>
#include <thread>

namespace tarnel {
namespace {

struct Recorder : ListSink {
    std::vector<size_t> chunkSizes;
    std::vector<SourceEntry> entries;
    std::vector<int> progress;
    std::vector<std::string> problems;
    CancelToken* cancelAfterFirst = nullptr;
    void Chunk(std::vector<SourceEntry>&& chunk) override
    {
        chunkSizes.push_back(chunk.size());
        for (SourceEntry& e : chunk)
            entries.push_back(std::move(e));
        if (cancelAfterFirst)
            cancelAfterFirst->Cancel();
    }
    void Progress(int percent) override { progress.push_back(percent); }
    void Problem(const std::string& text) override { problems.push_back(text); }
    std::set<std::string> Names() const
    {
        std::set<std::string> names;
        for (const SourceEntry& e : entries)
            names.insert(e.name);
        return names;
    }
};

TEST(SourcesTest, LocalSourceListsInChunksAndStopsWhenCancelled)
{
    test::TempTree tree;
    const size_t files = FileSource::kChunkSize * 2 + 5;
    for (size_t i = 0; i < files; ++i)
        std::ofstream(tree.Path() + "f" + std::to_string(i));
    tree.Dir("sub");
    const PanePlace place = PanePlace::Directory(tree.Path());
    LocalSource local;

    Recorder all;
    const CancelToken never;
    local.List(place, all, never);
    ASSERT_EQ(all.entries.size(), files + 2) << "every file, the folder and \"..\"; \".\" left out";
    EXPECT_EQ(all.chunkSizes, (std::vector<size_t>{FileSource::kChunkSize, FileSource::kChunkSize, 7}));
    EXPECT_TRUE(all.Names().count(".."));
    EXPECT_FALSE(all.Names().count("."));
    for (const SourceEntry& e : all.entries) {
        EXPECT_EQ(e.kind, e.name == "sub" || e.name == ".." ? fkDirectory : fkFile) << e.name;
        EXPECT_TRUE(e.directory.empty());
    }

    CancelToken cancel;
    Recorder first;
    first.cancelAfterFirst = &cancel;
    local.List(place, first, cancel);
    EXPECT_EQ(first.chunkSizes, (std::vector<size_t>{FileSource::kChunkSize})) << "nothing after the cancel";

    Recorder missing;
    local.List(PanePlace::Directory(tree.Path() + "nowhere/"), missing, never);
    EXPECT_TRUE(missing.entries.empty());
}

TEST(SourcesTest, ZipSourceListsFoldersFirstWithProgressProblemsAndCancel)
{
    test::TempTree tree;
    test::ZipBuilder b;
    b.Add({"b/one.txt", "1"});
    b.Add({"a/two.txt", "22"});
    b.Add({"top.txt", "333"});
    b.Add({"../evil.txt", "x"});
    for (int i = 0; i < int(FileSource::kChunkSize) + 10; ++i)
        b.Add({"many/m" + std::to_string(i), ""});
    const std::string archive = tree.Path() + "t.zip";
    std::ofstream(archive, std::ios::binary) << b.Bytes();
    ZipSource zip;
    const CancelToken never;

    Recorder top;
    zip.List(PanePlace::Archive(archive), top, never);
    std::vector<std::string> order;
    for (const SourceEntry& e : top.entries)
        order.push_back(e.name);
    EXPECT_EQ(order, (std::vector<std::string>{"..", "b", "a", "many", "top.txt"}));
    EXPECT_EQ(top.entries[1].size, 1);
    EXPECT_TRUE(top.entries[1].sizeDone) << "an archive's folder has its total at once";
    EXPECT_EQ(top.entries[4].memberIndex, 2);
    ASSERT_FALSE(top.progress.empty());
    EXPECT_EQ(top.progress.back(), 100);
    ASSERT_EQ(top.problems.size(), 1u);
    EXPECT_NE(top.problems[0].find("1 member(s) here are not listed"), std::string::npos);

    Recorder inside;
    zip.List(PanePlace::Archive(archive, "many/"), inside, never);
    EXPECT_EQ(inside.chunkSizes, (std::vector<size_t>{FileSource::kChunkSize, 11})) << "\"..\" and the members";

    CancelToken cancel;
    Recorder cancelled;
    cancelled.cancelAfterFirst = &cancel;
    zip.List(PanePlace::Archive(archive, "many/"), cancelled, cancel);
    EXPECT_EQ(cancelled.chunkSizes.size(), 1u);
    EXPECT_TRUE(cancelled.problems.empty());
}

TEST(SourcesTest, CapabilitiesOfTheDiskAndOfAnArchive)
{
    const std::shared_ptr<const SourceTable> sources = DefaultSources();
    const PanePlace folder = PanePlace::Directory("/tmp/");
    const PanePlace archive = PanePlace::Archive("/tmp/a.zip", "docs/");
    EXPECT_STREQ(SourceNameOf(folder), "local");
    EXPECT_STREQ(SourceNameOf(archive), "zip");
    EXPECT_STREQ(sources->For(folder)->Name(), "local");
    EXPECT_STREQ(sources->For(archive)->Name(), "zip");
    for (const Capability c : {Capability::CopyIn, Capability::CopyOut, Capability::Delete, Capability::Rename,
                               Capability::MakeFolder, Capability::OpenMember, Capability::DiskPaths})
        EXPECT_TRUE(sources->Can(folder).Has(c)) << int(c);
    const Capabilities inZip = sources->Can(archive);
    EXPECT_TRUE(inZip.Has(Capability::CopyIn));
    EXPECT_TRUE(inZip.Has(Capability::CopyOut));
    EXPECT_TRUE(inZip.Has(Capability::Delete));
    EXPECT_TRUE(inZip.Has(Capability::OpenMember));
    EXPECT_FALSE(inZip.Has(Capability::Rename));
    EXPECT_FALSE(inZip.Has(Capability::MakeFolder));
    EXPECT_FALSE(inZip.Has(Capability::DiskPaths)) << "no path of the disk to run tools or workers on";
}

// A file command goes to the source whose entries are not files of the disk,
// or that takes files into a place that is not a folder of the disk; the disk
// engine does the rest, also beside a pane that shows an archive.
TEST(SourcesTest, TheSourceThatRunsAFileCommand)
{
    TZipMaster driver;
    auto sources = std::make_shared<SourceTable>(*DefaultSources());
    sources->zip = std::make_shared<ZipSource>(&driver);
    const FileSource* zip = sources->zip.get();
    const PanePlace disk = PanePlace::Directory("/tmp/out/");
    const PanePlace archive = PanePlace::Archive("/tmp/a.zip/", "docs/");
    for (const int code : {FO_COPY, FO_MOVE, FO_DELETE, FO_RENAME, FO_PROPERTIES})
        EXPECT_EQ(sources->OperationRunner(code, archive, disk), zip) << code;
    EXPECT_EQ(sources->OperationRunner(FO_COPY, archive, PanePlace::Archive("/tmp/b.zip/")), zip)
        << "it refuses, with its message";
    EXPECT_EQ(sources->OperationRunner(FO_COPY, disk, archive), zip);
    EXPECT_EQ(sources->OperationRunner(FO_MOVE, disk, archive), zip);
    for (const int code : {FO_DELETE, FO_RENAME, FO_PROPERTIES})
        EXPECT_EQ(sources->OperationRunner(code, disk, archive), nullptr) << code;
    EXPECT_EQ(sources->OperationRunner(FO_MOVE, disk, PanePlace::Directory("/tmp/in/")), nullptr);
}

TEST(SourcesTest, APlaceNamesItsSourceAndAMissingOneListsNothingWithAMessage)
{
    auto sources = std::make_shared<SourceTable>(*DefaultSources());
    auto remote = std::make_shared<LocalSource>();
    sources->named[kSftpSourceName] = remote;
    PanePlace there = PanePlace::Directory("sftp://host/home/");
    there.SourceName = kSftpSourceName;
    EXPECT_EQ(sources->For(there).get(), remote.get());
    EXPECT_NE(there, PanePlace::Directory("sftp://host/home/")) << "the source is part of the place";

    PanePlace found = PanePlace::Directory("/srv");
    found.SourceName = kSearchSourceName;
    Recorder seen;
    CancelToken cancel;
    sources->For(found)->List(found, seen, cancel);
    EXPECT_TRUE(seen.entries.empty());
    ASSERT_EQ(seen.problems.size(), 1u);
    EXPECT_NE(seen.problems[0].find("/srv"), std::string::npos);
    EXPECT_FALSE(sources->Can(found).Has(Capability::CopyIn));

    PanePlace tar = PanePlace::Archive("/home/u/a.tar.gz/", "docs/");
    tar.SourceName = kArchiveSourceName;
    EXPECT_STREQ(tar.Source(), kArchiveSourceName);
    EXPECT_STREQ(tar.Parent().Source(), kArchiveSourceName) << "still inside";
    EXPECT_EQ(tar.Parent().Parent(), PanePlace::Directory("/home/u")) << "out of the archive, back on the disk";
}

// A source that lists what the test hands it, each entry from its own folder
// when given one.
struct ScriptedSource : FileSource {
    std::vector<SourceEntry> entries;
    const char* Name() const override { return "search"; }
    void List(const PanePlace&, ListSink& sink, const CancelToken&) const override
    {
        sink.Chunk(std::vector<SourceEntry>(entries));
    }
    Capabilities Can(const PanePlace&) const override { return {Capability::DiskPaths, Capability::OpenMember}; }
};

TEST(SourcesTest, AnEntryCarriesAFolderOfItsOwn)
{
    test::PaneFixture f;
    auto found = std::make_shared<ScriptedSource>();
    for (const auto& [dir, name] : std::vector<std::pair<std::string, std::string>>{
             {"/srv/a/", "x.txt"}, {"/srv/b/", "x.txt"}, {"", "here.txt"}, {"/srv/c/", "sub"}}) {
        SourceEntry e;
        e.directory = dir;
        e.name = name;
        e.kind = name == "sub" ? fkDirectory : fkFile;
        found->entries.push_back(e);
    }
    auto sources = std::make_shared<SourceTable>(*DefaultSources());
    sources->local = found;
    f.pane.Sources = sources;
    f.pane.Path = "/results/";
    DirSizes().Store("/srv/c/sub", 4242);
    ReadDirectory(f.pane);
    ASSERT_EQ(f.pane.Count, 4);
    std::multiset<std::string> paths;
    for (int i = 0; i < f.pane.Count; ++i)
        paths.insert(f.pane.DirOf(f.pane.Item(i)) + f.pane.Item(i).Name);
    EXPECT_EQ(paths, (std::multiset<std::string>{"/srv/a/x.txt", "/srv/b/x.txt", "/results/here.txt", "/srv/c/sub"}));
    EXPECT_EQ(f.pane.Item(0).Size.load(), 4242) << "a folder's remembered total is found under its own folder";
}

// Headless controls whose posted tasks and timers the test runs by hand.
struct PumpedPane : HeadlessPane {
    struct Shared {
        std::mutex mutex;
        std::condition_variable posted;
        std::deque<std::function<void()>> tasks;
    };
    std::shared_ptr<Shared> shared = std::make_shared<Shared>();
    std::vector<std::function<void()>> timers;
    std::vector<ReadNotice> notices;
    int listingsRead = 0;

    std::function<void(std::function<void()>)> ReadPoster() override
    {
        return [shared = shared](std::function<void()> task) {
            std::lock_guard lock(shared->mutex);
            shared->tasks.push_back(std::move(task));
            shared->posted.notify_all();
        };
    }
    void RunLater(int, std::function<void()> task) override { timers.push_back(std::move(task)); }
    void ShowReadNotice(ReadNotice notice) override { notices.push_back(notice); }
    void ListingRead() override { ++listingsRead; }

    // Runs posted tasks until done() holds (waiting up to 10 s for them).
    bool PumpUntil(const std::function<bool()>& done)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            std::function<void()> task;
            {
                std::unique_lock lock(shared->mutex);
                if (!shared->posted.wait_until(lock, deadline, [&] { return !shared->tasks.empty(); }))
                    return false;
                task = std::move(shared->tasks.front());
                shared->tasks.pop_front();
            }
            task();
        }
        return true;
    }
};

// Lists "<place>-entry" once the test opens its latch for that place.
struct LatchedSource : FileSource {
    struct Latch {
        std::mutex mutex;
        std::condition_variable changed;
        std::set<std::string> open;
        int entered = 0;
    };
    std::shared_ptr<Latch> latch = std::make_shared<Latch>();
    const char* Name() const override { return kLocalSourceName; }
    void List(const PanePlace& place, ListSink& sink, const CancelToken&) const override
    {
        std::unique_lock lock(latch->mutex);
        ++latch->entered;
        latch->changed.notify_all();
        latch->changed.wait(lock, [&] { return latch->open.count(place.Path) > 0; });
        lock.unlock();
        SourceEntry e;
        e.kind = fkFile;
        e.name = place.Path.substr(1, place.Path.size() - 2) + "-entry";
        sink.Chunk({e});
    }
    Capabilities Can(const PanePlace&) const override { return {Capability::DiskPaths}; }
    void Open(const std::string& path) const
    {
        std::lock_guard lock(latch->mutex);
        latch->open.insert(path);
        latch->changed.notify_all();
    }
    void WaitEntered(int count) const
    {
        std::unique_lock lock(latch->mutex);
        latch->changed.wait(lock, [&] { return latch->entered >= count; });
    }
};

struct BackgroundReadTest : ::testing::Test {
    PumpedPane controls;
    DriveList drives;
    std::shared_ptr<LatchedSource> source = std::make_shared<LatchedSource>();
    std::unique_ptr<TDirData> pane = std::make_unique<TDirData>();

    void SetUp() override
    {
        pane->Controls = &controls;
        pane->Drives = &drives;
        auto sources = std::make_shared<SourceTable>(*DefaultSources());
        sources->local = source;
        pane->Sources = sources;
    }
    void TearDown() override
    {
        pane.reset();
        for (const char* path : {"/a/", "/b/", "/c/", "/d/", "/e/", "/f/"})
            source->Open(path); // let the workers return before the source's latch goes
    }
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (int i = 0; i < pane->Count; ++i)
            names.push_back(pane->Item(i).Name);
        return names;
    }
};

TEST_F(BackgroundReadTest, AStaleListingIsDroppedAndTheNewOneShown)
{
    pane->Path = "/a/";
    ReadDirectory(*pane);
    EXPECT_TRUE(pane->Reading());
    EXPECT_EQ(pane->Count, 0);
    EXPECT_EQ(controls.notices, (std::vector<ReadNotice>{ReadNotice::Reading}));
    source->WaitEntered(1);
    ASSERT_EQ(controls.timers.size(), 1u);
    controls.timers[0]();
    EXPECT_EQ(controls.notices.back(), ReadNotice::Slow) << "nothing came in time";

    pane->Path = "/b/"; // the user went elsewhere while /a/ hangs
    ReadDirectory(*pane);
    source->WaitEntered(2);
    source->Open("/a/"); // the old worker answers late
    source->Open("/b/");
    ASSERT_TRUE(controls.PumpUntil([&] { return !pane->Reading(); }));
    EXPECT_EQ(Names(), (std::vector<std::string>{"b-entry"}));
    EXPECT_EQ(controls.notices.back(), ReadNotice::None);
    EXPECT_EQ(controls.listingsRead, 1);
    ASSERT_TRUE(controls.PumpUntil([&] { return pane->Reads->Running() == 0; }));
    EXPECT_EQ(Names(), (std::vector<std::string>{"b-entry"})) << "the late /a/ listing changed nothing";
    controls.timers[0]();
    EXPECT_EQ(controls.notices.back(), ReadNotice::None) << "an old read's timer says nothing";
}

TEST_F(BackgroundReadTest, HungWorkersAreCappedAndThePaneGoesWithoutWaiting)
{
    const std::vector<std::string> hung = {"/a/", "/b/", "/c/", "/d/"};
    for (size_t i = 0; i < hung.size(); ++i) {
        pane->Path = hung[i];
        ReadDirectory(*pane);
        source->WaitEntered(int(i) + 1);
    }
    pane->Path = "/e/";
    ReadDirectory(*pane);
    EXPECT_EQ(controls.notices.back(), ReadNotice::Queued) << "no fifth worker while four hang";
    EXPECT_EQ(pane->Reads->Running(), ListingChannel::kMaxWorkers);
    source->Open("/e/");
    source->Open("/b/"); // one of them gives up: the waiting read starts
    ASSERT_TRUE(controls.PumpUntil([&] { return !pane->Reading(); }));
    EXPECT_EQ(Names(), (std::vector<std::string>{"e-entry"}));

    // The pane goes while three workers still hang: nothing waits for them,
    // and their late answers find nobody.
    const std::shared_ptr<ListingChannel> channel = pane->Reads;
    const auto before = std::chrono::steady_clock::now();
    pane.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
    EXPECT_FALSE(channel->IsOpen());
    source->Open("/a/");
    EXPECT_FALSE(channel->Deliver(channel->Current(), {}));
}

} // namespace
} // namespace tarnel
