// The find: a parallel walk by descriptor over a stack of folders shared by
// the workers, and one monitor thread that alone talks to the sink (hits in
// batches, counts, notes, the end) and notices workers that stopped moving.
#include "fileops/model/ZipDirectory.h"
#include "platform/RegularFile.h"
#include "platform/zipdll/ZipCentral.h"
#include "sources/archive/ArchiveNames.h"
#include "sources/archive/ArchiveTable.h"
#include "tools/model/FindNames.h"
#include "tools/model/FindQuery.h"
#include "tools/model/FindText.h"
#include "tools/model/FindWalk.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {

std::atomic<int> threadsAlive{0};

struct ThreadCount {
    ThreadCount() { ++threadsAlive; }
    ~ThreadCount() { --threadsAlive; }
};

struct DirFd {
    explicit DirFd(int f) : fd(f) {}
    ~DirFd() { ::close(fd); }
    DirFd(const DirFd&) = delete;
    DirFd& operator=(const DirFd&) = delete;
    int fd;
};

struct DirTask {
    std::shared_ptr<DirFd> parent; // null for a start folder
    std::string name;              // in parent; the path itself for a start folder
    std::string path;              // ends in "/"
    dev_t rootDevice = 0;          // of the start folder it lies under
    bool link = false;             // reached through a symbolic link
};

struct WorkerSlot {
    std::atomic<bool> busy{false};
    std::atomic<int64_t> progress{0};
    bool stalled = false; // State::mutex

    void SetWhere(std::string path)
    {
        std::lock_guard lock(whereMutex);
        where = std::move(path);
    }
    std::string Where()
    {
        std::lock_guard lock(whereMutex);
        return where;
    }

private:
    std::mutex whereMutex;
    std::string where;
};

constexpr size_t kMostNotes = 200;
constexpr int kMostReplacements = 16;
constexpr auto kTick = std::chrono::milliseconds(25);

struct State {
    explicit State(const FindQuery& q) : query(q), names(q.namePatterns) {}

    const FindQuery query;
    const FindNamePatterns names;
    std::shared_ptr<const ContentPattern> content;
    std::shared_ptr<FindSink> sink; // the monitor's; let go once Finished is said
    int quietMs = kFindQuietMilliseconds;

    std::mutex mutex;
    std::condition_variable workCv, monitorCv;
    std::vector<DirTask> tasks; // a stack: deepest first keeps few folders open
    std::vector<std::shared_ptr<WorkerSlot>> slots;
    int activeBusy = 0;  // workers on a task, stalled ones left out
    bool done = false;   // no more work will be taken or reported
    std::vector<FindHit> pending;
    std::vector<std::string> notes;
    size_t notesDropped = 0;
    std::set<std::pair<dev_t, ino_t>> visited;
    int replacements = 0;

    std::atomic<bool> stop{false};
    std::atomic<bool> sentAny{false};
    std::atomic<uint64_t> folders{0}, files{0}, found{0};

    void AddNote(std::string text)
    {
        std::lock_guard lock(mutex);
        if (done)
            return;
        if (notes.size() < kMostNotes)
            notes.push_back(std::move(text));
        else
            ++notesDropped;
    }
};

bool IsZipName(const std::string& name)
{
    return name.size() > 4 && name[name.size() - 4] == '.' && (name[name.size() - 3] | 0x20) == 'z' &&
           (name[name.size() - 2] | 0x20) == 'i' && (name[name.size() - 1] | 0x20) == 'p';
}

std::string ErrorText(int error) { return std::strerror(error); }

void Worker(std::shared_ptr<State> s, std::shared_ptr<WorkerSlot> slot);

// What one worker keeps from folder to folder.
class Walker {
public:
    Walker(State& s, WorkerSlot& slot) : s_(s), slot_(slot), dents_(kDentsSize)
    {
        if (s.content)
            scanner_ = std::make_unique<ContentScanner>(s.content);
    }
    ~Walker() { Flush(true); }

    void Read(DirTask& task);

private:
    static constexpr size_t kDentsSize = 64 * 1024;

    void Touch() { slot_.progress.store(SteadyMilliseconds(), std::memory_order_relaxed); }
    bool Stopped() const { return s_.stop.load(std::memory_order_relaxed); }
    bool PassesTime(int64_t modified) const
    {
        return (!s_.query.modifiedAfter || modified >= *s_.query.modifiedAfter) &&
               (!s_.query.modifiedBefore || modified <= *s_.query.modifiedBefore);
    }
    bool PassesSize(int64_t size) const
    {
        return (!s_.query.minSize || size >= *s_.query.minSize) && (!s_.query.maxSize || size <= *s_.query.maxSize);
    }
    bool SizeLimited() const { return s_.query.minSize || s_.query.maxSize; }
    void Hit(FindHit&& hit)
    {
        hits_.push_back(std::move(hit));
        // The first hit goes out at once: it is what the user waits to see.
        if (hits_.size() >= 256 || scanner_ || !s_.sentAny.load(std::memory_order_relaxed))
            Flush(false);
    }
    void Flush(bool counts);
    void NameHit(int dirFd, const DirTask& task, const char* name, struct stat* known);
    void ContentHit(int dirFd, const DirTask& task, const char* name, bool viaLink);
    void Archive(int dirFd, const DirTask& task, const char* name, bool viaLink);

    State& s_;
    WorkerSlot& slot_;
    std::vector<char> dents_;
    std::unique_ptr<ContentScanner> scanner_;
    std::vector<FindHit> hits_;
    std::vector<DirTask> subfolders_;
    uint64_t folders_ = 0, files_ = 0;
};

void Walker::Flush(bool counts)
{
    if (!hits_.empty()) {
        std::lock_guard lock(s_.mutex);
        if (!s_.done) {
            s_.found += hits_.size();
            const bool first = !s_.sentAny.load();
            std::move(hits_.begin(), hits_.end(), std::back_inserter(s_.pending));
            if (first)
                s_.monitorCv.notify_one();
        }
        hits_.clear();
    }
    if (counts) {
        s_.folders += folders_;
        s_.files += files_;
        folders_ = files_ = 0;
    }
}

void Walker::Read(DirTask& task)
{
    const bool start = !task.parent;
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK;
    const int fd = start ? ::open(task.name.c_str(), flags)
                         : ::openat(task.parent->fd, task.name.c_str(), flags | (task.link ? 0 : O_NOFOLLOW));
    const int openError = errno;
    Touch();
    task.parent.reset(); // its folder's descriptor closes once every child is open
    if (fd < 0) {
        // A folder that went away or was swapped for a link meanwhile is no news.
        if (start || (openError != ENOENT && openError != ELOOP && openError != ENOTDIR))
            s_.AddNote("Cannot read " + task.path + ": " + ErrorText(openError));
        return;
    }
    const auto dir = std::make_shared<DirFd>(fd);
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return;
    Touch();
    {
        std::lock_guard lock(s_.mutex);
        // Once only: a folder reached again through a link, a mount or an
        // overlapping start folder would be walked twice, or forever.
        if (!s_.visited.insert({st.st_dev, st.st_ino}).second)
            return;
    }
    const dev_t root = start ? st.st_dev : task.rootDevice;
    // A folder is named by its parent's reader only once it is open here, so
    // that a folder that does not answer holds up no more than this worker.
    if (!start && !s_.content && !SizeLimited() && s_.names.Takes(task.name) && PassesTime(st.st_mtime)) {
        FindHit hit;
        hit.directory = task.path.substr(0, task.path.size() - task.name.size() - 1);
        hit.name = task.name;
        hit.folder = true;
        hit.modified = st.st_mtime;
        Hit(std::move(hit));
    }
    if (s_.query.oneFileSystem && st.st_dev != root)
        return; // a mount point: named, not entered
    ++folders_;
    for (;;) {
        const ssize_t n = ::getdents64(fd, dents_.data(), dents_.size());
        Touch();
        if (n <= 0) {
            if (n < 0)
                s_.AddNote("Cannot read " + task.path + ": " + ErrorText(errno));
            break;
        }
        for (ssize_t pos = 0; pos < n;) {
            if (Stopped())
                return;
            const auto* d = reinterpret_cast<const struct dirent64*>(dents_.data() + pos);
            pos += d->d_reclen;
            const char* name = d->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                continue;
            ++files_;
            unsigned type = d->d_type;
            struct stat est;
            bool haveStat = false, viaLink = false;
            if (type == DT_UNKNOWN) {
                if (::fstatat(fd, name, &est, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                haveStat = true;
                type = IFTODT(est.st_mode);
            }
            if (type == DT_LNK && s_.query.followLinks && ::fstatat(fd, name, &est, 0) == 0) {
                haveStat = true;
                viaLink = true;
                type = IFTODT(est.st_mode);
            }
            if (type == DT_DIR) {
                if ((s_.query.skipHiddenFolders && name[0] == '.') || s_.names.LeavesOut(name))
                    continue;
                DirTask sub;
                sub.parent = dir;
                sub.name = name;
                sub.path = task.path + name + "/";
                sub.rootDevice = root;
                sub.link = viaLink;
                subfolders_.push_back(std::move(sub));
                continue;
            }
            if (s_.query.insideArchives && !s_.content && type == DT_REG &&
                (IsZipName(name) || HasArchiveSuffix(name)) && !s_.names.LeavesOut(name))
                Archive(fd, task, name, viaLink);
            if (!s_.names.Takes(name))
                continue;
            if (s_.content) {
                if (type == DT_REG)
                    ContentHit(fd, task, name, viaLink);
                continue;
            }
            NameHit(fd, task, name, haveStat ? &est : nullptr);
        }
    }
    if (!subfolders_.empty()) {
        std::lock_guard lock(s_.mutex);
        if (!s_.done) {
            // Reversed onto the stack: the folder's subfolders are taken in listing order.
            std::move(subfolders_.rbegin(), subfolders_.rend(), std::back_inserter(s_.tasks));
            s_.workCv.notify_all();
        }
        subfolders_.clear();
    }
    Flush(true);
}

void Walker::NameHit(int dirFd, const DirTask& task, const char* name, struct stat* known)
{
    FindHit hit;
    if (s_.query.sizesAndTimes || SizeLimited() || s_.query.modifiedAfter || s_.query.modifiedBefore) {
        struct stat st;
        if (!known) {
            if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                return;
            known = &st;
        }
        if (!PassesSize(known->st_size) || !PassesTime(known->st_mtime))
            return;
        hit.size = known->st_size;
        hit.modified = known->st_mtime;
    }
    hit.directory = task.path;
    hit.name = name;
    Hit(std::move(hit));
}

void Walker::ContentHit(int dirFd, const DirTask& task, const char* name, bool viaLink)
{
    const int f = OpenRegularFileAt(dirFd, name, viaLink);
    Touch();
    if (f < 0)
        return; // swapped for something else since it was listed, or not ours to read
    struct stat st;
    if (::fstat(f, &st) != 0 || !PassesSize(st.st_size) || !PassesTime(st.st_mtime)) {
        ::close(f);
        return;
    }
    slot_.SetWhere(task.path + name);
    const ContentResult r = scanner_->Scan(f, s_.query.binaryFilesToo, s_.stop, &slot_.progress, st.st_size);
    ::close(f);
    if (r.outcome == ContentResult::ReadError) {
        s_.AddNote("Cannot read " + task.path + name + ": " + ErrorText(r.error));
        return;
    }
    if (r.outcome != ContentResult::Matched)
        return;
    FindHit hit;
    hit.directory = task.path;
    hit.name = name;
    hit.size = st.st_size;
    hit.modified = st.st_mtime;
    hit.lineNumber = r.lineNumber;
    hit.matchOffset = r.matchOffset;
    hit.matchLength = r.matchLength;
    hit.lineOffset = r.lineOffset;
    hit.lineText = r.lineText;
    Hit(std::move(hit));
}

// Members by name, through the tables the panes list; their content is not searched.
void Walker::Archive(int dirFd, const DirTask& task, const char* name, bool viaLink)
{
    const std::string archive = task.path + name;
    slot_.SetWhere(archive);
    struct Member {
        std::string path;
        bool folder = false;
        int64_t size = 0;
        int64_t modified = 0;
    };
    std::vector<Member> contents;
    if (IsZipName(name)) {
        const int f = OpenRegularFileAt(dirFd, name, viaLink);
        Touch();
        if (f < 0)
            return;
        std::vector<ZipDirEntry> zip;
        try {
            ReadArchiveDirectoryFromFd(f, archive, zip); // closes f
        } catch (const ZipReadError& e) {
            s_.AddNote(archive + ": " + e.what());
        }
        for (const ZipDirEntry& e : zip)
            contents.push_back({e.FileName, e.IsDirectory(), int64_t(e.UncompressedSize),
                                zipcentral::UnixTimeFromDos(e.DateTime)});
    } else {
        // Read by the path just listed: the table reader opens regular files only.
        const CancelToken never;
        const std::shared_ptr<const ArchiveTable> table = ReadArchiveTable(archive, never);
        if (table && !table->problem.empty())
            s_.AddNote(archive + ": " + table->problem);
        if (table)
            for (const ArchiveMember& m : table->members)
                if (!m.unsafe && !m.top)
                    contents.push_back({m.path + (m.type == ArchiveMember::Type::Folder ? "/" : ""),
                                        m.type == ArchiveMember::Type::Folder, m.size, m.mtime});
    }
    Touch();
    // Each folder named once, whether stored as a member or implied by one.
    std::set<std::string> folders;
    const auto skippedFolder = [this](std::string_view part) {
        return (s_.query.skipHiddenFolders && !part.empty() && part.front() == '.') || s_.names.LeavesOut(part);
    };
    for (const Member& e : contents) {
        const std::string& path = e.path;
        if (path.empty() || path.front() == '/')
            continue;
        ++files_;
        bool skipped = false;
        size_t from = 0;
        for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', from)) {
            const std::string_view part(path.data() + from, slash - from);
            if (part.empty() || skippedFolder(part)) {
                skipped = true;
                break;
            }
            folders.insert(path.substr(0, slash + 1));
            from = slash + 1;
        }
        if (skipped || e.folder)
            continue;
        const std::string leaf = path.substr(from);
        const int64_t modified = e.modified;
        if (!s_.names.Takes(leaf) || !PassesSize(e.size) || !PassesTime(modified))
            continue;
        FindHit hit;
        hit.archive = archive;
        hit.directory = path.substr(0, from);
        hit.name = leaf;
        hit.size = e.size;
        hit.modified = modified;
        Hit(std::move(hit));
    }
    if (SizeLimited())
        return;
    for (const std::string& folder : folders) {
        const size_t cut = folder.rfind('/', folder.size() - 2);
        const size_t from = cut == std::string::npos ? 0 : cut + 1;
        const std::string leaf = folder.substr(from, folder.size() - 1 - from);
        if (!s_.names.Takes(leaf))
            continue;
        FindHit hit;
        hit.archive = archive;
        hit.directory = folder.substr(0, from);
        hit.name = leaf;
        hit.folder = true;
        Hit(std::move(hit));
    }
}

void StartWorker(const std::shared_ptr<State>& s)
{
    auto slot = std::make_shared<WorkerSlot>();
    {
        std::lock_guard lock(s->mutex);
        s->slots.push_back(slot);
    }
    std::thread(Worker, s, std::move(slot)).detach();
}

void Worker(std::shared_ptr<State> s, std::shared_ptr<WorkerSlot> slot)
{
    ThreadCount alive;
    Walker walker(*s, *slot);
    for (;;) {
        DirTask task;
        {
            std::unique_lock lock(s->mutex);
            s->workCv.wait(lock, [&] { return s->done || !s->tasks.empty(); });
            if (s->done)
                break;
            task = std::move(s->tasks.back());
            s->tasks.pop_back();
            ++s->activeBusy;
            slot->progress.store(SteadyMilliseconds());
            slot->busy = true;
        }
        slot->SetWhere(task.path);
        walker.Read(task);
        std::lock_guard lock(s->mutex);
        slot->busy = false;
        if (slot->stalled)
            slot->stalled = false; // left out of the count when it was found stalled
        else
            --s->activeBusy;
        if (!s->done && s->tasks.empty() && s->activeBusy == 0) {
            s->done = true;
            s->workCv.notify_all();
            s->monitorCv.notify_one();
        }
    }
}

void Monitor(std::shared_ptr<State> s)
{
    ThreadCount alive;
    FindCounts said;
    for (;;) {
        std::vector<FindHit> hits;
        std::vector<std::string> notes;
        size_t dropped = 0;
        int stalls = 0;
        bool finish = false, stopped = false;
        {
            std::unique_lock lock(s->mutex);
            s->monitorCv.wait_for(lock, kTick, [&] {
                return s->done || s->stop.load() || (!s->sentAny.load() && !s->pending.empty());
            });
            stopped = s->stop.load();
            const int64_t now = SteadyMilliseconds();
            for (const auto& slot : s->slots) {
                if (!slot->busy.load() || slot->stalled || now - slot->progress.load() < s->quietMs)
                    continue;
                // Left behind: it wakes, if ever, into state it shares, and finds the find over.
                slot->stalled = true;
                --s->activeBusy;
                s->notes.push_back(slot->Where() + " does not answer");
                ++stalls;
            }
            if (!s->done && (stopped || (s->tasks.empty() && s->activeBusy == 0))) {
                s->done = true;
                s->workCv.notify_all();
            }
            finish = s->done;
            if (!stopped) {
                hits.swap(s->pending);
                notes.swap(s->notes);
                dropped = s->notesDropped;
                s->notesDropped = 0;
                if (!hits.empty())
                    s->sentAny = true;
            }
            if (finish || s->replacements >= kMostReplacements)
                stalls = 0;
            s->replacements += stalls;
        }
        // The work a stalled worker would have taken goes on without it.
        for (int i = 0; i < stalls; ++i)
            StartWorker(s);
        FindSink& sink = *s->sink;
        if (!hits.empty())
            sink.Found(std::move(hits));
        for (const std::string& note : notes)
            sink.Note(note);
        if (dropped > 0)
            sink.Note(std::to_string(dropped) + " more folders or files could not be read");
        const FindCounts counts{s->folders.load(), s->files.load(), s->found.load()};
        if (counts.folders != said.folders || counts.files != said.files || counts.found != said.found) {
            sink.Counts(counts);
            said = counts;
        }
        if (finish) {
            sink.Finished(stopped);
            std::lock_guard lock(s->mutex);
            s->sink.reset();
            return;
        }
    }
}

class Job : public FindJob {
public:
    explicit Job(std::shared_ptr<State> state) : s_(std::move(state)) {}
    void Stop() override
    {
        std::lock_guard lock(s_->mutex);
        s_->stop = true;
        s_->monitorCv.notify_one();
    }

private:
    std::shared_ptr<State> s_;
};

} // namespace

int FindThreadsAlive() { return threadsAlive.load(); }

std::string FindQueryProblem(const FindQuery& query)
{
    if (std::none_of(query.folders.begin(), query.folders.end(), [](const std::string& f) { return !f.empty(); }))
        return "No folder to search in";
    std::string problem;
    ContentPattern::Make(query, problem);
    return problem;
}

std::shared_ptr<FindJob> StartFind(const FindQuery& query, std::shared_ptr<FindSink> sink)
{
    auto s = std::make_shared<State>(query);
    s->sink = std::move(sink);
    std::string problem = FindQueryProblem(query);
    if (problem.empty())
        s->content = ContentPattern::Make(query, problem);
    if (!problem.empty()) {
        s->notes.push_back(problem);
    } else {
        for (const std::string& folder : query.folders) {
            if (folder.empty())
                continue;
            DirTask task;
            task.name = folder;
            task.path = folder.back() == '/' ? folder : folder + "/";
            s->tasks.push_back(std::move(task));
        }
        std::reverse(s->tasks.begin(), s->tasks.end());
    }
    if (s->tasks.empty()) {
        s->done = true;
    } else {
        const unsigned workers = std::max(2u, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < workers; ++i)
            StartWorker(s);
    }
    std::thread(Monitor, s).detach();
    return std::make_shared<Job>(s);
}

} // namespace tarnel
