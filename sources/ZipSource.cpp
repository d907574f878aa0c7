#include "sources/ZipSource.h"

#include "fileops/model/ZipMaster.h"
#include "panes/FileData.h"
#include "panes/PathUtil.h"
#include "platform/DirectoryReader.h"

#include <functional>
#include <string_view>
#include <sys/stat.h>
#include <unordered_map>

namespace tarnel {

namespace {

constexpr size_t kIdleDrivers = 2;

std::string LowerAscii(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = LowerAsciiChar(c);
    return lower;
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

int32_t ModificationTime(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? int32_t(DosTimeFromUnix(st.st_mtime)) : 0;
}

// Keeps the progress reports to one per percent: a large archive has many
// more members than a gauge has steps.
class Gauge {
public:
    Gauge(ListSink& sink, size_t total) : sink_(sink), total_(total) {}
    void Step(size_t position)
    {
        const int percent = total_ ? int(position * 100 / total_) : 100;
        if (percent != shown_)
            sink_.Progress(shown_ = percent);
    }

private:
    ListSink& sink_;
    size_t total_;
    int shown_ = -1;
};

class ArchiveListing {
public:
    explicit ArchiveListing(const std::string& zipPath) : zipPath_(zipPath) {}

    void AddParent(int32_t time)
    {
        SourceEntry& e = dirs_.emplace_back();
        e.kind = fkDirectory;
        e.name = "..";
        e.time = time;
        e.size = -1;
    }

    void Add(const ZipDirEntry& member)
    {
        const std::string& name = member.FileName;
        if (!StartsWithIgnoreCase(name, zipPath_))
            return;
        const std::string_view rest = std::string_view(name).substr(zipPath_.size());
        const size_t slash = rest.find('/');
        if (slash != std::string_view::npos) {
            SourceEntry* dir = Folder(rest.substr(0, slash), int32_t(member.DateTime));
            if (dir && !member.IsDirectory())
                dir->size += int64_t(member.UncompressedSize);
            else if (!dir)
                ++unlisted_;
            return;
        }
        if (rest == "." || rest == "..")
            ++unlisted_;
        if (rest.empty() || rest == "." || rest == "..")
            return; // the folder's own entry, or a name no row may carry
        SourceEntry& e = files_.emplace_back();
        e.kind = fkFile;
        e.name = std::string(rest);
        e.time = int32_t(member.DateTime);
        e.size = int64_t(member.UncompressedSize);
        e.memberIndex = member.CentralIndex;
    }

    // The folders first, in the order met, then the files.
    void Send(ListSink& sink, const CancelToken& cancel)
    {
        std::vector<SourceEntry> chunk;
        for (std::vector<SourceEntry>* part : {&dirs_, &files_}) {
            for (SourceEntry& e : *part) {
                if (cancel.Cancelled())
                    return;
                chunk.push_back(std::move(e));
                if (chunk.size() == FileSource::kChunkSize)
                    sink.Chunk(std::exchange(chunk, {}));
            }
        }
        if (!chunk.empty())
            sink.Chunk(std::move(chunk));
    }

    // Members of this folder that no row can show (an absolute name, an
    // empty, "." or ".." part): the user is told they are there.
    size_t Unlisted() const { return unlisted_; }

private:
    // The folder entry of that name, made at its first mention; none for an
    // empty name (a doubled "/") nor for "." and "..", which would pose as
    // the way out. Indexes, not pointers: the vector grows.
    SourceEntry* Folder(std::string_view name, int32_t time)
    {
        if (name.empty() || name == "." || name == "..")
            return nullptr;
        auto [it, made] = folders_.try_emplace(LowerAscii(name), dirs_.size());
        if (made) {
            SourceEntry& e = dirs_.emplace_back();
            e.kind = fkDirectory;
            e.name = std::string(name);
            e.time = time;
            e.size = 0;
            e.sizeDone = true;
        }
        return &dirs_[it->second];
    }

    const std::string& zipPath_;
    std::vector<SourceEntry> dirs_, files_;
    std::unordered_map<std::string, size_t> folders_;
    size_t unlisted_ = 0;
};

} // namespace

void ListArchiveMembers(TZipMaster& zip, const std::string& archive, const std::string& zipPath, ListSink& sink,
                        const CancelToken& cancel)
{
    ArchiveListing listing(zipPath);
    listing.AddParent(ModificationTime(archive));
    std::string error;
    try {
        zip.SetZipFilename(archive);
    } catch (const ZipReadError& e) {
        error = e.what();
    }
    const std::vector<ZipDirEntry>& contents = zip.ZipContents();
    Gauge gauge(sink, contents.size());
    for (size_t i = 0; i < contents.size(); ++i) {
        if (cancel.Cancelled())
            return;
        gauge.Step(i + 1);
        listing.Add(contents[i]);
    }
    listing.Send(sink, cancel);
    if (listing.Unlisted() > 0) {
        const std::string hidden = std::to_string(listing.Unlisted()) +
                                   " member(s) here are not listed: their names are absolute or hold an empty, "
                                   "\".\" or \"..\" part";
        error = error.empty() ? hidden : error + "; " + hidden;
    }
    if (!error.empty() && !cancel.Cancelled())
        sink.Problem(error);
}

namespace {

// The member whose stored name is member, exactly; failing that, the one
// whose folders differ from it in case alone (a pane's folder path merges
// case). -1 when none, or more than one, is.
int64_t MemberIndex(const TZipMaster& zip, const std::string& member)
{
    int64_t found = -1;
    int alike = 0;
    for (const ZipDirEntry& e : zip.ZipContents()) {
        if (e.CentralIndex < 0 || e.FileName.size() != member.size())
            continue;
        if (e.FileName == member)
            return e.CentralIndex;
        const size_t slash = member.rfind('/') + 1;
        if (EqualsIgnoreCase(e.FileName.substr(0, slash), member.substr(0, slash)) &&
            e.FileName.compare(slash, std::string::npos, member, slash) == 0) {
            found = e.CentralIndex;
            ++alike;
        }
    }
    return alike == 1 ? found : -1;
}

} // namespace

bool ExtractArchiveMember(TZipMaster& zip, const std::string& archive, const std::string& member,
                          const std::string& targetDir)
{
    try {
        zip.SetZipFilename(archive);
    } catch (const ZipReadError&) {
        // Listing the archive reported the damage; the member may still be whole.
    }
    // By its index: the name may hold "*" or "?", which as a pattern would
    // take other members too.
    const int64_t index = MemberIndex(zip, member);
    if (index < 0)
        return false;
    zip.ExtrOptions.Exclude(ExtrOpt::ExtrDirNames);
    zip.ExtrOptions.Include(ExtrOpt::ExtrOverWrite);
    zip.ExtrBaseDir = targetDir;
    zip.FSpecArgs = {std::to_string(index)};
    zip.SelectByIndex = true;
    zip.ExtractFiles();
    return zip.SuccessCount() > 0;
}

bool ZipSource::ExtractMember(const std::string& archive, const std::string& member,
                              const std::string& targetDir) const
{
    std::unique_ptr<TZipMaster> zip = TakeDriver(archive);
    // The libraries are looked for where the window's driver looks; those
    // folders are set once, before any pane is read.
    if (operations_) {
        zip->OwnLibraryDirectory = operations_->OwnLibraryDirectory;
        zip->DLLDirectory = operations_->DLLDirectory;
    }
    const bool made = ExtractArchiveMember(*zip, archive, member, targetDir);
    GiveBack(std::move(zip));
    return made;
}

ZipSource::ZipSource(TZipMaster* operations) : operations_(operations), pool_(std::make_shared<DriverPool>()) {}

ZipSource::~ZipSource() = default;

void ZipSource::List(const PanePlace& place, ListSink& sink, const CancelToken& cancel) const
{
    const std::string archive = place.ArchiveFile();
    std::unique_ptr<TZipMaster> zip = TakeDriver(archive);
    ListArchiveMembers(*zip, archive, place.ZipPath, sink, cancel);
    GiveBack(std::move(zip));
}

Capabilities ZipSource::Can(const PanePlace&) const
{
    return {Capability::CopyIn, Capability::CopyOut, Capability::Delete, Capability::OpenMember};
}

namespace {

bool InZip(const PanePlace& place) { return std::string_view(place.Source()) == kZipSourceName; }

bool IsTransfer(int code) { return code == FO_COPY || code == FO_MOVE; }

// Runs on a worker with a driver of its own from the pool (the window's
// driver stays the window's), given back when the operation goes.
class ZipSourceOperation : public SourceOperation {
public:
    using Driver = std::unique_ptr<TZipMaster, std::function<void(TZipMaster*)>>;
    ZipSourceOperation(Driver zip, int code, const PanePlace& from, const PanePlace& to, SourceOperationUi& ui,
                       bool fastZipMove)
        : zip_(std::move(zip)), code_(code), from_(from), to_(to), ui_(ui), fastZipMove_(fastZipMove)
    {
        zip_->OnMessage = [this](int, const std::string& text) { ui_.Status(text); };
        // Said once the call is over: a library call holds the process-wide
        // archive lock, and a box waiting for the user must not hold it.
        zip_->ShowMessage = [this](const std::string& text) { said_.push_back(text); };
    }
    ~ZipSourceOperation() override
    {
        zip_->OnMessage = nullptr;
        zip_->ShowMessage = nullptr;
    }
    SourceOperationResult Run(const std::vector<SourceRow>& rows) override
    {
        const SourceOperationResult result = RunZipOperation(code_, from_, to_, rows, fastZipMove_, *zip_, ui_);
        for (const std::string& text : said_)
            ui_.Error(text);
        return result;
    }

private:
    Driver zip_;
    std::vector<std::string> said_;
    int code_;
    // Copies: the panes may have moved on by the time it runs.
    PanePlace from_, to_;
    SourceOperationUi& ui_;
    bool fastZipMove_;
};

} // namespace

SourceOperationResult RunZipOperation(int code, const PanePlace& from, const PanePlace& to,
                                      const std::vector<SourceRow>& rows, bool fastZipMove, TZipMaster& zip,
                                      SourceOperationUi& ui)
{
    if (InZip(from)) {
        // Members go out only to a folder of the disk.
        if (IsTransfer(code) && std::string_view(to.Source()) != kLocalSourceName) {
            ui.Inform(kBetweenZipsText);
            return {};
        }
        return ExtractFromArchive(code, from, to, rows, fastZipMove, zip, ui);
    }
    if (InZip(to) && IsTransfer(code))
        return AddToArchive(code, from, to, rows, zip, ui);
    return {};
}

bool ZipSource::RunsOperation(int code, const PanePlace& from, const PanePlace& to) const
{
    return InZip(from) || (InZip(to) && IsTransfer(code));
}

std::unique_ptr<SourceOperation> ZipSource::OperationFor(int code, const PanePlace& from, const PanePlace& to,
                                                         SourceOperationUi& ui,
                                                         const SourceOperationOptions& options) const
{
    if (!operations_ || !RunsOperation(code, from, to))
        return nullptr;
    std::unique_ptr<TZipMaster> zip = TakeDriver(InZip(from) ? from.ArchiveFile() : to.ArchiveFile());
    zip->OwnLibraryDirectory = operations_->OwnLibraryDirectory;
    zip->DLLDirectory = operations_->DLLDirectory;
    // The pool is shared: the operation may outlive this source.
    ZipSourceOperation::Driver driver(zip.release(), [pool = pool_](TZipMaster* done) {
        std::unique_ptr<TZipMaster> back(done);
        std::lock_guard lock(pool->mutex);
        if (pool->idle.size() == kIdleDrivers)
            pool->idle.erase(pool->idle.end() - 1);
        pool->idle.insert(pool->idle.begin(), std::move(back));
    });
    return std::make_unique<ZipSourceOperation>(std::move(driver), code, from, to, ui, options.fastMove);
}

std::unique_ptr<TZipMaster> ZipSource::TakeDriver(const std::string& archive) const
{
    std::lock_guard lock(pool_->mutex);
    auto& idle = pool_->idle;
    if (idle.empty())
        return std::make_unique<TZipMaster>();
    auto it = std::find_if(idle.begin(), idle.end(), [&](const auto& zip) { return zip->ZipFilename() == archive; });
    if (it == idle.end())
        it = idle.begin();
    std::unique_ptr<TZipMaster> zip = std::move(*it);
    idle.erase(it);
    return zip;
}

void ZipSource::GiveBack(std::unique_ptr<TZipMaster> driver) const
{
    std::lock_guard lock(pool_->mutex);
    auto& idle = pool_->idle;
    if (idle.size() == kIdleDrivers)
        idle.erase(idle.end() - 1);
    idle.insert(idle.begin(), std::move(driver));
}

} // namespace tarnel
