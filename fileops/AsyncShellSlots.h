#pragma once
// The copy and move operations running in the background: at most 30, each
// known by a 16-bit id until its completion is handled.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnel {

struct AsyncShellEntry {
    uint16_t id = 0;
    int function = 0; // FO_MOVE or FO_COPY
    std::vector<std::string> sources;
    std::string target;
    std::string sourceDir; // the panes' places at launch
    std::string targetDir;
};

class AsyncShellSlots {
public:
    static constexpr int kCapacity = 30;

    // The entry with its new id, or nothing when every slot is taken. Ids go
    // on from the last one given out, skip ids still running and wrap.
    std::optional<uint16_t> Launch(AsyncShellEntry entry);
    // Removes and returns the entry of a finished operation; nothing for an unknown id.
    std::optional<AsyncShellEntry> Complete(uint16_t id);
    const AsyncShellEntry* Find(uint16_t id) const;
    int Count() const { return int(entries_.size()); }
    uint16_t LastId() const { return lastId_; }
    void SetLastId(uint16_t id) { lastId_ = id; }

private:
    std::vector<AsyncShellEntry> entries_; // launch order
    uint16_t lastId_ = 0;
};

} // namespace tarnel
