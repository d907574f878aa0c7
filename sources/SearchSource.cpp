#include "sources/SearchSource.h"

#include "descriptions/Descriptions.h"
#include "panes/DirData.h"
#include "panes/FileData.h"
#include "panes/PathUtil.h"
#include "platform/DirectoryReader.h"
#include "platform/FileAttributes.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <set>
#include <unordered_map>

#include <sys/stat.h>

namespace tarnel {

namespace {

constexpr std::string_view kLabelStart = "[find ";

// The place's last part, "[find 12: *.txt]": the id the query is kept under.
int IdOf(const PanePlace& place)
{
    std::string_view path = place.Path;
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    const size_t slash = path.rfind('/');
    std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (last.substr(0, kLabelStart.size()) != kLabelStart)
        return 0;
    last.remove_prefix(kLabelStart.size());
    int id = 0;
    const auto [end, error] = std::from_chars(last.data(), last.data() + last.size(), id);
    return error == std::errc() && end != last.data() ? id : 0;
}

// A readable summary of the query for the pane's path line. No "/": the
// label is one part of a path, and going up from it must land on the
// start folder.
std::string LabelOf(int id, const FindQuery& query)
{
    std::string what = query.namePatterns.empty() ? std::string("*") : query.namePatterns;
    if (!query.text.empty())
        what += " containing \"" + query.text + "\"";
    constexpr size_t kMaxShown = 60;
    if (what.size() > kMaxShown)
        what = what.substr(0, kMaxShown) + "...";
    std::replace(what.begin(), what.end(), '/', '_');
    return std::string(kLabelStart) + std::to_string(id) + ": " + what + "]";
}

std::string DirectoryOfHit(const FindHit& hit)
{
    if (hit.archive.empty())
        return AddPathDelimiter(hit.directory);
    std::string dir = AddPathDelimiter(hit.archive) + hit.directory;
    return dir.empty() || dir.back() == '/' ? dir : dir + "/";
}

SourceEntry ParentEntry()
{
    SourceEntry up;
    up.name = "..";
    up.kind = fkDirectory;
    up.attr = faDirectory;
    return up;
}

// The entry of a hit as the find saw it.
SourceEntry EntryOf(const FindQuery& query, const FindHit& hit)
{
    SourceEntry e;
    e.name = hit.name;
    e.directory = DirectoryOfHit(hit);
    e.kind = hit.folder ? fkDirectory : fkFile;
    e.attr = (hit.folder ? faDirectory : 0u) | (!hit.name.empty() && hit.name[0] == '.' ? faHidden : 0u);
    e.time = int32_t(DosTimeFromUnix(hit.modified));
    e.size = hit.folder ? 0 : hit.size;
    // A folder inside an archive has no total to look up on the disk.
    e.sizeDone = !hit.archive.empty();
    e.description = SearchSource::FolderText(query, e.directory);
    return e;
}

// Hands entries on in chunks of the sources' size.
class Chunker {
public:
    explicit Chunker(ListSink& sink) : sink_(sink) { chunk_.reserve(FileSource::kChunkSize); }
    void Add(SourceEntry&& e)
    {
        chunk_.push_back(std::move(e));
        if (chunk_.size() == FileSource::kChunkSize)
            Flush();
    }
    void Flush()
    {
        if (chunk_.empty())
            return;
        sink_.Chunk(std::move(chunk_));
        chunk_.clear();
        chunk_.reserve(FileSource::kChunkSize);
    }

private:
    ListSink& sink_;
    std::vector<SourceEntry> chunk_;
};

// Gathers what a find running again reports, for the listing thread to take.
class Gatherer final : public FindSink {
public:
    void Found(std::vector<FindHit>&& hits) override
    {
        std::lock_guard lock(mutex_);
        batches_.push_back(std::move(hits));
        changed_.notify_all();
    }
    void Note(const std::string& text) override
    {
        std::lock_guard lock(mutex_);
        notes_.push_back(text);
    }
    void Finished(bool stopped) override
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
        stopped_ = stopped;
        changed_.notify_all();
    }

    // Waits a little for hits or the end; the lister looks at its cancel
    // token in between, as nothing wakes it when that is set.
    struct Taken {
        std::deque<std::vector<FindHit>> batches;
        bool finished = false;
        bool stopped = false;
    };
    Taken Take()
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(50), [&] { return finished_ || !batches_.empty(); });
        Taken taken;
        taken.batches.swap(batches_);
        taken.finished = finished_;
        taken.stopped = stopped_;
        return taken;
    }
    std::vector<std::string> Notes()
    {
        std::lock_guard lock(mutex_);
        return notes_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<FindHit>> batches_;
    std::vector<std::string> notes_;
    bool finished_ = false;
    bool stopped_ = false;
};

// The find's notes as one message: a tree full of unreadable folders must
// not bury the user in boxes.
std::string NotesText(const std::vector<std::string>& notes)
{
    constexpr size_t kMaxNotes = 10;
    std::string text;
    for (size_t i = 0; i < notes.size() && i < kMaxNotes; ++i)
        text += (i ? "\n" : "") + notes[i];
    if (notes.size() > kMaxNotes)
        text += "\n(" + std::to_string(notes.size() - kMaxNotes) + " more)";
    return text;
}

} // namespace

SearchSource::SearchSource(FindStarter start) : start_(std::move(start)) {}

void SearchSource::Results::Keep(std::vector<FindHit> found)
{
    hits = std::move(found);
    archives.clear();
    for (const FindHit& hit : hits)
        if (!hit.archive.empty())
            archives.insert(AddPathDelimiter(hit.archive));
}

void SearchSource::SetStarter(FindStarter start)
{
    std::lock_guard lock(mutex_);
    start_ = std::move(start);
}

PanePlace SearchSource::Feed(const FindQuery& query, std::vector<FindHit> hits)
{
    auto results = std::make_shared<Results>();
    results->query = query;
    results->Keep(std::move(hits));
    std::lock_guard lock(mutex_);
    const int id = nextId_++;
    kept_[id] = std::move(results);
    while (kept_.size() > kKeptQueries)
        kept_.erase(kept_.begin());
    const std::string start = query.folders.empty() ? std::string("/") : query.folders.front();
    PanePlace place = PanePlace::Directory(AddPathDelimiter(start) + LabelOf(id, query) + "/");
    place.SourceName = kSearchSourceName;
    return place;
}

std::shared_ptr<SearchSource::Results> SearchSource::Find(const PanePlace& place) const
{
    if (std::string_view(place.Source()) != kSearchSourceName)
        return nullptr;
    std::lock_guard lock(mutex_);
    const auto found = kept_.find(IdOf(place));
    return found == kept_.end() ? nullptr : found->second;
}

void SearchSource::SearchAgain(const PanePlace& place)
{
    if (const std::shared_ptr<Results> results = Find(place)) {
        std::lock_guard lock(mutex_);
        results->again = true;
    }
}

std::optional<FindQuery> SearchSource::QueryOf(const PanePlace& place) const
{
    if (const std::shared_ptr<Results> results = Find(place))
        return results->query;
    return std::nullopt;
}

void SearchSource::Renamed(const PanePlace& place, const std::string& oldPath, const std::string& newPath)
{
    const std::shared_ptr<Results> results = Find(place);
    if (!results)
        return;
    const size_t slash = newPath.rfind('/');
    std::lock_guard lock(mutex_);
    for (FindHit& hit : results->hits)
        if (hit.archive.empty() && AddPathDelimiter(hit.directory) + hit.name == oldPath) {
            hit.directory = newPath.substr(0, slash + 1);
            hit.name = newPath.substr(slash + 1);
        }
}

std::string SearchSource::ArchiveOf(const PanePlace& place, const std::string& directory) const
{
    const std::shared_ptr<Results> results = Find(place);
    if (!results)
        return {};
    std::lock_guard lock(mutex_);
    for (const std::string& inside : results->archives)
        if (directory.compare(0, inside.size(), inside) == 0)
            return inside.substr(0, inside.size() - 1);
    return {};
}

std::string SearchSource::FolderText(const FindQuery& query, const std::string& directory)
{
    if (!query.folders.empty()) {
        const std::string start = AddPathDelimiter(query.folders.front());
        if (directory == start)
            return "./";
        if (start != "/" && directory.compare(0, start.size(), start) == 0)
            return directory.substr(start.size());
    }
    return directory;
}

Capabilities SearchSource::Can(const PanePlace& place) const
{
    if (!Find(place))
        return {};
    return {Capability::CopyOut, Capability::Delete, Capability::Rename, Capability::OpenMember,
            Capability::DiskPaths};
}

void SearchSource::List(const PanePlace& place, ListSink& sink, const CancelToken& cancel) const
{
    const std::shared_ptr<Results> results = Find(place);
    if (!results) {
        sink.Problem("The found files of this place are no longer kept: " + place.Text());
        return;
    }
    std::unique_lock lock(mutex_);
    if (results->again) {
        lock.unlock();
        ListAgain(results, sink, cancel);
        return;
    }
    std::vector<FindHit> hits = results->hits;
    lock.unlock();
    ListKept(*results, std::move(hits), IdOf(place), sink, cancel);
}

void SearchSource::ListKept(const Results& results, std::vector<FindHit> hits, int id, ListSink& sink,
                            const CancelToken& cancel) const
{
    Chunker chunker(sink);
    chunker.Add(ParentEntry());
    // Each folder's descriptions are read once, whatever the hits' order.
    std::unordered_map<std::string, DescriptionList> descriptions;
    std::set<std::string> gone;
    std::set<std::string> archivesGone;
    for (const FindHit& hit : hits) {
        if (cancel.Cancelled())
            return;
        SourceEntry e = EntryOf(results.query, hit);
        if (!hit.archive.empty()) {
            struct stat st;
            if (archivesGone.count(hit.archive))
                continue;
            if (::stat(hit.archive.c_str(), &st) != 0) {
                archivesGone.insert(hit.archive);
                continue;
            }
            chunker.Add(std::move(e));
            continue;
        }
        const std::string path = e.directory + e.name;
        uint32_t attr = 0;
        if (!ReadFileAttributes(path, attr)) {
            gone.insert(path); // deleted or moved away since the find
            continue;
        }
        struct stat st;
        const bool followed = ::stat(path.c_str(), &st) == 0;
        if (!followed && ::lstat(path.c_str(), &st) != 0) {
            gone.insert(path);
            continue;
        }
        const bool dir = followed && S_ISDIR(st.st_mode);
        e.kind = dir ? fkDirectory : fkFile;
        e.attr = dir ? (attr | faDirectory) : (attr & ~uint32_t(faDirectory));
        e.size = dir ? 0 : int64_t(st.st_size);
        e.time = int32_t(DosTimeFromUnix(int64_t(st.st_mtime)));
        auto [list, fresh] = descriptions.try_emplace(e.directory);
        if (fresh)
            LoadDescriptions(e.directory, list->second);
        if (const std::string* text = list->second.Find(e.name); text && !text->empty())
            e.description += "  " + *text;
        chunker.Add(std::move(e));
    }
    chunker.Flush();
    if (gone.empty() && archivesGone.empty())
        return;
    // What is gone stays gone: the next listing need not look for it again.
    std::lock_guard lock(mutex_);
    const auto found = kept_.find(id);
    if (found == kept_.end())
        return;
    std::vector<FindHit>& kept = found->second->hits;
    kept.erase(std::remove_if(kept.begin(), kept.end(),
                              [&](const FindHit& hit) {
                                  return hit.archive.empty() ? gone.count(AddPathDelimiter(hit.directory) + hit.name) > 0
                                                             : archivesGone.count(hit.archive) > 0;
                              }),
               kept.end());
}

void SearchSource::ListAgain(const std::shared_ptr<Results>& results, ListSink& sink, const CancelToken& cancel) const
{
    Chunker chunker(sink);
    chunker.Add(ParentEntry());
    chunker.Flush();
    if (const std::string problem = FindQueryProblem(results->query); !problem.empty()) {
        sink.Problem(problem);
        return;
    }
    FindStarter start;
    {
        std::lock_guard lock(mutex_);
        start = start_;
    }
    auto gatherer = std::make_shared<Gatherer>();
    const std::shared_ptr<FindJob> job = start ? start(results->query, gatherer) : nullptr;
    if (!job) {
        sink.Problem("The find could not be started.");
        return;
    }
    std::vector<FindHit> all;
    for (;;) {
        if (cancel.Cancelled()) {
            // The kept hits stay; the find runs again at the next listing.
            job->Stop();
            return;
        }
        Gatherer::Taken taken = gatherer->Take();
        for (std::vector<FindHit>& batch : taken.batches) {
            for (FindHit& hit : batch) {
                chunker.Add(EntryOf(results->query, hit));
                all.push_back(std::move(hit));
            }
            chunker.Flush(); // shown as found
        }
        if (taken.finished) {
            if (const std::vector<std::string> notes = gatherer->Notes(); !notes.empty())
                sink.Problem(NotesText(notes));
            if (taken.stopped)
                return;
            break;
        }
    }
    std::lock_guard lock(mutex_);
    results->Keep(std::move(all));
    results->again = false;
}

std::string ArchiveHoldingEntry(const TDirData& pane, const TFileData& entry)
{
    if (std::string_view(pane.Source()) != kSearchSourceName)
        return {};
    const auto& named = pane.SourcesTable().named;
    const auto found = named.find(kSearchSourceName);
    if (found == named.end())
        return {};
    const auto* search = dynamic_cast<const SearchSource*>(found->second.get());
    return search ? search->ArchiveOf(pane.Place(), pane.DirOf(entry)) : std::string();
}

} // namespace tarnel
