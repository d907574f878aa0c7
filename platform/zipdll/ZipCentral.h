#pragma once
// An archive's central directory as its bytes state it. Both the table the
// panes list and the two libraries read it here, so that a member's index
// means the same record everywhere and its name keeps every byte (libzip
// turns a NUL into a space and refuses a whole archive for one bad name).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarnel::zipcentral {

struct CentralRecord {
    std::string name; // as stored: NUL and bytes that are no UTF-8 included
    uint16_t madeBy = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t dosTime = 0;
    uint32_t crc = 0;
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint32_t externalAttributes = 0;
    int64_t localHeader = 0; // position in the file, a prefix's shift applied
};

struct CentralDirectory {
    bool found = false;
    // Bytes before the archive that its stored offsets leave out (a
    // self-extractor's code, when its offsets were not adjusted).
    int64_t shift = 0;
    std::vector<CentralRecord> records; // in the directory's order: index i is records[i]

    // Where the first member starts: above 0, bytes of something else
    // stand before the archive.
    int64_t FirstLocalHeader() const;
};

// Reads up to n bytes at pos, returns the count read.
using ReadAt = std::function<size_t(int64_t pos, void* out, size_t n)>;

// Never throws for bad bytes: a directory that cannot be read is not found,
// one cut short keeps the records before the cut.
CentralDirectory ReadCentralDirectory(const ReadAt& read, int64_t size);

// The same over an open descriptor.
CentralDirectory ReadCentralDirectory(int fd);

// Reads n bytes at pos; fewer only at the end of the file or on an error.
size_t PreadFully(int fd, int64_t pos, void* out, size_t n);

// The name shown in messages: NUL as "\0", other control bytes as "\xNN".
std::string PrintableName(const std::string& name);

// Seconds since the epoch of a DOS date-time, in local time.
int64_t UnixTimeFromDos(uint32_t dosTime);

} // namespace tarnel::zipcentral
