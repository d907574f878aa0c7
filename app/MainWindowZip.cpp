// The archive driver in the window: panes that show archives, the file
// commands their sources run, "To zip" and the copies the viewer reads.
#include "app/MainWindow.h"
#include "app/MainWindowSftp.h"
#include "fileops/BackgroundWork.h"
#include "fileops/TargetDialog.h"
#include "fileops/model/ZipFileOperation.h"
#include "fileops/model/SourceOperations.h"
#include "fileops/model/ZipMaster.h"
#include "panes/PathUtil.h"
#include "panes/ReadDirectory.h"
#include "platform/ShellFileOperation.h"
#include "platform/Volumes.h"
#include "sources/ArchiveSource.h"
#include "sources/LocalSource.h"
#include "sources/SearchSource.h"
#include "sources/SftpSource.h"
#include "sources/SourceTable.h"
#include "sources/ZipSource.h"
#include "sources/archive/ArchiveTable.h"
#include "sources/archive/ArchiveWriteOperations.h"
#include "viewer/ViewerHost.h"
#include "widgets/PaneView.h"

#include <QDateTime>
#include <QLineEdit>
#include <QFile>
#include <QLocale>
#include <QStatusBar>
#include <QTimer>

namespace tarnel {

namespace {

QString Decode(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

// What the operation is, for its progress dialog and the Operations window.
OperationKind ZipKindOf(int code, const PanePlace& from, const PanePlace& to)
{
    if (std::string_view(from.Source()) == kSftpSourceName || std::string_view(to.Source()) == kSftpSourceName)
        return code == FO_DELETE   ? OperationKind::Delete
               : code == FO_MOVE   ? OperationKind::Move
               : code == FO_RENAME ? OperationKind::Rename
                                   : OperationKind::Copy;
    if (std::string_view(from.Source()) != kZipSourceName)
        return OperationKind::ZipAdd;
    return code == FO_DELETE ? OperationKind::ZipDelete : OperationKind::ZipExtract;
}

} // namespace

void MainWindow::BuildZip()
{
    zip_ = std::make_unique<TZipMaster>();
    zip_->OnMessage = [this](int, const std::string& text) { zipMessage(text); };
    zip_->ShowMessage = [this](const std::string& text) { messages_->Plain(Decode(text)); };
    auto sources = std::make_shared<SourceTable>();
    sources->local = std::make_shared<LocalSource>();
    sources->zip = std::make_shared<ZipSource>(zip_.get());
    search_ = std::make_shared<SearchSource>(StartFind);
    sources->named[kSearchSourceName] = search_;
    sources->named[kSftpSourceName] = std::make_shared<SftpSource>(WindowSshQuestions(this));
    auto archives = std::make_shared<ArchiveSource>();
    sources->named[kArchiveSourceName] = archives;
    for (TDirData* pane : {&leftDir_, &rightDir_}) {
        pane->Sources = sources;
        // Shown after the read's last step: a box's event loop must not
        // meet a half-built listing.
        pane->ReportProblem = [this](const std::string& error) {
            QTimer::singleShot(0, this, [this, error] { messages_->Error(Decode(error)); });
        };
    }
    // Through the listing's own drivers: the copy is made on a worker, as
    // the archive may lie on a mount that does not answer.
    // Which source a member comes from follows from the archive's content:
    // a ZIP stays with its driver, any other goes through libarchive.
    viewer_->SetZipExtractor([zip = std::static_pointer_cast<ZipSource>(sources->zip), archives](
                                 const std::string& archive, const std::string& member, const std::string& dir) {
        if (DetectArchiveContent(archive) == ArchiveContent::Archive)
            return archives->ExtractMember(archive, member, dir);
        return zip->ExtractMember(archive, member, dir);
    });
}

void MainWindow::zipMessage(const std::string& text)
{
    statusBar()->showMessage(Decode(text));
    statusBar()->repaint();
}

void MainWindow::SourceFileOperation(int code, PaneView& source, PaneView& target, bool askTarget,
                                     const std::string& newName)
{
    const std::vector<SourceRow> rows = SourceRowsOf(source.Data(), source.SelectedRows());
    if (rows.empty())
        return;
    // The sides are copies: the panes may move on while the operation runs.
    const PanePlace from = SideOf(source.Data());
    PanePlace to = SideOf(target.Data());
    if (askTarget && settings_.ConfirmCopyTarget && (code == FO_COPY || code == FO_MOVE) &&
        std::string_view(from.Source()) != to.Source()) {
        std::optional<PanePlace> confirmed = ConfirmSourceTarget(code == FO_MOVE, rows, to);
        if (!confirmed)
            return;
        to = std::move(*confirmed);
    }
    const FileSource* runner = source.Data().SourcesTable().OperationRunner(code, from, to);
    if (!runner)
        return;
    auto result = std::make_shared<SourceOperationResult>();
    const OperationKind kind = ZipKindOf(code, from, to);
    std::string title = std::string(KindName(kind)) + " " +
                        (rows.size() == 1 ? rows.front().name : std::to_string(rows.size()) + " items");
    const std::shared_ptr<Operation> op = MakeSourceOperation(
        kind, std::move(title),
        [&](SourceOperationUi& ui) {
            return runner->OperationFor(code, from, to, ui, {settings_.FastZipMove, newName});
        },
        rows,
        result);
    if (!op)
        return;
    if (std::string_view(to.Source()) == kLocalSourceName)
        op->SetVolume(VolumeRootOf(to.Path));
    Background().Runner().SetVolumeQueue(settings_.QueuePerVolume);
    Background().SetTestAnswers(operationUi_);
    const bool started = Background().Run(op, RunMode::Foreground, nullptr, [this, result, from, to](const Operation& ended) {
        if (const std::string note = ended.Progress().currentName; !note.empty())
            zipMessage(note);
        std::vector<std::string> reread;
        if (result->sourceChanged)
            reread.push_back(from.Path);
        if (result->targetChanged)
            reread.push_back(to.Path);
        RereadPanesShowing(reread);
    });
    if (!started)
        messages_->Warning("The program is ending: no new file operation starts.");
}

std::optional<PanePlace> MainWindow::ConfirmSourceTarget(bool move, const std::vector<SourceRow>& rows,
                                                         const PanePlace& to)
{
    TargetDialog dialog(move, rows.size(), rows.size() == 1 ? rows.front().name : std::string(), to.Text(), this);
    // Into an archive or a remote place the target is the folder the other
    // pane shows: a typed path could not say which part is the archive
    // without looking at the disk, nor be told from a path of the disk.
    const bool other = std::string_view(to.Source()) != kLocalSourceName;
    dialog.TargetEdit()->setReadOnly(other);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    if (other)
        return to;
    const std::string typed = ResolveTypedTarget(dialog.Target(), to.Path);
    if (typed.empty()) {
        messages_->Warning("No target folder was given.");
        return std::nullopt;
    }
    if (typed == ResolveTypedTarget(to.Path, to.Path))
        return to;
    // A folder that is not there is refused, and said so, by the extraction.
    return PanePlace::Directory(AddPathDelimiter(typed));
}

bool MainWindow::StartArchiveCreate(const std::string& path, ArchiveKind kind, std::vector<std::string> contents,
                                    const std::string& place, bool enter)
{
    auto result = std::make_shared<SourceOperationResult>();
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::shared_ptr<Operation> op = MakeSourceOperation(
        OperationKind::ZipAdd, std::string(KindName(OperationKind::ZipAdd)) + " " + name,
        [&](SourceOperationUi& ui) { return MakeArchiveCreate(path, kind, std::move(contents), ui); }, {}, result);
    op->SetVolume(VolumeRootOf(place));
    Background().Runner().SetVolumeQueue(settings_.QueuePerVolume);
    Background().SetTestAnswers(operationUi_);
    return Background().Run(op, RunMode::Foreground, nullptr, [this, result, path, place, enter](const Operation&) {
        // By name: the user may have moved either pane meanwhile.
        PaneView* shower = nullptr;
        for (PaneView* pane : {left_, right_})
            if (!pane->Data().InArchive() &&
                EqualsIgnoreCase(AddPathDelimiter(pane->Data().Path), AddPathDelimiter(place)))
                shower = shower ? shower : pane;
        RereadPanesShowing({place});
        // Entered as a folder where a source reads such archives.
        if (!enter || !result->targetChanged || !shower ||
            !shower->Data().SourcesTable().named.count(kArchiveSourceName))
            return;
        PanePlace inside = PanePlace::Archive(path);
        inside.SourceName = kArchiveSourceName;
        shower->Data().MoveTo(inside);
        RecordHistory(shower->Data());
        ReadDirectory(shower->Data(), locale_);
    });
}

void MainWindow::BTNToZipClick()
{
    // The archive is made on the runner; a ZIP is filled once it is there
    // (FillNewZip), a tar or 7z with its contents.
    CreateDirOrZip(true, true);
}

void MainWindow::FillNewZip(const std::string& made)
{
    TDirData& other = ActivePane()->Other()->Data();
    other.MoveTo(PanePlace::Archive(made));
    RecordHistory(other);
    ReadDirectory(other, locale_);
    if (EqualsIgnoreCase(AddPathDelimiter(other.Path), AddPathDelimiter(made)))
        DoFileOperation(FO_COPY, false);
}

} // namespace tarnel
