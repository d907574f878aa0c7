#pragma once
// One entry of an archive's table, as its local file header states it.
#include <cstdint>
#include <string>

namespace tarnel {

struct ZipDirEntry {
    uint16_t VersionNeeded = 0;
    uint16_t Flag = 0;
    uint16_t CompressionMethod = 0;
    uint32_t DateTime = 0; // DOS date-time, time in the low 16 bits
    uint32_t CRC32 = 0;
    uint64_t CompressedSize = 0;
    uint64_t UncompressedSize = 0;
    uint16_t FileNameLength = 0;
    uint16_t ExtraFieldLength = 0;
    std::string FileName; // "/" separated; a trailing "/" marks a directory
    // The member's record in the central directory, which the libraries
    // act on; -1 when the archive has no directory to name it by.
    int64_t CentralIndex = -1;

    bool IsDirectory() const { return !FileName.empty() && FileName.back() == '/'; }
    bool IsEncrypted() const { return Flag & 1; }
};

} // namespace tarnel
