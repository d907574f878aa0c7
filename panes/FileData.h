#pragma once
// One entry of a pane's listing.
#include <atomic>
#include <cstdint>
#include <string>

namespace tarnel {

enum FileKind : uint8_t { fkDirectory = 0, fkDrive = 1, fkFile = 2 };

// The size thread writes Size, UsedBytes, SubFiles, SubDirs and SizeDone while
// painting and sorting read them, so those fields are atomics: every read sees
// a whole old or new value. Icon holds a small icon key (0 = none) that the
// main thread turns into a picture.
struct TFileData {
    uint8_t Kind = fkFile;
    std::atomic<uint8_t> SizeDone{0};
    uint32_t Attr = 0;
    int32_t Time = 0; // packed DOS date-time
    std::atomic<int32_t> Icon{0};
    std::atomic<int32_t> SubFiles{0};
    std::atomic<int32_t> SubDirs{0};
    std::atomic<int64_t> Size{0};
    std::atomic<int64_t> UsedBytes{0};
    std::string Name;
    std::string Description;
    // A member row of an archive pane: the member's central directory index,
    // which copy, move and delete act on (its name may hold "*" or a NUL).
    int64_t ZipIndex = -1;

    TFileData() = default;
    TFileData(const TFileData&) = delete;
    TFileData& operator=(const TFileData&) = delete;

    bool IsParentEntry() const { return Kind == fkDirectory && Name == ".."; }
};

} // namespace tarnel
