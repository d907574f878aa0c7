#include "descriptions/DescriptionFollow.h"

#include "descriptions/Descriptions.h"
#include "panes/PathUtil.h"

#include <algorithm>
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
    if (!held_)
        Flush();
}

void DescriptionFollower::Flush()
{
    std::vector<Entry> entries;
    entries.swap(entries_);

    std::map<FolderId, Folder> folders;
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
        std::string sourceName, targetName;
        FolderId from, to;
        bool hasTarget = false;
    };
    std::vector<Step> steps;
    std::map<FolderId, std::vector<std::string>> wanted;
    for (const Entry& e : entries) {
        Step step {&e, Split(e.source).second, {}, {}, {}, false};
        // The description file itself describes nothing and is not described.
        if (step.sourceName.empty() || IsDescriptionFileName(step.sourceName)
            || !folderOf(Split(e.source).first, step.from))
            continue;
        if (e.code != FO_DELETE) {
            step.targetName = Split(e.target).second;
            if (step.targetName.empty() || IsDescriptionFileName(step.targetName)
                || !folderOf(Split(e.target).first, step.to))
                continue;
            step.hasTarget = true;
        }
        wanted[step.from].push_back(step.sourceName);
        steps.push_back(step);
    }
    // The lines as they are now, read once per source folder.
    std::map<FolderId, DescriptionList> onDisk;
    for (auto& [id, names] : wanted)
        LoadDescriptionsOf(folders[id].path, names, onDisk[id]);

    // The entries in the order they were handled: a name may be the target of
    // one and the source of a later one (a chain of renames).
    struct Now {
        std::string name;
        bool described = false;
        std::string text;
        bool carriedAway = false; // removed because it went to another folder
        FolderId carriedTo;
    };
    std::map<FolderId, std::map<std::string, Now>> now; // key: upper-cased name
    std::map<FolderId, std::vector<std::string>> order;  // the keys in first-seen order
    auto set = [&](const FolderId& id, Now n) {
        const std::string key = UpperAscii(n.name);
        if (now[id].insert_or_assign(key, std::move(n)).second)
            order[id].push_back(key);
    };
    auto lookup = [&](const FolderId& id, const std::string& name, std::string& text) {
        const auto& names = now[id];
        if (const auto it = names.find(UpperAscii(name)); it != names.end()) {
            text = it->second.text;
            return it->second.described;
        }
        const auto list = onDisk.find(id);
        const std::string* found = list == onDisk.end() ? nullptr : list->second.Find(name);
        if (found)
            text = *found;
        return found != nullptr;
    };
    for (const Step& s : steps) {
        std::string text;
        const bool described = lookup(s.from, s.sourceName, text);
        if (s.entry->code != FO_COPY) {
            const bool away = described && s.hasTarget && (s.from.dev != s.to.dev || s.from.ino != s.to.ino);
            set(s.from, {s.sourceName, false, {}, away, s.to});
        }
        // A source without a description leaves what the target's file says.
        if (s.hasTarget && described)
            set(s.to, {s.targetName, true, text, false, {}});
    }
    // New lines are appended in the order the entries were handled.
    for (auto& [id, keys] : order)
        for (const std::string& key : keys) {
            const Now& n = now[id][key];
            folders[id].changes.push_back({n.name, n.text, !n.described});
        }

    auto write = [&](Folder& f) {
        if (f.changes.empty())
            return;
        std::string keptCopy;
        const WriteDescriptionResult r = WriteDescriptions(f.path, f.changes, &keptCopy);
        f.written = r == WriteDescriptionResult::Written;
        if (f.written)
            return;
        std::string text = "The descriptions in " + DescriptionFileIn(f.path) + " could not be updated.";
        if (r == WriteDescriptionResult::Incomplete)
            text = DescriptionFileIn(f.path) + " may be half written; its new contents are kept in " + keptCopy + ".";
        if (problem_)
            problem_(text);
        else
            std::cerr << "tarnel: " << text << "\n";
    };
    // Where lines arrive first: a line leaves its old folder only once it has
    // arrived.
    for (auto& [id, f] : folders) {
        f.sets = std::any_of(f.changes.begin(), f.changes.end(), [](const auto& c) { return !c.remove; });
        if (f.sets)
            write(f);
    }
    for (auto& [id, f] : folders) {
        if (f.sets)
            continue;
        // By an init-capture: clang 14 cannot capture a structured binding.
        std::erase_if(f.changes, [&, &id = id](const DescriptionChange& c) {
            const Now& n = now[id][UpperAscii(c.name)];
            return n.carriedAway && !folders.at(n.carriedTo).written;
        });
        write(f);
    }
}

} // namespace tarnel
