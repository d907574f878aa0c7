#include "panes/ReadDirectory.h"

#include "descriptions/Descriptions.h"
#include "panes/DirData.h"
#include "panes/Matcher.h"
#include "panes/PaneControls.h"
#include "panes/PathUtil.h"
#include "panes/Sorting.h"
#include "platform/DirectoryReader.h"
#include "sources/ListingChannel.h"
#include "sources/LocalSource.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

namespace tarnel {

namespace {

void ShowPathLabel(TDirData& pane, PaneControls& controls)
{
    controls.SetPathLabel(pane.Text()); // "/" is this platform's separator inside and outside archives
}

// Fills in the descriptions of the folder's DESCRIPT.ION on the listing
// thread, so the pane's thread has only names to take.
class DescribingSink : public ListSink {
public:
    DescribingSink(ListSink& next, const DescriptionList& descriptions) : next_(next), descriptions_(descriptions) {}
    void Chunk(std::vector<SourceEntry>&& entries) override
    {
        for (SourceEntry& e : entries)
            if (const std::string* text = descriptions_.Find(e.name))
                e.description = *text;
        next_.Chunk(std::move(entries));
    }
    void Progress(int percent) override { next_.Progress(percent); }
    void Problem(const std::string& text) override { next_.Problem(text); }

private:
    ListSink& next_;
    const DescriptionList& descriptions_;
};

// The whole of one read's listing work, on whichever thread lists. The
// disk's own source describes its entries as it reads them, and so do
// search results, whose entries lie in many folders.
void RunListing(const FileSource& source, const PanePlace& place, bool describe, ListSink& sink,
                const CancelToken& cancel)
{
    DescriptionList descriptions;
    if (describe && !dynamic_cast<const LocalSource*>(&source) && std::string_view(source.Name()) != kSearchSourceName)
        LoadDescriptions(AddPathDelimiter(place.Path), descriptions);
    if (descriptions.Empty()) {
        source.List(place, sink, cancel);
        return;
    }
    DescribingSink describing(sink, descriptions);
    source.List(place, describing, cancel);
}

// Makes the pane's entries of a chunk. Folders and files are kept apart in
// the order they came; the listing puts the folders in reverse ahead of the
// files (as inserting each folder at the front would), and sorting orders
// them afterwards.
void TakeChunk(TDirData& pane, std::vector<SourceEntry>& chunk)
{
    PendingRead& read = *pane.Pending;
    for (SourceEntry& found : chunk) {
        const bool dir = found.kind == fkDirectory;
        if (!dir) {
            read.patterns.AddPattern(ExtensionPatternOf(found.name));
            if (!Match(read.filter, found.name))
                continue;
        }
        TFileData& e = pane.NewEntry();
        e.Kind = dir ? fkDirectory : fkFile;
        e.Time = found.time;
        e.Attr = found.attr;
        e.ZipIndex = found.memberIndex;
        if (!found.directory.empty()) {
            pane.EntryDirs.emplace(&e, std::move(found.directory));
        }
        if (found.sizeDone) {
            e.Size = found.size;
            e.SizeDone = 1;
        } else if (dir && read.diskPaths) {
            e.Size = DirSizes().SizeOf(pane.DirOf(e) + found.name);
        } else {
            e.Size = found.size;
        }
        e.Name = std::move(found.name);
        e.Description = std::move(found.description);
        (dir ? read.dirs : read.files).push_back(&e);
    }
}

// Puts the entries come so far in Items, folders first.
void PlaceEntries(TDirData& pane)
{
    const PendingRead& read = *pane.Pending;
    pane.Items.clear();
    pane.Items.insert(pane.Items.end(), read.dirs.rbegin(), read.dirs.rend());
    pane.Items.insert(pane.Items.end(), read.files.begin(), read.files.end());
    pane.DirCount = int(read.dirs.size());
    pane.FileCount = int(read.files.size());
    pane.DriveCount = 0;
    pane.Count = int(pane.Items.size());
}

TFileData& NewDriveEntry(TDirData& pane, const Volume& volume)
{
    TFileData& e = pane.NewEntry();
    e.Kind = fkDrive;
    e.Name = volume.displayText;
    e.Size = 0;
    e.SizeDone = 1;
    return e;
}

void AppendDrives(TDirData& pane)
{
    for (const Volume& volume : pane.DriveSource()) {
        pane.Items.push_back(&NewDriveEntry(pane, volume));
        ++pane.DriveCount;
    }
}

RowNames NamesOf(const TDirData& pane, const std::vector<int>& rows)
{
    RowNames names;
    for (const int row : rows)
        if (row >= 0 && row < pane.Count)
            names.emplace_back(pane.Item(row).Kind, pane.Item(row).Name);
    return names;
}

void SelectNamed(const TDirData& pane, PaneControls& controls, const RowNames& names)
{
    if (names.empty())
        return;
    std::set<std::pair<uint8_t, std::string>> wanted(names.begin(), names.end());
    for (int i = 0; i < pane.Count; ++i)
        if (wanted.count({pane.Item(i).Kind, pane.Item(i).Name}))
            controls.SetSelected(i, true);
}

int RowNamed(const TDirData& pane, const std::string& name)
{
    for (int i = 0; !name.empty() && i < pane.DirCount + pane.FileCount; ++i)
        if (pane.Item(i).Name == name)
            return i;
    return -1;
}

// Out-of-range remembered rows are ignored: the list keeps the sort's position.
void RestorePosition(TDirData& pane, PaneControls& controls, const std::string& cursorName)
{
    const std::string key = pane.Key();
    const int top = pane.Positions.TopIndexOf(key);
    if (top >= 0 && top < pane.Count)
        controls.SetTopRow(top);
    const int named = RowNamed(pane, cursorName);
    const int current = named >= 0 ? named : pane.Positions.ItemIndexOf(key);
    if (current >= 0 && current < pane.Count) {
        controls.SetSelected(current, true);
        controls.SetCurrentRow(current);
        controls.FocusList();
        controls.SetSelected(current, false);
    }
}

void SelectFilterItem(PaneControls& controls, const std::vector<std::string>& items, const std::string& filter)
{
    for (size_t i = 0; i < items.size(); ++i) {
        if (EqualsIgnoreCase(items[i], filter)) {
            controls.SelectFilterItem(int(i));
            return;
        }
    }
    // No item equals a filter text longer than an item can be: the box keeps
    // the typed text rather than going blank.
}

} // namespace

namespace {

constexpr auto kPartialShowEvery = std::chrono::milliseconds(500);

void FinishRead(TDirData& pane);

// The listing so far goes in the list (rows come while a slow place is
// still being listed); the drives and the rest wait for the whole.
void ShowPartial(TDirData& pane)
{
    PaneControls& controls = *pane.Controls;
    PendingRead& read = *pane.Pending;
    PlaceEntries(pane);
    controls.BeginUpdate();
    controls.SetRowCount(pane.Count);
    SortPane(pane, true, true);
    controls.EndUpdate();
    if (!read.shown)
        controls.ShowReadNotice(ReadNotice::None);
    read.shown = true;
    read.lastShown = std::chrono::steady_clock::now();
}

// The listing is whole: the rest of the read's steps, in their order.
void FinishRead(TDirData& pane)
{
    PaneControls& controls = *pane.Controls;
    BusyScope busy(controls);
    controls.BeginUpdate();
    PlaceEntries(pane);
    const std::unique_ptr<PendingRead> done = std::move(pane.Pending); // whole from here on
    AppendDrives(pane);
    pane.Count = int(pane.Items.size());
    controls.SetRowCount(pane.Count);

    SortPane(pane, true, true);
    RestorePosition(pane, controls, done->cursorName);
    controls.EndUpdate();

    if (done->gaugeShown)
        controls.SetGauge(0, false);
    controls.ShowReadNotice(ReadNotice::None);
    controls.SetFilterItems(done->patterns.Items());
    StartPaneWorkers(pane);
    SelectFilterItem(controls, done->patterns.Items(), done->filter);
    ComputeBestWidths(pane, done->locale);
    controls.ListingRead();
    if (pane.Reading())
        return; // the window read the pane again on the way
    if (done->selectAfter)
        SelectNamed(pane, controls, done->selectNames);
    if (pane.ReportProblem)
        for (const std::string& text : done->problems)
            pane.ReportProblem(text);
    for (std::function<void()>& then : done->whenRead)
        if (!pane.Reading())
            then();
}

// Gives the listing to the pane as it is read, on the calling thread.
class DirectSink : public ListSink {
public:
    explicit DirectSink(TDirData& pane) : pane_(pane) {}
    void Chunk(std::vector<SourceEntry>&& entries) override { TakeChunk(pane_, entries); }
    void Progress(int percent) override
    {
        pane_.Pending->gaugeShown = true;
        pane_.Controls->SetGauge(percent, true);
    }
    void Problem(const std::string& text) override { pane_.Pending->problems.push_back(text); }

private:
    TDirData& pane_;
};

void OnReadMail(TDirData& pane);

void StartWorker(TDirData& pane)
{
    PendingRead& read = *pane.Pending;
    read.queued = false;
    const std::shared_ptr<FileSource> source = pane.SourcesTable().For(pane.Place());
    auto cancel = std::make_shared<CancelToken>();
    const uint64_t ticket = pane.Reads->Begin(cancel);
    try {
        std::thread([channel = pane.Reads, source, place = pane.Place(), describe = read.diskPaths, ticket, cancel] {
            ChannelSink sink(*channel, ticket);
            RunListing(*source, place, describe, sink, *cancel);
            channel->Finish(ticket);
        }).detach();
    } catch (const std::system_error& e) {
        read.problems.push_back(std::string("Cannot start reading: ") + e.what());
        pane.Reads->Finish(ticket);
        return;
    }
    // Nothing yet after a while: the user is told, and may go elsewhere.
    std::weak_ptr<ListingChannel> channel = pane.Reads;
    pane.Controls->RunLater(kSlowReadMs, [channel, pane = &pane, ticket] {
        const std::shared_ptr<ListingChannel> open = channel.lock();
        if (!open || !open->IsOpen() || open->Current() != ticket || !pane->Reading() || pane->Pending->shown)
            return;
        pane->Controls->ShowReadNotice(ReadNotice::Slow);
    });
}

// Runs on the pane's thread when a worker has sent something or returned.
void OnReadMail(TDirData& pane)
{
    if (!pane.Reading() || !pane.Controls)
        return;
    PendingRead& read = *pane.Pending;
    if (read.queued) {
        if (pane.Reads->Running() < ListingChannel::kMaxWorkers) {
            pane.Controls->ShowReadNotice(ReadNotice::Reading);
            StartWorker(pane);
        }
        return;
    }
    ListingChannel::Mail mail = pane.Reads->Take();
    if (mail.progress >= 0) {
        read.gaugeShown = true;
        pane.Controls->SetGauge(mail.progress, true);
    }
    for (std::vector<SourceEntry>& chunk : mail.chunks)
        TakeChunk(pane, chunk);
    for (std::string& text : mail.problems)
        read.problems.push_back(std::move(text));
    if (mail.finished) {
        FinishRead(pane);
        return;
    }
    if (!mail.chunks.empty() &&
        (!read.shown || std::chrono::steady_clock::now() - read.lastShown >= kPartialShowEvery))
        ShowPartial(pane);
}

} // namespace

void ReadDirectory(TDirData& pane, const DisplayLocale& locale)
{
    PaneControls& controls = *pane.Controls;
    BusyScope busy(controls);
    auto read = std::make_unique<PendingRead>();
    read->filter = controls.FilterText();
    read->cursorName = std::exchange(pane.CursorName, std::string());
    read->locale = locale;
    read->diskPaths = pane.Can(Capability::DiskPaths);
    pane.StopWorkers();
    pane.Reads->Abandon();
    pane.Pending.reset();

    pane.Path = AddPathDelimiter(pane.Path);
    ShowPathLabel(pane, controls);

    pane.ClearEntries();
    pane.BestWidths = {10, 10, 10};
    controls.SetRowCount(0);

    controls.SetFilterItems({});
    read->patterns.AddPattern("*");
    read->patterns.AddPattern(read->filter);
    pane.Pending = std::move(read);

    TaskPoster poster = controls.ReadPoster();
    if (!poster) {
        const std::shared_ptr<FileSource> source = pane.SourcesTable().For(pane.Place());
        DirectSink sink(pane);
        const CancelToken never;
        RunListing(*source, pane.Place(), pane.Pending->diskPaths, sink, never);
        FinishRead(pane);
        return;
    }
    if (!pane.Reads->IsOpen())
        pane.Reads->Open(std::move(poster), [p = &pane] { OnReadMail(*p); });
    if (pane.Reads->Running() >= ListingChannel::kMaxWorkers) {
        pane.Pending->queued = true;
        controls.ShowReadNotice(ReadNotice::Queued);
        return;
    }
    controls.ShowReadNotice(ReadNotice::Reading);
    StartWorker(pane);
}

void WhenRead(TDirData& pane, std::function<void()> then)
{
    if (pane.Reading())
        pane.Pending->whenRead.push_back(std::move(then));
    else
        then();
}

void StartPaneWorkers(TDirData& pane)
{
    if (!pane.Workers || pane.Reading() || !pane.Can(Capability::DiskPaths))
        return;
    // Found files have folders of their own; the one the find started in
    // stands for the place.
    const std::string folder =
        std::string_view(pane.Source()) == kSearchSourceName ? AddPathDelimiter(pane.Parent().Path) : pane.Path;
    if (!pane.IconThread)
        pane.IconThread = pane.Workers->StartIconThread(pane, pane.IconMutex, folder);
    if (!pane.SizeThread)
        pane.SizeThread = pane.Workers->StartSizeThread(pane, pane.IconMutex, folder);
    if ((!pane.IconThread || !pane.SizeThread) && pane.Workers->MayStartLater(pane) && pane.Controls)
        pane.Controls->RetryWorkersLater();
}

void RereadPane(TDirData& pane, const DisplayLocale& locale)
{
    RecordHistory(pane);
    RememberPlace(pane);
    ReadDirectory(pane, locale);
}

void RereadKeepingSelection(TDirData& pane, const DisplayLocale& locale)
{
    PaneControls& controls = *pane.Controls;
    const RowNames selected = NamesOf(pane, controls.SelectedRows());
    const RowNames current = NamesOf(pane, {controls.CurrentRow()});
    if (!current.empty())
        pane.CursorName = current[0].second;
    RememberPlace(pane);
    RecordHistory(pane);
    ReadDirectory(pane, locale);
    if (pane.Reading()) {
        pane.Pending->selectAfter = true;
        pane.Pending->selectNames = selected;
    } else {
        SelectNamed(pane, controls, selected);
    }
}

// The folder's rows keep their numbers; only those after them change. The
// pointers a let-go worker may still read are replaced one by one, as a
// sort swaps them, and the array is never moved while it might.
void ReplaceDriveRows(TDirData& pane, const DisplayLocale& locale)
{
    if (pane.Reading())
        return; // the listing takes the drives as they are when it is whole
    const DriveList& drives = pane.DriveSource();
    const size_t keep = size_t(pane.Count - pane.DriveCount);
    if (keep + drives.size() > pane.Items.capacity()) {
        RereadKeepingSelection(pane, locale);
        return;
    }
    PaneControls& controls = *pane.Controls;
    const RowNames selected = NamesOf(pane, controls.SelectedRows());
    const int top = controls.TopRow();
    const int current = controls.CurrentRow();
    const RowNames currentName = NamesOf(pane, {current});
    pane.StopWorkers();
    const size_t before = pane.Items.size();
    for (size_t k = 0; k < drives.size(); ++k) {
        TFileData* e = &NewDriveEntry(pane, drives[k]);
        if (keep + k < before)
            std::atomic_ref<TFileData*>(pane.Items[keep + k]).store(e, std::memory_order_relaxed);
        else
            pane.Items.push_back(e);
    }
    pane.Items.resize(keep + drives.size());
    pane.DriveCount = int(drives.size());
    pane.Count = int(pane.Items.size());

    controls.BeginUpdate();
    controls.SetRowCount(pane.Count);
    controls.SetTopRow(std::min(top, std::max(pane.Count - 1, 0)));
    int cursor = current >= 0 && size_t(current) < keep ? current : -1;
    for (int i = int(keep); cursor < 0 && !currentName.empty() && i < pane.Count; ++i)
        if (pane.Item(i).Name == currentName[0].second)
            cursor = i;
    if (cursor >= 0)
        controls.SetCurrentRow(cursor);
    SelectNamed(pane, controls, selected);
    controls.EndUpdate();
    StartPaneWorkers(pane);
    controls.ListingRead();
}

void ComputeBestWidths(TDirData& pane, const DisplayLocale& locale)
{
    PaneControls& controls = *pane.Controls;
    auto offer = [&](int slot, int width) { pane.BestWidths[size_t(slot)] = std::max(pane.BestWidths[size_t(slot)], width); };
    offer(1, controls.TextWidth(kWidestSizeText) + 3);
    std::vector<const std::string*> names;
    std::vector<int32_t> times;
    names.reserve(size_t(pane.Count));
    times.reserve(size_t(pane.Count));
    for (int i = 0; i < pane.Count; ++i) {
        const TFileData& e = pane.Item(i);
        names.push_back(&e.Name);
        if (e.Kind != fkDrive)
            times.push_back(e.Time);
    }
    if (!names.empty())
        offer(0, controls.WidestText(names) + controls.SmallIconWidth() + 2);
    // Many entries share a time: format and measure each one once.
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    std::vector<std::string> timeTexts;
    timeTexts.reserve(times.size());
    for (const int32_t time : times)
        timeTexts.push_back(TimeText(time, locale));
    std::vector<const std::string*> timePointers;
    for (const std::string& text : timeTexts)
        timePointers.push_back(&text);
    if (!timePointers.empty())
        offer(2, controls.WidestText(timePointers) + 3);
}

} // namespace tarnel
