// The file commands of the main window: one dispatcher for copy, move,
// delete, rename and properties, background copies and moves, New dir/zip.
#include "sources/SourceTable.h"
#include "app/MainWindow.h"
#include "app/MainWindowSftp.h"
#include "app/MainWindowSftpCommands.h"
#include "app/PrivateMessages.h"
#include "descriptions/DescriptionFollow.h"
#include "fileops/BackgroundWork.h"
#include "fileops/LastCommand.h"
#include "fileops/NameDialogs.h"
#include "fileops/OperationsWindow.h"
#include "fileops/PropertiesDialog.h"
#include "fileops/model/Operation.h"
#include "fileops/TargetDialog.h"
#include "fileops/model/ZipFileOperation.h"
#include "panes/PathUtil.h"
#include "panes/ReadDirectory.h"
#include "sources/SearchSource.h"
#include "sources/sftp/SftpOperations.h"
#include "platform/Volumes.h"
#include "sources/archive/ArchiveRewrite.h"
#include "support/EmptyZip.h"
#include "widgets/PaneView.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QStatusBar>

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>
#include <string_view>

namespace tarnel {

namespace {

QString Decode(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

// The selected directories and files, in list order. ".." never takes part:
// copying, moving or deleting the parent of a place is never what was meant.
std::vector<std::string> SelectedPaths(PaneView& pane, std::string* firstName = nullptr)
{
    const TDirData& data = pane.Data();
    std::vector<std::string> paths;
    for (const int row : pane.SelectedRows()) {
        if (row < 0 || row >= data.Count)
            continue;
        const TFileData& e = data.Item(row);
        if (e.Kind == fkDrive || e.IsParentEntry())
            continue;
        if (firstName && paths.empty())
            *firstName = e.Name;
        paths.push_back(AddPathDelimiter(data.DirOf(e)) + e.Name);
    }
    return paths;
}

// An empty name would name the folder itself, a "/" another folder.
QString NewNameProblem(const QString& name)
{
    if (name.isEmpty())
        return "The new name is empty.";
    if (name.contains('/'))
        return "A name cannot contain \"/\": " + name;
    if (name == "." || name == "..")
        return "\"" + name + "\" is not a name for a file or folder.";
    return {};
}

// The folder a path lies in, "/" for the top.
std::string FolderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

// What kept descriptions from following, said once the operation has ended.
struct FollowProblems {
    std::mutex mutex;
    QStringList texts;
};

void StorePlace(PaneView& pane)
{
    TDirData& data = pane.Data();
    data.Positions.Store(data.Key(), pane.TopRow(), pane.CurrentRow());
    RememberDirSizes(data);
}

} // namespace

void MainWindow::DoFileOperation(FileOperationCode code, bool askTarget)
{
    PaneView* source = ActivePane();
    PaneView* target = source->Other();
    if (RefusedInsideArchive(source, source->SelectedRows()))
        return;
    // A remote entry's facts come from its server, on a worker.
    if (code == FO_PROPERTIES && IsRemotePlace(source->Data().Place())) {
        RemotePropertiesDialog dialog(RemoteSourceOf(source->Data()), SelectedPaths(*source), this);
        runNameDialog_ ? runNameDialog_(dialog) : dialog.exec();
        return;
    }
    // The rename dialog; false when it is cancelled or its name refused.
    const auto askNewName = [this](const std::string& old, std::string& typed) {
        RenameDialog dialog(old, this);
        if ((runNameDialog_ ? runNameDialog_(dialog) : dialog.exec()) != QDialog::Accepted)
            return false;
        typed = dialog.Name();
        if (const QString problem = NewNameProblem(QFile::decodeName(typed.c_str())); !problem.isEmpty()) {
            messages_->Warning(problem);
            return false;
        }
        return true;
    };
    // A list of found files is no folder: nothing goes into it.
    if ((code == FO_COPY || code == FO_MOVE) && !target->Data().Can(Capability::CopyIn)) {
        messages_->Warning(Decode("Nothing can be copied or moved into " + target->Data().Text() + "."));
        return;
    }
    // Entries that are not files of the disk, or files going into a place
    // that is not a folder of the disk: their source runs the command.
    if (source->Data().SourcesTable().OperationRunner(code, SideOf(source->Data()), SideOf(target->Data()))) {
        // An archive adds files from one folder; found files lie in many.
        if (std::string_view(source->Data().Source()) == kSearchSourceName) {
            messages_->Warning("Found files cannot go into an archive straight from the list: copy them to a "
                               "folder first, or add them from their own folder.");
            return;
        }
        // A source that renames is given the new name; one that cannot
        // says so itself, without asking a name first.
        std::string newName;
        if (code == FO_RENAME && source->Data().Can(Capability::Rename)) {
            const std::vector<int> selected = source->SelectedRows();
            if (selected.size() != 1) {
                messages_->Warning("Select one item to rename here.");
                return;
            }
            const std::string old = source->Data().Item(selected.front()).Name;
            if (!askNewName(old, newName))
                return;
            // The pane may have been read again while the dialog was up.
            const std::vector<int> now = source->SelectedRows();
            if (now.size() != 1 || source->Data().Item(now.front()).Name != old) {
                messages_->Warning("The pane changed while the new name was asked: nothing was renamed.");
                return;
            }
        }
        StorePlace(*source);
        StorePlace(*target);
        SourceFileOperation(code, *source, *target, askTarget, newName);
        return;
    }
    if (code == FO_RENAME && SelectedPaths(*source).size() != 1) {
        RunRenamer(source);
        return;
    }
    StorePlace(*source);
    StorePlace(*target);
    std::string firstName;
    const std::vector<std::string> sources = SelectedPaths(*source, &firstName);
    if (sources.empty())
        return;
    std::string targetPath = target->Data().Path;
    const std::string sourceDir = source->Data().Path; // the dialogs below may outlive this listing
    if (code == FO_RENAME) {
        std::string typed;
        if (!askNewName(firstName, typed))
            return;
        // In its own folder: found files lie in many.
        targetPath = AddPathDelimiter(FolderOf(sources.front())) + typed;
    }
    unsigned flags = kDefaultFileOperationFlags;
    bool targetEdited = false;
    if ((code == FO_COPY || code == FO_MOVE) && settings_.ConfirmCopyTarget && askTarget) {
        TargetDialog dialog(code == FO_MOVE, sources.size(), firstName, targetPath, this);
        if (dialog.exec() != QDialog::Accepted)
            return;
        const std::string typed = ResolveTypedTarget(dialog.Target(), sourceDir);
        if (typed.empty()) {
            messages_->Warning("No target folder was given.");
            return;
        }
        if (typed != ResolveTypedTarget(targetPath, sourceDir)) {
            // A typed folder is looked at by the engine, on whichever thread
            // runs it; one that does not exist is made only when the user says so.
            targetPath = AddPathDelimiter(typed);
            flags &= ~unsigned(FOF_NOCONFIRMMKDIR);
            targetEdited = true;
        }
    }
    if (code == FO_PROPERTIES) {
        PropertiesDialog dialog(sources, this, &Background());
        if (runNameDialog_)
            runNameDialog_(dialog);
        else
            dialog.exec();
        return;
    }
    if (settings_.UseAsyncShell && (code == FO_MOVE || code == FO_COPY)) {
        LaunchBackground(code, sources, targetPath, sourceDir, flags);
        return;
    }
    // The panes are named by their places: by the end the user may have gone elsewhere.
    std::vector<std::string> reread;
    // A typed target may lie below the source's folder: its new entry shows there.
    if (code == FO_MOVE || code == FO_DELETE || code == FO_RENAME || targetEdited)
        reread.push_back(sourceDir);
    if (code == FO_MOVE || code == FO_COPY)
        reread.push_back(target->Data().Path);
    // Found files keep a renamed one under its new name.
    std::function<void()> done;
    if (code == FO_RENAME && std::string_view(source->Data().Source()) == kSearchSourceName)
        done = [this, place = source->Data().Place(), from = sources.front(), to = targetPath] {
            search_->Renamed(place, from, to);
        };
    RunEngineOperation(code, sources, targetPath, flags, std::move(reread), std::move(done));
}

void MainWindow::RunEngineOperation(int code, const std::vector<std::string>& sources, const std::string& target,
                                    unsigned flags, std::vector<std::string> reread, std::function<void()> done)
{
    auto problems = std::make_shared<FollowProblems>();
    std::shared_ptr<OperationObserver> follower;
    // Descriptions follow where the operation runs, on its worker.
    if (settings_.DescriptionsFollow)
        follower = std::make_shared<DescriptionFollower>([problems](const std::string& text) {
            std::lock_guard lock(problems->mutex);
            problems->texts << Decode(text);
        });
    std::shared_ptr<Operation> op = MakeEngineOperation(code, sources, target, flags, follower);
    // Copies onto one disk may take turns (the queue option); /proc answers at once.
    if (code == FO_COPY || code == FO_MOVE)
        op->SetVolume(VolumeRootOf(target));
    Background().Runner().SetVolumeQueue(settings_.QueuePerVolume);
    Background().SetTestAnswers(operationUi_);
    const bool started = Background().Run(op, RunMode::Foreground, nullptr,
                                          [this, problems, reread = std::move(reread),
                                           done = std::move(done)](const Operation& ended) {
                                              if (done && ended.State() == OperationState::Done)
                                                  done();
                                              QStringList texts;
                                              {
                                                  std::lock_guard lock(problems->mutex);
                                                  texts.swap(problems->texts);
                                              }
                                              for (const QString& problem : texts)
                                                  messages_->Warning(problem);
                                              RereadPanesShowing(reread);
                                          });
    if (!started)
        messages_->Warning("The program is ending: no new file operation starts.");
}

void MainWindow::RereadPanesShowing(const std::vector<std::string>& places)
{
    for (PaneView* pane : {left_, right_}) {
        const std::string& place = pane->Data().Path;
        if (std::any_of(places.begin(), places.end(),
                        [&](const std::string& p) { return EqualsIgnoreCase(AddPathDelimiter(place), AddPathDelimiter(p)); }))
            ReadDirectory(pane->Data(), locale_);
    }
}

int MainWindow::OperationsRunning() const
{
    return (background_ ? int(background_->Operations().size()) : 0) + asyncSlots_.Count();
}

void MainWindow::ShowOperations()
{
    if (!operationsWindow_) {
        operationsWindow_ = new OperationsWindow([this] { return Background().Operations(); }, this);
        operationsWindow_->setAttribute(Qt::WA_DeleteOnClose);
    }
    operationsWindow_->show();
    operationsWindow_->raise();
    operationsWindow_->activateWindow();
}

OperationsWindow* MainWindow::OperationsShown() const { return operationsWindow_.data(); }

void MainWindow::AnswerOperationMessagesFromTest()
{
    Background().SetTestMessages([this](const OperationQuestion& q) {
        const QString text = Decode(q.text);
        switch (q.type) {
        case OperationQuestion::Type::Confirm: return int(messages_->Confirm(text));
        case OperationQuestion::Type::ErrorText: messages_->Error(text); break;
        default: messages_->Plain(text); break;
        }
        return 0;
    });
}

void MainWindow::SetOperationUi(OperationUi* ui)
{
    operationUi_ = ui;
    if (background_)
        background_->SetTestAnswers(ui);
}

void MainWindow::LaunchBackground(int code, const std::vector<std::string>& sources, const std::string& target,
                                  const std::string& sourceDir, unsigned flags)
{
    AsyncShellEntry entry{0, code, sources, target, sourceDir, target};
    const std::optional<uint16_t> id = asyncSlots_.Launch(std::move(entry));
    if (!id) {
        messages_->Warning("Unable to launch asynchronous shell operation. No free slots.");
        return;
    }
    // Descriptions follow on the operation's own thread.
    std::shared_ptr<OperationObserver> follower;
    if (settings_.DescriptionsFollow)
        follower = std::make_shared<DescriptionFollower>();
    std::shared_ptr<Operation> op = MakeEngineOperation(code, sources, target, flags, follower);
    op->SetId(*id);
    op->SetVolume(VolumeRootOf(target));
    Background().Runner().SetVolumeQueue(settings_.QueuePerVolume);
    Background().SetTestAnswers(operationUi_);
    // The completion message is posted from the worker, as it ends.
    if (!Background().Run(op, RunMode::Background, [this, done = *id] { PostPrivateMessage(this, UM_ASYNCDONE, done); },
                          nullptr)) {
        asyncSlots_.Complete(*id);
        messages_->Warning("Unable to launch asynchronous shell operation. No free slots.");
        return;
    }
    QApplication::beep();
}

void MainWindow::DropFiles(PaneView* pane, const std::vector<std::string>& paths, const PanePlace& target, bool move,
                           size_t refused)
{
    if (refused > 0)
        messages_->Warning(QString("%1 dropped item(s) are not local files and were left out.").arg(refused));
    if (paths.empty())
        return;
    if (const Capabilities can = pane->Data().SourcesTable().Can(target);
        can.Has(Capability::DiskPaths) && !can.Has(Capability::CopyIn)) {
        messages_->Warning("Files cannot be dropped into a list of found files.");
        return;
    }
    if (!DefaultSources()->Can(target).Has(Capability::DiskPaths)) {
        messages_->Warning("Files cannot be dropped into an archive. Show the archive in one pane, select the files "
                           "in the other and use Copy or Move.");
        return;
    }
    const std::string targetDir = AddPathDelimiter(target.Path);
    // A drag that ends in the files' own folder asks for nothing.
    if (std::all_of(paths.begin(), paths.end(),
                    [&](const std::string& path) { return AddPathDelimiter(FolderOf(path)) == targetDir; }))
        return;
    const std::string sourceDir = AddPathDelimiter(FolderOf(paths.front()));
    const int code = move ? FO_MOVE : FO_COPY;
    StorePlace(*left_);
    StorePlace(*right_);
    if (settings_.UseAsyncShell) {
        LaunchBackground(code, paths, targetDir, sourceDir, kDefaultFileOperationFlags);
        return;
    }
    // The pane dropped on, and any pane that shows where the files went or came from.
    std::vector<std::string> reread = {pane->Data().Path, targetDir};
    if (move) {
        reread.push_back(sourceDir);
        // Found files moved away leave the results they were dragged from.
        for (PaneView* side : {left_, right_})
            if (std::string_view(side->Data().Source()) == kSearchSourceName)
                reread.push_back(side->Data().Path);
    }
    RunEngineOperation(code, paths, targetDir, kDefaultFileOperationFlags, std::move(reread));
}

void MainWindow::RunFileCommand(FileOperationCode code)
{
    static const std::map<int, const char*> popupItems = {
        {FO_COPY, "PopCopy"}, {FO_MOVE, "PopMove"}, {FO_DELETE, "PopDelete"}, {FO_RENAME, "PopRename"}, {FO_PROPERTIES, "PopProperties"}};
    RememberLastCommand(*dirPopup_, Action(popupItems.at(code)));
    DoFileOperation(code);
}

void MainWindow::NewDirClick()
{
    RememberLastCommand(*dirPopup_, Action("PopNewDir"));
    CreateDirOrZip(false, false);
}

void MainWindow::AsyncDone(uint16_t id)
{
    QApplication::beep();
    const std::optional<AsyncShellEntry> entry = asyncSlots_.Complete(id);
    if (!entry) {
        messages_->Warning("Asynchronous shell operation completion with invalid ID.");
        return;
    }
    for (PaneView* pane : {left_, right_}) {
        const std::string& place = pane->Data().Path;
        const bool fromSource = entry->function == FO_MOVE && EqualsIgnoreCase(place, entry->sourceDir);
        if (fromSource || EqualsIgnoreCase(place, entry->targetDir))
            ReadDirectory(pane->Data(), locale_);
    }
}

BackgroundWork& MainWindow::Background()
{
    if (!background_)
        background_ = new BackgroundWork(this);
    return *background_;
}

void MainWindow::FinishBackgroundOperations()
{
    if (background_)
        background_->Shutdown();
}

// The empty archive is written on the runner: the folder may lie on a mount
// that does not answer. With fill, the active pane's selection is copied
// into it once it is there, if the pane still shows the same place.
bool MainWindow::StartEmptyZip(const std::string& path, const std::string& place, bool fill)
{
    const std::shared_ptr<Operation> make = std::make_shared<Operation>(
        OperationKind::MakeFolder, "New archive " + path, [path](Operation& op) {
            op.Report(0, 1, 0, 0, path);
            std::string error;
            if (!WriteEmptyZip(path, error))
                return OperationState::Failed; // said below, with the name the user gave
            op.Report(1, 1, 0, 0, path);
            return OperationState::Done;
        });
    const std::string from = AddPathDelimiter(ActivePane()->Data().Path);
    PaneView* fromPane = ActivePane();
    Background().SetTestAnswers(operationUi_);
    return Background().Run(make, RunMode::Foreground, nullptr,
                            [this, path, place, fill, from, fromPane](const Operation& op) {
                                if (op.State() != OperationState::Done) {
                                    messages_->Warning(Decode("Unable to create zip " + path + "."));
                                    return;
                                }
                                RereadPanesShowing({place});
                                if (fill && ActivePane() == fromPane &&
                                    AddPathDelimiter(fromPane->Data().Path) == from)
                                    FillNewZip(path);
                            });
}

std::string MainWindow::CreateDirOrZip(bool otherPane, bool forceZip)
{
    PaneView* pane = otherPane ? ActivePane()->Other() : ActivePane();
    if (pane->Data().Can(Capability::DiskPaths) && !pane->Data().Can(Capability::MakeFolder)) {
        messages_->Warning("Nothing can be made inside a list of found files.");
        return {};
    }
    NewDirDialog dialog(forceZip, this);
    while ((runNameDialog_ ? runNameDialog_(dialog) : dialog.exec()) == QDialog::Accepted) {
        const std::string typed = dialog.Name();
        const std::string place = AddPathDelimiter(pane->Data().Path);
        std::string error;
        if (dialog.ZipBox()->isChecked() && std::string_view(pane->Data().Place().Source()) == kSftpSourceName) {
            messages_->Warning("Only folders can be made in a remote place.");
        } else if (dialog.ZipBox()->isChecked() && dialog.Kind() && !typed.empty()) {
            const ArchiveKind kind = *dialog.Kind();
            std::string name = typed;
            if (ArchiveKindOfName(name) != kind)
                name += ArchiveKindExtension(kind);
            if (std::string_view(pane->Data().Source()) != kLocalSourceName) {
                messages_->Warning("A new archive is made in a folder of the disk.");
                return {};
            }
            std::vector<std::string> contents;
            if (forceZip) {
                // Only files of the disk can be read into it.
                if (!ActivePane()->Data().Can(Capability::DiskPaths)) {
                    messages_->Warning("Only files and folders of the disk can go into a new archive.");
                    return {};
                }
                contents = SelectedPaths(*ActivePane());
            }
            if (StartArchiveCreate(place + name, kind, std::move(contents), place, otherPane))
                return place + name;
            messages_->Warning(Decode("Unable to create " + place + name + "."));
        } else if (dialog.ZipBox()->isChecked()) {
            std::string name = typed;
            if (name.size() < 4 || UpperAscii(name.substr(name.size() - 4)) != ".ZIP")
                name += ".ZIP";
            if (StartEmptyZip(place + name, place, forceZip))
                return place + name;
            messages_->Warning(Decode("Unable to create zip " + place + typed + "."));
        } else if (!typed.empty()) {
            // Made on a worker: the folder may lie on a mount that does not
            // answer. A failure is said when it has ended; by then the dialog is gone.
            const std::string path = place + typed;
            Background().SetTestAnswers(operationUi_);
            // A remote place's folder is made by its source, never on the disk.
            const std::shared_ptr<Operation> make =
                std::string_view(pane->Data().Place().Source()) == kSftpSourceName
                    ? RemoteFolderOperation(pane->Data(), typed)
                    : MakeFolderOperation(path);
            const bool started = make && Background().Run(make, RunMode::Foreground, nullptr,
                                                  [this, place, path](const Operation& op) {
                                                      if (op.State() == OperationState::Done)
                                                          RereadPanesShowing({place});
                                                      else
                                                          messages_->Warning(Decode("Unable to create " + path + "."));
                                                  });
            if (started)
                return path;
            messages_->Warning(Decode("Unable to create " + path + "."));
        } else {
            messages_->Warning(Decode("Unable to create " + place + typed + "."));
        }
    }
    return {};
}

} // namespace tarnel
