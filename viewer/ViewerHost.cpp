#include "viewer/ViewerHost.h"

#include "app/UserMessages.h"
#include "app/WorkerAnswers.h"
#include "panes/PathUtil.h"
#include "panes/ReadDirectory.h"
#include "sources/SearchSource.h"
#include "sources/sftp/SftpOperations.h"
#include "platform/VolumeSpace.h"
#include "platform/Volumes.h"
#include "viewer/ImagePage.h"
#include "viewer/InfoPage.h"
#include "viewer/MediaPage.h"
#include "viewer/PackedPage.h"
#include "viewer/VoxPage.h"
#include "viewer/TextPage.h"
#include "viewer/TextView.h"
#include "widgets/PaneView.h"
#include "widgets/RowPainter.h"

#include <QAbstractButton>
#include <QAction>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QTabWidget>
#include <QToolBar>
#include <QVBoxLayout>

#include <cerrno>
#include <utility>

#include <unistd.h>

namespace tarnel {

namespace {

QString Decode(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

std::string DirectoryOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

void PlaceIn(QWidget* panel, QWidget* views)
{
    if (!panel->layout()) {
        auto* layout = new QVBoxLayout(panel);
        layout->setContentsMargins(0, 0, 0, 0);
    }
    if (panel->layout()->indexOf(views) < 0) {
        views->setParent(panel);
        panel->layout()->addWidget(views);
    }
}

} // namespace

ViewerHost::ViewerHost(ViewerWindowParts parts, QObject* parent) : QObject(parent), parts_(std::move(parts))
{
    views_ = new QTabWidget(parts_.right->ViewerPanel());
    views_->setObjectName("views");
    pages_ = CreateViewerPages(views_);
    const auto byIndex = pages_.ByIndex();
    for (int i = 0; i < kViewerPageCount; ++i) {
        QWidget* widget = i == int(ViewerPageKind::Tables) ? pages_.tables : byIndex[size_t(i)]->PageWidget();
        views_->addTab(widget, ViewerPageCaption(ViewerPageKind(i)));
    }
    reading_ = new QLabel("Reading...", views_);
    reading_->setObjectName("ViewerReading");
    reading_->setTextFormat(Qt::PlainText);
    views_->setCornerWidget(reading_, Qt::TopRightCorner);
    reading_->hide();
    // At most 16 reads wait on their file systems at a time; the entry on
    // the page, when there is no room, waits for some (retry_).
    reads_ = new WorkerAnswers(16, this);
    retry_ = new QTimer(this);
    retry_->setInterval(100);
    connect(retry_, &QTimer::timeout, this, &ViewerHost::StartPendingRead);
    views_->hide();
    PlaceIn(parts_.right->ViewerPanel(), views_);
    connect(views_, &QTabWidget::currentChanged, this, &ViewerHost::viewsPageChanged);
    pages_.music->SetErrorSink([this](const QString& text) { parts_.messages().Error(text); });
    pages_.image->SetErrorSink([this](const QString& text) { parts_.messages().Error(text); });
    ConnectPackedPage();
}

void ViewerHost::ConnectPackedPage()
{
    PackedPageWindow window;
    window.showStatus = [this](const QString& text) {
        // Painted now: a message box may follow at once.
        QStatusBar* bar = parts_.window->statusBar();
        bar->showMessage(text);
        bar->repaint();
    };
    window.activePanePath = [this] { return parts_.activePane()->Data().Path; };
    window.rereadActivePane = [this] { ReadDirectory(parts_.activePane()->Data(), *parts_.locale); };
    window.messages = [this]() -> UserMessages& { return parts_.messages(); };
    window.groupSeparator = [this] { return parts_.locale->groupSeparator; };
    window.runOperation = parts_.runOperation;
    pages_.packed->SetWindow(std::move(window));
}

ViewerHost::~ViewerHost()
{
    for (ViewerPage* page : pages_.ByIndex())
        if (page)
            page->ClearPage();
    DeleteTempFile(false);
    pages_.owned.clear(); // their widgets leave the notebook first
    delete views_.data();
}

ViewerPageKind ViewerHost::CurrentPage() const { return ViewerPageKind(views_->currentIndex()); }

bool ViewerHost::IsOn() const { return !views_->isHidden(); }

bool ViewerHost::IsFullScreen() const { return fullScreen_; }

bool ViewerHost::Reading() const { return !reading_->isHidden(); }

int ViewerHost::ReadsWaiting() const { return reads_->Waiting(); }

void ViewerHost::WhenPageShown(std::function<void()> then)
{
    if (Reading())
        whenShown_ = std::move(then);
    else
        QMetaObject::invokeMethod(this, std::move(then), Qt::QueuedConnection);
}

void ViewerHost::ClearViewer()
{
    ++readTicket_; // a read under way is for an entry no longer shown
    StopRemoteCopy();
    pendingRead_.reset();
    whenShown_ = nullptr;
    retry_->stop();
    reading_->hide();
    for (ViewerPage* page : pages_.ByIndex())
        if (page)
            page->ClearPage();
    DeleteTempFile(true);
    shownPlace_.clear();
    shownName_.clear();
    copyingName_.clear();
}

void ViewerHost::DeleteTempFile(bool warn)
{
    if (viewerTempFile_.empty())
        return;
    if (::unlink(viewerTempFile_.c_str()) != 0 && errno != ENOENT && warn && parts_.messages)
        parts_.messages().Warning(QString("Unable to delete %1\nMay be it is still in use...").arg(Decode(viewerTempFile_)));
    viewerTempFile_.clear();
}

void ViewerHost::ShowEntryInViewer(PaneView* pane, const std::string& paneFolder, int index, bool asInfo, bool asText)
{
    const TDirData& data = pane->Data();
    if (index < 0 || index >= data.Count)
        return;
    // Copied out: switching the viewer on may replace the listing.
    const TFileData& entry = data.Item(index);
    const std::string name = entry.Name;
    const uint8_t kind = entry.Kind;
    PanePlace place = data.Place();
    Capabilities can = data.Can();
    // Found files lie in folders of their own; a member a find met inside an
    // archive is read through its copy, as in the archive's own pane.
    const std::string folder = &data.DirOf(entry) == &data.Path ? paneFolder : data.DirOf(entry);
    if (const std::string archive = ArchiveHoldingEntry(data, entry); !archive.empty()) {
        place = PanePlace::Archive(archive, folder.substr(AddPathDelimiter(archive).size()));
        can = {Capability::OpenMember};
    }
    ClearViewer();
    SetViewerActive(pane, true);
    if (index >= pane->Data().Count)
        return;
    if (IsRemotePlace(place) && kind == fkFile) {
        ShowRemoteEntry(pane, folder, index, asInfo, asText);
        return;
    }
    if (can.Has(Capability::DiskPaths) || kind != fkFile) {
        ShowPageOf(pane, folder, index, asInfo, asText);
        return;
    }
    // A member is read through its copy, made on a worker: the archive may
    // lie on a mount that does not answer. The entry's name holds its place
    // meanwhile; the answer finds its row again.
    shownPlace_ = pane->Data().Key();
    shownName_ = name;
    copyingName_ = name;
    reading_->setText("Reading...");
    reading_->show();
    const uint64_t ticket = readTicket_;
    const bool asked = reads_->Ask<std::string>(
        [place, can, name, extract = extract_] { return ExtractZipMemberForViewing(place, can, name, extract); },
        [this, pane, ticket, folder, name, kind, asInfo, asText](const std::string& copy) {
            if (ticket != readTicket_) {
                // A later copy of the same member writes the same file.
                if (!copy.empty() && name != copyingName_ && copy != viewerTempFile_)
                    ::unlink(copy.c_str());
                return;
            }
            copyingName_.clear();
            viewerTempFile_ = copy;
            reading_->hide();
            const TDirData& now = pane->Data();
            for (int i = 0; i < now.Count; ++i)
                if (now.Key() == shownPlace_ && now.Item(i).Name == name && now.Item(i).Kind == kind) {
                    // No copy to read: what is known of the member is shown.
                    if (copy.empty())
                        ShowPageOf(pane, folder, i, true, false);
                    else
                        ShowPageOf(pane, DirectoryOf(copy), i, asInfo, asText);
                    break;
                }
            if (!Reading() && whenShown_)
                QMetaObject::invokeMethod(this, std::exchange(whenShown_, nullptr), Qt::QueuedConnection);
        });
    if (!asked) {
        // Earlier copies still wait on their file systems.
        copyingName_.clear();
        reading_->hide();
        ShowPageOf(pane, folder, index, true, false);
    }
}

void ViewerHost::ShowPageOf(PaneView* pane, const std::string& place, int index, bool asInfo, bool asText)
{
    const TFileData& entry = pane->Data().Item(index);
    const std::string name = entry.Name;
    const uint8_t kind = entry.Kind;
    shownPlace_ = pane->Data().Key();
    shownName_ = name;
    const std::string file = AddPathDelimiter(place) + name;
    // The page the name asks for shows at once, empty until its file is
    // read; the RAR signature, where it could change the page, is read
    // with it.
    const ViewerPageKind page = ChooseViewerPage(name, kind, false, asInfo, asText);
    const bool askSignature = kind == fkFile && ChooseViewerPage(name, kind, true, asInfo, asText) != page;
    SelectPage(page);
    if (page == ViewerPageKind::Info)
        FillInfoPage(pane, index); // from the listing: nothing to read
    else if (page != ViewerPageKind::Tables)
        ReadForPage(page, file, askSignature);
}

ViewerPage* ViewerHost::PageOf(ViewerPageKind page) const
{
    const int i = int(page);
    return i >= 0 && i < kViewerPageCount ? pages_.ByIndex()[size_t(i)] : nullptr;
}

// Every look at the file (its type, its signature, its contents) is taken on
// a worker: the file may lie on a mount that does not answer. The answer is
// shown only if the entry is still the one on the page.
void ViewerHost::ReadForPage(ViewerPageKind page, const std::string& file, bool askSignature)
{
    reading_->setText("Reading...");
    reading_->show();
    pendingRead_ = PendingRead{page, file, askSignature};
    StartPendingRead();
}

void ViewerHost::StartPendingRead()
{
    if (!pendingRead_) {
        retry_->stop();
        return;
    }
    const ViewerPageKind page = pendingRead_->page;
    const std::string file = pendingRead_->file;
    const bool askSignature = pendingRead_->askSignature;
    struct PageRead {
        ViewerPageKind page = ViewerPageKind::Info;
        ViewerPage::Showing show;
    };
    const uint64_t ticket = readTicket_;
    ViewerPage::Reading byName = PageOf(page)->ReadFile(file);
    ViewerPage::Reading asArchive = askSignature ? pages_.packed->ReadFile(file) : ViewerPage::Reading();
    const bool asked = reads_->Ask<PageRead>(
        [file, page, byName, asArchive, before = beforeRead_] {
            if (before)
                before(file);
            if (asArchive && HasRarSignature(file))
                return PageRead{ViewerPageKind::Packed, asArchive()};
            return PageRead{page, byName()};
        },
        [this, ticket](const PageRead& read) {
            if (ticket != readTicket_)
                return;
            reading_->hide();
            SelectPage(read.page);
            read.show();
            if (read.page == ViewerPageKind::Image)
                pages_.image->PageWidget()->setToolTip(QString::fromStdString(pages_.image->PageHint()));
            if (whenShown_)
                QMetaObject::invokeMethod(this, std::exchange(whenShown_, nullptr), Qt::QueuedConnection);
        });
    if (asked) {
        pendingRead_.reset();
        retry_->stop();
    } else if (!retry_->isActive()) {
        reading_->setText("Reading... (earlier files still wait on their file systems)");
        retry_->start();
    }
}

void ViewerHost::SelectPage(ViewerPageKind page)
{
    if (views_->currentIndex() == int(page))
        viewsPageChanged();
    else
        views_->setCurrentIndex(int(page));
}

void ViewerHost::FillInfoPage(PaneView* pane, int index)
{
    const TDirData& data = pane->Data();
    const TFileData& e = data.Item(index);
    std::string info1, info2;
    if (e.Kind == fkDirectory) {
        info1 = "Subdirectories : " + std::to_string(e.SubDirs.load());
        info2 = "Files : " + std::to_string(e.SubFiles.load());
    } else if (e.Kind == fkDrive) {
        const Volume* drive = DriveOfRow(data, index);
        // From the volume's worker: "?" until it answers, then VolumeAnswered fills in.
        const VolumeSpaceAnswer space = VolumeSpace(drive ? drive->root : "/");
        const auto figure = [&](int64_t bytes) {
            return space.answered ? FormatGrouped(double(bytes), 0, *parts_.locale) : std::string("?");
        };
        info1 = "Disk size : " + figure(space.totalBytes);
        info2 = "Free space : " + figure(space.freeBytes);
    }
    pages_.info->ShowInfo(e.Description, info1, info2);
}

void ViewerHost::VolumeAnswered()
{
    if (!IsOn() || !followed_ || CurrentPage() != ViewerPageKind::Info)
        return;
    const TDirData& data = followed_->Data();
    const int row = followed_->CurrentRow();
    if (row >= 0 && row < data.Count && data.Item(row).Kind == fkDrive && data.Item(row).Name == shownName_ &&
        data.Key() == shownPlace_)
        FillInfoPage(followed_, row);
}

void ViewerHost::SetViewerActive(PaneView* pane, bool on)
{
    if (on) {
        if (followed_ && followed_ != pane)
            SwitchOff(); // the viewer moves to the other side
        SwitchOn(pane);
    } else if (IsOn()) {
        SwitchOff();
    }
    parts_.viewerButton->setChecked(IsOn());
}

void ViewerHost::SwitchOn(PaneView* pane)
{
    parts_.window->setWindowTitle("Tarnel - " + parts_.viewerCaption());
    PaneView* other = pane->Other();
    if (!pane->IsLeft()) {
        // The browsed right pane keeps its width; the viewer takes the rest.
        parts_.split->setStretchFactor(0, 1);
        parts_.split->setStretchFactor(1, 0);
    }
    PlaceIn(other->ViewerPanel(), views_);
    views_->show();
    parts_.center->hide();
    other->FilterPanel()->hide();
    other->TopPanel()->hide();
    other->Header()->hide();
    other->List()->hide();
    other->ViewerPanel()->show();
    followed_ = pane;
    parts_.relayout();
    viewsPageChanged();
}

void ViewerHost::SwitchOff()
{
    parts_.viewerMenu->setVisible(false);
    parts_.showHotKeyHints();
    if (IsFullScreen())
        ToggleFullScreenViewer();
    PaneView* pane = followed_ ? followed_ : parts_.left;
    PaneView* other = pane->Other();
    views_->hide();
    parts_.center->show();
    other->FilterPanel()->show();
    other->TopPanel()->show();
    other->Header()->show();
    other->List()->show();
    other->ViewerPanel()->hide();
    if (!pane->IsLeft()) {
        parts_.split->setStretchFactor(0, 0);
        parts_.split->setStretchFactor(1, 1);
    }
    followed_ = nullptr;
    ClearViewer();
    parts_.relayout();
}

void ViewerHost::ToggleFullScreenViewer()
{
    views_->setUpdatesEnabled(false);
    pages_.text->VWText->SetFrozen(true);
    QMainWindow* window = parts_.window;
    if (!IsFullScreen()) {
        PaneView* active = parts_.activePane();
        QWidget* dock = active == parts_.left ? parts_.leftDock : parts_.rightDock;
        hiddenForFullScreen_.clear();
        std::vector<QWidget*> parts{window->menuBar(), window->statusBar(), parts_.split->handle(1), dock};
        for (QToolBar* bar : window->findChildren<QToolBar*>(QString(), Qt::FindDirectChildrenOnly))
            parts.push_back(bar);
        for (QWidget* w : parts)
            if (w && !w->isHidden()) {
                hiddenForFullScreen_.emplace_back(w);
                w->hide();
            }
        window->menuBar()->hide(); // the full-screen form is the one without a menu
        fullScreen_ = true;
    } else {
        for (const QPointer<QWidget>& w : hiddenForFullScreen_)
            if (w)
                w->show();
        window->menuBar()->show();
        hiddenForFullScreen_.clear();
        fullScreen_ = false;
    }
    pages_.text->VWText->SetFrozen(false);
    views_->setUpdatesEnabled(true);
}

void ViewerHost::LeaveViewerOrMinimize()
{
    if (IsOn())
        SetViewerActive(parts_.activePane(), false);
    else
        parts_.hideProgram();
}

void ViewerHost::SBViewerClick()
{
    if (parts_.viewerButton->isChecked())
        parts_.viewEntry();
    else
        SetViewerActive(parts_.activePane(), false);
    // No entry to show leaves the viewer off: the button tells the truth.
    parts_.viewerButton->setChecked(IsOn());
}

void ViewerHost::viewsPageChanged()
{
    if (IsOn() && CurrentPage() == ViewerPageKind::Text)
        parts_.viewerMenu->setVisible(true);
}

void ViewerHost::FilesLeftClick(PaneView* pane)
{
    parts_.setActivePane(pane);
    if (parts_.viewerButton->isChecked())
        ShowEntryInViewer(pane, pane->Data().Path, pane->CurrentRow(), false, false);
}

// Later, not inside the read: a page (the archive page's extraction) may
// have asked for the read and still be at work.
void ViewerHost::ListingRead(PaneView* pane)
{
    if (!IsOn() || followed_ != pane || followQueued_)
        return;
    followQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this, pane] {
            followQueued_ = false;
            FollowCursor(pane);
        },
        Qt::QueuedConnection);
}

// The entry already on the page stays as it is (a refresh keeps the text's
// place and a page chosen with "View as text"); any other is shown.
void ViewerHost::FollowCursor(PaneView* pane)
{
    if (!IsOn() || followed_ != pane)
        return;
    const TDirData& data = pane->Data();
    const int row = pane->CurrentRow();
    if (row < 0 || row >= data.Count) {
        ClearViewer();
        return;
    }
    if (data.Key() == shownPlace_ && data.Item(row).Name == shownName_)
        return;
    ShowEntryInViewer(pane, data.Path, row, false, false);
}

} // namespace tarnel
