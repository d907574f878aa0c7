#pragma once
// What the listing model needs of a pane's controls. The window implements it;
// tests and the command-line listing use their own.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace tarnel {

// What the pane says about a read that is not whole.
enum class ReadNotice {
    None,
    Reading, // nothing has come yet
    Slow,    // nothing has come for a while: the place may not answer at all
    Queued,  // earlier reads of this pane still hang; this one waits for one of them
};

inline constexpr int kSlowReadMs = 2000;

class PaneControls {
public:
    virtual ~PaneControls() = default;

    // The list box: one placeholder row per entry.
    virtual void BeginUpdate() = 0;
    virtual void EndUpdate() = 0;
    virtual void SetRowCount(int rows) = 0;
    virtual int RowCount() const = 0;
    virtual int TopRow() const = 0;
    virtual void SetTopRow(int row) = 0;
    virtual int CurrentRow() const = 0; // -1 when none
    virtual void SetCurrentRow(int row) = 0;
    virtual bool IsSelected(int row) const = 0;
    virtual void SetSelected(int row, bool selected) = 0;
    virtual void SetRangeSelected(int first, int last, bool selected) = 0;
    // Selected rows in ascending order.
    virtual std::vector<int> SelectedRows() const
    {
        std::vector<int> rows;
        for (int i = 0, n = RowCount(); i < n; ++i)
            if (IsSelected(i))
                rows.push_back(i);
        return rows;
    }
    virtual void FocusList() = 0;

    // The filter box and its drop-down.
    virtual std::string FilterText() const = 0;
    virtual void SetFilterItems(const std::vector<std::string>& items) = 0;
    virtual void SelectFilterItem(int index) = 0;

    // The sort box: 0 name, 1 size, 2 type, 3 time, 4 description.
    virtual int SortKey() const = 0;
    virtual void SetSortKey(int key) = 0; // from code: not a user change
    virtual void RepaintHeader() = 0;

    // The path label; its hint is its caption.
    virtual void SetPathLabel(const std::string& caption) = 0;

    // Pixel width of a text in the list's font, and the small icon's width.
    virtual int TextWidth(const std::string& text) const = 0;
    virtual int SmallIconWidth() const { return 16; }
    // The width of the widest of many texts (0 for none). Windows may answer
    // faster than measuring each text.
    virtual int WidestText(const std::vector<const std::string*>& texts) const
    {
        int widest = 0;
        for (const std::string* text : texts)
            widest = std::max(widest, TextWidth(*text));
        return widest;
    }

    // The hourglass cursor, shown while the model works.
    virtual void BeginBusy() {}
    virtual void EndBusy() {}

    // The archive gauge.
    virtual void SetGauge(int /*percent*/, bool /*visible*/) {}

    // The history moved: the window updates Back and Forward.
    virtual void HistoryChanged() {}

    // A read has put the new listing in place, cursor included.
    virtual void ListingRead() {}

    // A background worker could not start yet: call StartPaneWorkers again
    // in a while.
    virtual void RetryWorkersLater() {}

    // Reading on a worker: a poster that carries a task to this pane's
    // thread from any thread. Empty: the pane reads on the calling thread
    // (no event loop to come back to).
    virtual std::function<void(std::function<void()>)> ReadPoster() { return {}; }
    // Runs task on the pane's thread after ms milliseconds, unless the
    // controls are gone by then.
    virtual void RunLater(int /*ms*/, std::function<void()> /*task*/) {}
    virtual void ShowReadNotice(ReadNotice /*notice*/) {}
};

// Shows the busy cursor for a scope, also when leaving by an exception.
class BusyScope {
public:
    explicit BusyScope(PaneControls& c) : c_(c) { c_.BeginBusy(); }
    ~BusyScope() { c_.EndBusy(); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    PaneControls& c_;
};

} // namespace tarnel
