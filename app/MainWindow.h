#pragma once
// The main window: two panes, the command column, tool bars, menus and the
// private messages other processes and worker threads post to it.
#include "app/Settings.h"
#include "fileops/AsyncShellSlots.h"
#include "app/UserMessages.h"
#include "panes/DirData.h"
#include "panes/RowText.h"
#include "platform/ShellFileOperation.h"
#include "platform/Volumes.h"
#include "tools/model/FindQuery.h"

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <atomic>
#include <map>
#include <thread>
#include <memory>
#include <optional>

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QSplitter;
class QToolBar;
class QToolButton;

namespace tarnel {

enum class ArchiveKind;
class BookmarkMenu;
class CommandTable;
class FunctionKeyBar;
class InstanceBlock;
class OperationUi;
class MountWatcher;
class EntryHints;
struct FindHit;
struct FindQuery;
class PaneView;
class QuickGoMenu;
class SearchSource;
struct SourceRow;
class ViewerHost;

class Registry;
class TZipMaster;
class TSysHotKey;
class TTrayIcon;

struct StartOptions {
    bool independent = false;     // a screenshot run: no instance block, no settings
    Registry* registry = nullptr; // the settings store; none: defaults, nothing saved
    std::string leftDir, rightDir; // empty: the volume root of the working directory
    // Folders given on the command line, left then right: each pane goes
    // there once a worker has found it, else where the last run left it.
    std::vector<std::string> givenPlaces;
    bool startMinimized = false;  // "-MIN" and its spellings
    std::string viewPath;         // a screenshot run: the left pane on it, shown in the viewer
};

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    MainWindow(const StartOptions& options, InstanceBlock* block, QWidget* parent = nullptr);
    ~MainWindow() override;

    PaneView* LeftPane() const { return left_; }
    PaneView* RightPane() const { return right_; }
    PaneView* ActivePane() const;
    bool RightIsActive() const { return rightActive_; }
    AppSettings& Settings() { return settings_; }
    QPushButton* DirectionButton() const { return direction_; }
    QPushButton* CommandButton(const QString& name) const;
    QToolButton* DriveButton(int index) const;
    // A command's action by its name or a design name of its item, or any other action of the window.
    QAction* Action(const QString& name) const;
    CommandTable& Commands() const { return *commands_; }
    FunctionKeyBar* FunctionKeys() const { return functionKeys_; }
    QMenu* DirPopup() const { return dirPopup_; }
    QMenu* HeaderPopup() const { return headerPopup_; }
    QMenu* TrayMenu() const { return trayMenu_; }
    BookmarkMenu* Bookmarks() const { return bookmarks_; }
    QuickGoMenu* QuickGo() const { return quickGo_; }
    PaneView* QuickGoTarget() const { return quickGoTarget_; }
    QString StatusText() const;

    // Tests answer the questions and read the boxes.
    void SetMessages(std::unique_ptr<UserMessages> messages);
    void SetCloseQuery(std::function<int()> ask) { closeQuery_ = std::move(ask); }
    void SetOperationUi(OperationUi* ui);
    void SetNameDialogRunner(std::function<int(QDialog&)> run) { runNameDialog_ = std::move(run); }
    const AsyncShellSlots& AsyncSlots() const { return asyncSlots_; }
    // File operations started and not yet over (their panes not yet re-read).
    int OperationsRunning() const;
    // The owner of the long work: its operations, questions and progress dialogs.
    class BackgroundWork& Work() { return Background(); }
    class WorkerSinkQt* WorkerMessages() const { return workerSink_.get(); }

    // Command handlers, one per command of the window.
    void SetActivePane(PaneView* pane);
    void DirectionClick();
    void SelectAllOfKindActive(int mode);
    void AutoSizeColumns(PaneView* pane);
    void BTNRefreshClick();
    void Synchronize1Click();
    void NavBackClick();
    void NavForwardClick();
    void NavRootClick();
    void SBDriveClick(int index);
    void Refreshdrivelist1Click();
    // A new system drive list: the buttons and every pane's drive rows follow it.
    void ReplaceDriveList(DriveList drives);
    // Volumes were mounted or unmounted at these points: the drive list is
    // read again off this thread, then only a pane on one of them is read again.
    void VolumesChanged(const std::vector<std::string>& changedMountPoints);
    // Tests give the drive list the volume change finds.
    void SetDriveListReader(std::function<DriveList()> read) { readDrives_ = std::move(read); }
    // The keys go to the active pane's list.
    void FocusActiveList();
    void GoParentClick(PaneView* pane);
    void Copypathtoclipboard1Click();
    void OpenEntryOf(PaneView* pane);
    void MinimizeProgram();
    void ShutdownProgram();
    void ShowProgram();
    void HideProgram();
    void ShowAbout();
    void BuildDriveButtons();
    void ShellCall();
    // The file a shell call named, once its folder is listed: current, selected, opened.
    void OpenShellCallFile(TDirData& data, const std::string& name);
    void QuickGoClick(PaneView* pane);
    void AddbookmarkClick();
    void Editbookmarks1Click();
    void Connect1Click();
    // Before the pane popup shows: the pane becomes active, the row under the
    // mouse is taken when nothing selected is current, items follow the entry.
    void DirPopupPopup(PaneView* pane, QPoint viewportPos);

    // The one dispatcher of copy, move, delete, rename and properties.
    // askTarget false: the target was just chosen ("To zip"), so a copy or
    // move does not ask for it again.
    void DoFileOperation(FileOperationCode code, bool askTarget = true);
    // Files dropped on a pane: copied or moved into target, with the same
    // questions as the commands.
    void DropFiles(PaneView* pane, const std::vector<std::string>& paths, const PanePlace& target, bool move,
                   size_t refused);
    // New dir/zip: the full path made, or "" when nothing was made.
    // A tar or 7z archive is made on the runner, with the active pane's
    // selection in it when forceZip ("To zip"); its path is returned once started.
    std::string CreateDirOrZip(bool otherPane, bool forceZip);
    bool StartEmptyZip(const std::string& path, const std::string& place, bool fill);
    // Shows the new ZIP made in the other pane and copies the selection into it.
    void FillNewZip(const std::string& made);
    // "To zip": a new archive in the other pane, filled with the selection.
    void BTNToZipClick();
    // The one archive driver, shared by the panes, the file commands and the viewer.
    TZipMaster& Zip() const { return *zip_; }
    void AsyncDone(uint16_t id);
    // A pane command from a button, the popup or a key: remembered in the popup, then run.
    void RunFileCommand(FileOperationCode code);
    void NewDirClick();
    // The entry under the cursor on its page of the viewer.
    void QuickViewClick();
    // The file under the cursor in the text editor.
    void EditEntryClick();
    // An empty file made in the active pane's folder, then edited.
    void NewFileClick();
    // The Operations window: every running or queued operation, Pause and Cancel.
    void ShowOperations();
    class OperationsWindow* OperationsShown() const;
    // Waits for the background operations still running (the end of the run).
    void FinishBackgroundOperations();

    // Settings: loaded in start-up order, saved once at the end of a normal run.
    void SaveSettings();
    TSysHotKey* HotKeys() const { return hotKeys_; }
    TTrayIcon* Tray() const { return tray_; }
    void SysHotKeyHotKey(int index);
    void ShowHotKeyHints();
    void ApplyBackType(const std::string& backType);
    void Configure1Click();
    // The function-key bar shown or not, and F6 and F7 given to move and new
    // folder (the commander keys) or left to the viewer's hot keys.
    void ApplyKeyOptions();
    // The tools: each dialog runs modally for the active pane.
    void RunRenamer(PaneView* pane);
    void EditID3tags1Click();
    void Uninstall1Click();
    // Find files: one dialog beside the window, started at the active pane's folder.
    void FindFilesClick();
    class TDlgFind* FindDialog() const;
    // What the find dialog's "Feed to pane" does; unset, the button is off.
    void SetFindFeed(std::function<void(const FindQuery&, std::vector<FindHit>)> feed);
    // The active pane on the hit's folder with its cursor on the hit; view
    // also shows it in the viewer, at its match.
    void GoToFoundFile(const FindHit& hit, bool view);

    // The quick viewer and opening entries.
    ViewerHost* Viewer() const { return viewer_.get(); }
    EntryHints* Hints() const { return hints_; }
    // What opening or viewing the entry under the pane's cursor does: the
    // viewer, or the default application (the viewer when there is none).
    void LaunchEntry(PaneView* pane, bool shellOpen, bool asText, bool asInfo);
    // Puts the left pane on path's directory with the cursor on it and shows it.
    bool ViewPath(const std::string& path);
    // A file of a remote place opened with a program: copied on the runner
    // into the private temporary folder and opened there; a change to the
    // copy is offered for writing back, never sent unasked.
    void OpenRemoteFile(PaneView* pane, int row, bool enter);
    // The copies opened so, watched for changes (tests look at them).
    class RemoteCopies* OpenedRemoteCopies();

    // A find's results become a place of the active pane, recorded in its
    // history; refreshing that place runs the find again.
    void FeedFindResults(const FindQuery& query, std::vector<FindHit> hits);
    // The source of the panes' result places (tests give it a find of their own).
    SearchSource& SearchResults() const { return *search_; }

    // The pane popup's "Open with" and "Terminal here", and "Open this
    // directory": programs are started off this thread, a failure is said.
    QMenu* OpenWithMenu() const { return openWith_; }
    void TerminalHereClick();
    // Reads every member of the archive the active pane is in, or the one
    // under its cursor, on the runner, and says what it found.
    void TestArchiveClick();
    std::string ArchiveToTest(); // "" when there is none
    void OpenFolderInFileManager(PaneView* pane);
    // Questions about places still waiting for their worker (for tests).
    int PlaceChecksWaiting() const;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Makes the archive at path (in the folder place) of contents on the
    // runner; the panes showing place are read again once it is there, and
    // with enter the one that showed it enters the new archive.
    bool StartArchiveCreate(const std::string& path, ArchiveKind kind, std::vector<std::string> contents,
                            const std::string& place, bool enter);
    friend class CommandTable; // its handlers are the window's own

    void BuildToolBars();
    void BuildPanes();
    void BuildCommandColumn();
    void BuildMenus();
    void BuildPopups();
    void BuildViewer();
    void BuildZip();
    // A file command that a file source runs itself (an archive on one side).
    void SourceFileOperation(int code, PaneView& source, PaneView& target, bool askTarget,
                             const std::string& newName = {});
    // The target dialog for a copy between an archive and the disk: the
    // place to use, or nothing when the user cancelled.
    std::optional<PanePlace> ConfirmSourceTarget(bool move, const std::vector<SourceRow>& rows, const PanePlace& to);
    // A copy or move on a thread of its own; the completion re-reads the panes.
    void LaunchBackground(int code, const std::vector<std::string>& sources, const std::string& target,
                          const std::string& sourceDir, unsigned flags);
    // A disk engine operation on a worker; when it has ended, the panes that
    // still show one of the places in reread are read again.
    void RunEngineOperation(int code, const std::vector<std::string>& sources, const std::string& target,
                            unsigned flags, std::vector<std::string> reread, std::function<void()> done = {});
    void RereadPanesShowing(const std::vector<std::string>& places);
    // A test's messages also take the notes and yes/no questions of operations.
    void AnswerOperationMessagesFromTest();
    // A library message, shown in the status bar at once.
    void zipMessage(const std::string& text);
    void ViewCommand(bool open, bool asText, bool asInfo, const char* popupItem);
    void ConnectViewerMenu();
    void ApplyTextViewSettings();
    // The full-screen viewer's text page takes the plain keys, whatever has the focus.
    bool FullScreenTextKey(QObject* watched, QEvent* event);
    void ConnectPane(PaneView* pane);
    // Found files (MainWindowFind.cpp). A command that cannot reach a member
    // of an archive among the rows says so and is not run.
    bool RefusedInsideArchive(PaneView* pane, const std::vector<int>& rows);
    // Enter on a member a find met inside an archive: the pane goes there.
    bool OpenFoundInArchive(PaneView* pane);
    void SizeCommandColumn();
    void StartUp(const StartOptions& options);
    void LoadEarlySettings();
    void StartWorkers();
    void LoadLateSettings();
    void StartHotKeysAndTray();
    void ApplyToolBarLayout();
    void RememberPlacement();
    void FitUnstoredWidths();
    std::vector<ToolBarBand> CurrentToolBarLayout() const;
    void HandlePrivateMessage(int message, qintptr wParam);
    void UpdateNavButtons();
    void ShowSelectionSummary(PaneView* pane);
    void RefreshPane(PaneView* pane);
    void OnMountsChanged();
    void ReadDrivesForVolumes();
    void ApplyVolumeChange(DriveList drives, const std::vector<std::string>& changedMountPoints);
    void ReturnKeysToTheList();
    void PlaceShownWindow(QWidget* window);
    void ShowStatus(const QString& text);
    // Launching and places (MainWindowLaunch.cpp).
    void BuildLaunchItems();
    void FillOpenWithMenu(PaneView* pane);
    void StartOffThread(std::vector<std::vector<std::string>> commands, std::string workingDir, QString what);
    void ShellCallChecked(const std::string& path, bool exists, bool directory);
    // Shift+F4's file, made (error 0) or not by its worker.
    void NewFileMade(PaneView* pane, const std::string& place, const std::string& name, int error);
    void StartPlaces(const StartOptions& options);
    void ApplySavedSortOrders();
    void RememberPaneStates();

    AppSettings settings_;
    std::unique_ptr<CommandTable> commands_;
    FunctionKeyBar* functionKeys_ = nullptr;
    DisplayLocale locale_;
    // The workers' sink and icon resolver outlive the listings whose threads use them.
    std::unique_ptr<class WorkerSinkQt> workerSink_;
    std::unique_ptr<class MimeIconResolver> iconResolver_;
    std::unique_ptr<class BackgroundWorkers> workers_;
    TDirData leftDir_, rightDir_;
    PaneView* left_ = nullptr;
    PaneView* right_ = nullptr;
    bool rightActive_ = false;
    QSplitter* split_ = nullptr;
    QWidget* center_ = nullptr;
    QPushButton* direction_ = nullptr;
    QToolBar* general_ = nullptr;
    QToolBar* navigation_ = nullptr;
    QToolBar* drives_ = nullptr;
    QList<QToolButton*> driveButtons_;
    QMenu* dirPopup_ = nullptr;
    QMenu* headerPopup_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    PaneView* headerPopupPane_ = nullptr;
    QMenu* quickDir_ = nullptr;
    BookmarkMenu* bookmarks_ = nullptr;
    QuickGoMenu* quickGo_ = nullptr;
    PaneView* quickGoTarget_ = nullptr;
    std::unique_ptr<UserMessages> messages_;
    std::function<int()> closeQuery_;
    InstanceBlock* block_ = nullptr;
    MountWatcher* mountWatcher_ = nullptr;
    bool startMinimized_ = false;
    AsyncShellSlots asyncSlots_;
    class BackgroundWork* background_ = nullptr; // a child: the background copies, moves and totals
    class BackgroundWork& Background(); // made on first use
    QPointer<class OperationsWindow> operationsWindow_;
    OperationUi* operationUi_ = nullptr;          // tests answer the engine's questions
    std::function<int(QDialog&)> runNameDialog_; // tests fill the name dialogs
    bool terminating_ = false;
    Registry* registry_ = nullptr;
    std::unique_ptr<class SettingsStore> store_;
    TSysHotKey* hotKeys_ = nullptr;
    std::unique_ptr<ViewerHost> viewer_;
    EntryHints* hints_ = nullptr;
    std::unique_ptr<TZipMaster> zip_;
    std::shared_ptr<SearchSource> search_;
    TTrayIcon* tray_ = nullptr; // Shutdown or the end of the desktop session: close without asking
    bool saveFailureShown_ = false;
    bool widthsToFit_ = true; // once the panes have their first real size
    WindowPlacement seenPlacement_; // the last placement the user saw, normal or maximised
    std::function<DriveList()> readDrives_;    // empty: the system's
    std::vector<std::string> changedVolumes_;  // seen since the drive list was last read
    bool drivesReading_ = false, drivesReadAgain_ = false;
    QMenu* openWith_ = nullptr;
    class WorkerAnswers* placeAnswers_ = nullptr;  // does a place exist
    class WorkerAnswers* launchAnswers_ = nullptr; // did a program start
    int shellCallTicket_ = 0; // only the latest handed-over path is gone to
    int launchTicket_ = 0;    // only the latest launch falls back to the viewer
    class RemoteCopies* remoteCopies_ = nullptr; // made on first use
    QPointer<class TDlgFind> findDialog_;
    std::function<void(const FindQuery&, std::vector<FindHit>)> findFeed_;
};

} // namespace tarnel
