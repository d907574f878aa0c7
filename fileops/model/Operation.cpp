#include "fileops/model/Operation.h"

#include "platform/DirectoryTotals.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

namespace tarnel {

const char* KindName(OperationKind kind)
{
    switch (kind) {
    case OperationKind::Copy: return "Copy";
    case OperationKind::Move: return "Move";
    case OperationKind::Delete: return "Delete";
    case OperationKind::Rename: return "Rename";
    case OperationKind::MakeFolder: return "New folder";
    case OperationKind::ZipExtract: return "Extract";
    case OperationKind::ZipAdd: return "Add to archive";
    case OperationKind::ZipDelete: return "Delete from archive";
    case OperationKind::Totals: return "Totals";
    case OperationKind::ArchiveTest: return "Test archive";
    case OperationKind::ArchiveExtract: return "Extract archive";
    }
    return "";
}

const char* StateName(OperationState state)
{
    switch (state) {
    case OperationState::Queued: return "Queued";
    case OperationState::Running: return "Running";
    case OperationState::Paused: return "Paused";
    case OperationState::Waiting: return "Waiting for an answer";
    case OperationState::Done: return "Done";
    case OperationState::Cancelled: return "Cancelled";
    case OperationState::Failed: return "Failed";
    }
    return "";
}

double OperationProgress::Fraction() const
{
    const double part = bytesTotal ? double(bytesDone) / double(bytesTotal)
                                   : (itemsTotal ? double(itemsDone) / double(itemsTotal) : 0.0);
    return std::clamp(part, 0.0, 1.0);
}

int StopAnswer(OperationQuestion::Type type)
{
    switch (type) {
    case OperationQuestion::Type::Replace: return int(ReplaceAnswer::Cancel);
    case OperationQuestion::Type::Error: return int(ErrorAnswer::Cancel);
    case OperationQuestion::Type::DeletePermanently: return int(DeleteAnswer::Cancel);
    default: return 0;
    }
}

Operation::Operation(OperationKind kind, std::string title, Work work)
    : kind_(kind)
    , title_(std::move(title))
    , work_(std::move(work))
{
}

OperationProgress Operation::Progress() const
{
    std::lock_guard lock(mutex_);
    return progress_;
}

void Operation::SetState(OperationState s) { state_.store(s); }

void Operation::Cancel()
{
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    wake_.notify_all();
}

void Operation::Pause()
{
    std::lock_guard lock(mutex_);
    if (Finished(state_.load()))
        return;
    paused_ = true;
    if (state_.load() == OperationState::Running)
        SetState(OperationState::Paused);
}

void Operation::Resume()
{
    std::lock_guard lock(mutex_);
    paused_ = false;
    if (state_.load() == OperationState::Paused)
        SetState(OperationState::Running);
    wake_.notify_all();
}

bool Operation::CheckPoint()
{
    std::unique_lock lock(mutex_);
    if (paused_ && !cancelled_) {
        SetState(OperationState::Paused);
        wake_.wait(lock, [&] { return !paused_ || cancelled_; });
        if (!cancelled_)
            SetState(OperationState::Running);
    }
    return !cancelled_;
}

bool Operation::Report(const OperationProgress& progress)
{
    {
        std::lock_guard lock(mutex_);
        const std::string name = progress.currentName.empty() ? progress_.currentName : progress.currentName;
        progress_ = progress;
        progress_.currentName = name;
    }
    return CheckPoint();
}

bool Operation::Report(uint64_t itemsDone, uint64_t itemsTotal, uint64_t bytesDone, uint64_t bytesTotal,
                       const std::string& currentName)
{
    return Report(OperationProgress{itemsDone, itemsTotal, bytesDone, bytesTotal, currentName});
}

int Operation::Ask(const OperationQuestion& question)
{
    const int stop = StopAnswer(question.type);
    uint64_t number = 0;
    {
        std::lock_guard lock(mutex_);
        if (cancelled_ || !questions_)
            return stop;
        static std::atomic<uint64_t> lastQuestion{0};
        number = ++lastQuestion;
        question_ = number;
        answered_ = false;
        SetState(OperationState::Waiting);
    }
    // The reply may come from any thread, after this question is over or the
    // operation long gone: it holds the operation weakly and names its question.
    std::weak_ptr<Operation> weak = weak_from_this();
    questions_->Ask(shared_from_this(), question, [weak, number](int answer) {
        const std::shared_ptr<Operation> op = weak.lock();
        if (!op)
            return;
        std::lock_guard lock(op->mutex_);
        if (op->question_ != number || op->answered_)
            return;
        op->answered_ = true;
        op->answer_ = answer;
        op->wake_.notify_all();
    });
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [&] { return answered_ || cancelled_; });
    const int answer = cancelled_ ? stop : answer_;
    question_ = 0;
    if (!cancelled_)
        SetState(paused_ ? OperationState::Paused : OperationState::Running);
    lock.unlock();
    return answer;
}

void Operation::Run()
{
    if (cancelled_) {
        SetState(OperationState::Cancelled);
        return;
    }
    SetState(paused_ ? OperationState::Paused : OperationState::Running);
    OperationState end = OperationState::Failed;
    if (CheckPoint())
        end = work_(*this);
    work_ = nullptr; // what the work holds goes with the worker, not with whoever keeps the operation
    SetState(cancelled_ ? OperationState::Cancelled : end == OperationState::Done ? OperationState::Done
                                                                                : OperationState::Failed);
}

void Operation::MarkCancelledBeforeStart()
{
    Cancel();
    SetState(OperationState::Cancelled);
}

// ---- the disk engine through an operation

ReplaceAnswer OperationEngineUi::AskReplace(const std::string& path)
{
    OperationQuestion q;
    q.type = OperationQuestion::Type::Replace;
    q.path = path;
    return ReplaceAnswer(op_.Ask(q));
}

ReplaceAnswer OperationEngineUi::AskReplaceKnown(const std::string& path, const ReplaceFacts& facts)
{
    OperationQuestion q;
    q.type = OperationQuestion::Type::Replace;
    q.path = path;
    q.factsKnown = true;
    q.facts = facts;
    return ReplaceAnswer(op_.Ask(q));
}

bool OperationEngineUi::ConfirmCreateFolder(const std::string& path)
{
    OperationQuestion q;
    q.type = OperationQuestion::Type::CreateFolder;
    q.path = path;
    return op_.Ask(q) != 0;
}

ErrorAnswer OperationEngineUi::AskError(const std::string& what, const std::string& path, int error)
{
    OperationQuestion q;
    q.type = OperationQuestion::Type::Error;
    q.what = what;
    q.path = path;
    q.error = error;
    return ErrorAnswer(op_.Ask(q));
}

bool OperationEngineUi::ConfirmTrash(size_t count)
{
    OperationQuestion q;
    q.type = OperationQuestion::Type::ConfirmTrash;
    q.count = count;
    return op_.Ask(q) != 0;
}

DeleteAnswer OperationEngineUi::AskDeletePermanently(const std::string& path)
{
    OperationQuestion q;
    q.type = OperationQuestion::Type::DeletePermanently;
    q.path = path;
    return DeleteAnswer(op_.Ask(q));
}

void OperationEngineUi::Refused(const std::string& text)
{
    OperationQuestion q;
    q.type = OperationQuestion::Type::Inform;
    q.text = text;
    op_.Ask(q);
}

bool OperationEngineUi::Progress(uint64_t itemsDone, uint64_t itemsTotal, uint64_t bytesDone, uint64_t bytesTotal,
                                 const std::string& currentName)
{
    return op_.Report(itemsDone, itemsTotal, bytesDone, bytesTotal, currentName);
}

namespace {

OperationKind KindOfCode(int code)
{
    switch (code) {
    case FO_MOVE: return OperationKind::Move;
    case FO_DELETE: return OperationKind::Delete;
    case FO_RENAME: return OperationKind::Rename;
    default: return OperationKind::Copy;
    }
}

std::string TitleOf(int code, const std::vector<std::string>& sources, const std::string& target)
{
    std::string title = KindName(KindOfCode(code));
    title += sources.size() == 1 ? " " + sources.front() : " " + std::to_string(sources.size()) + " items";
    if (code == FO_COPY || code == FO_MOVE)
        title += " to " + target;
    else if (code == FO_RENAME)
        title += " to " + target;
    return title;
}

} // namespace

std::shared_ptr<Operation> MakeEngineOperation(int code, std::vector<std::string> sources, std::string target,
                                               unsigned flags, std::shared_ptr<OperationObserver> observer,
                                               FileSystem* fs)
{
    std::string title = TitleOf(code, sources, target);
    return std::make_shared<Operation>(
        KindOfCode(code), std::move(title),
        [code, sources = std::move(sources), target = std::move(target), flags, observer = std::move(observer),
         fs](Operation& op) {
            OperationEngineUi ui(op);
            ShellFileOperation engine(ui, fs ? *fs : RealFileSystem());
            engine.SetObserver(observer.get());
            const OperationResult result = engine.Run(code, sources, target, flags);
            return result.status == OperationResult::Status::Failed ? OperationState::Failed : OperationState::Done;
        });
}

std::shared_ptr<Operation> MakeTotalsOperation(std::vector<std::string> paths, std::shared_ptr<DirectoryTotals> totals)
{
    std::string title = "Totals of " + (paths.size() == 1 ? paths.front() : std::to_string(paths.size()) + " items");
    return std::make_shared<Operation>(OperationKind::Totals, std::move(title), [paths, totals](Operation& op) {
        DirectoryTotals sum;
        for (const std::string& p : paths) {
            struct stat st {};
            if (op.Cancelled() || lstat(p.c_str(), &st) != 0)
                continue;
            op.Report(uint64_t(sum.files), 0, uint64_t(sum.bytes), 0, p);
            if (S_ISDIR(st.st_mode)) {
                DirectoryWalker walker(op.CancelFlag(), ClusterSizeOf(p));
                walker.Walk(p, sum);
                if (paths.size() > 1) // one folder tells what it holds, not itself
                    ++sum.dirs;
            } else {
                ++sum.files;
                if (S_ISREG(st.st_mode))
                    sum.bytes += st.st_size;
            }
        }
        *totals = sum;
        return OperationState::Done;
    });
}

std::shared_ptr<Operation> MakeFolderOperation(std::string path)
{
    std::string title = "New folder " + path;
    return std::make_shared<Operation>(OperationKind::MakeFolder, std::move(title), [path](Operation& op) {
        op.Report(0, 1, 0, 0, path);
        if (mkdir(path.c_str(), 0777) != 0)
            return OperationState::Failed; // whoever started it says so, with the name it was given
        op.Report(1, 1, 0, 0, path);
        return OperationState::Done;
    });
}

} // namespace tarnel
