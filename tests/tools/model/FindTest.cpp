// The find over real trees: names, exclusions, links, limits, archives,
// content across read boundaries, stopping.
#include "panes/TempTree.h"
#include "tools/model/FindNames.h"
#include "tools/model/FindQuery.h"
#include "tools/model/FindText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarnel;
using tarnel::test::TempTree;

namespace {

class Collect : public FindSink {
public:
    void Found(std::vector<FindHit>&& hits) override
    {
        std::lock_guard lock(mutex_);
        ++batches;
        for (FindHit& h : hits)
            this->hits.push_back(std::move(h));
    }
    void Note(const std::string& text) override
    {
        std::lock_guard lock(mutex_);
        notes.push_back(text);
    }
    void Counts(const FindCounts& c) override
    {
        std::lock_guard lock(mutex_);
        counts = c;
    }
    void Finished(bool wasStopped) override
    {
        std::lock_guard lock(mutex_);
        ++finished;
        stopped = wasStopped;
        cv_.notify_all();
    }
    bool WaitFinished(std::chrono::milliseconds limit = std::chrono::seconds(30))
    {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, limit, [&] { return finished > 0; });
    }
    // Paths below root, archives' members as "archive::member".
    std::set<std::string> Paths(const std::string& root)
    {
        std::lock_guard lock(mutex_);
        std::set<std::string> out;
        for (const FindHit& h : hits) {
            std::string p = h.archive.empty() ? h.directory + h.name : h.archive + "::" + h.directory + h.name;
            if (p.compare(0, root.size(), root) == 0)
                p.erase(0, root.size());
            out.insert(p + (h.folder ? "/" : ""));
        }
        return out;
    }

    std::vector<FindHit> hits;
    std::vector<std::string> notes;
    FindCounts counts;
    int finished = 0, batches = 0;
    bool stopped = false;

private:
    std::mutex mutex_;
    std::condition_variable cv_;
};

std::shared_ptr<Collect> RunFind(const FindQuery& q)
{
    auto sink = std::make_shared<Collect>();
    auto job = StartFind(q, sink);
    EXPECT_TRUE(sink->WaitFinished()) << "the find did not finish";
    return sink;
}

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

FindQuery Query(const std::string& folder, const std::string& names)
{
    FindQuery q;
    q.folders = {folder};
    q.namePatterns = names;
    return q;
}

TEST(FindNames, PatternsTakeAndLeaveOut)
{
    const FindNamePatterns all("");
    EXPECT_TRUE(all.Takes("anything"));
    const FindNamePatterns some(" *.txt ; *.MD;!secret*; ! *.bak.txt");
    EXPECT_TRUE(some.Takes("a.TXT"));
    EXPECT_TRUE(some.Takes("readme.md"));
    EXPECT_FALSE(some.Takes("a.cpp"));
    EXPECT_FALSE(some.Takes("secret.txt"));
    EXPECT_FALSE(some.Takes("old.bak.txt"));
    EXPECT_TRUE(some.LeavesOut("Secrets"));
    const FindNamePatterns onlyOut("!*.o");
    EXPECT_TRUE(onlyOut.Takes("main.c"));
    EXPECT_FALSE(onlyOut.Takes("main.o"));
    const FindNamePatterns star("*;!x");
    EXPECT_TRUE(star.Takes("y"));
    EXPECT_FALSE(star.Takes("x"));
}

TEST(Find, NamesExclusionsHiddenFoldersAndFolderHits)
{
    TempTree t;
    t.Dir("a/b");
    t.Dir("skip/deep");
    t.Dir(".hidden");
    t.Dir("b.txt"); // a folder whose name matches
    Write(t.Path() + "a/x.txt", "x");
    Write(t.Path() + "a/b/y.TXT", "y");
    Write(t.Path() + "skip/deep/z.txt", "z");
    Write(t.Path() + ".hidden/h.txt", "h");
    Write(t.Path() + "n.md", "n");

    auto r = RunFind(Query(t.Path(), "*.txt;!skip"));
    EXPECT_FALSE(r->stopped);
    EXPECT_EQ(r->finished, 1);
    // An excluded folder is not entered: nothing below it is found.
    EXPECT_EQ(r->Paths(t.Path()), (std::set<std::string>{"a/x.txt", "a/b/y.TXT", ".hidden/h.txt", "b.txt/"}));
    EXPECT_EQ(r->counts.found, 4u);
    EXPECT_GE(r->counts.folders, 5u);

    FindQuery q = Query(t.Path(), "*.txt");
    q.skipHiddenFolders = true;
    r = RunFind(q);
    EXPECT_EQ(r->Paths(t.Path()), (std::set<std::string>{"a/x.txt", "a/b/y.TXT", "skip/deep/z.txt", "b.txt/"}));

    // Several start folders, one inside the other: each entry once.
    q = Query(t.Path(), "*.txt");
    q.folders.push_back(t.Path() + "a");
    r = RunFind(q);
    EXPECT_EQ(r->hits.size(), 5u);

    // A hit carries its size and time; a missing start folder is said.
    Write(t.Path() + "a/x.txt", "12345");
    q = Query(t.Path() + "a", "x.txt");
    q.folders.push_back(t.Path() + "nowhere");
    r = RunFind(q);
    ASSERT_EQ(r->hits.size(), 1u);
    EXPECT_EQ(r->hits[0].size, 5);
    EXPECT_GT(r->hits[0].modified, 0);
    ASSERT_EQ(r->notes.size(), 1u);
    EXPECT_NE(r->notes[0].find("nowhere/: No such file or directory"), std::string::npos) << r->notes[0];
}

TEST(Find, SizeAndTimeLimits)
{
    TempTree t;
    t.Dir("d");
    t.File("small", 10);
    t.File("mid", 100);
    t.File("d/big", 1000);
    const auto setTime = [&](const std::string& name, time_t when) {
        struct timespec times[2] = {{when, 0}, {when, 0}};
        utimensat(AT_FDCWD, (t.Path() + name).c_str(), times, 0);
    };
    setTime("small", 1000000);
    setTime("mid", 2000000);
    setTime("d/big", 3000000);

    FindQuery q = Query(t.Path(), "*");
    q.minSize = 100;
    EXPECT_EQ(RunFind(q)->Paths(t.Path()), (std::set<std::string>{"mid", "d/big"})) << "folders have no size to compare";
    q.maxSize = 100;
    EXPECT_EQ(RunFind(q)->Paths(t.Path()), (std::set<std::string>{"mid"}));
    q = Query(t.Path(), "*");
    q.modifiedAfter = 1500000;
    q.modifiedBefore = 2500000;
    EXPECT_EQ(RunFind(q)->Paths(t.Path()), (std::set<std::string>{"mid"}));
}

TEST(Find, LinksFollowedOnlyWhenAskedAndLoopsEnterOnce)
{
    TempTree t;
    t.Dir("tree/sub");
    t.Dir("outside");
    Write(t.Path() + "tree/sub/a.txt", "needle");
    Write(t.Path() + "outside/o.txt", "needle");
    ASSERT_EQ(symlink("..", (t.Path() + "tree/sub/up").c_str()), 0); // a loop
    ASSERT_EQ(symlink("../outside", (t.Path() + "tree/out").c_str()), 0);
    ASSERT_EQ(symlink("sub/a.txt", (t.Path() + "tree/link.txt").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (t.Path() + "tree/dangling.txt").c_str()), 0);

    FindQuery q = Query(t.Path() + "tree", "*.txt");
    auto r = RunFind(q);
    // Links are entries, never entered.
    EXPECT_EQ(r->Paths(t.Path() + "tree/"), (std::set<std::string>{"sub/a.txt", "link.txt", "dangling.txt"}));

    q.followLinks = true;
    r = RunFind(q);
    // The loop back up to tree is not walked again.
    EXPECT_EQ(r->Paths(t.Path() + "tree/"),
              (std::set<std::string>{"sub/a.txt", "link.txt", "dangling.txt", "out/o.txt"}));

    // Content: a link's file is read only when links are followed.
    q.text = "needle";
    q.followLinks = false;
    EXPECT_EQ(RunFind(q)->Paths(t.Path() + "tree/"), (std::set<std::string>{"sub/a.txt"}));
    q.followLinks = true;
    EXPECT_EQ(RunFind(q)->Paths(t.Path() + "tree/"), (std::set<std::string>{"sub/a.txt", "link.txt", "out/o.txt"}));
}

TEST(Find, ContentPlainWordsRegexAndBinary)
{
    TempTree t;
    Write(t.Path() + "one.txt", "first line\nthe Needle is here\nneedle again\n");
    Write(t.Path() + "two.txt", "needles only\nA needle_x\n");
    Write(t.Path() + "bin.dat", std::string("needle\0binary", 13));
    Write(t.Path() + "none.txt", "nothing\n");

    FindQuery q = Query(t.Path(), "*");
    q.text = "needle";
    auto r = RunFind(q);
    EXPECT_EQ(r->Paths(t.Path()), (std::set<std::string>{"one.txt", "two.txt"})) << "the binary file is skipped";
    for (const FindHit& h : r->hits)
        if (h.name == "one.txt") {
            EXPECT_EQ(h.lineNumber, 2);
            EXPECT_EQ(h.matchOffset, 15);
            EXPECT_EQ(h.lineOffset, 11);
            EXPECT_EQ(h.lineText, "the Needle is here");
        }

    q.caseSensitive = true;
    r = RunFind(q);
    for (const FindHit& h : r->hits)
        if (h.name == "one.txt")
            EXPECT_EQ(h.lineNumber, 3) << "case counts";

    q.caseSensitive = false;
    q.wholeWords = true;
    EXPECT_EQ(RunFind(q)->Paths(t.Path()), (std::set<std::string>{"one.txt"}));

    q.wholeWords = false;
    q.binaryFilesToo = true;
    EXPECT_EQ(RunFind(q)->Paths(t.Path()), (std::set<std::string>{"one.txt", "two.txt", "bin.dat"}));

    q.binaryFilesToo = false;
    q.textKind = FindQuery::TextKind::Regex;
    q.text = "^needle[s_]";
    r = RunFind(q);
    ASSERT_EQ(r->Paths(t.Path()), (std::set<std::string>{"two.txt"}));
    EXPECT_EQ(r->hits[0].lineNumber, 1);
    q.text = "A NEEDLE\\w";
    r = RunFind(q);
    ASSERT_EQ(r->hits.size(), 1u);
    EXPECT_EQ(r->hits[0].lineText, "A needle_x");
    EXPECT_EQ(r->hits[0].matchLength, 9);

    // Letters beyond ASCII fold too.
    Write(t.Path() + "grk.txt", "ΑΛΦΑ beta\n");
    q = Query(t.Path(), "grk.txt");
    q.text = "αλφα";
    EXPECT_EQ(RunFind(q)->hits.size(), 1u);
}

TEST(Find, ABadRegularExpressionIsSaidAndNothingRuns)
{
    FindQuery q = Query("/", "*");
    q.text = "a(b";
    q.textKind = FindQuery::TextKind::Regex;
    const std::string problem = FindQueryProblem(q);
    EXPECT_NE(problem.find("does not compile"), std::string::npos) << problem;
    auto r = RunFind(q);
    EXPECT_TRUE(r->hits.empty());
    EXPECT_EQ(r->notes, std::vector<std::string>{problem});
    EXPECT_EQ(FindQueryProblem(FindQuery{}), "No folder to search in");
    q.textKind = FindQuery::TextKind::Plain;
    EXPECT_EQ(FindQueryProblem(q), "");
}

// The match and its line are the same whatever the reads cut: a small read
// size puts block edges inside the needle, the line and the line end.
TEST(FindText, MatchesAcrossReadBoundaries)
{
    TempTree t;
    std::string text;
    for (int i = 0; i < 50; ++i)
        text += "line " + std::to_string(i) + " filler text\n";
    const int64_t lineStart = int64_t(text.size());
    text += "here is the NEEDLE in line 51\r\nafter\n";
    const std::string path = t.Path() + "f.txt";
    Write(path, text);
    struct Case {
        FindQuery::TextKind kind;
        const char* text;
        bool caseSensitive, words;
    };
    for (const Case& c : {Case{FindQuery::TextKind::Plain, "needle", false, false},
                          Case{FindQuery::TextKind::Plain, "NEEDLE", true, true},
                          Case{FindQuery::TextKind::Regex, "N[A-Z]+E in", true, false},
                          Case{FindQuery::TextKind::Regex, "^here.*needle", false, false}}) {
        FindQuery q;
        q.text = c.text;
        q.textKind = c.kind;
        q.caseSensitive = c.caseSensitive;
        q.wholeWords = c.words;
        std::string problem;
        auto pattern = ContentPattern::Make(q, problem);
        ASSERT_TRUE(pattern) << problem;
        for (size_t readSize : {size_t(3), size_t(7), size_t(64), size_t(1000), ContentScanner::kReadSize}) {
            ContentScanner scanner(pattern, readSize);
            const int fd = open(path.c_str(), O_RDONLY);
            std::atomic<bool> stop{false};
            const ContentResult r = scanner.Scan(fd, false, stop, nullptr, readSize % 2 ? int64_t(text.size()) : -1);
            close(fd);
            SCOPED_TRACE(std::string(c.text) + " read size " + std::to_string(readSize));
            ASSERT_EQ(r.outcome, ContentResult::Matched);
            EXPECT_EQ(r.lineNumber, 51);
            EXPECT_EQ(r.lineOffset, lineStart);
            EXPECT_EQ(r.lineText, "here is the NEEDLE in line 51");
            if (c.text[0] != '^')
                EXPECT_EQ(r.matchOffset, lineStart + 12);
        }
    }
}

TEST(FindText, LongLinesAndWordEdges)
{
    TempTree t;
    // A line far longer than the reads, the needle near its end.
    std::string text(5000, 'a');
    text += " word ";
    text += std::string(3000, 'b');
    Write(t.Path() + "long.txt", text);
    FindQuery q;
    q.text = "word";
    q.wholeWords = true;
    std::string problem;
    auto pattern = ContentPattern::Make(q, problem);
    for (size_t readSize : {size_t(100), size_t(1024), ContentScanner::kReadSize}) {
        ContentScanner scanner(pattern, readSize);
        const int fd = open((t.Path() + "long.txt").c_str(), O_RDONLY);
        std::atomic<bool> stop{false};
        const ContentResult r = scanner.Scan(fd, false, stop, nullptr);
        close(fd);
        ASSERT_EQ(r.outcome, ContentResult::Matched) << readSize;
        EXPECT_EQ(r.matchOffset, 5001);
        EXPECT_EQ(r.lineNumber, 1);
        EXPECT_LE(r.lineText.size(), ContentScanner::kLineTextMax);
        EXPECT_NE(r.lineText.find(" word "), std::string::npos);
    }
    // Letters of other scripts are word letters: "na" is no word in "naïve".
    Write(t.Path() + "w.txt", "naïve\n");
    q.text = "na";
    pattern = ContentPattern::Make(q, problem);
    ContentScanner scanner(pattern);
    const int fd = open((t.Path() + "w.txt").c_str(), O_RDONLY);
    std::atomic<bool> stop{false};
    EXPECT_EQ(scanner.Scan(fd, false, stop, nullptr).outcome, ContentResult::NoMatch);
    close(fd);
}

TEST(Find, ZipMembersByName)
{
    TempTree t;
    t.Dir("z/docs/old");
    t.Dir("z/.git");
    Write(t.Path() + "z/docs/old/c.txt", "abc");
    Write(t.Path() + "z/top.txt", "hello");
    Write(t.Path() + "z/.git/g.txt", "g");
    ASSERT_EQ(std::system(("cd " + t.Path() + "z && zip -qr ../Arch.ZIP docs top.txt .git").c_str()), 0);
    std::filesystem::remove_all(t.Path() + "z");

    FindQuery q = Query(t.Path(), "*.txt;old");
    EXPECT_TRUE(RunFind(q)->hits.empty()) << "archives are entered only when asked";
    q.insideArchives = true;
    auto r = RunFind(q);
    const std::string arch = t.Path() + "Arch.ZIP::";
    EXPECT_EQ(r->Paths(""), (std::set<std::string>{arch + "docs/old/c.txt", arch + "top.txt", arch + ".git/g.txt",
                                                   arch + "docs/old/"}));
    for (const FindHit& h : r->hits)
        if (h.name == "top.txt")
            EXPECT_EQ(h.size, 5);
    q.skipHiddenFolders = true;
    q.namePatterns = "*.txt;!docs";
    EXPECT_EQ(RunFind(q)->Paths(""), (std::set<std::string>{arch + "top.txt"}));
}

TEST(Find, MembersOfOtherArchiveKindsByName)
{
    TempTree t;
    t.Dir("z/docs");
    Write(t.Path() + "z/docs/c.txt", "abc");
    Write(t.Path() + "z/top.md", "hello");
    ASSERT_EQ(std::system(("cd " + t.Path() + "z && bsdtar -czf ../a.tar.gz docs top.md && bsdtar --format 7zip -cf ../b.7z docs")
                              .c_str()),
              0);
    std::filesystem::remove_all(t.Path() + "z");
    Write(t.Path() + "junk.tar.xz", "not an archive at all");

    FindQuery q = Query(t.Path(), "*.txt;*.md");
    q.insideArchives = true;
    auto r = RunFind(q);
    EXPECT_EQ(r->Paths(""), (std::set<std::string>{t.Path() + "a.tar.gz::docs/c.txt", t.Path() + "a.tar.gz::top.md",
                                                   t.Path() + "b.7z::docs/c.txt"}));
    for (const FindHit& h : r->hits)
        if (h.name == "top.md")
            EXPECT_EQ(h.size, 5);
}

TEST(Find, StopEndsAtOnceAndFinishedComesOnce)
{
    TempTree t;
    for (int i = 0; i < 200; ++i) {
        t.Dir("d" + std::to_string(i) + "/e");
        for (int j = 0; j < 20; ++j)
            Write(t.Path() + "d" + std::to_string(i) + "/e/f" + std::to_string(j), std::string(2000, 'x'));
    }
    FindQuery q = Query(t.Path(), "*");
    q.text = "never there";
    auto sink = std::make_shared<Collect>();
    auto job = StartFind(q, sink);
    const auto before = std::chrono::steady_clock::now();
    job->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(50)) << "Stop waited";
    ASSERT_TRUE(sink->WaitFinished(std::chrono::seconds(2)));
    EXPECT_TRUE(sink->stopped);
    job->Stop(); // again: nothing more is said
    job.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(sink->finished, 1);

    // The same tree run through: hits come in batches, not one by one.
    q.text.clear();
    auto r = RunFind(q);
    EXPECT_EQ(r->hits.size(), 200u * 20u + 400u);
    EXPECT_LT(r->batches, 200);
    EXPECT_EQ(r->counts.found, r->hits.size());
}

} // namespace
