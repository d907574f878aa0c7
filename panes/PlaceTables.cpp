#include "panes/PlaceTables.h"

#include "panes/PathUtil.h"

namespace tarnel {

template <typename Value>
int RecentTable<Value>::Find(const std::string& key) const
{
    const std::string upper = UpperAscii(key);
    for (size_t i = 0; i < slots_.size(); ++i)
        if (slots_[i].upperKey == upper)
            return int(i) + 1;
    return 0;
}

template <typename Value>
void RecentTable<Value>::Store(const std::string& key, const Value& value)
{
    if (const int slot = Find(key)) {
        slots_[slot - 1].value = value;
        return;
    }
    if (int(slots_.size()) == capacity_)
        slots_.pop_back();
    slots_.insert(slots_.begin(), Slot{key, UpperAscii(key), value});
}

template <typename Value>
const Value* RecentTable<Value>::Lookup(const std::string& key) const
{
    const int slot = Find(key);
    return slot ? &slots_[slot - 1].value : nullptr;
}

template class RecentTable<ListPosition>;
template class RecentTable<int64_t>;

int TDirPos::TopIndexOf(const std::string& key) const
{
    const ListPosition* p = table_.Lookup(key);
    return p ? p->topIndex : -1;
}

int TDirPos::ItemIndexOf(const std::string& key) const
{
    const ListPosition* p = table_.Lookup(key);
    return p ? p->itemIndex : -1;
}

int64_t TDirSize::SizeOf(const std::string& key) const
{
    const int64_t* size = table_.Lookup(key);
    return size ? *size : -1;
}

TDirSize& DirSizes()
{
    static TDirSize table;
    return table;
}

} // namespace tarnel
