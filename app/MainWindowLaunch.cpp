// Starting other programs from the window (the pane popup's "Open with" and
// "Terminal here", "Open this directory") and the places the panes are sent
// to from outside: the command line, the last run, a path handed over.
//
// The window's thread makes no system call on a user's path: whether a place
// exists, the type of the file being opened (its first bytes may be read), and
// the start of a program in a folder (the child changes into it before it
// runs), are asked on a worker (WorkerAnswers) and answered by a queued call,
// so a dead network mount never freezes the window. Only the desktop's own XDG
// folders (its desktop files and mimeapps.list) are read here, when the popup
// opens; a row's file type comes from its name alone.
#include "app/MainWindow.h"
#include "app/CommandTable.h"

#include "app/PrivateMessages.h"
#include "app/UserMessages.h"
#include "app/WorkerAnswers.h"
#include "app/components/InstanceBlock.h"
#include "fileops/LaunchApplication.h"
#include "fileops/model/LaunchDefaultApp.h"
#include "fileops/model/LaunchDesktopEntry.h"
#include "fileops/model/LaunchProcess.h"
#include "panes/DirData.h"
#include "panes/Navigation.h"
#include "panes/PathUtil.h"
#include "panes/ReadDirectory.h"
#include "panes/ViewerExtensions.h"
#include "platform/ssh/SftpUrl.h"
#include "sources/SearchSource.h"
#include "sources/archive/ArchiveNames.h"
#include "sources/archive/ArchiveTable.h"
#include "viewer/ViewerHost.h"
#include "viewer/model/ZipMemberCopy.h"
#include "widgets/PaneView.h"
#include "widgets/RowPainter.h"

#include <QAction>
#include <QFile>
#include <QIcon>
#include <QListView>
#include <QMenu>

#include <optional>
#include <string_view>

#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {

QString Decode(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

// A menu caption: "&" would underline the next letter.
QString MenuText(const std::string& text)
{
    QString shown = QString::fromUtf8(QByteArray::fromStdString(text));
    return shown.replace('&', "&&");
}

std::string ParentOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The folder a program started for the pane runs in: the pane's directory,
// or, for a place whose entries are no files of the disk, the folder holding
// the file the place lies in (an archive); for found files, the folder the
// find started in.
std::string PaneFolder(const TDirData& data)
{
    const bool folder = data.Can(Capability::DiskPaths) && std::string_view(data.Source()) != kSearchSourceName;
    return AddPathDelimiter(folder ? data.Path : ParentOf(data.Place().ArchiveFile()));
}

// What a candidate place's path names on disk, looked at on a worker; the
// window's thread then asks the place's source what it has to be.
struct PlaceLook {
    PanePlace place;
    bool directory = false;
    bool regularFile = false;
    std::string given; // the path as given on the command line, "" for a kept place
};

PlaceLook LookAt(PanePlace place, std::string given = {})
{
    PlaceLook look{std::move(place), false, false, std::move(given)};
    struct stat st;
    if (std::string_view(look.place.Source()) != kSftpSourceName && ::stat(look.place.ArchiveFile().c_str(), &st) == 0) {
        look.directory = S_ISDIR(st.st_mode);
        look.regularFile = S_ISREG(st.st_mode);
    }
    return look;
}

// A place of the disk is a folder; a remote one is not looked for (its
// listing says what is wrong); any other lies in a file (an archive).
bool PlaceExists(const SourceTable& sources, const PlaceLook& look)
{
    if (std::string_view(look.place.Source()) == kSftpSourceName)
        return true;
    return sources.Can(look.place).Has(Capability::DiskPaths) ? look.directory : look.regularFile;
}

struct StartAnswer {
    std::array<std::vector<PlaceLook>, 2> candidates; // in order of preference
};

// The pane still shows the place it started at: nobody has moved it yet.
bool Untouched(const TDirData& pane, const PanePlace& start)
{
    return pane.HistoryIndex == 0 && pane.History.size() == 1 && pane.Place().WithDelimiter() == start.WithDelimiter();
}

} // namespace

void MainWindow::BuildLaunchItems()
{
    placeAnswers_ = new WorkerAnswers(4, this);
    launchAnswers_ = new WorkerAnswers(16, this);
    dirPopup_->addSeparator();
    openWith_ = dirPopup_->addMenu("Open with");
    openWith_->setObjectName("PopOpenWith");
    openWith_->menuAction()->setObjectName("PopOpenWithMenu");
    commands_->AddTo(dirPopup_, {"TerminalHere"});
    // Filled as the popup opens, after the pane has taken the row under the mouse.
    connect(dirPopup_, &QMenu::aboutToShow, this, [this] { FillOpenWithMenu(ActivePane()); });
}

void MainWindow::FillOpenWithMenu(PaneView* pane)
{
    openWith_->clear();
    const TDirData& data = pane->Data();
    const int row = pane->CurrentRow();
    const TFileData* current = row >= 0 && row < data.Count ? &data.Item(row) : nullptr;
    // Members of an archive have no file of their own for a program to open.
    const bool usable = current && data.Can(Capability::DiskPaths) && ArchiveHoldingEntry(data, *current).empty() &&
                        (current->Kind == fkFile || (current->Kind == fkDirectory && current->Name != ".."));
    openWith_->menuAction()->setEnabled(usable);
    if (!usable)
        return;
    // The selected files and folders when the current row is one of them, else the current row.
    std::vector<std::string> files;
    const std::string folder = AddPathDelimiter(data.DirOf(*current));
    if (pane->IsSelected(row))
        for (int i = 0; i < data.Count; ++i) {
            const TFileData& e = data.Item(i);
            if (pane->IsSelected(i) && (e.Kind == fkFile || (e.Kind == fkDirectory && e.Name != "..")))
                files.push_back(AddPathDelimiter(data.DirOf(e)) + e.Name);
        }
    if (files.empty())
        files.push_back(folder + current->Name);
    const std::vector<DesktopEntry> apps =
        FindApplications(MimeTypesOfName(current->Name, current->Kind == fkDirectory), XdgDirs::FromEnvironment());
    for (const DesktopEntry& app : apps) {
        QAction* item = openWith_->addAction(QIcon::fromTheme(Decode(app.icon)), MenuText(app.name.empty() ? app.id : app.name));
        item->setObjectName(Decode(app.id));
        connect(item, &QAction::triggered, this, [this, app, files, folder] {
            std::string error;
            std::vector<std::vector<std::string>> commands = LaunchCommands(app, files, error);
            const QString what = Decode(app.name.empty() ? app.id : app.name);
            if (commands.empty())
                messages_->Error(QString("%1 cannot be started: %2").arg(what, Decode(error)));
            else
                StartOffThread(std::move(commands), app.path.empty() ? folder : app.path, what);
        });
    }
    if (apps.empty())
        openWith_->addAction("No application for this type")->setEnabled(false);
}

void MainWindow::TerminalHereClick()
{
    std::vector<std::string> terminal = TerminalCommand({});
    if (terminal.empty()) {
        messages_->Error("No terminal program was found. Install one that provides x-terminal-emulator, "
                         "or name yours in $TERMINAL.");
        return;
    }
    StartOffThread({terminal}, PaneFolder(ActivePane()->Data()), Decode(terminal.front()));
}

void MainWindow::OpenFolderInFileManager(PaneView* pane)
{
    const std::string folder = PaneFolder(pane->Data());
    const bool asked = launchAnswers_->Ask<std::string>([folder] { return OpenInFileManager(folder); },
                                                        [this](const std::string& error) {
                                                            if (!error.empty())
                                                                messages_->Error(QString("The folder cannot be opened: %1").arg(Decode(error)));
                                                        });
    if (!asked)
        messages_->Error("Programs started earlier have not answered yet; try again later.");
}

void MainWindow::StartOffThread(std::vector<std::vector<std::string>> commands, std::string workingDir, QString what)
{
    const bool asked = launchAnswers_->Ask<std::string>(
        [commands = std::move(commands), workingDir = std::move(workingDir)] { return StartCommands(commands, workingDir); },
        [this, what](const std::string& error) {
            if (!error.empty())
                messages_->Error(QString("%1 cannot be started: %2").arg(what, Decode(error)));
        });
    if (!asked)
        messages_->Error(QString("%1 was not started: programs started earlier have not answered yet.").arg(what));
}

int MainWindow::PlaceChecksWaiting() const { return placeAnswers_->Waiting(); }

// tarnel-open or a second start put a path in the block: a directory is gone
// to, a file is shown and opened. Whether it exists is asked off this thread.
void MainWindow::ShellCall()
{
    if (!block_)
        return;
    const uint16_t length = block_->ShellCallLength();
    if (length > 512) {
        messages_->Error("String length too large from SHELL CALL");
        return;
    }
    const std::string path = block_->ShellCallText(length);
    const int ticket = ++shellCallTicket_;
    if (IsSftpText(path)) {
        // A remote folder is gone to; its listing says what is wrong with it.
        ShowProgram();
        GoToDirectory(ActivePane()->Data(), path, locale_);
        return;
    }
    struct Kind {
        bool exists = false, directory = false;
    };
    const bool asked = placeAnswers_->Ask<Kind>(
        [path] {
            struct stat st {};
            Kind kind;
            kind.exists = !path.empty() && ::stat(path.c_str(), &st) == 0;
            kind.directory = kind.exists && S_ISDIR(st.st_mode);
            return kind;
        },
        [this, path, ticket](const Kind& kind) {
            if (ticket == shellCallTicket_) // a later path has come since
                ShellCallChecked(path, kind.exists, kind.directory);
        });
    if (!asked)
        messages_->Error(QString("Places asked for earlier have not answered yet (a network folder that does not "
                                 "answer?); <%1> is not gone to.")
                             .arg(Decode(path)));
}

void MainWindow::ShellCallChecked(const std::string& path, bool exists, bool directory)
{
    TDirData& data = ActivePane()->Data();
    if (exists && directory) {
        ShowProgram();
        GoToDirectory(data, path, locale_);
        return;
    }
    if (!exists) {
        messages_->Information(QString("Unknown received: <%1>").arg(Decode(path)));
        return;
    }
    ShowProgram();
    GoToDirectory(data, ParentOf(path), locale_);
    WhenRead(data, [this, &data, name = NameOf(path)] { OpenShellCallFile(data, name); });
}

// Each pane goes to the folder given for it on the command line, else to
// where the last run left it; until a worker has found that place the pane
// shows the start place (the volume root of the working directory), and
// stays there when the place is gone or never answers. A pane the user has
// moved meanwhile is left where it is.
void MainWindow::StartPlaces(const StartOptions& options)
{
    std::array<std::vector<PanePlace>, 2> wanted;
    std::array<std::string, 2> given;
    bool any = false;
    for (size_t side = 0; side < 2; ++side) {
        if (!(side == 0 ? options.leftDir : options.rightDir).empty())
            continue; // placed by the caller
        if (side < options.givenPlaces.size())
            given[side] = options.givenPlaces[side];
        const PaneState& kept = settings_.panes[side];
        if (store_ && settings_.KeepPlaces && !kept.path.empty())
            wanted[side].push_back(PanePlace{kept.path, kept.zipMode, kept.zipPath, kept.source});
        any = any || !given[side].empty() || !wanted[side].empty();
    }
    if (!any)
        return;
    const std::array<PanePlace, 2> start{leftDir_.Place(), rightDir_.Place()};
    placeAnswers_->Ask<StartAnswer>(
        [wanted, given] {
            StartAnswer answer;
            for (size_t side = 0; side < 2; ++side) {
                // A given path may lie inside an archive, as --list takes it.
                if (!given[side].empty())
                    answer.candidates[side].push_back(LookAt(PanePlace::FromPath(given[side]), given[side]));
                for (const PanePlace& place : wanted[side])
                    answer.candidates[side].push_back(LookAt(place));
            }
            return answer;
        },
        [this, start](const StartAnswer& answer) {
            std::vector<std::string> missing; // given folders that are not there
            for (size_t side = 0; side < 2; ++side) {
                TDirData& pane = side == 0 ? leftDir_ : rightDir_;
                const SourceTable& sources = pane.SourcesTable();
                std::optional<PanePlace> found;
                for (const PlaceLook& look : answer.candidates[side]) {
                    const bool exists = PlaceExists(sources, look);
                    if (!exists && !look.given.empty())
                        missing.push_back(look.given);
                    if (exists && !found) {
                        found = look.place;
                        if (sources.Can(*found).Has(Capability::DiskPaths))
                            found->Path = AddPathDelimiter(found->Path);
                    }
                }
                if (!found || !Untouched(pane, start[side]))
                    continue;
                // The place the run starts at: the first and only one in the history.
                pane.History.clear();
                pane.HistoryIndex = -1;
                pane.MoveTo(*found);
                RecordHistory(pane);
                ReadDirectory(pane, locale_);
            }
            for (const std::string& path : missing)
                messages_->Error(QString("The folder %1 does not exist.").arg(Decode(path)));
        });
}

// Open and View on the row under the cursor: the viewer for its own types,
// else the desktop's default application, else (none, or it cannot start)
// the viewer. The application is found and started on a worker: its type may
// be read from the file's first bytes. The answer finds the row again by
// name; it is dropped when the pane has gone elsewhere or a later launch came.
void MainWindow::LaunchEntry(PaneView* pane, bool shellOpen, bool asText, bool asInfo)
{
    const TDirData& data = pane->Data();
    const int row = pane->CurrentRow();
    if (row < 0 || row >= data.Count)
        return;
    const TFileData& entry = data.Item(row);
    if (asText || asInfo || (!shellOpen && IsViewerExtension(entry.Name))) {
        viewer_->ShowEntryInViewer(pane, data.Path, row, asInfo, asText);
        return;
    }
    if (std::string_view(data.Source()) == kSftpSourceName && entry.Kind == fkFile) {
        OpenRemoteFile(pane, row, !shellOpen);
        return;
    }
    // A member opens through its copy, made on the same worker: the archive
    // may lie on a mount that does not answer.
    const bool member = !data.Can(Capability::DiskPaths) && entry.Kind == fkFile;
    if (RefusedInsideArchive(pane, {row}))
        return;
    std::string file = AddPathDelimiter(data.DirOf(entry)) + entry.Name;
    if (entry.Kind == fkDrive) // a drive row's name is its display text
        if (const Volume* drive = DriveOfRow(data, row))
            file = drive->root;
    struct Started {
        pid_t pid = 0;
        std::string copy;
        ArchiveContent archive = ArchiveContent::None; // Enter found an archive by its content: it is gone into
    };
    // Enter (not Open) goes into a file whose content is an archive, a
    // member's copy included; no name is trusted for it.
    const bool enter = !shellOpen && entry.Kind == fkFile;
    const int ticket = ++launchTicket_;
    const bool asked = launchAnswers_->Ask<Started>(
        [file, member, enter, place = data.Place(), can = data.Can(), name = entry.Name,
         extract = viewer_->ZipExtractor(), directory = AddPathDelimiter(data.DirOf(entry)), dirs = XdgDirs::FromEnvironment()] {
            Started started;
            if (member)
                started.copy = CopyZipMemberToTemp(place, can, name, member && enter ? "arc" : "sh", extract);
            const std::string& opened = started.copy.empty() ? file : started.copy;
            if (enter && (!member || !started.copy.empty()) &&
                (started.archive = DetectArchiveContent(opened)) != ArchiveContent::None)
                return started;
            started.pid = OpenWithDefaultApplication(opened, directory, dirs);
            if (started.pid <= 0 && !started.copy.empty())
                ::unlink(started.copy.c_str());
            return started;
        },
        [this, pane, ticket, member, key = data.Key(), name = entry.Name, kind = entry.Kind, file](const Started& started) {
            TDirData& now = pane->Data();
            if (started.archive != ArchiveContent::None) {
                if (ticket == launchTicket_ && now.Key() == key)
                    EnterArchiveFile(now, member ? started.copy : file, started.archive == ArchiveContent::Zip, member,
                                     locale_);
                return;
            }
            if (started.pid > 0) {
                TWaitProcessEnd::Start(started.pid, started.copy);
                return;
            }
            if (ticket != launchTicket_ || now.Key() != key)
                return;
            for (int i = 0; i < now.Count; ++i)
                if (now.Item(i).Name == name && now.Item(i).Kind == kind) {
                    viewer_->ShowEntryInViewer(pane, now.Path, i, false, false);
                    return;
                }
        });
    if (!asked)
        messages_->Error("Programs started earlier have not answered yet; try again later.");
}

} // namespace tarnel
