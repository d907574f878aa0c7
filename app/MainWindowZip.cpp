// The archive driver in the window: panes that show archives, the file
// commands their sources run, "To zip" and the copies the viewer reads.
#include "app/MainWindow.h"
#include "fileops/QtOperationUi.h"
#include "fileops/TargetDialog.h"
#include "fileops/model/ZipFileOperation.h"
#include "fileops/model/ZipMaster.h"
#include "panes/PathUtil.h"
#include "panes/ReadDirectory.h"
#include "platform/ShellFileOperation.h"
#include "sources/LocalSource.h"
#include "sources/SourceTable.h"
#include "sources/ZipSource.h"
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

class WindowSourceUi : public SourceOperationUi {
public:
    explicit WindowSourceUi(UserMessages& messages) : messages_(messages) {}
    void Inform(const std::string& text) override { messages_.Plain(Decode(text)); }
    void Error(const std::string& text) override { messages_.Error(Decode(text)); }
    bool Confirm(const std::string& text) override { return messages_.Confirm(Decode(text)); }
    ReplaceAnswer AskReplace(const std::string& path, const FileFacts& existing, const FileFacts& incoming) override
    {
        OperationQuestion q;
        q.type = OperationQuestion::Type::Replace;
        q.path = path;
        q.factsKnown = true;
        q.facts = {uint64_t(existing.size), uint64_t(incoming.size), existing.time, incoming.time};
        q.incomingLabel = "From the archive";
        return AskReplaceQuestion(parent_, q);
    }

    QWidget* parent_ = nullptr;

private:
    UserMessages& messages_;
};

} // namespace

void MainWindow::BuildZip()
{
    zip_ = std::make_unique<TZipMaster>();
    zip_->OnMessage = [this](int, const std::string& text) { zipMessage(text); };
    zip_->ShowMessage = [this](const std::string& text) { messages_->Plain(Decode(text)); };
    auto sources = std::make_shared<SourceTable>();
    sources->local = std::make_shared<LocalSource>();
    sources->zip = std::make_shared<ZipSource>(zip_.get());
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
    viewer_->SetZipExtractor([zip = std::static_pointer_cast<ZipSource>(sources->zip)](
                                 const std::string& archive, const std::string& member, const std::string& dir) {
        return zip->ExtractMember(archive, member, dir);
    });
}

void MainWindow::zipMessage(const std::string& text)
{
    statusBar()->showMessage(Decode(text));
    statusBar()->repaint();
}

void MainWindow::SourceFileOperation(int code, PaneView& source, PaneView& target, bool askTarget)
{
    const std::vector<SourceRow> rows = SourceRowsOf(source.Data(), source.SelectedRows());
    if (rows.empty())
        return;
    WindowSourceUi ui(*messages_);
    ui.parent_ = this;
    // The sides are copies: a question's event loop may re-read the panes.
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
    const std::unique_ptr<SourceOperation> operation =
        runner ? runner->OperationFor(code, from, to, ui, {settings_.FastZipMove}) : nullptr;
    if (!operation)
        return;
    const SourceOperationResult result = operation->Run(rows);
    if (result.sourceChanged)
        ReadDirectory(source.Data(), locale_);
    if (result.targetChanged)
        ReadDirectory(target.Data(), locale_);
}

std::optional<PanePlace> MainWindow::ConfirmSourceTarget(bool move, const std::vector<SourceRow>& rows,
                                                         const PanePlace& to)
{
    TargetDialog dialog(move, rows.size(), rows.size() == 1 ? rows.front().name : std::string(), to.Text(), this);
    // Into an archive the target is the folder the other pane shows: a typed
    // path could not say which part is the archive without looking at the disk.
    dialog.TargetEdit()->setReadOnly(to.InArchive());
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    if (to.InArchive())
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

void MainWindow::BTNToZipClick()
{
    const std::string made = CreateDirOrZip(true, true);
    if (made.empty())
        return;
    TDirData& other = ActivePane()->Other()->Data();
    other.MoveTo(PanePlace::Archive(made));
    RecordHistory(other);
    ReadDirectory(other, locale_);
    if (EqualsIgnoreCase(AddPathDelimiter(other.Path), AddPathDelimiter(made)))
        DoFileOperation(FO_COPY, false);
}

} // namespace tarnel
