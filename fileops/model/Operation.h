#pragma once
// One piece of long work (a copy, a move, an archive extraction, a totals
// walk): what it is, where it stands, how far it has come. The work runs on a
// worker thread; the window reads the progress snapshot from a timer, answers
// the questions the work asks without blocking, and may pause, resume or
// cancel it at any time.
#include "platform/ShellFileOperation.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace tarnel {

enum class OperationKind {
    Copy, Move, Delete, Rename, MakeFolder, // the disk engine
    ZipExtract, ZipAdd, ZipDelete,          // an archive
    Totals,                                 // the properties' sizes and counts
    ArchiveTest, ArchiveExtract,            // the RAR page's walks
};

enum class OperationState { Queued, Running, Paused, Waiting, Done, Cancelled, Failed };

inline bool Finished(OperationState s)
{
    return s == OperationState::Done || s == OperationState::Cancelled || s == OperationState::Failed;
}

const char* KindName(OperationKind kind);
const char* StateName(OperationState state);

struct OperationProgress {
    uint64_t itemsDone = 0, itemsTotal = 0, bytesDone = 0, bytesTotal = 0;
    std::string currentName;
    // 0..1; totals grow while a move finds it has to copy, so never above 1.
    double Fraction() const;
};

// Something the work needs the user to decide. The answer is an int: the
// value of the enum the type names (ReplaceAnswer, ErrorAnswer, DeleteAnswer)
// or 1/0 for yes/no.
struct OperationQuestion {
    enum class Type {
        Replace,           // ReplaceAnswer; facts when known
        Error,             // ErrorAnswer: what + path + strerror(error)
        ConfirmTrash,      // yes/no: count items to the trash
        DeletePermanently, // DeleteAnswer
        CreateFolder,      // yes/no: path does not exist
        Confirm,           // yes/no: text
        Inform,            // text: why an item was left alone; the answer is ignored
        Notice,            // text: a plain note; the answer is ignored
        ErrorText,         // text: an error; the answer is ignored
    };
    Type type = Type::Inform;
    std::string path;
    std::string what;
    std::string text;
    int error = 0;
    size_t count = 0;
    bool factsKnown = false;
    ReplaceFacts facts;
    const char* incomingLabel = "Replace with"; // the replace question's second line
};

// The answer that stops: what a question gets when its operation is cancelled.
int StopAnswer(OperationQuestion::Type type);

class Operation;

// Asks the user. Called on the operation's thread; must return at once and
// call reply later (any thread, at most once). A reply after the operation
// was cancelled is ignored.
class OperationQuestions {
public:
    virtual ~OperationQuestions() = default;
    virtual void Ask(const std::shared_ptr<Operation>& operation, const OperationQuestion& question,
                     std::function<void(int answer)> reply) = 0;
};

class Operation : public std::enable_shared_from_this<Operation> {
public:
    // Runs on the worker; returns Done or Failed (Cancelled is taken from
    // the cancel token whatever the work says).
    using Work = std::function<OperationState(Operation&)>;

    Operation(OperationKind kind, std::string title, Work work);

    OperationKind Kind() const { return kind_; }
    const std::string& Title() const { return title_; }
    OperationState State() const { return state_.load(); }
    OperationProgress Progress() const;

    // A key of the volume written to ("" for none): with the runner's queue
    // on, work onto the same volume runs one at a time.
    void SetVolume(std::string key) { volume_ = std::move(key); }
    const std::string& Volume() const { return volume_; }
    void SetQuestions(std::shared_ptr<OperationQuestions> questions) { questions_ = std::move(questions); }
    // The runner's number for it (the background slot's id).
    void SetId(uint16_t id) { id_ = id; }
    uint16_t Id() const { return id_; }

    // Any thread. Cancel wakes a paused operation and answers an open question "stop".
    void Cancel();
    bool Cancelled() const { return cancelled_.load(); }
    // For work that looks at a stop flag itself (a tree walk).
    const std::atomic<bool>& CancelFlag() const { return cancelled_; }
    void Pause();
    void Resume();
    bool PauseRequested() const { return paused_.load(); }

    // The worker's side. Report stores the snapshot and then waits while the
    // operation is paused; false once cancelled.
    bool Report(const OperationProgress& progress);
    bool Report(uint64_t itemsDone, uint64_t itemsTotal, uint64_t bytesDone, uint64_t bytesTotal,
                const std::string& currentName);
    // Waits while paused; false once cancelled.
    bool CheckPoint();
    // Blocks until the answer or a cancel; without a delegate the answer is "stop".
    int Ask(const OperationQuestion& question);

    // The runner's side.
    void Run();
    void MarkCancelledBeforeStart();

private:
    void SetState(OperationState s);

    const OperationKind kind_;
    const std::string title_;
    Work work_;
    std::string volume_;
    uint16_t id_ = 0;
    std::shared_ptr<OperationQuestions> questions_;

    std::atomic<OperationState> state_{OperationState::Queued};
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> paused_{false};

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    OperationProgress progress_;
    uint64_t question_ = 0; // the open question's number; 0 when none
    bool answered_ = false;
    int answer_ = 0;
};

// The disk engine's questions and progress, carried by an operation.
class OperationEngineUi final : public OperationUi {
public:
    explicit OperationEngineUi(Operation& operation) : op_(operation) {}
    ReplaceAnswer AskReplace(const std::string& path) override;
    ReplaceAnswer AskReplaceKnown(const std::string& path, const ReplaceFacts& facts) override;
    bool ConfirmCreateFolder(const std::string& path) override;
    ErrorAnswer AskError(const std::string& what, const std::string& path, int error) override;
    bool ConfirmTrash(size_t count) override;
    DeleteAnswer AskDeletePermanently(const std::string& path) override;
    void Refused(const std::string& text) override;
    bool Progress(uint64_t itemsDone, uint64_t itemsTotal, uint64_t bytesDone, uint64_t bytesTotal,
                  const std::string& currentName) override;

private:
    Operation& op_;
};

// A copy, move, delete or rename of the disk engine (code: FileOperationCode)
// as an operation. observer (may be null) is told of finished entries.
std::shared_ptr<Operation> MakeEngineOperation(int code, std::vector<std::string> sources, std::string target,
                                               unsigned flags = kDefaultFileOperationFlags,
                                               std::shared_ptr<OperationObserver> observer = nullptr,
                                               FileSystem* fs = nullptr);

struct DirectoryTotals;
// Sums sizes and counts over paths into totals: a folder tells what it holds
// (and counts itself when several are summed). Stops at its next entry once cancelled.
std::shared_ptr<Operation> MakeTotalsOperation(std::vector<std::string> paths, std::shared_ptr<DirectoryTotals> totals);

// A new folder at path (its parent must exist); Failed when it cannot be made.
std::shared_ptr<Operation> MakeFolderOperation(std::string path);

} // namespace tarnel
