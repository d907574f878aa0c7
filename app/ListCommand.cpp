#include "app/ListCommand.h"

#include "app/SystemLocale.h"
#include "panes/BackgroundWorkers.h"
#include "panes/DirData.h"
#include "panes/HeadlessPane.h"
#include "panes/PathUtil.h"
#include "panes/ReadDirectory.h"
#include "panes/Sorting.h"
#include "platform/Volumes.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <string_view>
#include <unistd.h>

namespace tarnel {

namespace {

struct ListOptions {
    std::string dir;
    std::string filter = "*";
    int sortKey = skName;
    bool descending = false;
    bool waitForSizes = false;
    bool bytes = false;
};

const std::map<std::string, int> kSortKeys = {
    {"name", skName}, {"size", skSize}, {"type", skType}, {"time", skTime}, {"desc", skDescription}};

bool ParseOptions(const std::vector<std::string>& args, ListOptions& options, std::ostream& err)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--list" && hasValue && options.dir.empty()) {
            options.dir = args[++i];
        } else if (a == "--filter" && hasValue) {
            options.filter = args[++i];
        } else if (a == "--sort" && hasValue && kSortKeys.count(args[i + 1])) {
            options.sortKey = kSortKeys.at(args[++i]);
        } else if (a == "--descending") {
            options.descending = true;
        } else if (a == "--sizes") {
            options.waitForSizes = true;
        } else if (a == "--bytes") {
            options.bytes = true;
        } else {
            err << "tarnel: unexpected argument '" << a << "'\n"
                << "usage: tarnel --list DIR|ARCHIVE[/DIR/]|sftp://[USER@]HOST[:PORT]/DIR [--filter PATTERN] [--sort name|size|type|time|desc]"
                   " [--descending] [--sizes] [--bytes]\n"
                   "  --sizes  wait until every subdirectory's total is computed\n";
            return false;
        }
    }
    if (options.dir.empty()) {
        err << "tarnel: --list needs a directory\n";
        return false;
    }
    return true;
}

// Nothing is painted here; the size thread's error texts go to stderr.
class ListWorkerSink : public WorkerSink {
public:
    explicit ListWorkerSink(std::ostream& err) : err_(err) {}
    void RepaintSizeColumn(TDirData&) override {}
    void ShowWorkerError(const std::string& text) override
    {
        std::lock_guard lock(mutex_);
        err_ << "tarnel: " << text << '\n';
    }

private:
    std::ostream& err_;
    std::mutex mutex_;
};

char KindLetter(const TFileData& e)
{
    return e.Kind == fkDirectory ? 'd' : (e.Kind == fkDrive ? 'v' : 'f');
}

// Removable and network volumes are asked for their space only while the
// listed place lies on them, as a pane does.
std::string DriveRowSizeText(const Volume& volume, const std::string& listedRoot, const DisplayLocale& locale)
{
    const bool alwaysShown = volume.type == DriveType::Fixed || volume.type == DriveType::CdRom ||
                             volume.type == DriveType::RamDisk;
    if (!alwaysShown && volume.root != listedRoot)
        return {};
    return DriveSpaceText(DriveFreeBytes(volume.root), DriveTotalBytes(volume.root), locale);
}

void PrintRows(const TDirData& pane, const ListOptions& options, const DisplayLocale& locale, std::ostream& out)
{
    const std::string listedRoot = VolumeRootOf(pane.Path);
    const DriveList& drives = pane.DriveSource();
    // Rows gather in one buffer written in large pieces: a stream insertion
    // per field costs more than the formatting.
    constexpr size_t kWriteAt = 256 * 1024;
    std::string buffer;
    buffer.reserve(kWriteAt + 4096);
    for (int i = 0; i < pane.Count; ++i) {
        const TFileData& e = pane.Item(i);
        buffer += KindLetter(e);
        buffer += '\t';
        buffer += e.Name;
        buffer += '\t';
        if (options.bytes)
            buffer += std::to_string(e.Size.load());
        else if (e.Kind == fkDrive)
            buffer += DriveRowSizeText(drives[size_t(i - pane.DirCount - pane.FileCount)], listedRoot, locale);
        else
            buffer += EntrySizeText(e, false, locale);
        buffer += '\t';
        if (e.Kind != fkDrive)
            buffer += TimeText(e.Time, locale);
        buffer += '\t';
        buffer += e.Description;
        buffer += '\n';
        if (buffer.size() >= kWriteAt) {
            out.write(buffer.data(), std::streamsize(buffer.size()));
            buffer.clear();
        }
    }
    out.write(buffer.data(), std::streamsize(buffer.size()));
}

// Why a folder of the disk cannot be listed, or "" when it can. A pane
// shows such a folder as empty; a script's user is told why. O_DIRECTORY
// refuses a fifo named like a folder or archive before it is opened.
std::string UnreadableFolder(const PanePlace& place)
{
    if (std::string_view(place.Source()) != kLocalSourceName)
        return {}; // the archive's or the server's own reader reports what it cannot read
    const int fd = ::open(place.Path.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return "cannot list " + place.Path + ": " + std::strerror(errno);
    ::close(fd);
    return {};
}

} // namespace

int RunListCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    ListOptions options;
    if (!ParseOptions(args, options, err))
        return 2;
    const DisplayLocale locale = SystemDisplayLocale();
    ListWorkerSink sink(err);
    BackgroundWorkers workers(sink); // declared before the pane: it outlives the pane's workers
    HeadlessPane controls;
    controls.filterText = options.filter;
    controls.sortKey = options.sortKey;
    TDirData pane;
    pane.Controls = &controls;
    pane.Ascending = options.descending ? 0 : 1;
    pane.MoveTo(PanePlace::FromPath(options.dir));
    bool problems = false;
    pane.ReportProblem = [&err, &problems](const std::string& text) {
        err << "tarnel: " << text << '\n';
        problems = true;
    };
    if (options.waitForSizes)
        pane.Workers = &workers;
    // Headless controls have no event loop to come back to: the listing is
    // read whole before this returns.
    ReadDirectory(pane, locale);
    if (pane.SizeThread) {
        pane.SizeThread->Wait(); // the thread ends by itself once every total is in
        if (options.sortKey == skSize)
            SortPane(pane, true, false); // sorted before the totals were known
    }
    PrintRows(pane, options, locale, out);
    out.flush();
    // The listing is what a pane shows (the volume rows alone) and counts as
    // done, as scripts have relied on; the reason goes to stderr.
    if (const std::string problem = UnreadableFolder(pane.Place()); !problem.empty())
        err << "tarnel: " << problem << '\n';
    // A remote folder that could not be listed (no connection, an unknown
    // host key) is a failure a script must see; there is no old habit to keep.
    if (problems && std::string_view(pane.Place().Source()) == kSftpSourceName)
        return 1;
    return out ? 0 : 1;
}

} // namespace tarnel
