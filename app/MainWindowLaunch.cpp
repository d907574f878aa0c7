// Starting other programs from the window (the pane popup's "Open with" and
// "Terminal here", "Open this directory") and the places the panes are sent
// to from outside: the command line, the last run, a path handed over.
//
// The window's thread makes no system call on a user's path: whether a place
// exists, and the start of a program in a folder (the child changes into it
// before it runs), are asked on a worker (WorkerAnswers) and answered by a
// queued call, so a dead network mount never freezes the window. Only the
// desktop's own XDG folders (its desktop files and mimeapps.list) are read
// here, when the popup opens; a row's file type comes from its name alone.
#include "app/MainWindow.h"
#include "app/CommandTable.h"

#include "app/PrivateMessages.h"
#include "app/UserMessages.h"
#include "app/WorkerAnswers.h"
#include "app/components/InstanceBlock.h"
#include "fileops/LaunchApplication.h"
#include "fileops/model/LaunchDefaultApp.h"
#include "fileops/model/LaunchDesktopEntry.h"
#include "panes/DirData.h"
#include "panes/Navigation.h"
#include "panes/PathUtil.h"
#include "panes/ReadDirectory.h"
#include "widgets/PaneView.h"

#include <QAction>
#include <QFile>
#include <QIcon>
#include <QListView>
#include <QMenu>

#include <optional>

#include <sys/stat.h>

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
// or the one holding the archive it shows.
std::string PaneFolder(const TDirData& data)
{
    return data.InArchive() ? AddPathDelimiter(ParentOf(data.ArchiveFile())) : AddPathDelimiter(data.Path);
}

bool PlaceExists(const PanePlace& place)
{
    struct stat st;
    if (place.InArchive())
        return ::stat(place.ArchiveFile().c_str(), &st) == 0 && S_ISREG(st.st_mode);
    return ::stat(place.Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

struct StartAnswer {
    std::array<std::optional<PanePlace>, 2> places;
    std::vector<std::string> missing; // given folders that are not there
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
    const bool usable = current && data.Can(Capability::DiskPaths) &&
                        (current->Kind == fkFile || (current->Kind == fkDirectory && current->Name != ".."));
    openWith_->menuAction()->setEnabled(usable);
    if (!usable)
        return;
    // The selected files and folders when the current row is one of them, else the current row.
    std::vector<std::string> files;
    const std::string folder = AddPathDelimiter(data.Path);
    if (pane->IsSelected(row))
        for (int i = 0; i < data.Count; ++i) {
            const TFileData& e = data.Item(i);
            if (pane->IsSelected(i) && (e.Kind == fkFile || (e.Kind == fkDirectory && e.Name != "..")))
                files.push_back(folder + e.Name);
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
            wanted[side].push_back(PanePlace{kept.path, kept.zipMode, kept.zipPath});
        any = any || !given[side].empty() || !wanted[side].empty();
    }
    if (!any)
        return;
    const std::array<PanePlace, 2> start{leftDir_.Place(), rightDir_.Place()};
    placeAnswers_->Ask<StartAnswer>(
        [wanted, given] {
            StartAnswer answer;
            for (size_t side = 0; side < 2; ++side) {
                std::vector<PanePlace> places;
                if (!given[side].empty()) {
                    // A given path may lie inside an archive, as --list takes it.
                    PanePlace place = PanePlace::FromPath(given[side]);
                    if (PlaceExists(place))
                        places.push_back(place);
                    else
                        answer.missing.push_back(given[side]);
                }
                places.insert(places.end(), wanted[side].begin(), wanted[side].end());
                for (PanePlace& place : places)
                    if (PlaceExists(place)) {
                        if (!place.InArchive())
                            place.Path = AddPathDelimiter(place.Path);
                        answer.places[side] = place;
                        break;
                    }
            }
            return answer;
        },
        [this, start](const StartAnswer& answer) {
            for (size_t side = 0; side < 2; ++side) {
                TDirData& pane = side == 0 ? leftDir_ : rightDir_;
                if (!answer.places[side] || !Untouched(pane, start[side]))
                    continue;
                // The place the run starts at: the first and only one in the history.
                pane.History.clear();
                pane.HistoryIndex = -1;
                pane.MoveTo(*answer.places[side]);
                RecordHistory(pane);
                ReadDirectory(pane, locale_);
            }
            for (const std::string& path : answer.missing)
                messages_->Error(QString("The folder %1 does not exist.").arg(Decode(path)));
        });
}

} // namespace tarnel
