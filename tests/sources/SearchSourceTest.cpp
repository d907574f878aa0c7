// A find's results as a place: the hits kept, the find run again through a
// scripted starter, and a pane reading and leaving such a place.
#include "descriptions/Descriptions.h"
#include "panes/Navigation.h"
#include "panes/PaneFixture.h"
#include "panes/ReadDirectory.h"
#include "panes/TempTree.h"
#include "sources/SearchSource.h"
#include "sources/SourceTable.h"
#include "tools/model/PaneFiles.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <map>
#include <thread>

namespace tarnel {
namespace {

struct Seen : ListSink {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<SourceEntry> entries;
    std::vector<std::string> problems;
    void Chunk(std::vector<SourceEntry>&& chunk) override
    {
        std::lock_guard lock(mutex);
        for (SourceEntry& e : chunk)
            entries.push_back(std::move(e));
        changed.notify_all();
    }
    void Problem(const std::string& text) override
    {
        std::lock_guard lock(mutex);
        problems.push_back(text);
    }
    // Folder + name of each entry but "..".
    std::multiset<std::string> Paths()
    {
        std::lock_guard lock(mutex);
        std::multiset<std::string> paths;
        for (const SourceEntry& e : entries)
            if (e.name != "..")
                paths.insert(e.directory + e.name);
        return paths;
    }
    bool WaitFor(size_t count)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [&] { return entries.size() >= count; });
    }
};

// A find the test drives by hand: it records each start and keeps the sink.
struct ScriptedFind {
    struct Job : FindJob {
        std::atomic<bool> stopped{false};
        void Stop() override { stopped = true; }
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<FindQuery> started;
    std::shared_ptr<FindSink> sink;
    std::shared_ptr<Job> job;

    FindStarter Starter()
    {
        return [this](const FindQuery& query, std::shared_ptr<FindSink> s) {
            std::lock_guard lock(mutex);
            started.push_back(query);
            sink = std::move(s);
            job = std::make_shared<Job>();
            changed.notify_all();
            return job;
        };
    }
    bool WaitStarted(size_t count)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [&] { return started.size() >= count; });
    }
};

FindHit Hit(const std::string& dir, const std::string& name, bool folder = false)
{
    FindHit hit;
    hit.directory = dir;
    hit.name = name;
    hit.folder = folder;
    return hit;
}

struct SearchSourceTest : ::testing::Test {
    test::TempTree tree;
    ScriptedFind find;
    SearchSource source{find.Starter()};
    FindQuery query;
    const CancelToken never;

    void SetUp() override
    {
        tree.Dir("a");
        tree.Dir("b/sub");
        std::ofstream(tree.Path() + "a/x.txt") << "aaa";
        std::ofstream(tree.Path() + "b/x.txt") << "bbbbb";
        std::ofstream(tree.Path() + "top.txt") << "t";
        query.folders = {tree.Path()};
        query.namePatterns = "*.txt;sub";
    }
    std::vector<FindHit> Hits() const
    {
        return {Hit(tree.Path() + "a/", "x.txt"), Hit(tree.Path() + "b/", "x.txt"), Hit(tree.Path(), "top.txt"),
                Hit(tree.Path() + "b/", "sub", true)};
    }
};

TEST_F(SearchSourceTest, AFedPlaceListsItsHitsLookedAtAgainWithoutAFind)
{
    ASSERT_EQ(WriteDescription(tree.Path() + "b/x.txt", "the second"), WriteDescriptionResult::Written);
    const PanePlace place = source.Feed(query, Hits());
    EXPECT_STREQ(place.Source(), kSearchSourceName);
    EXPECT_EQ(place.Parent(), PanePlace::Directory(tree.Path().substr(0, tree.Path().size() - 1)))
        << "up from the results is the start folder, on the disk";
    EXPECT_NE(place.Text().find("*.txt;sub"), std::string::npos) << "the path line says what was looked for";

    Seen first;
    source.List(place, first, never);
    EXPECT_TRUE(find.started.empty()) << "the hits given are listed, nothing is searched";
    ASSERT_FALSE(first.entries.empty());
    EXPECT_EQ(first.entries[0].name, "..");
    EXPECT_EQ(first.Paths(), (std::multiset<std::string>{tree.Path() + "a/x.txt", tree.Path() + "b/x.txt",
                                                         tree.Path() + "top.txt", tree.Path() + "b/sub"}));
    std::map<std::string, SourceEntry> byPath;
    for (const SourceEntry& e : first.entries)
        byPath[e.directory + e.name] = e;
    EXPECT_EQ(byPath[tree.Path() + "b/x.txt"].size, 5) << "the size as it is now";
    EXPECT_EQ(byPath[tree.Path() + "b/x.txt"].description, "b/  the second") << "its folder, then its description";
    EXPECT_EQ(byPath[tree.Path() + "top.txt"].description, "./");
    EXPECT_EQ(byPath[tree.Path() + "b/sub"].kind, fkDirectory);

    // Deleted or moved away since the find: the hit leaves the results.
    ASSERT_EQ(::unlink((tree.Path() + "a/x.txt").c_str()), 0);
    Seen second;
    source.List(place, second, never);
    EXPECT_EQ(second.Paths().count(tree.Path() + "a/x.txt"), 0u);
    EXPECT_EQ(second.Paths().size(), 3u);

    source.Renamed(place, tree.Path() + "top.txt", tree.Path() + "b/top2.txt");
    ASSERT_EQ(::rename((tree.Path() + "top.txt").c_str(), (tree.Path() + "b/top2.txt").c_str()), 0);
    Seen third;
    source.List(place, third, never);
    EXPECT_EQ(third.Paths().count(tree.Path() + "b/top2.txt"), 1u) << "a renamed hit stays, under its new name";
    EXPECT_TRUE(find.started.empty());
}

TEST_F(SearchSourceTest, WhatAResultsPlaceLetsBeDone)
{
    const PanePlace place = source.Feed(query, Hits());
    const Capabilities can = source.Can(place);
    for (const Capability c : {Capability::CopyOut, Capability::Delete, Capability::Rename, Capability::OpenMember,
                               Capability::DiskPaths})
        EXPECT_TRUE(can.Has(c)) << int(c);
    EXPECT_FALSE(can.Has(Capability::CopyIn)) << "nothing is copied into a list of found files";
    EXPECT_FALSE(can.Has(Capability::MakeFolder));

    // A place whose query is not kept (a saved place after a restart): it
    // lists nothing, says so, and is no folder of the disk to start at.
    PanePlace gone = place;
    gone.Path = tree.Path() + "[find 999: *]/";
    EXPECT_EQ(source.Can(gone), Capabilities{});
    Seen seen;
    source.List(gone, seen, never);
    EXPECT_TRUE(seen.entries.empty());
    ASSERT_EQ(seen.problems.size(), 1u);

    // The oldest queries give way.
    for (size_t i = 0; i < SearchSource::kKeptQueries; ++i)
        source.Feed(query, {});
    EXPECT_EQ(source.Can(place), Capabilities{});
}

TEST_F(SearchSourceTest, RefreshRunsTheFindAgainAndStreamsItsHits)
{
    const PanePlace place = source.Feed(query, Hits());
    source.SearchAgain(place);
    Seen seen;
    std::thread lister([&] { source.List(place, seen, never); });
    ASSERT_TRUE(find.WaitStarted(1));
    EXPECT_EQ(find.started[0], query);
    find.sink->Found({Hit(tree.Path() + "a/", "x.txt")});
    ASSERT_TRUE(seen.WaitFor(2)) << "a hit is shown before the find ends";
    find.sink->Found({Hit(tree.Path(), "top.txt")});
    find.sink->Note("Cannot read " + tree.Path() + "locked/");
    find.sink->Finished(false);
    lister.join();
    EXPECT_EQ(seen.Paths(), (std::multiset<std::string>{tree.Path() + "a/x.txt", tree.Path() + "top.txt"}));
    ASSERT_EQ(seen.problems.size(), 1u);
    EXPECT_NE(seen.problems[0].find("locked"), std::string::npos);

    // The new hits are kept: the next listing shows them without a find.
    Seen after;
    source.List(place, after, never);
    EXPECT_EQ(find.started.size(), 1u);
    EXPECT_EQ(after.Paths(), seen.Paths());
}

TEST_F(SearchSourceTest, AnAbandonedRefreshStopsItsFindAndKeepsTheOldHits)
{
    const PanePlace place = source.Feed(query, Hits());
    source.SearchAgain(place);
    CancelToken cancel;
    Seen seen;
    std::thread lister([&] { source.List(place, seen, cancel); });
    ASSERT_TRUE(find.WaitStarted(1));
    find.sink->Found({Hit(tree.Path() + "a/", "x.txt")});
    ASSERT_TRUE(seen.WaitFor(2));
    cancel.Cancel();
    lister.join(); // returns without the find's end
    EXPECT_TRUE(find.job->stopped);
    find.sink->Finished(true); // late, as a real find would: nobody listens

    Seen again;
    std::thread second([&] { source.List(place, again, never); });
    ASSERT_TRUE(find.WaitStarted(2)) << "the refresh was not done: the next listing runs it";
    find.sink->Finished(true); // stopped elsewhere: the old hits stay
    second.join();
    source.SearchAgain(place); // nothing changed by that: still a kept query
    EXPECT_TRUE(source.QueryOf(place).has_value());
}

TEST_F(SearchSourceTest, HitsInsideArchivesAreShownAndKnownAsSuch)
{
    std::ofstream(tree.Path() + "pack.zip") << "not really";
    FindHit member = Hit("docs/", "inner.txt");
    member.archive = tree.Path() + "pack.zip";
    std::vector<FindHit> hits = Hits();
    hits.push_back(member);
    const PanePlace place = source.Feed(query, hits);
    Seen seen;
    source.List(place, seen, never);
    EXPECT_EQ(seen.Paths().count(tree.Path() + "pack.zip/docs/inner.txt"), 1u);
    EXPECT_EQ(source.ArchiveOf(place, tree.Path() + "pack.zip/docs/"), tree.Path() + "pack.zip");
    EXPECT_EQ(source.ArchiveOf(place, tree.Path() + "b/"), "");

    ASSERT_EQ(::unlink((tree.Path() + "pack.zip").c_str()), 0);
    Seen after;
    source.List(place, after, never);
    EXPECT_EQ(after.Paths().count(tree.Path() + "pack.zip/docs/inner.txt"), 0u) << "its archive is gone";
}

// A pane on the results: each entry at its own folder, a folder entry
// entered on the disk, ".." back to the start folder.
TEST_F(SearchSourceTest, APaneReadsTheResultsAndLeavesThemForTheDisk)
{
    test::PaneFixture f;
    auto search = std::make_shared<SearchSource>(find.Starter());
    auto sources = std::make_shared<SourceTable>(*DefaultSources());
    sources->named[kSearchSourceName] = search;
    f.pane.Sources = sources;
    f.pane.MoveTo(search->Feed(query, Hits()));
    RecordHistory(f.pane);
    ReadDirectory(f.pane);
    ASSERT_EQ(f.pane.Count, 5);
    int sub = -1;
    std::multiset<std::string> paths;
    for (int i = 0; i < f.pane.Count; ++i) {
        const TFileData& e = f.pane.Item(i);
        if (e.IsParentEntry())
            continue;
        paths.insert(f.pane.DirOf(e) + e.Name);
        if (e.Name == "sub")
            sub = i;
        EXPECT_EQ(ArchiveHoldingEntry(f.pane, e), "");
    }
    EXPECT_EQ(paths.count(tree.Path() + "b/x.txt"), 1u);
    ASSERT_GE(sub, 0);
    // What the tools work on: each file where it lies.
    std::vector<std::string> files = SelectedOrAllFilePaths(f.pane);
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{tree.Path() + "a/x.txt", tree.Path() + "b/x.txt", tree.Path() + "top.txt"}));
    EXPECT_EQ(FoldersOfSelectedOrAllFiles(f.pane).size(), 3u);

    EXPECT_EQ(CopyPathText(f.pane, sub, true), tree.Path() + "b/sub") << "the path copied is the entry's own";

    EXPECT_EQ(OpenEntry(f.pane, sub, {}), OpenResult::Moved);
    EXPECT_EQ(f.pane.Place(), PanePlace::Directory(tree.Path() + "b/sub/"));
    ASSERT_TRUE(GoBack(f.pane, {}));
    EXPECT_STREQ(f.pane.Source(), kSearchSourceName);
    EXPECT_EQ(f.pane.Count, 5);
    EXPECT_EQ(OpenEntry(f.pane, 0, {}), OpenResult::Moved) << "\"..\"";
    EXPECT_EQ(f.pane.Place(), PanePlace::Directory(tree.Path()));
    EXPECT_TRUE(find.started.empty());
}

} // namespace
} // namespace tarnel
