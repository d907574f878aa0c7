#pragma once
// Testing an archive: every member's data read through to its end, as an
// extraction would read it, with nothing written. Runs on a worker.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarnel {

struct ArchiveTestReport {
    uint64_t members = 0; // members read whole
    uint64_t bytes = 0;
    std::vector<std::string> problems; // "member: what is wrong", or the archive's own fault
    bool stopped = false;              // the caller said to stop
};

// goOn hears each member's name before it is read and the bytes read so
// far; false stops the test.
ArchiveTestReport TestArchive(const std::string& path,
                              const std::function<bool(const std::string& member, uint64_t bytes)>& goOn = {});

} // namespace tarnel
