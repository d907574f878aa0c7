#include "panes/Sorting.h"

#include "panes/DirData.h"
#include "panes/PaneControls.h"
#include "panes/PathUtil.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

namespace tarnel {

namespace {

// Upper-cased byte order; a prefix sorts first. Sorting spends its time here,
// so equal bytes are skipped before any case folding.
int CompareTexts(std::string_view a, std::string_view b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        if (a[i] == b[i])
            continue;
        const auto ca = static_cast<unsigned char>(UpperAsciiChar(a[i]));
        const auto cb = static_cast<unsigned char>(UpperAsciiChar(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::string_view ExtensionOf(std::string_view name)
{
    const size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view{} : name.substr(dot);
}

template <typename T>
int Order(T a, T b) { return a < b ? -1 : (a > b ? 1 : 0); }

// Names equal but for letter case still get an order of their own, so that
// no two entries of a folder are ever left in the order the sort met them.
int NameOrder(const TFileData& a, const TFileData& b)
{
    const int order = CompareNames(a, b);
    return order != 0 ? order : Order(a.Name, b.Name);
}

int OrThenName(int order, const TFileData& a, const TFileData& b)
{
    return order != 0 ? order : NameOrder(a, b);
}

// The packed time as the signed 32-bit value it was stored as.
int32_t SignedTime(const TFileData& e) { return e.Time; }

int64_t AbsSize(const TFileData& e)
{
    const int64_t s = e.Size.load(std::memory_order_relaxed);
    return s < 0 ? -s : s;
}

int64_t AbsTime(const TFileData& e) { return std::llabs(int64_t(SignedTime(e))); }

using Comparator = int (*)(const TFileData&, const TFileData&, int, int);

// Swaps go through TDirData::SwapItems: the workers read Items meanwhile.
struct SortRun {
    TDirData& pane;
    std::vector<TFileData*>& items;
    Comparator compare;
    int key;
    int direction;

    int Compare(int index, const TFileData* pivot) const { return compare(*items[size_t(index)], *pivot, key, direction); }

    // Hoare's partition with the middle entry as pivot. The scans are bounded
    // because the size thread may change a total in the middle of a pass, which
    // makes the order momentarily inconsistent; with a consistent order the
    // bounds never trigger.
    void Partition(int left, int right, int& i, int& j) const
    {
        i = left;
        j = right;
        const TFileData* pivot = items[size_t((left + right) / 2)];
        do {
            while (i < right && Compare(i, pivot) < 0)
                ++i;
            while (j > left && Compare(j, pivot) > 0)
                --j;
            if (i <= j) {
                pane.SwapItems(size_t(i), size_t(j));
                ++i;
                --j;
            }
        } while (i <= j);
    }

    // The two parts of a pass are disjoint, so sorting the smaller one first
    // gives the same order with a stack depth of log n.
    void Sort(int left, int right) const
    {
        while (left < right) {
            int i, j;
            Partition(left, right, i, j);
            if (j - left < right - i) {
                if (left < j)
                    Sort(left, j);
                left = i;
            } else {
                if (i < right)
                    Sort(i, right);
                right = j;
            }
        }
    }
};

} // namespace

int CompareNames(const TFileData& a, const TFileData& b) { return CompareTexts(a.Name, b.Name); }

int CompareDirs(const TFileData& a, const TFileData& b, int key, int direction)
{
    int order = 0;
    switch (key) {
    case skName:
    case skType: order = NameOrder(a, b); break;
    case skSize: order = OrThenName(Order(AbsSize(a), AbsSize(b)), a, b); break;
    case skTime: order = OrThenName(Order(AbsTime(a), AbsTime(b)), a, b); break;
    case skDescription: order = OrThenName(CompareTexts(a.Description, b.Description), a, b); break;
    default: break;
    }
    return order * direction;
}

int CompareFiles(const TFileData& a, const TFileData& b, int key, int direction)
{
    int order = 0;
    switch (key) {
    case skName: order = NameOrder(a, b); break;
    case skSize: order = OrThenName(Order(a.Size.load(std::memory_order_relaxed), b.Size.load(std::memory_order_relaxed)), a, b); break;
    case skType: order = OrThenName(CompareTexts(ExtensionOf(a.Name), ExtensionOf(b.Name)), a, b); break;
    case skTime: order = OrThenName(Order(SignedTime(a), SignedTime(b)), a, b); break;
    case skDescription: order = OrThenName(CompareTexts(a.Description, b.Description), a, b); break;
    default: break;
    }
    return order * direction;
}

void SortPane(TDirData& pane, bool sortDirs, bool sortFiles)
{
    PaneControls* controls = pane.Controls;
    std::optional<BusyScope> busy;
    if (controls) {
        busy.emplace(*controls);
        controls->BeginUpdate();
    }
    const int key = controls ? controls->SortKey() : skName;
    const int direction = pane.Ascending ? 1 : -1;
    pane.BeginReorder();

    for (int i = 0; i < pane.DirCount; ++i) {
        if (pane.Item(i).Name == "..") {
            if (i != 0)
                pane.SwapItems(0, size_t(i));
            break;
        }
    }
    const int first = (pane.DirCount >= 1 && pane.Item(0).Name == "..") ? 1 : 0;
    if (sortDirs && first < pane.DirCount)
        SortRun{pane, pane.Items, CompareDirs, key, direction}.Sort(first, pane.DirCount - 1);
    if (sortFiles && pane.FileCount > 0)
        SortRun{pane, pane.Items, CompareFiles, key, direction}.Sort(pane.DirCount, pane.DirCount + pane.FileCount - 1);
    pane.EndReorder();

    if (controls) {
        controls->EndUpdate();
        if (pane.Count > 0)
            controls->SetRangeSelected(0, pane.Count - 1, false);
    }
}

void SortBoxChanged(TDirData& pane)
{
    if (pane.Controls)
        pane.Controls->RepaintHeader();
    SortPane(pane, true, true);
}

int SortKeyOfCaption(std::string_view caption)
{
    if (caption == "Name")
        return skName;
    if (caption == "Size")
        return skSize;
    if (caption == "Time")
        return skTime;
    if (caption == "Description")
        return skDescription;
    return -1;
}

bool HeaderSectionClicked(TDirData& pane, std::string_view caption)
{
    const int key = SortKeyOfCaption(caption);
    if (key < 0 || !pane.Controls)
        return false;
    if (key == pane.Controls->SortKey())
        pane.Ascending = pane.Ascending ? 0 : 1;
    pane.Controls->SetSortKey(key);
    pane.Controls->RepaintHeader();
    SortPane(pane, true, true);
    return true;
}

} // namespace tarnel
