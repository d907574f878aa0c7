#pragma once
// Descriptions that follow their files: told by a file operation which
// entries it copied, moved, renamed or deleted, it carries their lines into
// the target folders' description files and drops them where the entries
// went away, once the operation has ended, one rewrite per folder.
#include "platform/ShellFileOperation.h"

#include <functional>
#include <string>
#include <vector>

namespace tarnel {

class DescriptionFollower : public OperationObserver {
public:
    // problem receives a sentence for every folder whose description file
    // could not be written; called on the operation's thread. None: nothing
    // is said.
    explicit DescriptionFollower(std::function<void(const std::string& text)> problem = {});

    void EntryFinished(int code, const std::string& source, const std::string& target) override;
    // Writes what the finished entries ask for (see Flush), unless held.
    void OperationEnded() override;

    // Several operations that belong together (a group of renames, whose
    // names may chain) are written together by one Flush.
    void HoldUntilFlush(bool held) { held_ = held; }
    // Writes what the entries finished so far ask for, then forgets them.
    void Flush();

private:
    struct Entry {
        int code;
        std::string source;
        std::string target;
    };
    std::vector<Entry> entries_;
    std::function<void(const std::string&)> problem_;
    bool held_ = false;
};

} // namespace tarnel
