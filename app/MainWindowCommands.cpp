// The main window's command handlers and private messages.
#include "app/Bookmarks.h"
#include "app/BookmarksDialog.h"
#include "app/CloseQueryDialog.h"
#include "app/CommandTable.h"
#include "app/NetDriveDialog.h"
#include "app/QuickGoMenu.h"
#include "app/SettingsStore.h"
#include "app/WorkerSinkQt.h"
#include "panes/BackgroundWorkers.h"
#include "widgets/MimeIconResolver.h"
#include "app/components/SysHotKey.h"
#include "app/components/TrayIcon.h"
#include "fileops/BackgroundWork.h"
#include "fileops/LastCommand.h"
#include "fileops/model/ZipMaster.h"
#include "app/MainWindow.h"
#include "app/PrivateMessages.h"
#include "app/WorkerAnswers.h"
#include "app/components/InstanceBlock.h"
#include "app/components/MountWatcher.h"
#include "panes/Navigation.h"
#include "panes/PathUtil.h"
#include "panes/ReadDirectory.h"
#include "panes/Selection.h"
#include "panes/ViewerExtensions.h"
#include "sources/SearchSource.h"
#include "platform/Volumes.h"
#include "viewer/TextPage.h"
#include "viewer/TextView.h"
#include "platform/VolumeSpace.h"
#include "viewer/ViewerHost.h"
#include "widgets/IconCache.h"
#include "widgets/PaneView.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QToolBar>
#include <QCloseEvent>
#include <QCursor>
#include <QMenu>
#include <QFile>
#include <QInputDialog>
#include <QPointer>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QThread>
#include <QToolButton>

#include <fstream>
#include <memory>
#include <utility>
#include <sstream>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {

QString Decode(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

} // namespace

MainWindow::~MainWindow()
{
    SetVolumeSpaceListener(this, nullptr);
    viewer_.reset(); // its pages stop before the panes they show go
    FinishBackgroundOperations();
    leftDir_.StopWorkers();
    rightDir_.StopWorkers();
}

void MainWindow::SetActivePane(PaneView* pane)
{
    rightActive_ = pane == right_;
    left_->SetActiveLook(!rightActive_);
    right_->SetActiveLook(rightActive_);
    direction_->setText(rightActive_ ? "<<<<" : ">>>>");
}

void MainWindow::DirectionClick() { SetActivePane(rightActive_ ? left_ : right_); }

void MainWindow::SelectAllOfKindActive(int mode)
{
    SelectAllOfKind(ActivePane()->Data(), mode);
    ShowSelectionSummary(ActivePane()); // the summary tells what the command did
}

void MainWindow::AutoSizeColumns(PaneView* pane) { pane->AutoSizeColumns(); }

void MainWindow::ShowSelectionSummary(PaneView* pane)
{
    const QString text = Decode(SelectionSummaryText(SumSelection(pane->Data()), locale_));
    pane->List()->setToolTip(text);
    pane->List()->setStatusTip(text);
    ShowStatus(text);
}

void MainWindow::UpdateNavButtons()
{
    const TDirData& data = ActivePane()->Data();
    Action("NavBack")->setEnabled(CanGoBack(data));
    Action("NavForward")->setEnabled(CanGoForward(data));
}

void MainWindow::BTNRefreshClick()
{
    RememberLastCommand(*dirPopup_, Action("PopRefresh"));
    search_->SearchAgain(ActivePane()->Data().Place()); // found files: the find runs again
    Refresh(ActivePane()->Data(), leftDir_, rightDir_, locale_);
}

void MainWindow::Synchronize1Click()
{
    PaneView* target = ActivePane();
    GoToOther(target->Data(), target->Other()->Data(), locale_);
}

void MainWindow::NavBackClick() { GoBack(ActivePane()->Data(), locale_); }

void MainWindow::NavForwardClick() { GoForward(ActivePane()->Data(), locale_); }

void MainWindow::NavRootClick() { GoToRoot(ActivePane()->Data(), locale_); }

void MainWindow::SBDriveClick(int index)
{
    const DriveList& drives = SystemDrives();
    if (index >= 0 && size_t(index) < drives.size())
        GoToDrive(ActivePane()->Data(), drives[size_t(index)].root, locale_);
}

void MainWindow::GoParentClick(PaneView* pane) { GoToParent(pane->Data(), locale_); }

void MainWindow::BuildDriveButtons()
{
    const DriveList& drives = SystemDrives();
    for (int i = 0; i < driveButtons_.size(); ++i) {
        QToolButton* button = driveButtons_[i];
        const bool used = size_t(i) < drives.size();
        drives_->actions().value(i)->setVisible(used);
        if (!used)
            continue;
        const Volume& volume = drives[size_t(i)];
        button->setText(Decode(volume.buttonCaption));
        button->setToolTip(Decode(volume.displayText));
        button->setStatusTip(Decode(volume.displayText));
        button->setIcon(Icons().IconForKey(Icons().DriveKey(volume.type)));
    }
}

void MainWindow::Refreshdrivelist1Click()
{
    std::function<DriveList()> read = readDrives_ ? readDrives_ : [] { return ReadSystemDriveList(); };
    auto drives = std::make_shared<DriveList>();
    Background().StartTask([drives, read](const std::atomic<bool>&) { *drives = read(); },
                           [this, drives] { ReplaceDriveList(std::move(*drives)); });
}

// Every listing ends with the drive rows, and painting and opening map a row
// to the entry of the same number in the list: each pane is read again at
// once, keeping its place. The icon threads read the list: they stop first.
void MainWindow::ReplaceDriveList(DriveList drives)
{
    leftDir_.StopWorkers();
    rightDir_.StopWorkers();
    SetSystemDrives(std::move(drives));
    BuildDriveButtons();
    RefreshPane(left_);
    RefreshPane(right_);
}

void MainWindow::Copypathtoclipboard1Click()
{
    PaneView* pane = ActivePane();
    const int current = pane->CurrentRow();
    const std::string text = CopyPathText(pane->Data(), current, current >= 0 && pane->IsSelected(current));
    QApplication::clipboard()->setText(Decode(text));
}

void MainWindow::OpenEntryOf(PaneView* pane)
{
    SetActivePane(pane);
    pane->FilterBox()->setEditText("*");
    if (OpenFoundInArchive(pane))
        return;
    if (OpenEntry(pane->Data(), pane->CurrentRow(), locale_) == OpenResult::OpenFile)
        LaunchEntry(pane, false, false, false);
}

void MainWindow::QuickGoClick(PaneView* pane)
{
    quickGoTarget_ = pane;
    quickGo_->Popup(QCursor::pos());
    pane->QuickGoButton()->setDown(false);
}

void MainWindow::AddbookmarkClick() { bookmarks_->AddFromPane(ActivePane()->Data(), *messages_); }

void MainWindow::Editbookmarks1Click() { BookmarksDialog::EditBookmarks(*bookmarks_, this); }

void MainWindow::Connect1Click()
{
    // A remote address opens in the active pane over the window's own connection.
    if (NetDriveDialog::AddNetDrive(this, *messages_, {}, {}, [this](const std::string& address) {
            GoToDirectory(ActivePane()->Data(), address, locale_);
        }))
        Refreshdrivelist1Click();
}

void MainWindow::DirPopupPopup(PaneView* pane, QPoint viewportPos)
{
    quickGoTarget_ = pane;
    SetActivePane(pane);
    quickDir_->clear();
    const int current = pane->CurrentRow();
    if (current < 0 || !pane->IsSelected(current)) {
        const QModelIndex under = pane->List()->indexAt(viewportPos);
        if (under.isValid()) {
            pane->SetSelected(under.row(), true);
            pane->SetCurrentRow(under.row());
        }
    }
    commands_->OfferForPopup();
    quickGo_->FillDriveItems(quickDir_);
}

void MainWindow::QuickViewClick()
{
    PaneView* pane = ActivePane();
    viewer_->ShowEntryInViewer(pane, pane->Data().Path, pane->CurrentRow(), false, false);
}

// The editor works on the file itself: a member of an archive has only a
// temporary copy, whose changes would be lost.
void MainWindow::EditEntryClick()
{
    PaneView* pane = ActivePane();
    const TDirData& data = pane->Data();
    const int row = pane->CurrentRow();
    if (row < 0 || row >= data.Count || data.Item(row).Kind != fkFile)
        return;
    if (!data.Can(Capability::DiskPaths)) {
        ShowStatus("Files inside ZIP archives cannot be edited");
        return;
    }
    if (RefusedInsideArchive(pane, {row}))
        return;
    const bool viewerWasOn = viewer_->IsOn();
    viewer_->ShowEntryInViewer(pane, data.Path, row, false, true);
    // The page reads the file on a worker: the editor comes once it is shown.
    QPointer<MainWindow> self(this);
    viewer_->WhenPageShown([this, self, pane, viewerWasOn] {
        if (!self || viewer_->CurrentPage() != ViewerPageKind::Text)
            return;
        const bool saved = viewer_->Pages().text->VWText->EditFile();
        if (!self)
            return;
        if (!viewerWasOn)
            viewer_->SetViewerActive(pane, false);
        if (saved)
            RefreshPane(pane); // its size and time changed
        FocusActiveList();
    });
}

void MainWindow::NewFileClick()
{
    PaneView* pane = ActivePane();
    if (!pane->Data().Can(Capability::MakeFolder)) {
        ShowStatus("Files cannot be created inside ZIP archives");
        return;
    }
    // By name: the dialog lets events run, and the pane may be read again meanwhile.
    const std::string place = AddPathDelimiter(pane->Data().Path);
    QInputDialog dialog(this);
    dialog.setObjectName("NewFileDialog");
    dialog.setWindowTitle("New file");
    dialog.setLabelText("Name of the new file:");
    dialog.setInputMode(QInputDialog::TextInput);
    if ((runNameDialog_ ? runNameDialog_(dialog) : dialog.exec()) != QDialog::Accepted)
        return;
    const QString typed = dialog.textValue();
    if (typed.isEmpty() || typed.contains('/') || typed == "." || typed == "..") {
        messages_->Warning("\"" + typed + "\" is not a name for a file.");
        return;
    }
    const std::string name = QFile::encodeName(typed).toStdString();
    // The folder may be on a mount that does not answer: the file is made on
    // a worker and the pane goes on when the answer comes.
    const bool asked = placeAnswers_->Ask<int>(
        [path = place + name] {
            // O_EXCL: an existing file of that name is never touched.
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd < 0)
                return errno;
            ::close(fd);
            return 0;
        },
        [this, pane, place, name](const int error) { NewFileMade(pane, place, name, error); });
    if (!asked)
        messages_->Warning("Folders asked about earlier have not answered yet; no file was made.");
}

void MainWindow::NewFileMade(PaneView* pane, const std::string& place, const std::string& name, int error)
{
    if (error != 0) {
        messages_->Warning(Decode("Unable to create " + place + name + ": ") + QString::fromLocal8Bit(strerror(error)));
        return;
    }
    if (AddPathDelimiter(pane->Data().Path) != place)
        return;
    RefreshPane(pane);
    // The listing comes from a worker: the new file is looked for once it is whole.
    WhenRead(pane->Data(), [this, pane, name] {
        const TDirData& data = pane->Data();
        for (int i = 0; i < data.Count; ++i) {
            if (data.Item(i).Kind == fkFile && data.Item(i).Name == name) {
                pane->SetCurrentRow(i);
                pane->List()->scrollTo(pane->List()->model()->index(i, 0));
                EditEntryClick();
                return;
            }
        }
    });
}

void MainWindow::MinimizeProgram() { showMinimized(); }

void MainWindow::ShutdownProgram()
{
    terminating_ = true;
    close();
    // Closing a hidden window does not end the loop: end it here. Only a
    // running loop is ended, so that a direct call leaves later loops alone.
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(0);
}

void MainWindow::ShowProgram()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

// With no tray to live in, hiding only minimises: the program stays reachable.
void MainWindow::HideProgram()
{
    if (tray_ && tray_->Active())
        hide();
    else
        showMinimized();
}

void MainWindow::ShowAbout()
{
    QMessageBox::about(this, QString("Tarnel version %1.%2").arg(1).arg(6, 2, 10, QChar('0')),
                       "Tarnel, a two-pane file manager.");
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (terminating_) {
        event->accept();
        return;
    }
    bool allow = true;
    switch (settings_.QuitType) {
    case qtAsk: {
        const int answer = closeQuery_ ? closeQuery_() : CloseQueryDialog(this).exec();
        switch (answer) {
        case CloseQueryDialog::No: allow = false; break;
        case CloseQueryDialog::YesAlways: settings_.QuitType = qtAlways; break;
        case CloseQueryDialog::NoNever: settings_.QuitType = qtNever; allow = false; break;
        case CloseQueryDialog::NoAlwaysMinimize:
            settings_.QuitType = qtToTray;
            allow = false;
            PostPrivateMessage(this, UM_TOTRAY);
            break;
        case CloseQueryDialog::Minimize: allow = false; PostPrivateMessage(this, UM_TOTRAY); break;
        default: break; // "Yes!" or the dialog closed some other way
        }
        break;
    }
    case qtNever: allow = false; break;
    case qtToTray: allow = false; PostPrivateMessage(this, UM_TOTRAY); break;
    default: break;
    }
    if (allow)
        event->accept();
    else
        event->ignore();
}

bool MainWindow::event(QEvent* event)
{
    if (event->type() == PrivateMessageEvent::EventType()) {
        const auto* message = static_cast<PrivateMessageEvent*>(event);
        HandlePrivateMessage(message->message(), message->wParam());
        return true;
    }
    return QMainWindow::event(event);
}

void MainWindow::HandlePrivateMessage(int message, qintptr wParam)
{
    switch (message) {
    case UM_STARTUP:
        if (startMinimized_)
            HideProgram();
        break;
    case UM_QUICKGO: QuickGoClick(wParam == 1 ? left_ : right_); break;
    case UM_TOTRAY:
        hotKeys_->SetEnabledExceptFirst(false);
        HideProgram();
        break;
    case UM_RESTORE: ShowProgram(); break;
    case UM_REFRESHLEFT: RefreshPane(left_); break;
    case UM_REFRESHRIGHT: RefreshPane(right_); break;
    case UM_SHELLCALL: ShellCall(); break;
    case UM_ASYNCDONE: AsyncDone(uint16_t(wParam)); break;
    default: break;
    }
}

void MainWindow::RefreshPane(PaneView* pane)
{
    TDirData& data = pane->Data();
    data.Positions.Store(data.Key(), pane->TopRow(), pane->CurrentRow());
    RememberDirSizes(data);
    RecordHistory(data);
    ReadDirectory(data, locale_);
}

void MainWindow::OnMountsChanged() { VolumesChanged(mountWatcher_->LastChanges()); }

// Reading the drive list looks at every mount point, and one of a network
// that went away can hang: it is read on a thread. Changes that come while it
// runs are gathered and read again once it is done.
void MainWindow::VolumesChanged(const std::vector<std::string>& changedMountPoints)
{
    if (changedMountPoints.empty())
        return;
    changedVolumes_.insert(changedVolumes_.end(), changedMountPoints.begin(), changedMountPoints.end());
    if (drivesReading_)
        drivesReadAgain_ = true;
    else
        ReadDrivesForVolumes();
}

void MainWindow::ReadDrivesForVolumes()
{
    drivesReading_ = true;
    drivesReadAgain_ = false;
    auto drives = std::make_shared<DriveList>();
    std::function<DriveList()> read = readDrives_ ? readDrives_ : [] { return ReadSystemDriveList(); };
    Background().StartTask([drives, read](const std::atomic<bool>&) { *drives = read(); },
                           [this, drives] {
                               drivesReading_ = false;
                               if (drivesReadAgain_)
                                   ReadDrivesForVolumes();
                               else
                                   ApplyVolumeChange(std::move(*drives), std::exchange(changedVolumes_, {}));
                           });
}

// Only a pane on a volume that came or went is read again, its selection
// kept; the other keeps its listing and only its drive rows follow.
void MainWindow::ApplyVolumeChange(DriveList drives, const std::vector<std::string>& changedMountPoints)
{
    SetSystemDrives(std::move(drives));
    BuildDriveButtons();
    for (PaneView* pane : {left_, right_}) {
        if (PlaceIsOnChangedVolume(pane->Data().Path, changedMountPoints))
            RereadKeepingSelection(pane->Data(), locale_);
        else
            ReplaceDriveRows(pane->Data(), locale_);
    }
}

void MainWindow::OpenShellCallFile(TDirData& data, const std::string& name)
{
    // The path names exactly its bytes: a case variant beside it (someone
    // else's INVOICE.pdf beside invoice.pdf) is taken only when no exact
    // name is listed.
    int found = -1;
    for (int i = 0; i < data.Count; ++i) {
        const TFileData& e = data.Item(i);
        if (e.Kind == fkDrive || !EqualsIgnoreCase(e.Name, name))
            continue;
        if (e.Name == name) {
            found = i;
            break;
        }
        if (found < 0)
            found = i;
    }
    if (found < 0)
        return;
    PaneView* pane = &data == &leftDir_ ? left_ : right_;
    pane->SetCurrentRow(found);
    pane->SetSelected(found, true);
    pane->List()->scrollTo(pane->List()->model()->index(found, 0));
    OpenEntryOf(pane);
}

} // namespace tarnel
