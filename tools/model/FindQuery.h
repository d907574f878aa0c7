#pragma once
// What a find asks for, what it finds, and how a running find is watched and
// stopped. The find dialog, the command-line find and a results pane all go
// through StartFind.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnel {

struct FindQuery {
    std::vector<std::string> folders; // where to start; at least one
    // Wildcard patterns for names, separated by ";"; one with a leading "!"
    // leaves out what it matches. Empty or "*" takes every name.
    std::string namePatterns;

    // Text the content must hold; empty finds by name alone.
    std::string text;
    enum class TextKind { Plain, Regex };
    TextKind textKind = TextKind::Plain;
    bool caseSensitive = false;
    bool wholeWords = false;
    bool binaryFilesToo = false; // else a file that looks binary is skipped

    std::optional<int64_t> minSize, maxSize;          // bytes, inclusive
    std::optional<int64_t> modifiedAfter, modifiedBefore; // seconds since the epoch
    bool followLinks = false;
    bool oneFileSystem = false;
    bool insideArchives = false;
    bool skipHiddenFolders = false;
    // Hits carry their size and time; a caller that prints paths alone
    // turns it off and saves a stat per hit.
    bool sizesAndTimes = true;

    bool operator==(const FindQuery&) const = default;
};

// One thing found. A member of an archive has its archive's path in archive
// and its folder inside the archive in directory ("" at the archive's root,
// else "a/b/", as a place's ZipPath).
struct FindHit {
    std::string directory; // on disk it ends in "/"
    std::string name;
    std::string archive;   // empty on disk
    bool folder = false;
    int64_t size = 0;
    int64_t modified = 0; // seconds since the epoch
    // The first line that matched the text, when one was asked for.
    int64_t lineNumber = 0;   // 1-based; 0 without a text
    int64_t matchOffset = -1; // byte offset of the match in the file
    int64_t matchLength = 0;  // bytes
    int64_t lineOffset = -1;  // byte offset of the matching line's start
    std::string lineText;     // the line, cut to a screen's width
};

struct FindCounts {
    uint64_t folders = 0; // folders read
    uint64_t files = 0;   // entries looked at
    uint64_t found = 0;
};

// Told what a find does, on the find's own threads: hand the work to the
// window's thread as an event.
class FindSink {
public:
    virtual ~FindSink() = default;
    virtual void Found(std::vector<FindHit>&& hits) = 0;
    // Something the user should know that did not stop the find: a folder
    // that could not be read, a mount that does not answer.
    virtual void Note(const std::string& text) = 0;
    virtual void Counts(const FindCounts& /*counts*/) {}
    // Once: the find is over, or was stopped. A worker stalled on a mount
    // that does not answer is left behind (and noted), never waited for.
    virtual void Finished(bool stopped) = 0;
};

class FindJob {
public:
    virtual ~FindJob() = default;
    // Returns at once; Finished follows.
    virtual void Stop() = 0;
};

// A plain message when the query cannot run (a regular expression that does
// not compile, no folder); empty when it can.
std::string FindQueryProblem(const FindQuery& query);

// Starts the find on worker threads and returns at once. The job and the
// sink may be dropped by the caller at any time; the workers keep what they
// need.
std::shared_ptr<FindJob> StartFind(const FindQuery& query, std::shared_ptr<FindSink> sink);

} // namespace tarnel
