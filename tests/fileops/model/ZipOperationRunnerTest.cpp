// The archive's extract, add and delete as operations on the runner's
// workers, with drivers of the source's pool, their questions answered by a
// fake delegate (some later, from another thread).
#include "fileops/model/OperationRunner.h"
#include "fileops/model/SourceOperations.h"
#include "fileops/model/ZipBuilder.h"
#include "fileops/model/ZipMaster.h"
#include "panes/TempTree.h"
#include "sources/ZipSource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

namespace tarnel {
namespace {

using namespace std::chrono_literals;
using test::ZipBuilder;

struct FakeDelegate : OperationQuestions {
    std::mutex mutex;
    std::vector<OperationQuestion> asked;
    std::function<int(const OperationQuestion&)> answer = [](const OperationQuestion&) { return 0; };
    bool later = false; // answer from a thread of its own, after a while

    void Ask(const std::shared_ptr<Operation>&, const OperationQuestion& q, std::function<void(int)> reply) override
    {
        int a = 0;
        {
            std::lock_guard lock(mutex);
            asked.push_back(q);
            a = answer(q);
        }
        if (later)
            std::thread([reply, a] {
                std::this_thread::sleep_for(20ms);
                reply(a);
            }).detach();
        else
            reply(a);
    }
};

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class ZipOperationRunnerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        driver.OwnLibraryDirectory = TARNEL_ZIP_LIBRARY_DIR;
        ZipBuilder b;
        b.Add({"a/b/c.txt", "ccc"});
        b.Add({"d.txt", "dd"});
        archive = tree.Path() + "s.zip";
        std::ofstream(archive, std::ios::binary) << b.Bytes();
        tree.Dir("out");
        tree.Dir("in");
        std::ofstream(tree.Path() + "in/new.txt") << "fresh";
    }
    std::vector<std::string> Members()
    {
        TZipMaster reader;
        reader.OwnLibraryDirectory = TARNEL_ZIP_LIBRARY_DIR;
        reader.SetZipFilename(archive);
        std::vector<std::string> names;
        for (const ZipDirEntry& e : reader.ZipContents())
            names.push_back(e.FileName);
        std::sort(names.begin(), names.end());
        return names;
    }
    // A member's row as the listing makes it: it carries the member's index.
    SourceRow MemberRow(const std::string& zipPath, const std::string& name)
    {
        TZipMaster reader;
        reader.OwnLibraryDirectory = TARNEL_ZIP_LIBRARY_DIR;
        reader.SetZipFilename(archive);
        for (const ZipDirEntry& e : reader.ZipContents())
            if (e.FileName == zipPath + name)
                return {name, false, e.CentralIndex};
        ADD_FAILURE() << "no member " << name;
        return {name, false, -1};
    }
    PanePlace InArchive(const std::string& zipPath) const { return {archive + "/", 1, zipPath}; }
    PanePlace OnDisk(const std::string& dir) const { return {tree.Path() + dir + "/", 0, ""}; }

    // Runs code from from to to over rows through the runner; the result's
    // changes and the operation's end.
    OperationState Run(int code, const PanePlace& from, const PanePlace& to, std::vector<SourceRow> rows, RunMode mode,
                       bool fastMove = false)
    {
        result = std::make_shared<SourceOperationResult>();
        auto op = MakeSourceOperation(
            OperationKind::ZipExtract, "zip",
            [&](SourceOperationUi& ui) { return source.OperationFor(code, from, to, ui, {fastMove}); },
            std::move(rows), result);
        EXPECT_NE(op, nullptr);
        if (!op)
            return OperationState::Failed;
        op->SetQuestions(delegate);
        EXPECT_TRUE(runner.Start(op, mode));
        EXPECT_TRUE(runner.WaitAll(30s));
        return op->State();
    }

    test::TempTree tree;
    TZipMaster driver;
    ZipSource source{&driver};
    OperationRunner runner;
    std::shared_ptr<FakeDelegate> delegate = std::make_shared<FakeDelegate>();
    std::shared_ptr<SourceOperationResult> result;
    std::string archive;
};

TEST_F(ZipOperationRunnerTest, ExtractAsksBeforeReplacingAndTheLateAnswerGoesOn)
{
    for (const RunMode mode : {RunMode::Foreground, RunMode::Background}) {
        std::ofstream(tree.Path() + "out/d.txt") << "old";
        delegate->later = true;
        delegate->answer = [](const OperationQuestion& q) {
            return q.type == OperationQuestion::Type::Replace ? int(ReplaceAnswer::Yes) : 0;
        };
        EXPECT_EQ(Run(FO_COPY, InArchive(""), OnDisk("out"), {MemberRow("", "d.txt")}, mode), OperationState::Done);
        EXPECT_EQ(Slurp(tree.Path() + "out/d.txt"), "dd");
        ASSERT_FALSE(delegate->asked.empty());
        const OperationQuestion& q = delegate->asked.back();
        EXPECT_EQ(q.type, OperationQuestion::Type::Replace);
        EXPECT_TRUE(q.factsKnown);
        EXPECT_EQ(q.facts.incomingSize, 2u);
        EXPECT_STREQ(q.incomingLabel, "From the archive");
        EXPECT_TRUE(result->targetChanged);
        EXPECT_EQ(driver.ZipFilename(), "") << "the window's driver was not used";
    }
}

TEST_F(ZipOperationRunnerTest, MoveOutAsksBeforeDeletingAndNoKeepsTheMembers)
{
    delegate->answer = [](const OperationQuestion& q) {
        EXPECT_EQ(q.type, OperationQuestion::Type::Confirm);
        EXPECT_EQ(q.text, kDeleteFromZipText);
        return 0;
    };
    EXPECT_EQ(Run(FO_MOVE, InArchive("a/"), OnDisk("out"), {{"b", true, -1}}, RunMode::Background),
              OperationState::Done);
    EXPECT_EQ(Slurp(tree.Path() + "out/a/b/c.txt"), "ccc");
    EXPECT_EQ(Members(), (std::vector<std::string>{"a/b/c.txt", "d.txt"}));
}

TEST_F(ZipOperationRunnerTest, AddThenDeleteAndRefusals)
{
    EXPECT_EQ(Run(FO_COPY, OnDisk("in"), InArchive(""), {{"new.txt", false, -1}}, RunMode::Background),
              OperationState::Done);
    EXPECT_EQ(Members(), (std::vector<std::string>{"a/b/c.txt", "d.txt", "new.txt"}));
    EXPECT_TRUE(result->targetChanged);

    EXPECT_EQ(Run(FO_DELETE, InArchive(""), OnDisk("out"), {MemberRow("", "d.txt")}, RunMode::Foreground),
              OperationState::Done);
    EXPECT_EQ(Members(), (std::vector<std::string>{"a/b/c.txt", "new.txt"}));
    EXPECT_TRUE(result->sourceChanged);

    delegate->asked.clear();
    Run(FO_COPY, InArchive(""), InArchive("a/"), {{"new.txt", false, -1}}, RunMode::Foreground);
    ASSERT_EQ(delegate->asked.size(), 1u);
    EXPECT_EQ(delegate->asked[0].type, OperationQuestion::Type::Notice);
    EXPECT_EQ(delegate->asked[0].text, kBetweenZipsText);
}

} // namespace
} // namespace tarnel
