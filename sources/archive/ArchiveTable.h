#pragma once
// The table of an archive read through libarchive: every member's name,
// size, time, kind and link, read once by streaming the archive (a
// compressed tar is never unpacked to disk), with an index of its folders so
// that entering one needs no second pass.
#include "sources/FileSource.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

struct archive;

namespace tarnel {

struct ArchiveMember {
    enum class Type : uint8_t { File, Folder, Symlink, Other };
    std::string path;       // stored name made plain: "a/b/c", no "./" nor doubled "/"
    std::string linkTarget; // a symbolic link's target, as stored
    std::string hardLink;   // plain name of the member this one is a hard link to
    int64_t ordinal = 0;    // the entry's place in the archive, from 0
    int64_t size = 0;
    bool sizeKnown = true;
    int64_t mtime = 0; // seconds since the epoch
    uint32_t mode = 0644;
    Type type = Type::File;
    bool encrypted = false;
    // An absolute name or one with a ".." part: never listed nor written.
    bool unsafe = false;
    // The entry of the archive's own top folder ("." or "/"): nothing to show.
    bool top = false;
};

struct ArchiveFolder {
    std::vector<std::string> folders; // names of the folders right below, as first met
    std::vector<size_t> files;        // indexes into ArchiveTable::members
    int64_t size = 0;                 // everything below, summed
    int64_t mtime = 0;
    bool ownEntry = false; // the archive holds an entry for the folder itself
};

struct ArchiveTable {
    std::vector<ArchiveMember> members;
    // By folder path: "" for the top, else "a/b/".
    std::unordered_map<std::string, ArchiveFolder> folders;
    std::string formatName; // libarchive's name of the format, as last seen
    int format = 0;         // libarchive's ARCHIVE_FORMAT_* code
    bool singleFile = false; // one compressed file, not an archive
    bool writable = false;   // a kind members can be added to and deleted from
    std::string problem;     // what stopped the reading early, or is wrong with it
    int64_t archiveSize = 0;

    // The member of that ordinal, or null.
    const ArchiveMember* ByOrdinal(int64_t ordinal) const;
    // The member stored under that plain name (the last of several), or null.
    const ArchiveMember* ByPath(const std::string& path) const;

    std::unordered_map<std::string, size_t> byPath; // plain name -> index
};

// What a file's content says it is.
enum class ArchiveContent { None, Zip, Archive };

// Looks at the open file's first bytes (and, for libarchive's formats, its
// first header). Moves the file's offset.
ArchiveContent DetectArchiveContent(int fd);
// The same for a file by name, opened as a regular file only.
ArchiveContent DetectArchiveContent(const std::string& path);

// A libarchive reader over an open file descriptor, with the formats and the
// in-process filters the archive source reads (never an external program).
// The descriptor stays the caller's.
class ArchiveReader {
public:
    // allowSingleFile: a lone compressed file opens too, as one member.
    explicit ArchiveReader(int fd, bool allowSingleFile = true);
    ~ArchiveReader();
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    // False with Error() set when the reader could not start.
    bool Open();
    struct archive* Handle() const { return a_; }
    std::string Error() const;
    // Whether what was opened is a lone compressed file rather than an
    // archive; known after the first header.
    bool SingleFile() const;
    // A format no compression wraps, read as one raw member: no archive at all.
    bool Unrecognised() const;

    int fd_;
    std::vector<char> buffer_;

private:
    bool allowSingleFile_;
    struct archive* a_ = nullptr;
};

// Reads the whole table of the archive at path. progress gets 0..100 as the
// file is read. A damaged archive keeps what was read before the damage,
// with the reason in problem. Null only when cancelled.
std::shared_ptr<const ArchiveTable> ReadArchiveTable(const std::string& path, const CancelToken& cancel,
                                                     const std::function<void(int)>& progress = {});

// Tables kept by file identity (device, inode, size, modification time): an
// unchanged archive is read once however often its folders are entered.
class ArchiveTableCache {
public:
    std::shared_ptr<const ArchiveTable> Get(const std::string& path, const CancelToken& cancel,
                                            const std::function<void(int)>& progress = {});
    // How many times a table was read from an archive, for tests.
    int Reads() const;

private:
    struct Key {
        uint64_t dev, ino;
        int64_t size, mtimeNs;
        bool operator==(const Key&) const = default;
    };
    mutable std::mutex mutex_;
    std::vector<std::pair<Key, std::shared_ptr<const ArchiveTable>>> kept_; // newest first
    int reads_ = 0;
};

} // namespace tarnel
