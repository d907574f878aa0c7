// A stand-in for the find engine, replaced by the real engine: names only,
// one worker thread, so that the results pane has a find to run again.
#include "tools/model/FindQuery.h"

#include "panes/Matcher.h"
#include "panes/PathUtil.h"

#include <atomic>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {

struct NamePatterns {
    std::vector<std::string> take, leave;
    explicit NamePatterns(const std::string& text)
    {
        size_t start = 0;
        while (start <= text.size()) {
            size_t end = text.find(';', start);
            if (end == std::string::npos)
                end = text.size();
            std::string part = text.substr(start, end - start);
            while (!part.empty() && part.front() == ' ')
                part.erase(part.begin());
            while (!part.empty() && part.back() == ' ')
                part.pop_back();
            if (!part.empty())
                (part[0] == '!' ? leave : take).push_back(part[0] == '!' ? part.substr(1) : part);
            start = end + 1;
        }
    }
    bool Takes(const std::string& name) const
    {
        bool taken = take.empty();
        for (const std::string& p : take)
            taken = taken || Match(p, name);
        for (const std::string& p : leave)
            if (Match(p, name))
                return false;
        return taken;
    }
};

class StandInJob final : public FindJob {
public:
    void Stop() override { stop->store(true); }
    std::shared_ptr<std::atomic<bool>> stop = std::make_shared<std::atomic<bool>>(false);
};

void Walk(int dirFd, const std::string& dir, const NamePatterns& names, const FindQuery& query,
          const std::atomic<bool>& stop, FindSink& sink, FindCounts& counts)
{
    DIR* d = ::fdopendir(dirFd);
    if (!d) {
        ::close(dirFd);
        return;
    }
    ++counts.folders;
    std::vector<FindHit> hits;
    std::vector<std::string> folders;
    while (const dirent* de = ::readdir(d)) {
        if (stop.load())
            break;
        const std::string name = de->d_name;
        if (name == "." || name == "..")
            continue;
        ++counts.files;
        struct stat st;
        if (::fstatat(::dirfd(d), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        const bool folder = S_ISDIR(st.st_mode);
        if (folder && !(query.skipHiddenFolders && name[0] == '.'))
            folders.push_back(name);
        if (names.Takes(name)) {
            FindHit& hit = hits.emplace_back();
            hit.directory = dir;
            hit.name = name;
            hit.folder = folder;
            hit.size = folder ? 0 : int64_t(st.st_size);
            hit.modified = int64_t(st.st_mtime);
        }
    }
    counts.found += hits.size();
    if (!hits.empty())
        sink.Found(std::move(hits));
    for (const std::string& name : folders) {
        if (stop.load())
            break;
        const int fd = ::openat(::dirfd(d), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0)
            Walk(fd, dir + name + "/", names, query, stop, sink, counts);
    }
    ::closedir(d);
}

} // namespace

std::string FindQueryProblem(const FindQuery& query)
{
    if (query.folders.empty())
        return "No folder to search was given.";
    return {};
}

std::shared_ptr<FindJob> StartFind(const FindQuery& query, std::shared_ptr<FindSink> sink)
{
    auto job = std::make_shared<StandInJob>();
    std::thread([query, sink, stop = job->stop] {
        const NamePatterns names(query.namePatterns);
        FindCounts counts;
        for (const std::string& folder : query.folders) {
            const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd < 0) {
                sink->Note("Cannot read " + folder);
                continue;
            }
            Walk(fd, AddPathDelimiter(folder), names, query, *stop, *sink, counts);
        }
        sink->Counts(counts);
        sink->Finished(stop->load());
    }).detach();
    return job;
}

} // namespace tarnel
