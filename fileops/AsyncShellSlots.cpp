#include "fileops/AsyncShellSlots.h"

#include <algorithm>

namespace tarnel {

std::optional<uint16_t> AsyncShellSlots::Launch(AsyncShellEntry entry)
{
    if (Count() >= kCapacity)
        return std::nullopt;
    uint16_t id = uint16_t(lastId_ + 1);
    while (Find(id))
        id = uint16_t(id + 1);
    entry.id = id;
    lastId_ = id;
    entries_.push_back(std::move(entry));
    return id;
}

std::optional<AsyncShellEntry> AsyncShellSlots::Complete(uint16_t id)
{
    const auto it = std::find_if(entries_.begin(), entries_.end(), [id](const AsyncShellEntry& e) { return e.id == id; });
    if (it == entries_.end())
        return std::nullopt;
    AsyncShellEntry done = std::move(*it);
    entries_.erase(it);
    return done;
}

const AsyncShellEntry* AsyncShellSlots::Find(uint16_t id) const
{
    for (const AsyncShellEntry& e : entries_)
        if (e.id == id)
            return &e;
    return nullptr;
}

} // namespace tarnel
