#include "platform/ShellFileOperation.h"

#include "platform/UriList.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <random>
#include <set>
#include <cstring>

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

namespace tarnel {

namespace {

// Copy granularity: large enough that system calls cost nothing next to the
// data, small enough that progress and Cancel stay responsive.
constexpr size_t kChunk = size_t(1) << 20;
constexpr uint64_t kScanReportEvery = 1024;

enum class Step {
    Ok,
    Declined, // the user said No: left alone on purpose
    Failed,   // refused, or skipped after an error
    Cancel,
};

struct DevIno {
    dev_t dev;
    ino_t ino;
    auto operator<=>(const DevIno&) const = default;
};

DevIno IdOf(const struct stat& st) { return {st.st_dev, st.st_ino}; }

std::string StripTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string BaseName(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirName(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string Join(const std::string& dir, const std::string& name)
{
    return !dir.empty() && dir.back() == '/' ? dir + name : dir + "/" + name;
}

// copy_file_range cannot serve this pair of files; read and write can.
bool RangeCopyUnsupported(int error)
{
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP;
}

// Errors of copy_file_range that belong to the target rather than the source.
bool IsWriteSideError(int error)
{
    return error == ENOSPC || error == EDQUOT || error == EFBIG || error == EROFS;
}

bool NoReplaceUnsupported(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP; }

const char* Verb(bool move) { return move ? "move" : "copy"; }

std::string LocalTimeStamp()
{
    const time_t now = time(nullptr);
    struct tm tm;
    char text[32] = "";
    if (localtime_r(&now, &tm))
        strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
    return text;
}

std::string HomeTrashDir()
{
    const char* dataHome = getenv("XDG_DATA_HOME");
    if (dataHome && dataHome[0] == '/')
        return Join(StripTrailingSlashes(dataHome), "Trash");
    std::string home;
    if (const char* h = getenv("HOME"); h && h[0] == '/')
        home = h;
    else if (const struct passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        home = pw->pw_dir;
    if (home.empty())
        return {};
    return Join(StripTrailingSlashes(home), ".local/share/Trash");
}

class Engine {
public:
    Engine(OperationUi& ui, FileSystem& fs, unsigned flags, OperationObserver* observer)
        : ui_(ui)
        , fs_(fs)
        , flags_(flags)
        , observer_(observer)
        , random_(std::random_device {}())
    {
    }

    OperationResult Run(int code, const std::vector<std::string>& sources, const std::string& target)
    {
        switch (code) {
        case FO_COPY:
            return Transfer(false, sources, target);
        case FO_MOVE:
            return Transfer(true, sources, target);
        case FO_DELETE:
            return Delete(sources);
        case FO_RENAME:
            return RenameOne(sources, target);
        }
        ui_.Refused("Unknown file operation " + std::to_string(code) + ".");
        OperationResult result;
        result.failed = sources.size();
        return Finish(result);
    }

private:
    // An owned descriptor.
    struct Fd {
        FileSystem& fs;
        int fd = -1;
        explicit Fd(FileSystem& f, int d = -1)
            : fs(f)
            , fd(d)
        {
        }
        Fd(const Fd&) = delete;
        Fd& operator=(const Fd&) = delete;
        ~Fd() { Reset(-1); }
        void Reset(int d)
        {
            if (fd >= 0)
                fs.Close(fd);
            fd = d;
        }
    };

    // An entry reached by descriptor: its name in an open folder, and the
    // path it stands for in messages.
    struct At {
        int dirFd;
        std::string name;
        std::string path;
    };

    static At Child(int dirFd, const std::string& dirPath, const std::string& name)
    {
        return {dirFd, name, Join(dirPath, name)};
    }

    // What a copy was made from and what it made: a moved source is deleted
    // only while it is still that file and the copy is still there.
    struct Copied {
        struct stat source {};
        DevIno made {};
    };
    struct PendingDelete {
        std::string sourceName;
        std::string sourcePath;
        std::string targetName;
        Copied copied;
    };
    // Deletions of moved sources that wait until their copies' directory
    // entries are on disk.
    struct PendingDeletes {
        int sourceFd;
        int targetFd;
        std::string targetPath;
        std::vector<PendingDelete> entries;
    };

    struct Attempt {
        enum Kind { Ok, Exists, Same, Cancel, Error } kind = Ok;
        const char* what = nullptr;
        std::string path;
        int error = 0;

        static Attempt Of(Kind kind)
        {
            Attempt attempt;
            attempt.kind = kind;
            return attempt;
        }
    };

    enum class TrashKind { Home, SharedTopdir, UserTopdir };
    struct TrashDir {
        TrashKind kind;
        std::string dir;    // holds files/ and info/
        std::string topdir; // Path= is relative to it; empty for the home trash
    };
    enum class TrashOutcome { Ok, NotHere, Error };

    OperationUi& ui_;
    FileSystem& fs_;
    const unsigned flags_;
    OperationObserver* const observer_;
    bool replaceAll_ = false;
    bool skipAll_ = false;
    bool cancelled_ = false;
    uint64_t itemsDone_ = 0, itemsTotal_ = 0, bytesDone_ = 0, bytesTotal_ = 0;
    std::unique_ptr<char[]> buffer_;
    std::vector<DevIno> targetChain_; // the target directory and all its parents
    std::vector<std::string> createdTargetDirs_;
    std::mt19937_64 random_;
    std::vector<std::pair<std::string, bool>> preparedTrashes_;
    std::string confirmedReplace_; // answered already, about to be asked again by the copy
    bool moving_ = false;
    Fd target_ {fs_};
    // Every file and folder this operation made: never replaced by a later
    // item, never walked as a source.
    std::set<DevIno> createdIds_;

    // ---- small helpers ----

    OperationResult Finish(OperationResult result) const
    {
        result.status = cancelled_ ? OperationResult::Status::Cancelled
            : result.failed > 0    ? OperationResult::Status::Failed
                                   : OperationResult::Status::Done;
        return result;
    }

    static void Count(OperationResult& result, Step step)
    {
        switch (step) {
        case Step::Ok:
            ++result.done;
            break;
        case Step::Declined:
            ++result.skipped;
            break;
        case Step::Failed:
            ++result.failed;
            break;
        case Step::Cancel:
            break;
        }
    }

    // Tells the observer of a selected entry that was handled whole.
    void Finished(Step step, int code, const std::string& source, const std::string& target) const
    {
        if (observer_ && step == Step::Ok)
            observer_->EntryFinished(code, source, target);
    }

    bool Report(const std::string& name)
    {
        if (!ui_.Progress(itemsDone_, itemsTotal_, bytesDone_, bytesTotal_, name))
            cancelled_ = true;
        return !cancelled_;
    }

    Step Refuse(const std::string& text)
    {
        ui_.Refused(text);
        return Step::Failed;
    }

    Step RefuseKindChange(const std::string& dst, const struct stat& dstSt)
    {
        return Refuse("Cannot replace " + dst
                      + (S_ISDIR(dstSt.st_mode) ? ", a folder, with a file." : ", a file, with a folder."));
    }

    // Asks about a failure; true means try again.
    bool RetryAfter(const char* what, const std::string& path, int error, Step& outcome)
    {
        switch (ui_.AskError(what, path, error)) {
        case ErrorAnswer::Retry:
            return true;
        case ErrorAnswer::Skip:
            outcome = Step::Failed;
            return false;
        case ErrorAnswer::Cancel:
            break;
        }
        cancelled_ = true;
        outcome = Step::Cancel;
        return false;
    }

    // Runs call until it succeeds or the user gives up on it.
    template <typename Call>
    Step Try(const char* what, const std::string& path, Call&& call)
    {
        for (;;) {
            const int rc = call();
            if (rc >= 0)
                return Step::Ok;
            Step outcome;
            if (!RetryAfter(what, path, -rc, outcome))
                return outcome;
        }
    }

    // existing and incoming are known where the target was looked at; a
    // target that turned up while copying is asked about by name alone.
    Step AskReplace(const std::string& path, const struct stat* incoming = nullptr,
                    const struct stat* existing = nullptr)
    {
        if (replaceAll_)
            return Step::Ok;
        if (skipAll_)
            return Step::Declined;
        if (!confirmedReplace_.empty() && path == confirmedReplace_) {
            confirmedReplace_.clear();
            return Step::Ok;
        }
        ReplaceAnswer answer;
        if (incoming && existing && !S_ISDIR(existing->st_mode)) { // a folder's size says nothing
            ReplaceFacts facts;
            facts.existingSize = uint64_t(existing->st_size);
            facts.existingTime = int64_t(existing->st_mtime);
            facts.incomingSize = uint64_t(incoming->st_size);
            facts.incomingTime = int64_t(incoming->st_mtime);
            answer = ui_.AskReplaceKnown(path, facts);
        } else {
            answer = ui_.AskReplace(path);
        }
        switch (answer) {
        case ReplaceAnswer::SkipAll:
            skipAll_ = true;
            return Step::Declined;
        case ReplaceAnswer::Yes:
            return Step::Ok;
        case ReplaceAnswer::YesToAll:
            replaceAll_ = true;
            return Step::Ok;
        case ReplaceAnswer::No:
            return Step::Declined;
        case ReplaceAnswer::Cancel:
            break;
        }
        cancelled_ = true;
        return Step::Cancel;
    }

    std::string TempName()
    {
        char name[40];
        snprintf(name, sizeof name, ".tarnel-%016llx.tmp", static_cast<unsigned long long>(random_()));
        return name;
    }

    bool InsideItself(const struct stat& st) const
    {
        return S_ISDIR(st.st_mode)
            && std::find(targetChain_.begin(), targetChain_.end(), IdOf(st)) != targetChain_.end();
    }

    // Counts what a copy will go through, so that progress has totals. Errors
    // are left for the copy itself to meet and ask about.
    void Scan(const At& at, const struct stat& st, uint64_t& items, uint64_t& bytes)
    {
        ++items;
        if (S_ISREG(st.st_mode))
            bytes += uint64_t(st.st_size);
        if (items % kScanReportEvery == 0
            && !ui_.Progress(itemsDone_, itemsTotal_ + items, bytesDone_, bytesTotal_ + bytes, at.path))
            cancelled_ = true;
        if (!S_ISDIR(st.st_mode) || cancelled_)
            return;
        Fd dir(fs_, fs_.OpenAt(at.dirFd, at.name, O_RDONLY | O_DIRECTORY, 0));
        std::vector<std::string> names;
        if (dir.fd < 0 || fs_.ListDirectoryFd(dir.fd, names) < 0)
            return;
        for (const std::string& name : names) {
            const At child = Child(dir.fd, at.path, name);
            struct stat childSt;
            if (fs_.StatAt(dir.fd, name, childSt) == 0)
                Scan(child, childSt, items, bytes);
            if (cancelled_)
                return;
        }
    }

    void AddToTotals(const At& at, const struct stat& st)
    {
        uint64_t items = 0, bytes = 0;
        Scan(at, st, items, bytes);
        itemsTotal_ += items;
        bytesTotal_ += bytes;
    }

    // Opens the folder that at names, as long as it is still the folder that
    // was looked at (st): a folder swapped for a link, or for another folder,
    // is not entered.
    Step OpenFolder(const At& at, const struct stat& st, const char* what, Fd& dir)
    {
        for (;;) {
            dir.Reset(fs_.OpenAt(at.dirFd, at.name, O_RDONLY | O_DIRECTORY, 0));
            if (dir.fd == -ELOOP || dir.fd == -ENOTDIR)
                return Refuse(at.path + " was replaced while the operation ran; it is left alone.");
            if (dir.fd >= 0) {
                struct stat opened;
                if (fs_.Fstat(dir.fd, opened) == 0 && IdOf(opened) != IdOf(st))
                    return Refuse(at.path + " was replaced while the operation ran; it is left alone.");
                if (createdIds_.count(IdOf(st)))
                    return Refuse("Cannot copy " + at.path + ": it is a folder this operation created.");
                return Step::Ok;
            }
            Step outcome;
            if (!RetryAfter(what, at.path, -dir.fd, outcome))
                return outcome;
        }
    }

    // ---- copy ----


    static bool SameVersion(const struct stat& a, const struct stat& b)
    {
        return IdOf(a) == IdOf(b) && a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec
            && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
    }

    // Puts the finished temporary under its name: over the old file when
    // replacing, never over anything else.
    int PublishTemporary(int dirFd, const std::string& temp, const std::string& name, bool replace)
    {
        if (replace)
            return fs_.RenameAt(dirFd, temp, dirFd, name, RenameMode::Replace);
        int rc = fs_.RenameAt(dirFd, temp, dirFd, name, RenameMode::NoReplace);
        if (rc < 0 && NoReplaceUnsupported(-rc)) {
            struct stat st;
            rc = fs_.StatAt(dirFd, name, st) == 0 ? -EEXIST : fs_.RenameAt(dirFd, temp, dirFd, name, RenameMode::Replace);
        }
        return rc;
    }

    // A new file is written under a temporary name in the target folder, its
    // data and attributes set and synced, and only then renamed to its name:
    // whatever stops the copy, no partial file ever carries the final name.
    Attempt CopyFileOnce(const At& src, const At& dst, bool replace, Copied& copiedFrom)
    {
        const auto error = [](const char* what, const std::string& path, int e) {
            return Attempt {Attempt::Error, what, path, e};
        };
        // O_NONBLOCK: should the file have become a fifo since it was listed,
        // opening it must not wait for a writer.
        Fd in(fs_, fs_.OpenAt(src.dirFd, src.name, O_RDONLY | O_NONBLOCK, 0));
        if (in.fd < 0)
            return error("Cannot read", src.path, -in.fd);
        struct stat& st = copiedFrom.source;
        if (const int rc = fs_.Fstat(in.fd, st); rc < 0)
            return error("Cannot read", src.path, -rc);
        if (!S_ISREG(st.st_mode))
            return error("Cannot read", src.path, EINVAL);

        // Created with the source's permissions (no set-id bits yet): it shows
        // nothing the finished copy would not, and usually needs no chmod later.
        const mode_t createMode = st.st_mode & 0777;
        std::string temp = TempName();
        int out = fs_.OpenAt(dst.dirFd, temp, O_WRONLY | O_CREAT | O_EXCL, createMode);
        for (int tries = 0; out == -EEXIST && tries < 100; ++tries) {
            temp = TempName();
            out = fs_.OpenAt(dst.dirFd, temp, O_WRONLY | O_CREAT | O_EXCL, createMode);
        }
        if (out < 0)
            return error("Cannot create", dst.path, -out);

        uint64_t copied = 0;
        const auto discard = [&] {
            fs_.UnlinkAt(dst.dirFd, temp, false);
            bytesDone_ -= copied;
        };
        const auto fail = [&](Attempt attempt) {
            fs_.Close(out);
            discard();
            return attempt;
        };

        // The temporary showing up in the source folder means that both names
        // reach one folder (another mount of it): the copy would be the source.
        if (struct stat seen; fs_.StatAt(src.dirFd, temp, seen) == 0) {
            fail(Attempt::Of(Attempt::Ok));
            return Attempt {Attempt::Same, nullptr, {}, 0};
        }

        bool useRange = true;
        uint64_t sinceReport = 0;
        for (;;) {
            ssize_t n;
            if (useRange) {
                n = fs_.CopyFileRange(in.fd, out, kChunk);
                if (n < 0 && RangeCopyUnsupported(int(-n))) {
                    useRange = false;
                    continue;
                }
                if (n == 0 && copied == 0 && st.st_size > 0) {
                    useRange = false; // some virtual file systems answer 0 instead of an error
                    continue;
                }
                if (n < 0) {
                    const int e = int(-n);
                    return fail(IsWriteSideError(e) ? error("Cannot write", dst.path, e)
                                                    : error("Cannot read", src.path, e));
                }
            } else {
                if (!buffer_)
                    buffer_.reset(new char[kChunk]);
                n = fs_.Read(in.fd, buffer_.get(), kChunk);
                if (n < 0)
                    return fail(error("Cannot read", src.path, int(-n)));
                for (ssize_t written = 0; written < n;) {
                    const ssize_t w = fs_.Write(out, buffer_.get() + written, size_t(n - written));
                    if (w <= 0)
                        return fail(error("Cannot write", dst.path, w < 0 ? int(-w) : ENOSPC));
                    written += w;
                }
            }
            if (n == 0)
                break;
            copied += uint64_t(n);
            bytesDone_ += uint64_t(n);
            sinceReport += uint64_t(n);
            if (sinceReport >= kChunk) {
                sinceReport = 0;
                if (!Report(src.path))
                    return fail(Attempt::Of(Attempt::Cancel));
            }
        }

        // Attributes are kept where the target allows it; a file system that
        // cannot hold them (vfat) still gets the data.
        // Owner and mode are changed only where they differ: each change is an
        // inode update, which costs more than the look.
        fs_.CopyXattrsFd(in.fd, out);
        mode_t mode = st.st_mode & 07777;
        struct stat made {};
        const bool knowMade = fs_.Fstat(out, made) == 0;
        if ((!knowMade || made.st_uid != st.st_uid || made.st_gid != st.st_gid)
            && fs_.Fchown(out, st.st_uid, st.st_gid) < 0)
            mode &= mode_t(~(S_ISUID | S_ISGID)); // set-id bits belong to the original owner only
        if (!knowMade || (made.st_mode & 07777) != mode)
            fs_.Fchmod(out, mode);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        fs_.FSetTimes(out, times);
        copiedFrom.made = IdOf(made);

        if (const int rc = fs_.Fsync(out); rc < 0)
            return fail(error("Cannot write", dst.path, -rc));
        if (const int rc = fs_.Close(out); rc < 0) {
            discard();
            return error("Cannot write", dst.path, -rc);
        }
        if (const int rc = PublishTemporary(dst.dirFd, temp, dst.name, replace); rc < 0) {
            discard();
            if (rc == -EEXIST || rc == -ENOTEMPTY)
                return Attempt::Of(Attempt::Exists); // created by someone else meanwhile
            return error(replace ? "Cannot replace" : "Cannot create", dst.path, -rc);
        }
        createdIds_.insert(copiedFrom.made);
        return Attempt::Of(Attempt::Ok);
    }

    Step CopyFile(const At& src, const At& dst, bool replace, Copied& copied)
    {
        for (;;) {
            const Attempt attempt = CopyFileOnce(src, dst, replace, copied);
            switch (attempt.kind) {
            case Attempt::Ok:
                return Step::Ok;
            case Attempt::Cancel:
                return Step::Cancel;
            case Attempt::Same:
                return RefuseSame(src.path, copied.source);
            case Attempt::Exists: { // created by someone else since we looked
                const Step answer = AskReplace(dst.path);
                if (answer != Step::Ok)
                    return answer;
                replace = true;
                continue;
            }
            case Attempt::Error: {
                Step outcome;
                if (!RetryAfter(attempt.what, attempt.path, attempt.error, outcome))
                    return outcome;
                continue;
            }
            }
        }
    }

    Step RefuseSame(const std::string& src, const struct stat&)
    {
        return Refuse("Cannot " + std::string(Verb(moving_)) + " " + src
                      + ": the source and the target are the same file.");
    }

    // Symbolic links (copied as links, never followed) and special files.
    Step CopySpecial(const At& src, const struct stat& st, const At& dst, bool replace, Copied& copied)
    {
        const bool isLink = S_ISLNK(st.st_mode);
        std::string linkTarget;
        if (isLink) {
            if (Step s = Try("Cannot read", src.path, [&] { return fs_.ReadLinkAt(src.dirFd, src.name, linkTarget); });
                s != Step::Ok)
                return s;
        }
        copied.source = st;
        for (;;) {
            const std::string made = replace ? TempName() : dst.name;
            const int rc = isLink ? fs_.SymlinkAt(linkTarget, dst.dirFd, made)
                                  : fs_.MakeNodeAt(dst.dirFd, made, st.st_mode, st.st_rdev);
            if (rc == -EEXIST) {
                if (replace)
                    continue; // the temporary name was taken: draw another
                if (Step answer = AskReplace(dst.path); answer != Step::Ok)
                    return answer;
                replace = true;
                continue;
            }
            if (rc < 0) {
                Step outcome;
                if (RetryAfter("Cannot create", dst.path, -rc, outcome))
                    continue;
                return outcome;
            }
            mode_t mode = st.st_mode & 07777;
            if (fs_.LchownAt(dst.dirFd, made, st.st_uid, st.st_gid) < 0)
                mode &= mode_t(~(S_ISUID | S_ISGID));
            if (!isLink)
                fs_.ChmodAt(dst.dirFd, made, mode);
            const struct timespec times[2] = {st.st_atim, st.st_mtim};
            fs_.SetTimesAt(dst.dirFd, made, times);
            struct stat madeSt;
            if (fs_.StatAt(dst.dirFd, made, madeSt) == 0) {
                copied.made = IdOf(madeSt);
                createdIds_.insert(copied.made);
            }
            if (replace) {
                if (const int r = fs_.RenameAt(dst.dirFd, made, dst.dirFd, dst.name, RenameMode::Replace); r < 0) {
                    fs_.UnlinkAt(dst.dirFd, made, false);
                    Step outcome;
                    if (RetryAfter("Cannot replace", dst.path, -r, outcome))
                        continue;
                    return outcome;
                }
            }
            return Step::Ok;
        }
    }

    // Removes moved sources once the folder holding their copies is synced,
    // each only while it is still the version that was copied and its copy is
    // still in place.
    Step Flush(PendingDeletes& pending)
    {
        if (pending.entries.empty())
            return Step::Ok;
        std::vector<PendingDelete> entries;
        entries.swap(pending.entries);
        if (Step s = Try("Cannot write", pending.targetPath, [&] { return fs_.Fsync(pending.targetFd); });
            s != Step::Ok)
            return s; // the sources stay: nothing is lost, the move is not complete
        Step result = Step::Ok;
        for (const PendingDelete& entry : entries) {
            struct stat now, copy;
            const int rc = fs_.StatAt(pending.sourceFd, entry.sourceName, now);
            if (rc == -ENOENT)
                continue;
            Step s;
            if (rc == 0 && !SameVersion(now, entry.copied.source)) {
                s = Refuse("Cannot move " + entry.sourcePath
                           + ": it changed after it was copied; it is kept and the copy may be older.");
            } else if (fs_.StatAt(pending.targetFd, entry.targetName, copy) < 0 || IdOf(copy) != entry.copied.made) {
                s = Refuse("Cannot move " + entry.sourcePath + ": its copy was replaced; it is kept.");
            } else {
                s = Try("Cannot delete", entry.sourcePath, [&] {
                    const int r = fs_.UnlinkAt(pending.sourceFd, entry.sourceName, false);
                    return r == -ENOENT ? 0 : r;
                });
            }
            if (s == Step::Cancel)
                return s;
            if (s != Step::Ok)
                result = s;
        }
        return result;
    }

    // Makes the target folder (or takes the existing one to merge into) and opens it.
    Step MakeTargetFolder(const At& dst, bool& merge, bool& created, Fd& dir)
    {
        while (!merge && !created) {
            // Owner-only until the contents are in; the real mode comes last.
            const int rc = fs_.MkdirAt(dst.dirFd, dst.name, 0700);
            if (rc == 0) {
                created = true;
            } else if (rc == -EEXIST) { // appeared since we looked
                if (Step answer = AskReplace(dst.path); answer != Step::Ok)
                    return answer;
                merge = true;
            } else {
                Step outcome;
                if (!RetryAfter("Cannot create", dst.path, -rc, outcome))
                    return outcome;
            }
        }
        dir.Reset(fs_.OpenAt(dst.dirFd, dst.name, O_RDONLY | O_DIRECTORY, 0));
        if (dir.fd < 0)
            return Refuse("Cannot open the folder " + dst.path + ": " + strerror(-dir.fd));
        struct stat st;
        if (created && fs_.Fstat(dir.fd, st) == 0)
            createdIds_.insert(IdOf(st));
        // A move deletes sources below: the new folder's own entry goes to disk first.
        if (created && moving_)
            fs_.Fsync(dst.dirFd);
        return Step::Ok;
    }

    void CopyFolderAttributes(int srcFd, int dstFd, const struct stat& st)
    {
        fs_.CopyXattrsFd(srcFd, dstFd);
        mode_t mode = st.st_mode & 07777;
        if (fs_.Fchown(dstFd, st.st_uid, st.st_gid) < 0)
            mode &= mode_t(~(S_ISUID | S_ISGID));
        fs_.Fchmod(dstFd, mode);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        fs_.FSetTimes(dstFd, times);
    }

    Step CopyDirectory(const At& src, const struct stat& st, const At& dst, bool merge, bool move)
    {
        Fd srcDir(fs_);
        if (Step s = OpenFolder(src, st, "Cannot read the folder", srcDir); s != Step::Ok)
            return s;
        std::vector<std::string> names;
        if (Step s = Try("Cannot read the folder", src.path, [&] { return fs_.ListDirectoryFd(srcDir.fd, names); });
            s != Step::Ok)
            return s;
        bool created = false;
        Fd dstDir(fs_);
        if (Step s = MakeTargetFolder(dst, merge, created, dstDir); s != Step::Ok) {
            if (created)
                fs_.UnlinkAt(dst.dirFd, dst.name, true);
            return s;
        }

        PendingDeletes pending {srcDir.fd, dstDir.fd, dst.path, {}};
        Step result = Step::Ok;
        bool complete = true; // every entry went over, none left behind
        for (const std::string& name : names) {
            const Step s = CopyEntry(Child(srcDir.fd, src.path, name), Child(dstDir.fd, dst.path, name),
                                     move ? &pending : nullptr);
            if (s != Step::Ok)
                complete = false;
            if (s == Step::Cancel) {
                result = s;
                break;
            }
            if (s == Step::Failed)
                result = s;
        }
        if (move) {
            const Step s = Flush(pending);
            if (s != Step::Ok)
                complete = false;
            if (s == Step::Cancel || (s == Step::Failed && result == Step::Ok))
                result = s;
        }

        if (created) {
            if (result == Step::Cancel) {
                fs_.UnlinkAt(dst.dirFd, dst.name, true); // only succeeds when nothing was finished inside
                return result;
            }
            CopyFolderAttributes(srcDir.fd, dstDir.fd, st);
        }
        if (move && complete) {
            const Step s = Try("Cannot delete", src.path, [&] {
                const int rc = fs_.UnlinkAt(src.dirFd, src.name, true);
                // Something was added meanwhile: it stays where it is, unharmed.
                return rc == -ENOTEMPTY || rc == -EEXIST || rc == -ENOENT ? 0 : rc;
            });
            if (s != Step::Ok)
                result = s;
        }
        return result;
    }

    // Copies one entry of any kind to dst. With pending (a move across
    // volumes), the source of a file or link is queued for deletion once copied
    // and synced; a folder deletes its own contents and then itself.
    Step CopyEntry(const At& src, const At& dst, PendingDeletes* pending)
    {
        struct stat st;
        if (Step s = Try("Cannot read", src.path, [&] { return fs_.StatAt(src.dirFd, src.name, st); }); s != Step::Ok)
            return s;
        if (!Report(src.path))
            return Step::Cancel;

        bool existing = false;
        for (;;) {
            struct stat dstSt;
            const int rc = fs_.StatAt(dst.dirFd, dst.name, dstSt);
            if (rc == -ENOENT)
                break;
            if (rc < 0) {
                Step outcome;
                if (RetryAfter("Cannot read", dst.path, -rc, outcome))
                    continue;
                return outcome;
            }
            if (IdOf(dstSt) == IdOf(st))
                return RefuseSame(src.path, st);
            // On a target that ignores case two source names can meet: the
            // copy made a moment ago is never replaced by the next one.
            if (createdIds_.count(IdOf(dstSt)))
                return Refuse("Cannot " + std::string(Verb(moving_)) + " " + src.path + ": " + dst.path
                              + " was just made from another item of this operation; both are kept.");
            if (S_ISDIR(st.st_mode) != S_ISDIR(dstSt.st_mode))
                return RefuseKindChange(dst.path, dstSt);
            if (Step answer = AskReplace(dst.path, &st, &dstSt); answer != Step::Ok)
                return answer;
            existing = true;
            break;
        }

        Step result;
        Copied copied;
        if (S_ISDIR(st.st_mode))
            result = CopyDirectory(src, st, dst, existing, pending != nullptr);
        else if (S_ISREG(st.st_mode))
            result = CopyFile(src, dst, existing, copied);
        else
            result = CopySpecial(src, st, dst, existing, copied);
        if (result == Step::Ok && pending && !S_ISDIR(st.st_mode))
            pending->entries.push_back({src.name, src.path, dst.name, copied});
        ++itemsDone_;
        return result;
    }

    // ---- move ----

    Step MoveAcrossVolumes(const At& src, const struct stat& st, const At& dst)
    {
        AddToTotals(src, st);
        --itemsTotal_; // the entry itself was counted already
        if (cancelled_)
            return Step::Cancel;
        PendingDeletes pending {src.dirFd, dst.dirFd, DirName(dst.path), {}};
        const Step copied = CopyEntry(src, dst, &pending);
        --itemsDone_; // counted again by the caller
        const Step flushed = Flush(pending);
        if (copied == Step::Cancel || flushed == Step::Cancel)
            return Step::Cancel;
        return copied != Step::Ok ? copied : flushed;
    }

    // Moves into an existing folder of the same name, entry by entry.
    Step MoveMerge(const At& src, const struct stat& st, const At& dst, const struct stat& dstSt)
    {
        Fd srcDir(fs_), dstDir(fs_);
        if (Step s = OpenFolder(src, st, "Cannot read the folder", srcDir); s != Step::Ok)
            return s;
        if (Step s = OpenFolder(dst, dstSt, "Cannot open the folder", dstDir); s != Step::Ok)
            return s;
        std::vector<std::string> names;
        if (Step s = Try("Cannot read the folder", src.path, [&] { return fs_.ListDirectoryFd(srcDir.fd, names); });
            s != Step::Ok)
            return s;
        bool complete = true;
        Step result = Step::Ok;
        for (const std::string& name : names) {
            const Step s = MoveEntry(Child(srcDir.fd, src.path, name), Child(dstDir.fd, dst.path, name));
            if (s == Step::Cancel)
                return s;
            if (s != Step::Ok)
                complete = false;
            if (s == Step::Failed)
                result = s;
        }
        if (complete) {
            const Step s = Try("Cannot delete", src.path, [&] {
                const int rc = fs_.UnlinkAt(src.dirFd, src.name, true);
                return rc == -ENOTEMPTY || rc == -EEXIST || rc == -ENOENT ? 0 : rc;
            });
            if (s != Step::Ok)
                result = s;
        }
        return result;
    }

    Step MoveOntoExisting(const At& src, const struct stat& st, const At& dst, const struct stat& dstSt)
    {
        if (IdOf(dstSt) == IdOf(st))
            return RefuseSame(src.path, st);
        if (S_ISDIR(st.st_mode) != S_ISDIR(dstSt.st_mode))
            return RefuseKindChange(dst.path, dstSt);
        if (Step answer = AskReplace(dst.path, &st, &dstSt); answer != Step::Ok)
            return answer;
        if (S_ISDIR(st.st_mode))
            return MoveMerge(src, st, dst, dstSt);
        for (;;) {
            const int rc = fs_.RenameAt(src.dirFd, src.name, dst.dirFd, dst.name, RenameMode::Replace);
            if (rc == 0)
                return Step::Ok;
            if (rc == -EXDEV) {
                confirmedReplace_ = dst.path;
                return MoveAcrossVolumes(src, st, dst);
            }
            Step outcome;
            if (!RetryAfter("Cannot move", src.path, -rc, outcome))
                return outcome;
        }
    }

    // One rename whatever the entry holds; a copy only across volumes.
    Step MoveEntry(const At& src, const At& dst)
    {
        struct stat st;
        if (Step s = Try("Cannot read", src.path, [&] { return fs_.StatAt(src.dirFd, src.name, st); }); s != Step::Ok)
            return s;
        if (!Report(src.path))
            return Step::Cancel;
        for (;;) {
            int rc = fs_.RenameAt(src.dirFd, src.name, dst.dirFd, dst.name, RenameMode::NoReplace);
            if (rc == 0)
                return Step::Ok;
            if (rc == -EXDEV)
                return MoveAcrossVolumes(src, st, dst); // the copy asks about an existing target
            if (rc == -EEXIST || NoReplaceUnsupported(-rc)) {
                struct stat dstSt;
                const int exists = fs_.StatAt(dst.dirFd, dst.name, dstSt);
                if (exists == 0)
                    return MoveOntoExisting(src, st, dst, dstSt);
                if (rc != -EEXIST && exists == -ENOENT) {
                    // No RENAME_NOREPLACE on this file system (some network and FUSE
                    // ones): look, then rename. A name created in between by another
                    // program would be replaced; such a file system offers nothing better.
                    rc = fs_.RenameAt(src.dirFd, src.name, dst.dirFd, dst.name, RenameMode::Replace);
                    if (rc == 0)
                        return Step::Ok;
                    if (rc == -EXDEV)
                        return MoveAcrossVolumes(src, st, dst);
                } else if (exists == -ENOENT) {
                    continue; // the target went away meanwhile
                } else if (exists < 0) {
                    rc = exists;
                }
            }
            Step outcome;
            if (!RetryAfter("Cannot move", src.path, -rc, outcome))
                return outcome;
        }
    }

    // ---- copy and move: the selection ----

    // The target directory exists (created when the flags allow) and is a folder.
    bool PrepareTarget(const std::string& targetDir, bool move)
    {
        if (targetDir.empty()) {
            ui_.Refused(std::string("Cannot ") + Verb(move) + ": no target folder.");
            return false;
        }
        struct stat st;
        int rc = fs_.Stat(targetDir, st);
        if (rc == -ENOENT && !(flags_ & FOF_NOCONFIRMMKDIR)) {
            if (!ui_.ConfirmCreateFolder(targetDir)) {
                cancelled_ = true;
                return false;
            }
        }
        if (rc == -ENOENT) {
            std::string path;
            size_t from = 0;
            while (from < targetDir.size()) {
                const size_t slash = targetDir.find('/', from + 1);
                path = targetDir.substr(0, slash);
                from = slash == std::string::npos ? targetDir.size() : slash;
                if (fs_.Mkdir(path, 0777) == 0)
                    createdTargetDirs_.push_back(path);
            }
            rc = fs_.Stat(targetDir, st);
        }
        Step outcome = Step::Ok;
        while (rc < 0) {
            if (!RetryAfter("Cannot open the folder", targetDir, -rc, outcome))
                return false;
            rc = fs_.Stat(targetDir, st);
        }
        if (!S_ISDIR(st.st_mode)) {
            ui_.Refused(std::string("Cannot ") + Verb(move) + " to " + targetDir + ": it is not a folder.");
            return false;
        }
        target_.Reset(fs_.Open(targetDir, O_RDONLY | O_DIRECTORY, 0));
        if (target_.fd < 0) {
            ui_.Refused(std::string("Cannot ") + Verb(move) + " to " + targetDir + ": " + strerror(-target_.fd));
            return false;
        }
        // ".." by "..": follows the real tree, whatever links the path went through.
        std::string path = targetDir;
        for (int depth = 0; depth < 4096; ++depth) {
            struct stat up;
            if (fs_.Stat(path, up) < 0 || (!targetChain_.empty() && targetChain_.back() == IdOf(up)))
                break;
            targetChain_.push_back(IdOf(up));
            path += "/..";
        }
        return true;
    }

    // Opens the folder holding a selected entry; the selection's own path is
    // taken as given, everything below it is reached by descriptor.
    Step OpenParentOf(const std::string& path, const char* what, Fd& parent)
    {
        return Try(what, path, [&] {
            parent.Reset(fs_.Open(DirName(path), O_RDONLY | O_DIRECTORY, 0));
            return parent.fd;
        });
    }

    Step TransferOne(bool move, const std::string& source, const std::string& targetDir)
    {
        const std::string src = StripTrailingSlashes(source);
        const std::string name = BaseName(src);
        if (src.empty() || src == "/" || name == "." || name == "..")
            return Refuse(std::string("Cannot ") + Verb(move) + " \"" + source + "\": it names no file or folder.");
        Fd parent(fs_);
        if (Step s = OpenParentOf(src, "Cannot read", parent); s != Step::Ok)
            return s;
        const At from {parent.fd, name, src};
        const At to {target_.fd, name, Join(targetDir, name)};
        struct stat st;
        if (Step s = Try("Cannot read", src, [&] { return fs_.StatAt(from.dirFd, from.name, st); }); s != Step::Ok)
            return s;
        if (InsideItself(st))
            return Refuse(std::string("Cannot ") + Verb(move) + " " + src
                          + ": the target folder is inside the source folder.");
        if (move)
            return MoveEntry(from, to);
        return CopyEntry(from, to, nullptr);
    }

    OperationResult Transfer(bool move, const std::vector<std::string>& sources, const std::string& target)
    {
        OperationResult result;
        moving_ = move;
        const std::string targetDir = StripTrailingSlashes(target);
        if (!PrepareTarget(targetDir, move)) {
            result.failed = sources.size();
            return Finish(result);
        }
        if (move) {
            itemsTotal_ = sources.size(); // grows when an entry has to be copied
        } else {
            for (const std::string& source : sources) {
                const std::string src = StripTrailingSlashes(source);
                Fd parent(fs_, fs_.Open(DirName(src), O_RDONLY | O_DIRECTORY, 0));
                struct stat st;
                if (parent.fd >= 0 && fs_.StatAt(parent.fd, BaseName(src), st) == 0)
                    AddToTotals({parent.fd, BaseName(src), src}, st);
                if (cancelled_)
                    return Finish(result);
            }
        }
        for (const std::string& source : sources) {
            const Step s = TransferOne(move, source, targetDir);
            if (move)
                ++itemsDone_;
            Count(result, s);
            const std::string src = StripTrailingSlashes(source);
            Finished(s, move ? FO_MOVE : FO_COPY, src, Join(targetDir, BaseName(src)));
            if (cancelled_)
                break;
        }
        ui_.Progress(itemsDone_, itemsTotal_, bytesDone_, bytesTotal_, {}); // the end: too late to cancel
        target_.Reset(-1);
        if (cancelled_ || result.failed > 0) {
            for (auto it = createdTargetDirs_.rbegin(); it != createdTargetDirs_.rend(); ++it)
                fs_.Rmdir(*it); // only the empty ones go
        }
        return Finish(result);
    }

    // ---- delete ----

    // Deletes at and everything below it, each folder entered by descriptor:
    // a folder swapped for a link meanwhile loses the link, never what it points to.
    Step RemoveTree(const At& at)
    {
        struct stat st;
        if (Step s = Try("Cannot delete", at.path, [&] { return fs_.StatAt(at.dirFd, at.name, st); }); s != Step::Ok)
            return s;
        if (!S_ISDIR(st.st_mode))
            return Try("Cannot delete", at.path, [&] { return fs_.UnlinkAt(at.dirFd, at.name, false); });
        Fd dir(fs_);
        if (Step s = OpenFolder(at, st, "Cannot read the folder", dir); s != Step::Ok)
            return s;
        std::vector<std::string> names;
        if (Step s = Try("Cannot read the folder", at.path, [&] { return fs_.ListDirectoryFd(dir.fd, names); });
            s != Step::Ok)
            return s;
        Step result = Step::Ok;
        for (const std::string& name : names) {
            const Step s = RemoveTree(Child(dir.fd, at.path, name));
            if (s == Step::Cancel)
                return s;
            if (s != Step::Ok)
                result = s;
        }
        if (result != Step::Ok)
            return result;
        return Try("Cannot delete", at.path, [&] { return fs_.UnlinkAt(at.dirFd, at.name, true); });
    }

    Step DeletePermanently(const std::string& path)
    {
        switch (ui_.AskDeletePermanently(path)) {
        case DeleteAnswer::Yes: {
            Fd parent(fs_);
            if (Step s = OpenParentOf(path, "Cannot delete", parent); s != Step::Ok)
                return s;
            return RemoveTree({parent.fd, BaseName(path), path});
        }
        case DeleteAnswer::No:
            return Step::Declined;
        case DeleteAnswer::Cancel:
            break;
        }
        cancelled_ = true;
        return Step::Cancel;
    }

    bool OwnPrivateDirectory(const std::string& path)
    {
        struct stat st;
        return fs_.Lstat(path, st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid();
    }

    bool MakeTrashDirs(const std::string& dir)
    {
        fs_.Mkdir(dir, 0700);
        fs_.Mkdir(Join(dir, "files"), 0700);
        fs_.Mkdir(Join(dir, "info"), 0700);
        struct stat files, info;
        return fs_.Stat(Join(dir, "files"), files) == 0 && S_ISDIR(files.st_mode)
            && fs_.Stat(Join(dir, "info"), info) == 0 && S_ISDIR(info.st_mode);
    }

    // Creates what a trash directory needs, once per operation; false when it
    // cannot take anything.
    bool PrepareTrash(const TrashDir& trash)
    {
        for (const auto& [dir, ok] : preparedTrashes_)
            if (dir == trash.dir)
                return ok;
        bool ok = false;
        switch (trash.kind) {
        case TrashKind::Home: {
            // The data directory may not exist yet on a fresh account.
            const std::string dataHome = DirName(trash.dir);
            for (size_t slash = dataHome.find('/', 1);; slash = dataHome.find('/', slash + 1)) {
                fs_.Mkdir(dataHome.substr(0, slash), 0700);
                if (slash == std::string::npos)
                    break;
            }
            ok = MakeTrashDirs(trash.dir);
            break;
        }
        case TrashKind::SharedTopdir: {
            // $topdir/.Trash is used only when the administrator made it a real,
            // sticky folder: anything else could be a trap set by another user.
            struct stat shared;
            const std::string sharedDir = DirName(trash.dir);
            if (fs_.Lstat(sharedDir, shared) == 0 && S_ISDIR(shared.st_mode) && (shared.st_mode & S_ISVTX)) {
                fs_.Mkdir(trash.dir, 0700);
                ok = OwnPrivateDirectory(trash.dir) && MakeTrashDirs(trash.dir);
            }
            break;
        }
        case TrashKind::UserTopdir:
            fs_.Mkdir(trash.dir, 0700);
            ok = OwnPrivateDirectory(trash.dir) && MakeTrashDirs(trash.dir);
            break;
        }
        preparedTrashes_.emplace_back(trash.dir, ok);
        return ok;
    }

    // The home trash takes the items of its own volume.
    std::vector<TrashDir> HomeTrashFor(dev_t dev)
    {
        std::vector<TrashDir> dirs;
        const std::string home = HomeTrashDir();
        // The home trash may not exist yet: its nearest existing parent tells the volume.
        for (std::string existing = home; !existing.empty(); existing = DirName(existing)) {
            struct stat st;
            if (fs_.Stat(existing, st) == 0) {
                if (st.st_dev == dev)
                    dirs.push_back({TrashKind::Home, home, {}});
                break;
            }
            if (existing == "/" || existing == ".")
                break;
        }
        return dirs;
    }

    // The trashes at the top of the item's own volume, the shared one first.
    std::vector<TrashDir> TopdirTrashesFor(const std::string& absolute)
    {
        std::vector<TrashDir> dirs;
        std::string topdir;
        if (fs_.MountPointOf(DirName(absolute), topdir) == 0 && topdir != absolute) {
            const std::string uid = std::to_string(getuid());
            dirs.push_back({TrashKind::SharedTopdir, Join(Join(topdir, ".Trash"), uid), topdir});
            dirs.push_back({TrashKind::UserTopdir, Join(topdir, ".Trash-" + uid), topdir});
        }
        return dirs;
    }

    TrashOutcome MoveToTrash(const std::string& absolute, const TrashDir& trash, int& error)
    {
        if (!PrepareTrash(trash))
            return TrashOutcome::NotHere;
        std::string originalPath = absolute;
        if (!trash.topdir.empty()) {
            // Relative to the top of the volume, so the entry stays right when the
            // volume is mounted elsewhere.
            const std::string prefix = trash.topdir == "/" ? "/" : trash.topdir + "/";
            if (absolute.compare(0, prefix.size(), prefix) == 0)
                originalPath = absolute.substr(prefix.size());
        }
        const std::string info = "[Trash Info]\nPath=" + TrashInfoEscape(originalPath)
            + "\nDeletionDate=" + LocalTimeStamp() + "\n";
        // Room for ".NNNN.trashinfo" within the 255 bytes of a name.
        const std::string name = BaseName(absolute).substr(0, 230);
        for (int number = 1; number < 100000; ++number) {
            const std::string trashName = number == 1 ? name : name + "." + std::to_string(number);
            const std::string infoPath = Join(Join(trash.dir, "info"), trashName + ".trashinfo");
            const int fd = fs_.Open(infoPath, O_WRONLY | O_CREAT | O_EXCL, 0600);
            if (fd == -EEXIST)
                continue;
            if (fd < 0)
                return TrashOutcome::NotHere;
            bool written = true;
            for (size_t done = 0; done < info.size() && written;) {
                const ssize_t n = fs_.Write(fd, info.data() + done, info.size() - done);
                written = n > 0;
                done += written ? size_t(n) : 0;
            }
            if (fs_.Close(fd) < 0 || !written) {
                fs_.Unlink(infoPath);
                return TrashOutcome::NotHere;
            }
            const std::string filesPath = Join(Join(trash.dir, "files"), trashName);
            int rc = fs_.Rename(absolute, filesPath, RenameMode::NoReplace);
            if (rc < 0 && NoReplaceUnsupported(-rc)) {
                struct stat st;
                rc = fs_.Lstat(filesPath, st) == 0 ? -EEXIST : fs_.Rename(absolute, filesPath, RenameMode::Replace);
            }
            if (rc == 0)
                return TrashOutcome::Ok;
            fs_.Unlink(infoPath);
            if (rc == -EEXIST || rc == -ENOTEMPTY)
                continue;
            if (rc == -EXDEV)
                return TrashOutcome::NotHere;
            error = -rc;
            return TrashOutcome::Error;
        }
        return TrashOutcome::NotHere;
    }

    Step TrashItem(const std::string& src)
    {
        for (;;) {
            struct stat st;
            std::string parent;
            if (Step s = Try("Cannot delete", src, [&] {
                    const int rc = fs_.Lstat(src, st);
                    return rc < 0 ? rc : fs_.RealPath(DirName(src), parent);
                });
                s != Step::Ok)
                return s;
            const std::string absolute = Join(parent, BaseName(src));
            int error = 0;
            TrashOutcome outcome = TrashOutcome::NotHere;
            for (const TrashDir& trash : HomeTrashFor(st.st_dev))
                outcome = MoveToTrash(absolute, trash, error);
            if (outcome == TrashOutcome::NotHere) {
                for (const TrashDir& trash : TopdirTrashesFor(absolute)) {
                    outcome = MoveToTrash(absolute, trash, error);
                    if (outcome != TrashOutcome::NotHere)
                        break;
                }
            }
            if (outcome == TrashOutcome::Ok)
                return Step::Ok;
            if (outcome == TrashOutcome::NotHere)
                return DeletePermanently(src);
            Step result;
            if (!RetryAfter("Cannot move to the Trash", src, error, result))
                return result;
        }
    }

    OperationResult Delete(const std::vector<std::string>& sources)
    {
        OperationResult result;
        const bool toTrash = (flags_ & FOF_ALLOWUNDO) != 0;
        if (toTrash && !ui_.ConfirmTrash(sources.size())) {
            cancelled_ = true;
            return Finish(result);
        }
        itemsTotal_ = sources.size();
        for (const std::string& source : sources) {
            const std::string src = StripTrailingSlashes(source);
            const std::string name = BaseName(src);
            Step s;
            if (src.empty() || src == "/" || name == "." || name == "..")
                s = Refuse("Cannot delete \"" + source + "\": it names no file or folder.");
            else if (!Report(src))
                s = Step::Cancel;
            else
                s = toTrash ? TrashItem(src) : DeletePermanently(src);
            ++itemsDone_;
            Count(result, s);
            Finished(s, FO_DELETE, src, {});
            if (cancelled_)
                break;
        }
        ui_.Progress(itemsDone_, itemsTotal_, bytesDone_, bytesTotal_, {});
        return Finish(result);
    }

    // ---- rename ----

    OperationResult RenameOne(const std::vector<std::string>& sources, const std::string& target)
    {
        OperationResult result;
        if (sources.size() != 1) {
            ui_.Refused("Rename takes exactly one item.");
            result.failed = sources.size();
            return Finish(result);
        }
        const std::string src = StripTrailingSlashes(sources[0]);
        const std::string dst = StripTrailingSlashes(target);
        itemsTotal_ = 1;
        Step step = Step::Ok;
        if (dst.empty() || BaseName(dst) == "." || BaseName(dst) == "..") {
            step = Refuse("Cannot rename " + src + ": the new name is empty.");
        } else if (src != dst) {
            step = Step::Failed;
            for (bool again = true; again;) {
                again = false;
                int rc = fs_.Rename(src, dst, RenameMode::NoReplace);
                struct stat srcSt, dstSt;
                const bool exists
                    = rc < 0 && (rc == -EEXIST || NoReplaceUnsupported(-rc)) && fs_.Lstat(dst, dstSt) == 0;
                if (exists && fs_.Lstat(src, srcSt) == 0 && IdOf(srcSt) == IdOf(dstSt)) {
                    // Same entry under another spelling: a change of case on a
                    // case-insensitive file system.
                    rc = fs_.Rename(src, dst, RenameMode::Replace);
                } else if (exists) {
                    step = Refuse("Cannot rename " + src + ": " + dst + " already exists.");
                    break;
                } else if (rc < 0 && NoReplaceUnsupported(-rc)) {
                    // No RENAME_NOREPLACE here: the check above and this rename are
                    // two steps, the best such a file system allows.
                    rc = fs_.Rename(src, dst, RenameMode::Replace);
                }
                if (rc == 0)
                    step = Step::Ok;
                else
                    again = RetryAfter("Cannot rename", src, -rc, step);
            }
        }
        itemsDone_ = 1;
        Count(result, step);
        if (src != dst)
            Finished(step, FO_RENAME, src, dst);
        return Finish(result);
    }
};

} // namespace

ShellFileOperation::ShellFileOperation(OperationUi& ui, FileSystem& fs)
    : ui_(ui)
    , fs_(fs)
{
}

OperationResult ShellFileOperation::Run(int code, const std::vector<std::string>& sources, const std::string& target,
                                        unsigned flags)
{
    OperationResult result;
    {
        Engine engine(ui_, fs_, flags, observer_);
        result = engine.Run(code, sources, target);
    }
    if (observer_)
        observer_->OperationEnded();
    return result;
}

std::string TrashInfoEscape(const std::string& path) { return PercentEncodePath(path); }

} // namespace tarnel
