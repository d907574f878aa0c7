#pragma once
// Reads one directory level the way the panes need it: raw-byte names, 64-bit
// sizes, the packed DOS modification time and the DOS-style attribute bits.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <dirent.h>

namespace tarnel {

enum AttrBits : uint32_t {
    faReadOnly = 1,
    faHidden = 2,
    faSysFile = 4,
    faVolumeID = 8,
    faDirectory = 16,
    faArchive = 32,
};

struct DirectoryEntry {
    std::string name;     // raw bytes as stored on disk
    int64_t size = 0;     // file size; 0 for directories and dangling links, -1 when unknown
    uint32_t dosTime = 0; // packed DOS date-time of the local mtime, 0 when it cannot be packed
    uint32_t attr = 0;    // AttrBits
};

// Calls onEntry for every entry of dir, "." and ".." included (as a search
// would). A link to a directory is a directory, any other link a file; a
// dangling link is a file of size 0. Returns false when dir cannot be opened;
// entries that vanish between listing and stat are skipped. In a directory
// that can be read but not searched, entries come from their directory types
// with size -1 and time 0.
bool ReadDirectoryEntries(const std::string& dir, const std::function<void(DirectoryEntry&&)>& onEntry);

// Every name of an open directory, "." and ".." included, with the type the
// directory records (DT_UNKNOWN where the file system does not say).
class DirectoryNames {
public:
    // False when the directory cannot be read; what was read before an error is kept.
    bool Read(int dirFd);
    const std::vector<const struct dirent64*>& Entries() const { return entries_; }
    int Fd() const { return fd_; }

private:
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::vector<const struct dirent64*> entries_;
    int fd_ = -1;
};

// As above, but every name is read before the first entry is looked at, and
// onNames sees them all first: whoever needs a file among the names (the
// folder's descriptions) finds it without reading the folder again.
bool ReadDirectoryEntries(const std::string& dir, const std::function<void(const DirectoryNames&)>& onNames,
                          const std::function<void(DirectoryEntry&&)>& onEntry);

// Packs a local broken-down time into a DOS date-time; 0 when the year lies
// outside 1980..2107.
uint32_t PackDosTime(int year, int month, int day, int hour, int minute, int second);
uint32_t DosTimeFromUnix(int64_t unixSeconds);

struct DosDateTime {
    int year, month, day, hour, minute, second;
};
// Unpacks; false when the value is not a valid date and time.
bool UnpackDosTime(uint32_t dosTime, DosDateTime& out);

// Parses the user.DOSATTRIB text form ("0x22"); returns -1 for forms not known.
int ParseDosAttrib(const char* data, size_t length);

} // namespace tarnel
