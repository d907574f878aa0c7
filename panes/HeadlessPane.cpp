#include "panes/HeadlessPane.h"

#include <algorithm>

namespace tarnel {

void HeadlessPane::SetRowCount(int rows)
{
    selected.assign(size_t(std::max(rows, 0)), false);
    if (currentRow >= rows)
        currentRow = -1;
    if (topRow >= std::max(rows, 1))
        topRow = 0;
}

void HeadlessPane::SetSelected(int row, bool on)
{
    if (row >= 0 && row < RowCount())
        selected[size_t(row)] = on;
}

void HeadlessPane::SetRangeSelected(int first, int last, bool on)
{
    for (int row = std::max(first, 0); row <= last && row < RowCount(); ++row)
        selected[size_t(row)] = on;
}

void HeadlessPane::SetFilterItems(const std::vector<std::string>& items)
{
    filterItems = items;
    filterIndex = -1;
}

void HeadlessPane::SelectFilterItem(int index)
{
    if (index < 0 || index >= int(filterItems.size()))
        return;
    filterIndex = index;
    filterText = filterItems[size_t(index)];
}

int HeadlessPane::TextWidth(const std::string& text) const
{
    const auto chars = std::count_if(text.begin(), text.end(),
                                     [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
    return int(chars) * charWidth;
}

int HeadlessPane::SelectedCount() const { return int(std::count(selected.begin(), selected.end(), true)); }

} // namespace tarnel
