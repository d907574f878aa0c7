#pragma once
// Small most-recently-stored tables that outlive a listing: remembered list
// positions per place and remembered directory totals.
#include <cstdint>
#include <string>
#include <vector>

namespace tarnel {

// Keys are compared without regard to (ASCII) case. A new key goes to slot 1
// and pushes the others down; the oldest drops out when the table is full; a
// known key is updated in place and keeps its slot.
template <typename Value>
class RecentTable {
public:
    explicit RecentTable(int capacity) : capacity_(capacity) {}

    int Capacity() const { return capacity_; }
    int Count() const { return int(slots_.size()); }
    // Slot number 1..Count, or 0 when absent.
    int Find(const std::string& key) const;
    void Store(const std::string& key, const Value& value);
    const Value* Lookup(const std::string& key) const;
    const std::string& KeyAt(int slot) const { return slots_[slot - 1].key; }

private:
    struct Slot {
        std::string key;
        std::string upperKey;
        Value value;
    };
    int capacity_;
    std::vector<Slot> slots_; // slot 1 first
};

struct ListPosition {
    int topIndex = -1;
    int itemIndex = -1;
};

class TDirPos {
public:
    static constexpr int kCapacity = 50;
    int Count() const { return table_.Count(); }
    int Find(const std::string& key) const { return table_.Find(key); }
    void Store(const std::string& key, int topIndex, int itemIndex) { table_.Store(key, {topIndex, itemIndex}); }
    int TopIndexOf(const std::string& key) const;
    int ItemIndexOf(const std::string& key) const;

private:
    RecentTable<ListPosition> table_{kCapacity};
};

class TDirSize {
public:
    static constexpr int kCapacity = 500;
    int Count() const { return table_.Count(); }
    int Find(const std::string& key) const { return table_.Find(key); }
    void Store(const std::string& key, int64_t size) { table_.Store(key, size); }
    int64_t SizeOf(const std::string& key) const;

private:
    RecentTable<int64_t> table_{kCapacity};
};

// The process-wide table of computed directory totals (main thread only).
TDirSize& DirSizes();

} // namespace tarnel
