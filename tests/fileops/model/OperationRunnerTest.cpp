// Operations and their runner: states, pause and resume, questions answered
// later from another thread, cancelling while a question is open, the
// background slots, the per-volume queue, and the disk engine through it.
#include "fileops/model/OperationRunner.h"
#include "platform/DirectoryTotals.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

using namespace tarnel;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Waits up to 10 s for pred.
template <typename F>
bool Eventually(F pred)
{
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Holds every question until the test answers it, as a window's dialog would.
struct HeldQuestions : OperationQuestions {
    struct Held {
        OperationQuestion question;
        std::function<void(int)> reply;
    };
    std::mutex mutex;
    std::deque<Held> held;
    std::vector<OperationQuestion> asked;
    // Answered at once instead of held, when set.
    std::function<int(const OperationQuestion&)> answerNow;

    void Ask(const std::shared_ptr<Operation>&, const OperationQuestion& q, std::function<void(int)> reply) override
    {
        std::lock_guard lock(mutex);
        asked.push_back(q);
        if (answerNow) {
            reply(answerNow(q));
            return;
        }
        held.push_back({q, std::move(reply)});
    }
    size_t Open()
    {
        std::lock_guard lock(mutex);
        return held.size();
    }
    // Answers the oldest open question from a thread of its own.
    void AnswerFromAnotherThread(int answer)
    {
        Held h;
        {
            std::lock_guard lock(mutex);
            h = std::move(held.front());
            held.pop_front();
        }
        std::thread([reply = h.reply, answer] { reply(answer); }).join();
    }
};

// Work that steps until told to stop, reporting progress at each step.
struct Gate {
    std::mutex mutex;
    std::condition_variable cv;
    bool open = false;
    std::atomic<int> steps{0};
    void Open()
    {
        std::lock_guard lock(mutex);
        open = true;
        cv.notify_all();
    }
};

std::shared_ptr<Operation> GatedOperation(const std::shared_ptr<Gate>& gate, std::string title = "gated")
{
    return std::make_shared<Operation>(OperationKind::Copy, std::move(title), [gate](Operation& op) {
        for (;;) {
            ++gate->steps;
            if (!op.Report(uint64_t(gate->steps.load()), 100, 0, 0, "step"))
                return OperationState::Done;
            std::unique_lock lock(gate->mutex);
            if (gate->cv.wait_for(lock, 1ms, [&] { return gate->open; }))
                return OperationState::Done;
        }
    });
}

struct Ends {
    std::mutex mutex;
    std::vector<std::string> order;
    void operator()(const std::shared_ptr<Operation>& op, RunMode)
    {
        std::lock_guard lock(mutex);
        order.push_back(op->Title());
    }
    size_t Count()
    {
        std::lock_guard lock(mutex);
        return order.size();
    }
};

} // namespace

TEST(OperationTest, StatesRunPauseResumeAndEnd)
{
    auto gate = std::make_shared<Gate>();
    auto op = GatedOperation(gate);
    EXPECT_EQ(op->State(), OperationState::Queued);
    OperationRunner runner;
    ASSERT_TRUE(runner.Start(op, RunMode::Background));
    ASSERT_TRUE(Eventually([&] { return gate->steps > 0; }));
    EXPECT_EQ(op->State(), OperationState::Running);
    EXPECT_EQ(op->Progress().currentName, "step");

    op->Pause();
    EXPECT_EQ(op->State(), OperationState::Paused);
    std::this_thread::sleep_for(20ms);
    const int stepsWhilePaused = gate->steps;
    std::this_thread::sleep_for(50ms);
    // The step under way when the pause came may still finish; no more.
    EXPECT_LE(gate->steps - stepsWhilePaused, 1) << "a paused operation went on";

    op->Resume();
    ASSERT_TRUE(Eventually([&] { return gate->steps > stepsWhilePaused; }));
    EXPECT_EQ(op->State(), OperationState::Running);
    gate->Open();
    ASSERT_TRUE(runner.WaitAll(10s));
    EXPECT_EQ(op->State(), OperationState::Done);
    EXPECT_EQ(runner.ActiveCount(), 0);
}

TEST(OperationTest, CancelStopsRunningAndPausedWork)
{
    for (const bool pausedFirst : {false, true}) {
        auto gate = std::make_shared<Gate>();
        auto op = GatedOperation(gate);
        OperationRunner runner;
        runner.Start(op, RunMode::Foreground);
        ASSERT_TRUE(Eventually([&] { return gate->steps > 0; }));
        if (pausedFirst) {
            op->Pause();
            ASSERT_TRUE(Eventually([&] { return op->State() == OperationState::Paused; }));
        }
        op->Cancel();
        ASSERT_TRUE(runner.WaitAll(10s)) << "paused first: " << pausedFirst;
        EXPECT_EQ(op->State(), OperationState::Cancelled);
    }
}

TEST(OperationTest, QuestionWaitsForAnAnswerFromAnotherThreadOrForACancel)
{
    auto questions = std::make_shared<HeldQuestions>();
    auto makeAsking = [&](std::atomic<int>& got) {
        auto op = std::make_shared<Operation>(OperationKind::Copy, "asks", [&got](Operation& op) {
            OperationQuestion q;
            q.type = OperationQuestion::Type::Replace;
            q.path = "/x/a.txt";
            got = op.Ask(q);
            return OperationState::Done;
        });
        op->SetQuestions(questions);
        return op;
    };

    std::atomic<int> got{-1};
    auto answered = makeAsking(got);
    OperationRunner runner;
    runner.Start(answered, RunMode::Foreground);
    ASSERT_TRUE(Eventually([&] { return questions->Open() == 1; }));
    EXPECT_EQ(answered->State(), OperationState::Waiting);
    questions->AnswerFromAnotherThread(int(ReplaceAnswer::YesToAll));
    ASSERT_TRUE(runner.WaitAll(10s));
    EXPECT_EQ(got, int(ReplaceAnswer::YesToAll));
    EXPECT_EQ(answered->State(), OperationState::Done);

    // Cancelled while its question is open: the work gets "Cancel", and the
    // dialog's late answer finds nobody waiting.
    std::atomic<int> got2{-1};
    auto cancelled = makeAsking(got2);
    runner.Start(cancelled, RunMode::Background);
    ASSERT_TRUE(Eventually([&] { return questions->Open() == 1; }));
    cancelled->Cancel();
    ASSERT_TRUE(runner.WaitAll(10s));
    EXPECT_EQ(got2, int(ReplaceAnswer::Cancel));
    EXPECT_EQ(cancelled->State(), OperationState::Cancelled);
    questions->AnswerFromAnotherThread(int(ReplaceAnswer::Yes));
    EXPECT_EQ(got2, int(ReplaceAnswer::Cancel));
}

TEST(OperationRunnerTest, BackgroundSlotsAreThirtyAndFreeAgain)
{
    auto gate = std::make_shared<Gate>();
    OperationRunner runner;
    std::vector<std::shared_ptr<Operation>> ops;
    for (int i = 0; i < OperationRunner::kBackgroundSlots; ++i) {
        ops.push_back(GatedOperation(gate));
        ASSERT_TRUE(runner.Start(ops.back(), RunMode::Background));
    }
    EXPECT_FALSE(runner.Start(GatedOperation(gate), RunMode::Background));
    EXPECT_TRUE(runner.Start(GatedOperation(gate), RunMode::Foreground)) << "the foreground takes no slot";
    gate->Open();
    ASSERT_TRUE(runner.WaitAll(10s));
    EXPECT_TRUE(runner.Start(GatedOperation(gate), RunMode::Background));
    ASSERT_TRUE(runner.WaitAll(10s));
}

TEST(OperationRunnerTest, VolumeQueueRunsOneOperationPerVolumeInOrder)
{
    Ends ends;
    OperationRunner runner([&](const auto& op, RunMode mode) { ends(op, mode); });
    runner.SetVolumeQueue(true);
    std::vector<std::shared_ptr<Gate>> gates;
    std::vector<std::shared_ptr<Operation>> ops;
    const std::vector<std::string> volumes = {"disk1", "disk1", "disk2", "disk1"};
    for (size_t i = 0; i < volumes.size(); ++i) {
        gates.push_back(std::make_shared<Gate>());
        ops.push_back(GatedOperation(gates.back(), "op" + std::to_string(i)));
        ops.back()->SetVolume(volumes[i]);
        runner.Start(ops.back(), RunMode::Background);
    }
    ASSERT_TRUE(Eventually([&] { return gates[0]->steps > 0 && gates[2]->steps > 0; }));
    EXPECT_EQ(ops[1]->State(), OperationState::Queued);
    EXPECT_EQ(ops[3]->State(), OperationState::Queued);

    // Let the later ones go first: they must still wait their turn.
    gates[3]->Open();
    gates[1]->Open();
    gates[2]->Open();
    ASSERT_TRUE(Eventually([&] { return ops[2]->State() == OperationState::Done; }));
    EXPECT_EQ(ops[1]->State(), OperationState::Queued);
    gates[0]->Open();
    ASSERT_TRUE(runner.WaitAll(10s));
    for (const auto& op : ops)
        EXPECT_EQ(op->State(), OperationState::Done);
    // disk1's three ended in the order they were started.
    std::vector<std::string> disk1;
    for (const std::string& title : ends.order)
        if (title != "op2")
            disk1.push_back(title);
    EXPECT_EQ(disk1, (std::vector<std::string>{"op0", "op1", "op3"}));
}

TEST(OperationRunnerTest, WithoutTheQueueOperationsOnOneVolumeRunTogether)
{
    OperationRunner runner;
    auto a = std::make_shared<Gate>(), b = std::make_shared<Gate>();
    auto opA = GatedOperation(a), opB = GatedOperation(b);
    opA->SetVolume("disk1");
    opB->SetVolume("disk1");
    runner.Start(opA, RunMode::Background);
    runner.Start(opB, RunMode::Background);
    EXPECT_TRUE(Eventually([&] { return a->steps > 0 && b->steps > 0; }));
    // Turned on afterwards it does not stop what runs; turned on and off with
    // a queued one, that one starts.
    a->Open();
    b->Open();
    ASSERT_TRUE(runner.WaitAll(10s));

    runner.SetVolumeQueue(true);
    auto c = std::make_shared<Gate>(), d = std::make_shared<Gate>();
    auto opC = GatedOperation(c), opD = GatedOperation(d);
    opC->SetVolume("disk1");
    opD->SetVolume("disk1");
    runner.Start(opC, RunMode::Background);
    runner.Start(opD, RunMode::Background);
    ASSERT_TRUE(Eventually([&] { return c->steps > 0; }));
    EXPECT_EQ(opD->State(), OperationState::Queued);
    runner.SetVolumeQueue(false);
    EXPECT_TRUE(Eventually([&] { return d->steps > 0; }));
    c->Open();
    d->Open();
    ASSERT_TRUE(runner.WaitAll(10s));
}

// The quit: running, paused, waiting on a question and queued operations all
// end cancelled, and nothing new starts afterwards.
TEST(OperationRunnerTest, CancelAllEndsRunningPausedWaitingAndQueuedOperations)
{
    Ends ends;
    OperationRunner runner([&](const auto& op, RunMode mode) { ends(op, mode); });
    runner.SetVolumeQueue(true);
    auto questions = std::make_shared<HeldQuestions>();
    auto running = std::make_shared<Gate>(), paused = std::make_shared<Gate>();
    auto opRunning = GatedOperation(running);
    auto opPaused = GatedOperation(paused);
    auto opWaiting = std::make_shared<Operation>(OperationKind::Delete, "waits", [](Operation& op) {
        OperationQuestion q;
        q.type = OperationQuestion::Type::ConfirmTrash;
        q.count = 2;
        return op.Ask(q) ? OperationState::Done : OperationState::Failed;
    });
    opWaiting->SetQuestions(questions);
    opRunning->SetVolume("disk1");
    auto queued = std::make_shared<Gate>();
    auto opQueued = GatedOperation(queued);
    opQueued->SetVolume("disk1");
    runner.Start(opRunning, RunMode::Background);
    runner.Start(opPaused, RunMode::Background);
    runner.Start(opWaiting, RunMode::Foreground);
    runner.Start(opQueued, RunMode::Background);
    ASSERT_TRUE(Eventually([&] { return running->steps > 0 && paused->steps > 0 && questions->Open() == 1; }));
    opPaused->Pause();
    ASSERT_TRUE(Eventually([&] { return opPaused->State() == OperationState::Paused; }));

    runner.CancelAll();
    ASSERT_TRUE(runner.WaitAll(10s));
    for (const auto& op : {opRunning, opPaused, opWaiting, opQueued})
        EXPECT_EQ(op->State(), OperationState::Cancelled) << op->Title();
    EXPECT_EQ(queued->steps, 0) << "a queued operation started during the quit";
    EXPECT_EQ(ends.Count(), 4u);
    EXPECT_FALSE(runner.Start(GatedOperation(running), RunMode::Foreground));
}

// A worker that never returns (a dead mount) does not hold up the quit.
TEST(OperationRunnerTest, QuitDoesNotWaitForAStuckWorker)
{
    auto release = std::make_shared<Gate>();
    auto stuck = std::make_shared<Operation>(OperationKind::Copy, "stuck", [release](Operation&) {
        std::unique_lock lock(release->mutex);
        release->cv.wait(lock, [&] { return release->open; }); // deaf to cancel
        return OperationState::Done;
    });
    {
        OperationRunner runner;
        runner.Start(stuck, RunMode::Background);
        ASSERT_TRUE(Eventually([&] { return stuck->State() == OperationState::Running; }));
        runner.CancelAll();
        EXPECT_FALSE(runner.WaitAll(50ms));
    } // the runner is gone; its worker is not
    release->Open();
    EXPECT_TRUE(Eventually([&] { return stuck->State() == OperationState::Cancelled; }));
}

// The disk engine's copy, move, delete, rename and a new folder, in either
// mode, with questions answered by the fake delegate.
class EngineOperationTest : public ::testing::Test {
protected:
    std::string root;
    std::shared_ptr<HeldQuestions> questions = std::make_shared<HeldQuestions>();
    OperationRunner runner;

    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-oprun-XXXXXX";
        root = mkdtemp(tmpl);
        fs::create_directories(root + "/src/dir");
        fs::create_directories(root + "/dst");
        std::ofstream(root + "/src/a.txt") << "new";
        std::ofstream(root + "/src/dir/inner") << "x";
        std::ofstream(root + "/dst/a.txt") << "old";
    }
    void TearDown() override { fs::remove_all(root); }
    std::string Content(const std::string& path)
    {
        std::ifstream in(path);
        std::string s;
        std::getline(in, s);
        return s;
    }
    OperationState RunIt(const std::shared_ptr<Operation>& op, RunMode mode)
    {
        op->SetQuestions(questions);
        EXPECT_TRUE(runner.Start(op, mode));
        EXPECT_TRUE(runner.WaitAll(20s));
        return op->State();
    }
};

TEST_F(EngineOperationTest, CopyAndMoveAskAboutTheExistingFile)
{
    for (const RunMode mode : {RunMode::Foreground, RunMode::Background}) {
        std::ofstream(root + "/dst/a.txt") << "old";
        questions->answerNow = [](const OperationQuestion& q) {
            return q.type == OperationQuestion::Type::Replace ? int(ReplaceAnswer::No) : 0;
        };
        auto copy = MakeEngineOperation(FO_COPY, {root + "/src/a.txt", root + "/src/dir"}, root + "/dst");
        EXPECT_EQ(copy->Kind(), OperationKind::Copy);
        EXPECT_EQ(RunIt(copy, mode), OperationState::Done);
        ASSERT_FALSE(questions->asked.empty());
        EXPECT_EQ(questions->asked.back().path, root + "/dst/a.txt");
        EXPECT_TRUE(questions->asked.back().factsKnown);
        EXPECT_EQ(Content(root + "/dst/a.txt"), "old");
        EXPECT_EQ(Content(root + "/dst/dir/inner"), "x");
        EXPECT_GT(copy->Progress().itemsTotal, 0u) << "progress reached the snapshot";
        fs::remove_all(root + "/dst/dir");
    }
    questions->answerNow = [](const OperationQuestion&) { return int(ReplaceAnswer::Yes); };
    auto move = MakeEngineOperation(FO_MOVE, {root + "/src/a.txt"}, root + "/dst");
    EXPECT_EQ(RunIt(move, RunMode::Background), OperationState::Done);
    EXPECT_EQ(Content(root + "/dst/a.txt"), "new");
    EXPECT_FALSE(fs::exists(root + "/src/a.txt"));
}

TEST_F(EngineOperationTest, ReplaceQuestionAnsweredLaterContinuesOnTheRightFile)
{
    auto copy = MakeEngineOperation(FO_COPY, {root + "/src/a.txt"}, root + "/dst");
    copy->SetQuestions(questions);
    runner.Start(copy, RunMode::Foreground);
    ASSERT_TRUE(Eventually([&] { return questions->Open() == 1; }));
    EXPECT_EQ(copy->State(), OperationState::Waiting);
    EXPECT_EQ(Content(root + "/dst/a.txt"), "old") << "replaced before the answer";
    questions->AnswerFromAnotherThread(int(ReplaceAnswer::Yes));
    ASSERT_TRUE(runner.WaitAll(10s));
    EXPECT_EQ(Content(root + "/dst/a.txt"), "new");
}

TEST_F(EngineOperationTest, DeleteRenameAndNewFolder)
{
    questions->answerNow = [](const OperationQuestion& q) {
        return q.type == OperationQuestion::Type::ConfirmTrash ? 0 : int(DeleteAnswer::Yes);
    };
    // "No" to the trash: nothing goes.
    EXPECT_NE(RunIt(MakeEngineOperation(FO_DELETE, {root + "/src/a.txt"}, ""), RunMode::Foreground),
              OperationState::Cancelled);
    EXPECT_TRUE(fs::exists(root + "/src/a.txt"));
    EXPECT_EQ(questions->asked.back().type, OperationQuestion::Type::ConfirmTrash);
    EXPECT_EQ(questions->asked.back().count, 1u);

    questions->answerNow = nullptr;
    auto rename = MakeEngineOperation(FO_RENAME, {root + "/src/a.txt"}, root + "/src/b.txt");
    EXPECT_EQ(rename->Kind(), OperationKind::Rename);
    EXPECT_EQ(RunIt(rename, RunMode::Background), OperationState::Done);
    EXPECT_TRUE(fs::exists(root + "/src/b.txt"));

    EXPECT_EQ(RunIt(MakeFolderOperation(root + "/src/new"), RunMode::Foreground), OperationState::Done);
    EXPECT_TRUE(fs::is_directory(root + "/src/new"));
    // Again: it exists.
    EXPECT_EQ(RunIt(MakeFolderOperation(root + "/src/new"), RunMode::Background), OperationState::Failed);
}

TEST(OperationProgressTest, FractionStaysWithinOneWhileTotalsGrow)
{
    OperationProgress p{3, 2, 0, 0, ""};
    EXPECT_DOUBLE_EQ(p.Fraction(), 1.0);
    p = {0, 0, 150, 100, ""};
    EXPECT_DOUBLE_EQ(p.Fraction(), 1.0);
    p = {1, 4, 0, 0, ""};
    EXPECT_DOUBLE_EQ(p.Fraction(), 0.25);
}

// The properties' totals as an operation: sums what the paths hold, and a
// cancelled one leaves the totals as they were.
TEST_F(EngineOperationTest, TotalsSumTheSelectionAndStopWhenCancelled)
{
    auto totals = std::make_shared<DirectoryTotals>();
    auto op = MakeTotalsOperation({root + "/src/a.txt", root + "/src/dir"}, totals);
    EXPECT_EQ(op->Kind(), OperationKind::Totals);
    EXPECT_EQ(RunIt(op, RunMode::Background), OperationState::Done);
    EXPECT_EQ(totals->files, 2);
    EXPECT_EQ(totals->bytes, 4);
    EXPECT_EQ(totals->dirs, 1) << "several paths: a folder counts itself";

    auto cancelledTotals = std::make_shared<DirectoryTotals>();
    cancelledTotals->files = -1;
    auto cancelled = MakeTotalsOperation({root + "/src"}, cancelledTotals);
    cancelled->Pause(); // held at its first step until cancelled
    cancelled->SetQuestions(questions);
    runner.Start(cancelled, RunMode::Foreground);
    ASSERT_TRUE(Eventually([&] { return cancelled->State() == OperationState::Paused; }));
    cancelled->Cancel();
    ASSERT_TRUE(runner.WaitAll(10s));
    EXPECT_EQ(cancelled->State(), OperationState::Cancelled);
    EXPECT_EQ(cancelledTotals->files, -1);
}
