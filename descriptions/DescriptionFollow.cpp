#include "descriptions/DescriptionFollow.h"

#include "descriptions/Descriptions.h"

#include <iostream>
#include <map>
#include <utility>

#include <sys/stat.h>

namespace tarnel {

namespace {

// The folder (with "/") and the name of a full path without a trailing "/".
std::pair<std::string, std::string> Split(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {std::string(), path};
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

// Folders are told apart by device and inode: two spellings of one folder
// share one description file and one rewrite.
struct FolderId {
    dev_t dev = 0;
    ino_t ino = 0;
    bool operator<(const FolderId& o) const { return dev != o.dev ? dev < o.dev : ino < o.ino; }
};

bool IdOf(const std::string& dir, FolderId& id)
{
    struct stat st;
    if (::stat(dir.empty() ? "." : dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    id = {st.st_dev, st.st_ino};
    return true;
}

struct Folder {
    std::string path; // with "/"
    std::vector<DescriptionChange> changes;
    bool sets = false;
    bool written = false;
};

} // namespace

DescriptionFollower::DescriptionFollower(std::function<void(const std::string& text)> problem)
    : problem_(std::move(problem))
{
}

void DescriptionFollower::EntryFinished(int code, const std::string& source, const std::string& target)
{
    if (code == FO_COPY || code == FO_MOVE || code == FO_RENAME || code == FO_DELETE)
        entries_.push_back({code, source, target});
}

void DescriptionFollower::OperationEnded()
{
    std::vector<Entry> entries;
    entries.swap(entries_);

    // The lines to carry, read once per source folder.
    std::map<FolderId, Folder> folders;
    std::map<FolderId, DescriptionList> carried;
    std::map<FolderId, std::vector<std::string>> wanted;
    auto folderOf = [&](const std::string& dir, FolderId& id) {
        if (!IdOf(dir, id))
            return false;
        Folder& f = folders[id];
        if (f.path.empty())
            f.path = dir;
        return true;
    };
    struct Step {
        const Entry* entry;
        FolderId from, to;
        bool hasTarget = false;
    };
    std::vector<Step> steps;
    for (const Entry& e : entries) {
        const auto [sourceDir, sourceName] = Split(e.source);
        // The description file itself describes nothing and is not described.
        if (sourceName.empty() || IsDescriptionFileName(sourceName))
            continue;
        Step step {&e, {}, {}, false};
        if (!folderOf(sourceDir, step.from))
            continue;
        if (e.code != FO_DELETE) {
            const auto [targetDir, targetName] = Split(e.target);
            if (targetName.empty() || IsDescriptionFileName(targetName) || !folderOf(targetDir, step.to))
                continue;
            step.hasTarget = true;
        }
        wanted[step.from].push_back(sourceName);
        steps.push_back(step);
    }
    for (auto& [id, names] : wanted)
        LoadDescriptionsOf(folders[id].path, names, carried[id]);

    for (const Step& s : steps) {
        const std::string sourceName = Split(s.entry->source).second;
        if (s.hasTarget) {
            if (const std::string* text = carried[s.from].Find(sourceName)) {
                Folder& to = folders[s.to];
                to.changes.push_back({Split(s.entry->target).second, *text, false});
                to.sets = true;
            }
        }
        if (s.entry->code != FO_COPY)
            folders[s.from].changes.push_back({sourceName, {}, true});
    }

    auto write = [&](Folder& f) {
        if (f.changes.empty())
            return;
        const WriteDescriptionResult r = WriteDescriptions(f.path, f.changes);
        f.written = r == WriteDescriptionResult::Written;
        if (f.written)
            return;
        const std::string text = "The descriptions in " + DescriptionFileIn(f.path) + " could not be updated.";
        if (problem_)
            problem_(text);
        else
            std::cerr << "tarnel: " << text << "\n";
    };
    // Where lines arrive first: a line leaves its old folder only once it
    // has arrived (a rename within one folder is one rewrite).
    for (auto& [id, f] : folders)
        if (f.sets)
            write(f);
    for (auto& [id, f] : folders) {
        if (f.sets)
            continue;
        std::erase_if(f.changes, [&](const DescriptionChange& c) {
            for (const Step& s : steps) {
                if (s.entry->code == FO_DELETE || !s.hasTarget || s.from.dev != id.dev || s.from.ino != id.ino
                    || Split(s.entry->source).second != c.name)
                    continue;
                const Folder& to = folders.at(s.to);
                if (to.sets && !to.written && carried[s.from].Find(c.name))
                    return true; // not carried: it stays where it was
            }
            return false;
        });
        write(f);
    }
}

} // namespace tarnel
