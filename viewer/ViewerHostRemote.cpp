// The quick viewer on files of remote places. The text page reads the file
// by ranges from its server, so a huge file shows its first screen at once;
// the pages that need a whole file (pictures, sound, archives) read a copy
// made on a worker, up to a size; the information page asks the server for
// the file's facts. Every call to the server runs on a worker: one that
// stops answering shows its message on the page.
#include "viewer/ViewerHost.h"

#include "app/WorkerAnswers.h"
#include "panes/PathUtil.h"
#include "panes/RowText.h"
#include "viewer/InfoPage.h"
#include "viewer/model/RemoteCopy.h"
#include "viewer/model/RemoteReader.h"
#include "widgets/PaneView.h"

#include <QLabel>

#include <ctime>

#include <unistd.h>

namespace tarnel {

namespace {

// The most a page that needs a whole file copies from a remote place.
constexpr uint64_t kRemoteViewCopyLimit = uint64_t(128) << 20;

std::string PermissionText(uint32_t mode)
{
    std::string text = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        if (!(mode & (0400u >> i)))
            text[size_t(i)] = '-';
    char octal[8];
    std::snprintf(octal, sizeof octal, "%04o", mode & 07777);
    return text + " (" + octal + ")";
}

std::string TimeText(int64_t seconds)
{
    const std::time_t t = std::time_t(seconds);
    std::tm local{};
    char text[32] = "?";
    if (localtime_r(&t, &local))
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

std::string DirectoryOfCopy(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

} // namespace

void ViewerHost::StopRemoteCopy()
{
    if (remoteCopyStop_)
        remoteCopyStop_->store(true);
    remoteCopyStop_.reset();
}

void ViewerHost::ShowRemoteEntry(PaneView* pane, const std::string& folder, int index, bool asInfo, bool asText)
{
    const TFileData& entry = pane->Data().Item(index);
    const std::string name = entry.Name;
    const std::string description = entry.Description;
    const uint8_t kind = entry.Kind;
    const std::string address = AddPathDelimiter(folder) + name;
    const ViewerPageKind page = ChooseViewerPage(name, kind, false, asInfo, asText);
    if (page == ViewerPageKind::Text || page == ViewerPageKind::Tables) {
        ShowPageOf(pane, folder, index, asInfo, asText);
        return;
    }
    if (page == ViewerPageKind::Info) {
        ShowPageOf(pane, folder, index, true, false);
        ShowRemoteFacts(address, description);
        return;
    }
    // As for an archive's member: the entry's name holds its place while the
    // copy is made; the answer finds its row again.
    shownPlace_ = pane->Data().Key();
    shownName_ = name;
    copyingName_ = name;
    reading_->setText("Reading...");
    reading_->show();
    auto stop = std::make_shared<std::atomic<bool>>(false);
    remoteCopyStop_ = stop;
    const uint64_t ticket = readTicket_;
    struct Copied {
        std::string path, error;
    };
    const bool asked = reads_->Ask<Copied>(
        [address, name, stop] {
            Copied copied;
            copied.path = CopyRemoteForViewing(address, name, kRemoteViewCopyLimit, *stop, copied.error);
            return copied;
        },
        [this, pane, ticket, folder, name, kind, description, asInfo, asText](const Copied& copied) {
            if (ticket != readTicket_) {
                // A later copy of the same file writes the same name.
                if (!copied.path.empty() && name != copyingName_ && copied.path != viewerTempFile_)
                    ::unlink(copied.path.c_str());
                return;
            }
            copyingName_.clear();
            viewerTempFile_ = copied.path;
            reading_->hide();
            const TDirData& now = pane->Data();
            for (int i = 0; i < now.Count; ++i)
                if (now.Key() == shownPlace_ && now.Item(i).Name == name && now.Item(i).Kind == kind) {
                    if (copied.path.empty()) {
                        ShowPageOf(pane, folder, i, true, false);
                        pages_.info->ShowInfo(description, copied.error, "");
                    } else {
                        ShowPageOf(pane, DirectoryOfCopy(copied.path), i, asInfo, asText);
                    }
                    break;
                }
            if (!Reading() && whenShown_)
                QMetaObject::invokeMethod(this, std::exchange(whenShown_, nullptr), Qt::QueuedConnection);
        });
    if (!asked) {
        // Earlier reads still wait on their servers.
        copyingName_.clear();
        reading_->hide();
        ShowPageOf(pane, folder, index, true, false);
    }
}

void ViewerHost::ShowRemoteFacts(const std::string& address, const std::string& description)
{
    struct Facts {
        RemoteEntry entry;
        std::string error;
    };
    reading_->setText("Reading...");
    reading_->show();
    const uint64_t ticket = readTicket_;
    const bool asked = reads_->Ask<Facts>(
        [address] {
            Facts facts;
            facts.error = StatRemote(address, facts.entry);
            return facts;
        },
        [this, ticket, description](const Facts& facts) {
            if (ticket != readTicket_)
                return;
            reading_->hide();
            if (!facts.error.empty()) {
                pages_.info->ShowInfo(description, facts.error, "");
            } else {
                const RemoteEntry& e = facts.entry;
                pages_.info->ShowInfo(description,
                                      "Size : " + FormatGrouped(double(e.size), 0, *parts_.locale) +
                                          "    Modified : " + TimeText(e.mtime),
                                      "Permissions : " + PermissionText(e.permissions) + "    Owner : " +
                                          std::to_string(e.uid) + ":" + std::to_string(e.gid));
            }
            if (whenShown_)
                QMetaObject::invokeMethod(this, std::exchange(whenShown_, nullptr), Qt::QueuedConnection);
        });
    if (!asked)
        reading_->hide(); // the listing's facts stay
}

} // namespace tarnel
