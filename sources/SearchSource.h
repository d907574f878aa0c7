#pragma once
// The results of a find as a place of a pane. Each entry is a file of the
// disk at its own folder + name, so the file commands work on it as in a
// folder; the place keeps its query, and refreshing it runs the find again.
// The source keeps queries in memory only: after a restart a results place
// has nothing to list, and the pane starts elsewhere.
#include "sources/FileSource.h"
#include "tools/model/FindQuery.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tarnel {

struct TDirData;
struct TFileData;

// Starts a find; the real one is StartFind, tests hand a scripted one.
using FindStarter = std::function<std::shared_ptr<FindJob>(const FindQuery&, std::shared_ptr<FindSink>)>;

class SearchSource : public FileSource {
public:
    explicit SearchSource(FindStarter start);
    const char* Name() const override { return kSearchSourceName; }
    // What runs the finds from now on.
    void SetStarter(FindStarter start);

    // Keeps the hits of a find made elsewhere (the find dialog) and returns
    // the place that lists them: a label below the first start folder, so
    // that going up from it lands there.
    PanePlace Feed(const FindQuery& query, std::vector<FindHit> hits);
    // The next listing of place runs its find again instead of listing the
    // hits kept (the refresh command).
    void SearchAgain(const PanePlace& place);
    std::optional<FindQuery> QueryOf(const PanePlace& place) const;
    // A hit renamed on the disk stays in the results under its new name.
    void Renamed(const PanePlace& place, const std::string& oldPath, const std::string& newPath);
    // The archive a directory of the place lies inside ("" on the disk):
    // the hits found inside archives have no path of the disk to act on.
    std::string ArchiveOf(const PanePlace& place, const std::string& directory) const;

    // ".." and the hits kept, each looked at again (a hit gone from the
    // disk leaves the results; size, time and attributes are read anew), or
    // the hits of the find run again, streamed as they come. A place whose
    // query is not kept lists nothing and says so.
    void List(const PanePlace& place, ListSink& sink, const CancelToken& cancel) const override;
    // A folder of the disk, but nothing can be copied or made inside it.
    Capabilities Can(const PanePlace& place) const override;

    // What the description column shows of a hit's folder: the folder
    // below the first start folder, "./" for that folder itself.
    static std::string FolderText(const FindQuery& query, const std::string& directory);
    // At most this many queries are kept; the oldest go first.
    static constexpr size_t kKeptQueries = 40;

private:
    struct Results {
        FindQuery query;
        std::vector<FindHit> hits;
        // The archives among the hits, each ending in "/": asked about per
        // row, so looked up here rather than among the hits.
        std::set<std::string> archives;
        bool again = false;
        void Keep(std::vector<FindHit> found);
    };
    std::shared_ptr<Results> Find(const PanePlace& place) const;
    void ListKept(const Results& results, std::vector<FindHit> hits, int id, ListSink& sink,
                  const CancelToken& cancel) const;
    void ListAgain(const std::shared_ptr<Results>& results, ListSink& sink, const CancelToken& cancel) const;

    FindStarter start_;
    mutable std::mutex mutex_;
    std::map<int, std::shared_ptr<Results>> kept_;
    int nextId_ = 1;
};

// The archive holding an entry of the pane when a find met it there, ""
// for an entry that is a file of the disk (every entry outside results).
std::string ArchiveHoldingEntry(const TDirData& pane, const TFileData& entry);

} // namespace tarnel
