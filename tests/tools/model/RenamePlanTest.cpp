// The batch renamer's names: star texts, template tokens, counters, the
// clash check and the rename passes.
#include "tools/model/RenamePlan.h"

#include <gtest/gtest.h>

#include <set>

using namespace tarnel;

namespace {

std::vector<RenameLine> Build(const std::vector<std::string>& names, const std::string& text,
                              const std::set<std::string>& onDisk = {}, const std::string& pattern = "*",
                              bool lower = false)
{
    RenameTemplate t;
    t.pattern = pattern;
    t.text = text;
    t.lowerCase = lower;
    return BuildRenameLines(MatchingNames(names, pattern), t,
                            [&](const std::string& n) { return onDisk.count(n) != 0; });
}

std::vector<std::string> NewNames(const std::vector<RenameLine>& lines)
{
    std::vector<std::string> out;
    for (const RenameLine& l : lines)
        out.push_back(l.newName);
    return out;
}

} // namespace

TEST(RenamePlan, StarTextsFollowTheAnchorsOfThePattern)
{
    EXPECT_EQ(StarText("*.txt*", "notes.txt", 1), "notes");
    EXPECT_EQ(StarText("*.txt*", "notes.txt", 2), "");
    EXPECT_EQ(StarText("*-*.*", "a-b-c.mp3", 1), "a");
    EXPECT_EQ(StarText("*-*.*", "a-b-c.mp3", 2), "b-c");
    EXPECT_EQ(StarText("*-*.*", "a-b-c.mp3", 3), "mp3");
    EXPECT_EQ(StarText("IMG_*.JPG*", "img_0042.jpg", 1), "0042"); // letters compared without case
    EXPECT_EQ(StarText("??*", "abcdef", 1), "cdef");              // literal characters skip as many
    EXPECT_EQ(StarText("*", "x", 4), "");                         // fewer stars than asked
}

TEST(RenamePlan, DefaultsReproduceEveryNameAndTokensExpand)
{
    const std::vector<std::string> names = {"a.txt", "B.doc", "c"};
    EXPECT_EQ(NewNames(Build(names, "[1]")), names);
    EXPECT_EQ(NewNames(Build({"notes.txt", "x.doc"}, "[1].bak", {}, "*.txt")), (std::vector<std::string>{"notes.bak"}));
    EXPECT_EQ(NewNames(Build({"ABC"}, "X[1]", {}, "*", true)), (std::vector<std::string>{"Xabc"}));
    // [[] and []] give brackets, a "[" that starts no token is copied, [XY] with
    // another X is plain text.
    EXPECT_EQ(NewNames(Build({"f"}, "[[][1][]][ab]x[")), (std::vector<std::string>{"[f][ab]x["}));
    EXPECT_EQ(NewNames(Build({"f.mp3"}, "[1x]!")), (std::vector<std::string>{"f.mp3!"}));
}

TEST(RenamePlan, CountersTakeTheLowestFreeNumber)
{
    const std::vector<std::string> three = {"a", "b", "c"};
    EXPECT_EQ(NewNames(Build(three, "pic[C3]")), (std::vector<std::string>{"pic001", "pic002", "pic003"}));
    EXPECT_EQ(NewNames(Build(three, "pic[C3]", {"pic002"})), (std::vector<std::string>{"pic001", "pic003", "pic004"}));
    EXPECT_EQ(NewNames(Build({"a"}, "[c]")), (std::vector<std::string>{"0001"}));
    // Earlier new names are compared without regard to case.
    EXPECT_EQ(NewNames(Build({"a", "A"}, "[1][C1]")), (std::vector<std::string>{"a1", "A2"}));
    RenameTemplate t;
    t.text = "[1]_[C2]";
    t.counterStart = 99;
    const auto lines = BuildRenameLines({"a", "a"}, t, [](const std::string&) { return false; });
    EXPECT_EQ(NewNames(lines), (std::vector<std::string>{"a_99", "a_100"})); // at least w digits
    // The number is the lowest that makes the whole name free, not a running
    // count: a star text after the field already tells the names apart.
    EXPECT_EQ(NewNames(Build({"a.txt", "b.txt"}, "holiday [C3] ([1]).txt", {"holiday 001 (b).txt"}, "*.txt")),
              (std::vector<std::string>{"holiday 001 (a).txt", "holiday 002 (b).txt"}));
}

TEST(RenamePlan, ManyFilesAndManyStarsStayFast)
{
    std::vector<std::string> names;
    for (int i = 0; i < 10000; ++i)
        names.push_back("file" + std::to_string(i) + ".dat");
    const auto lines = Build(names, "n[C5]");
    ASSERT_EQ(lines.size(), 10000u);
    EXPECT_EQ(lines.back().newName, "n10000");
    EXPECT_TRUE(CheckRenameLines(lines, [](const std::string&) { return false; }).Ok());

    const std::string stars(1000, '*');
    // After a "*" the next character is a literal anchor, "*" too: such a
    // pattern picks no ordinary name, and says so at once.
    EXPECT_TRUE(Build({"abc", "d\nef"}, "[1]|[2]|[9]", {}, stars).empty());
    EXPECT_EQ(StarText(stars, "abc", 1), "abc");
    EXPECT_EQ(StarText(stars, "abc", 9), "");
}

TEST(RenamePlan, NamesWithInvalidBytesAreCarriedUnchanged)
{
    const std::string odd = "caf\xe9\xff.mp3";
    const auto lines = Build({odd}, "[1]-x.[2]", {}, "*.*", true);
    EXPECT_EQ(lines[0].newName, "caf\xe9\xff-x.mp3");
}

TEST(RenamePlan, CheckReportsEachKindOfClash)
{
    auto none = [](const std::string&) { return false; };
    auto check = [](std::vector<RenameLine> lines, const std::set<std::string>& disk = {}) {
        return CheckRenameLines(lines, [&](const std::string& n) { return disk.count(n) != 0; });
    };
    EXPECT_TRUE(CheckRenameLines({{"a", "a"}, {"b", "b"}}, none).Ok());

    CheckResult r = check({{"a", "x"}, {"b", "X"}});
    EXPECT_EQ(r.kind, CheckResult::Kind::Duplicate);
    EXPECT_EQ(r.name, "x");

    r = check({{"a", "c"}}, {"a", "c"});
    EXPECT_EQ(r.kind, CheckResult::Kind::Exists);
    EXPECT_EQ(r.name, "c");
    // A name that a matching file gives up is no clash: b is renamed away.
    EXPECT_TRUE(check({{"a", "b"}, {"b", "c"}}, {"a", "b"}).Ok());

    for (const std::string bad : {"", ".", "..", "sub/x", "../up"})
        EXPECT_EQ(check({{"a", bad}}).kind, CheckResult::Kind::Invalid) << bad;
}

TEST(RenamePlan, PassesCompleteChainsAndLeaveRefusedLines)
{
    std::set<std::string> disk = {"a", "b", "z"};
    auto rename = [&](const std::string& from, const std::string& to) {
        if (from == to)
            return true;
        if (disk.count(to) || !disk.count(from)) // refuses an existing target
            return false;
        disk.erase(from);
        disk.insert(to);
        return true;
    };
    std::vector<RenameLine> lines = {{"a", "b"}, {"b", "c"}};
    EXPECT_EQ(RunRenamePasses(lines, rename), 0u);
    EXPECT_EQ(disk, (std::set<std::string>{"b", "c", "z"}));

    // A target that appeared after the check is never replaced; a swap cannot
    // complete; a name leaving the directory is never passed on.
    disk = {"p", "q", "z", "s"};
    lines = {{"p", "z"}, {"q", "s"}, {"s", "q"}, {"z", "../z"}};
    bool askedOutside = false;
    auto guarded = [&](const std::string& from, const std::string& to) {
        askedOutside |= to.find('/') != std::string::npos;
        return rename(from, to);
    };
    EXPECT_EQ(RunRenamePasses(lines, guarded), 4u);
    EXPECT_FALSE(askedOutside);
    EXPECT_EQ(disk, (std::set<std::string>{"p", "q", "z", "s"}));
}
