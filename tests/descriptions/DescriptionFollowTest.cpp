#include "descriptions/DescriptionFollow.h"
#include "descriptions/Descriptions.h"
#include "platform/ShellFileOperation.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {
namespace {

class Folders : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-follow-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = std::string(tmpl) + "/";
        a_ = root_ + "a/";
        b_ = root_ + "b/";
        ASSERT_EQ(mkdir(a_.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(b_.c_str(), 0755), 0);
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

    static void Put(const std::string& path, const std::string& content)
    {
        std::ofstream(path, std::ios::binary) << content;
    }
    static std::string Get(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    static bool Exists(const std::string& path)
    {
        struct stat st;
        return lstat(path.c_str(), &st) == 0;
    }
    static ino_t InodeOf(const std::string& path)
    {
        struct stat st {};
        EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
        return st.st_ino;
    }
    // Names in a folder that are left-over temporary files of a rewrite.
    static int Leftovers(const std::string& dir)
    {
        int n = 0;
        for (const auto& e : std::filesystem::directory_iterator(dir))
            n += e.path().filename().string().rfind("DSC", 0) == 0;
        return n;
    }

    std::string root_, a_, b_;
};

// ---- the file and its spellings ----

TEST_F(Folders, OtherSpellingsOfTheFileAreReadAndKeepTheirName)
{
    // Written by another program: lower case, read when DESCRIPT.ION is absent.
    Put(a_ + "descript.ion", "readme.txt from elsewhere\r\n\"two words\" quoted\r\n");
    EXPECT_EQ(DescriptionFileIn(a_), a_ + "descript.ion");
    DescriptionList list;
    LoadDescriptions(a_, list);
    ASSERT_NE(list.Find("README.TXT"), nullptr);
    EXPECT_EQ(*list.Find("README.TXT"), "from elsewhere");
    EXPECT_EQ(ReadDescription(a_ + "two words"), "quoted");

    // A rewrite keeps the name it has; no second file appears.
    EXPECT_EQ(WriteDescription(a_ + "new.txt", "added"), WriteDescriptionResult::Written);
    EXPECT_FALSE(Exists(a_ + "DESCRIPT.ION"));
    EXPECT_EQ(Get(a_ + "descript.ion"), "readme.txt from elsewhere\r\n\"two words\" quoted\r\nnew.txt added\r\n");
    EXPECT_EQ(Leftovers(a_), 0);

    // Several spellings: DESCRIPT.ION first, else the first in byte order.
    Put(a_ + "Descript.Ion", "readme.txt mixed\r\n");
    EXPECT_EQ(ReadDescription(a_ + "readme.txt"), "mixed");
    Put(a_ + "DESCRIPT.ION", "readme.txt upper\r\n");
    EXPECT_EQ(ReadDescription(a_ + "readme.txt"), "upper");
    EXPECT_EQ(WriteDescription(a_ + "readme.txt", "changed"), WriteDescriptionResult::Written);
    EXPECT_EQ(Get(a_ + "DESCRIPT.ION"), "readme.txt changed\r\n");
    EXPECT_EQ(Get(a_ + "Descript.Ion"), "readme.txt mixed\r\n");

    // A folder of that name describes nothing; a new file gets the usual name.
    ASSERT_EQ(mkdir((b_ + "descript.ion").c_str(), 0755), 0);
    EXPECT_EQ(ReadDescription(b_ + "x"), "");
    EXPECT_EQ(WriteDescription(b_ + "x", "made"), WriteDescriptionResult::Written);
    EXPECT_EQ(Get(b_ + "DESCRIPT.ION"), "x made\r\n");
}

TEST_F(Folders, AByteOrderMarkIsTakenAsUtf8AndKept)
{
    const std::string bom = "\xEF\xBB\xBF";
    const std::string cafe = "caf\xC3\xA9.txt";
    Put(a_ + "descript.ion", bom + cafe + " d\xC3\xA9j\xC3\xA0 vu\r\nplain.txt p\r\n");
    DescriptionList list;
    LoadDescriptions(a_, list);
    ASSERT_NE(list.Find(cafe), nullptr); // the mark is no part of the first name
    EXPECT_EQ(*list.Find(cafe), "d\xC3\xA9j\xC3\xA0 vu");
    EXPECT_EQ(ReadDescription(a_ + cafe), "d\xC3\xA9j\xC3\xA0 vu");

    EXPECT_EQ(WriteDescription(a_ + cafe, "changed"), WriteDescriptionResult::Written);
    EXPECT_EQ(Get(a_ + "descript.ion"), bom + cafe + " changed\r\nplain.txt p\r\n");

    // Every line removed: the mark stays, alone.
    EXPECT_EQ(WriteDescriptions(a_, {{cafe, {}, true}, {"plain.txt", {}, true}}), WriteDescriptionResult::Written);
    EXPECT_EQ(Get(a_ + "descript.ion"), bom);
    EXPECT_EQ(WriteDescription(a_ + "n", "again"), WriteDescriptionResult::Written);
    EXPECT_EQ(Get(a_ + "descript.ion"), bom + "n again\r\n");

    // Without a mark nothing is added.
    Put(b_ + "DESCRIPT.ION", "x y\r\n");
    EXPECT_EQ(WriteDescription(b_ + "x", "z"), WriteDescriptionResult::Written);
    EXPECT_EQ(Get(b_ + "DESCRIPT.ION"), "x z\r\n");
}

TEST_F(Folders, BatchedChangesRewriteOnceAndOnlyWhenNeeded)
{
    // Removals for names without a line neither create nor rewrite a file.
    EXPECT_EQ(WriteDescriptions(a_, {{"gone", {}, true}}), WriteDescriptionResult::Written);
    EXPECT_FALSE(Exists(a_ + "DESCRIPT.ION"));
    Put(a_ + "DESCRIPT.ION", "keep k\r\n");
    const ino_t before = InodeOf(a_ + "DESCRIPT.ION");
    EXPECT_EQ(WriteDescriptions(a_, {{"gone", {}, true}}), WriteDescriptionResult::Written);
    EXPECT_EQ(InodeOf(a_ + "DESCRIPT.ION"), before);

    // A rename that only changes case: the new line outweighs the removal;
    // removals drop every line for their name.
    Put(a_ + "DESCRIPT.ION", "keep k\r\nold.txt o\r\nOLD.TXT o2\r\nbye b\r\n");
    EXPECT_EQ(WriteDescriptions(a_, {{"Old.txt", "o2", false},
                                     {"old.txt", {}, true},
                                     {"bye", {}, true},
                                     {"new one", "n", false},
                                     {"bad\nname", "x", false}}),
              WriteDescriptionResult::Written);
    EXPECT_EQ(Get(a_ + "DESCRIPT.ION"), "keep k\r\nold.txt o2\r\nOLD.TXT o2\r\n\"new one\" n\r\n");
    EXPECT_EQ(Leftovers(a_), 0);
}

// ---- following file operations ----

class ScriptedUi : public OperationUi {
public:
    ReplaceAnswer replace = ReplaceAnswer::No;
    std::string cancelAt; // Progress on a name containing it cancels
    ReplaceAnswer AskReplace(const std::string&) override { return replace; }
    ErrorAnswer AskError(const std::string&, const std::string&, int) override { return ErrorAnswer::Skip; }
    bool ConfirmTrash(size_t) override { return true; }
    DeleteAnswer AskDeletePermanently(const std::string&) override { return DeleteAnswer::Yes; }
    void Refused(const std::string&) override {}
    bool Progress(uint64_t, uint64_t, uint64_t, uint64_t, const std::string& name) override
    {
        return cancelAt.empty() || name.find(cancelAt) == std::string::npos;
    }
};

class Follow : public Folders {
protected:
    OperationResult Run(int code, std::vector<std::string> sources, const std::string& target, unsigned flags = 0)
    {
        DescriptionFollower follower([this](const std::string& text) { problems_.push_back(text); });
        ShellFileOperation op(ui_);
        op.SetObserver(&follower);
        return op.Run(code, sources, target, flags | FOF_NOCONFIRMMKDIR);
    }
    ScriptedUi ui_;
    std::vector<std::string> problems_;
};

TEST_F(Follow, CopyAndMoveCarryDescriptionsIntoTheTargetsFile)
{
    for (const char* n : {"one.txt", "two words.txt", "plain.txt", "moved.txt"})
        Put(a_ + n, n);
    ASSERT_EQ(mkdir((a_ + "folder").c_str(), 0755), 0);
    Put(a_ + "DESCRIPT.ION", "one.txt first\r\n\"two words.txt\" second\r\nFOLDER a folder\r\nmoved.txt m\r\n");
    Put(b_ + "descript.ion", "\xEF\xBB\xBFother.txt kept\r\nONE.TXT stale\r\n");

    ASSERT_EQ(Run(FO_COPY, {a_ + "one.txt", a_ + "two words.txt", a_ + "plain.txt", a_ + "folder"}, b_).status,
              OperationResult::Status::Done);
    // Into the target's own file, keeping its name and mark; the source keeps its lines.
    EXPECT_FALSE(Exists(b_ + "DESCRIPT.ION"));
    EXPECT_EQ(Get(b_ + "descript.ion"),
              "\xEF\xBB\xBFother.txt kept\r\nONE.TXT first\r\n\"two words.txt\" second\r\nfolder a folder\r\n");
    EXPECT_EQ(ReadDescription(a_ + "one.txt"), "first");

    ASSERT_EQ(Run(FO_MOVE, {a_ + "moved.txt"}, b_).status, OperationResult::Status::Done);
    EXPECT_EQ(ReadDescription(b_ + "moved.txt"), "m");
    EXPECT_EQ(Get(a_ + "DESCRIPT.ION"), "one.txt first\r\n\"two words.txt\" second\r\nFOLDER a folder\r\n");

    // Into a folder without a description file: one is made under the usual name.
    const std::string c = root_ + "c/";
    ASSERT_EQ(Run(FO_MOVE, {a_ + "one.txt"}, c).status, OperationResult::Status::Done);
    EXPECT_EQ(Get(c + "DESCRIPT.ION"), "one.txt first\r\n");
    EXPECT_EQ(ReadDescription(a_ + "one.txt"), "");
    EXPECT_TRUE(problems_.empty());
    for (const std::string& dir : {a_, b_, c})
        EXPECT_EQ(Leftovers(dir), 0) << dir;
}

TEST_F(Follow, RenameAndDeleteUpdateTheFolderFile)
{
    Put(a_ + "old.txt", "o");
    Put(a_ + "doomed.txt", "d");
    Put(a_ + "undescribed", "u");
    Put(a_ + "descript.ion", "old.txt o\r\ndoomed.txt d\r\nother x\r\n");

    ASSERT_EQ(Run(FO_RENAME, {a_ + "old.txt"}, a_ + "New Name.txt").status, OperationResult::Status::Done);
    EXPECT_EQ(Get(a_ + "descript.ion"), "doomed.txt d\r\nother x\r\n\"New Name.txt\" o\r\n");

    ASSERT_EQ(Run(FO_DELETE, {a_ + "doomed.txt"}, {}).status, OperationResult::Status::Done);
    EXPECT_EQ(Get(a_ + "descript.ion"), "other x\r\n\"New Name.txt\" o\r\n");

    // Nothing to carry or drop: the file is not rewritten.
    const ino_t before = InodeOf(a_ + "descript.ion");
    ASSERT_EQ(Run(FO_DELETE, {a_ + "undescribed"}, {}).status, OperationResult::Status::Done);
    EXPECT_EQ(InodeOf(a_ + "descript.ion"), before);
    ASSERT_EQ(Run(FO_RENAME, {a_ + "New Name.txt"}, a_ + "new name.txt").status, OperationResult::Status::Done);
    EXPECT_EQ(ReadDescription(a_ + "new name.txt"), "o");
    ASSERT_EQ(Run(FO_DELETE, {a_ + "descript.ion"}, {}).status, OperationResult::Status::Done);
    EXPECT_FALSE(Exists(a_ + "DESCRIPT.ION")); // deleting the file itself makes none
}

TEST_F(Follow, HeldRenamesAreWrittenTogetherFollowingTheirChains)
{
    for (const char* n : {"a", "b", "c"})
        Put(a_ + n, n);
    Put(a_ + "DESCRIPT.ION", "a A\r\nb B\r\nc C\r\nother O\r\n");
    DescriptionFollower follower([this](const std::string& text) { problems_.push_back(text); });
    follower.HoldUntilFlush(true);
    auto rename = [&](const char* from, const char* to) {
        ShellFileOperation op(ui_);
        op.SetObserver(&follower);
        ASSERT_EQ(op.Run(FO_RENAME, {a_ + from}, a_ + to).status, OperationResult::Status::Done);
    };
    // A swap through a free name, then a chain: c -> d, b -> c, a -> b.
    rename("a", "t");
    rename("b", "a");
    rename("t", "b");
    const ino_t before = InodeOf(a_ + "DESCRIPT.ION");
    rename("c", "d");
    rename("b", "c");
    rename("a", "b");
    EXPECT_EQ(InodeOf(a_ + "DESCRIPT.ION"), before); // nothing written before the flush
    follower.Flush();
    DescriptionList list;
    LoadDescriptions(a_, list);
    EXPECT_EQ(list.Size(), 4u);
    EXPECT_EQ(ReadDescription(a_ + "b"), "B");
    EXPECT_EQ(ReadDescription(a_ + "c"), "A");
    EXPECT_EQ(ReadDescription(a_ + "d"), "C");
    EXPECT_EQ(ReadDescription(a_ + "other"), "O");
    EXPECT_EQ(ReadDescription(a_ + "a"), "");
    EXPECT_TRUE(problems_.empty());
}

TEST_F(Follow, OnlyWhatWasDoneWholeIsCarried)
{
    for (const char* n : {"a.txt", "b.txt", "c.txt"})
        Put(a_ + n, std::string("new ") + n);
    Put(a_ + "DESCRIPT.ION", "a.txt A\r\nb.txt B\r\nc.txt C\r\n");
    Put(b_ + "b.txt", "existing");
    Put(b_ + "DESCRIPT.ION", "b.txt the old one\r\n");

    // A replace answered "No" carries nothing.
    ui_.replace = ReplaceAnswer::No;
    Run(FO_COPY, {a_ + "b.txt"}, b_);
    EXPECT_EQ(Get(b_ + "DESCRIPT.ION"), "b.txt the old one\r\n");
    ui_.replace = ReplaceAnswer::No;
    Run(FO_MOVE, {a_ + "b.txt"}, b_);
    EXPECT_EQ(Get(b_ + "DESCRIPT.ION"), "b.txt the old one\r\n");
    EXPECT_EQ(ReadDescription(a_ + "b.txt"), "B");

    // A cancelled move carries what moved before the cancel, nothing after.
    ui_.cancelAt = "c.txt";
    EXPECT_EQ(Run(FO_MOVE, {a_ + "a.txt", a_ + "c.txt"}, b_).status, OperationResult::Status::Cancelled);
    EXPECT_TRUE(Exists(b_ + "a.txt"));
    EXPECT_TRUE(Exists(a_ + "c.txt"));
    EXPECT_EQ(Get(b_ + "DESCRIPT.ION"), "b.txt the old one\r\na.txt A\r\n");
    EXPECT_EQ(Get(a_ + "DESCRIPT.ION"), "b.txt B\r\nc.txt C\r\n");
}

TEST_F(Follow, ALineLeavesItsFolderOnlyOnceItArrived)
{
    Put(a_ + "x.txt", "x");
    Put(a_ + "DESCRIPT.ION", "x.txt X\r\n");
    // Too large to be rewritten whole (a sparse file): the target's file
    // cannot take the line, so the source keeps it.
    const std::string big = b_ + "DESCRIPT.ION";
    Put(big, "");
    ASSERT_EQ(truncate(big.c_str(), 20 * 1024 * 1024), 0);
    ASSERT_EQ(Run(FO_MOVE, {a_ + "x.txt"}, b_).status, OperationResult::Status::Done);
    EXPECT_TRUE(Exists(b_ + "x.txt"));
    EXPECT_EQ(Get(a_ + "DESCRIPT.ION"), "x.txt X\r\n");
    ASSERT_EQ(problems_.size(), 1u);
    EXPECT_NE(problems_[0].find(big), std::string::npos);
}

} // namespace
} // namespace tarnel
