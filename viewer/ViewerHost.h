#pragma once
// The quick viewer: the notebook "views" with its pages, shown in the area of
// the pane opposite the one whose entries it follows.
#include "viewer/ViewerPages.h"
#include "viewer/model/ViewerDispatch.h"
#include "viewer/model/ZipMemberCopy.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAbstractButton;
class QAction;
class QLabel;
class QTimer;
class QMainWindow;
class QSplitter;
class QTabWidget;

namespace tarnel {

class Operation;

class PaneView;
class UserMessages;
class WorkerAnswers;
struct DisplayLocale;

// What of the main window the viewer moves, hides and asks.
struct ViewerWindowParts {
    QMainWindow* window = nullptr;
    PaneView* left = nullptr;
    PaneView* right = nullptr;
    QSplitter* split = nullptr;
    QWidget* center = nullptr;    // PanCenter
    QWidget* leftDock = nullptr;  // the splitter's part holding the left pane
    QWidget* rightDock = nullptr; // and the one holding the right pane
    QAbstractButton* viewerButton = nullptr; // SBViewer
    QAction* viewerMenu = nullptr;           // the "&Viewer" menu
    const DisplayLocale* locale = nullptr;
    std::function<QString()> viewerCaption; // "Viewer mode activated. Press ..."
    std::function<void()> showHotKeyHints;
    std::function<void()> hideProgram;
    std::function<void()> relayout;          // the window's resize handler
    std::function<PaneView*()> activePane;
    std::function<void(PaneView*)> setActivePane;
    std::function<void()> viewEntry;         // the active pane's current entry, on its type's page
    std::function<UserMessages&()> messages;
    // Long work (the RAR page's test and extraction) on the window's runner.
    std::function<bool(std::shared_ptr<Operation>, std::function<void(const Operation&)>)> runOperation;
};

class ViewerHost : public QObject {
    Q_OBJECT
public:
    ViewerHost(ViewerWindowParts parts, QObject* parent = nullptr);
    ~ViewerHost() override;

    QTabWidget* Views() const { return views_; }
    const ViewerPageSet& Pages() const { return pages_; }
    ViewerPageKind CurrentPage() const;
    bool IsOn() const;
    bool IsFullScreen() const;
    // The entry's file is being read for its page: "Reading..." shows beside
    // the tabs until it comes.
    bool Reading() const;
    QLabel* ReadingLabel() const { return reading_; }
    // Runs then, later on this thread, once the page shows the entry now on
    // it (its file read); dropped when another entry comes first.
    void WhenPageShown(std::function<void()> then);
    // Reads not yet answered, those no longer wanted included.
    int ReadsWaiting() const;
    // Runs on the worker before each file is looked at: tests hold reads there.
    void SetBeforeRead(std::function<void(const std::string& file)> hook) { beforeRead_ = std::move(hook); }
    PaneView* FollowedPane() const { return followed_; }
    const std::string& ViewerTempFile() const { return viewerTempFile_; }
    // The ZIP driver's member extraction; without one members show the information page.
    void SetZipExtractor(ZipMemberExtractor extract) { extract_ = std::move(extract); }
    const ZipMemberExtractor& ZipExtractor() const { return extract_; }

    void ShowEntryInViewer(PaneView* pane, const std::string& folder, int index, bool asInfo, bool asText);
    void SetViewerActive(PaneView* pane, bool on);
    // A volume's space came in: the information page of a drive row shows it.
    void VolumeAnswered();
    void ClearViewer();
    void ToggleFullScreenViewer();
    void LeaveViewerOrMinimize();
    void SBViewerClick();
    void viewsPageChanged();
    // The current row of a list changed: that pane becomes active, and the
    // viewer, when on, follows it.
    void FilesLeftClick(PaneView* pane);
    // A read replaced the pane's listing: the viewer, when it follows that
    // pane, shows the entry now under the cursor (once the read is over).
    void ListingRead(PaneView* pane);

private:
    void ConnectPackedPage();
    void SwitchOn(PaneView* pane);
    void SwitchOff();
    void SelectPage(ViewerPageKind page);
    void FillInfoPage(PaneView* pane, int index);
    // The entry at index, its file at place: its page, read on a worker.
    void ShowPageOf(PaneView* pane, const std::string& place, int index, bool asInfo, bool asText);
    void ReadForPage(ViewerPageKind page, const std::string& file, bool askSignature);
    void StartPendingRead();
    ViewerPage* PageOf(ViewerPageKind page) const;
    void DeleteTempFile(bool warn);
    void FollowCursor(PaneView* pane);
    // A file of a remote place: the text page reads it by ranges, the pages
    // that need a whole file read a copy, the information page asks the
    // server for the file's facts.
    void ShowRemoteEntry(PaneView* pane, const std::string& folder, int index, bool asInfo, bool asText);
    void ShowRemoteFacts(const std::string& address, const std::string& description);
    void StopRemoteCopy();

    ViewerWindowParts parts_;
    QPointer<QTabWidget> views_;
    ViewerPageSet pages_;
    PaneView* followed_ = nullptr; // the pane whose entries the viewer shows
    std::string viewerTempFile_;
    std::string shownPlace_, shownName_; // the entry on the page: its pane's place and name
    std::string copyingName_;            // the member whose copy for the page is being made
    bool followQueued_ = false;
    // The file of the entry on the page is read on a worker; its answer
    // counts only while the ticket is the one it was asked with.
    WorkerAnswers* reads_ = nullptr;
    uint64_t readTicket_ = 0;
    QLabel* reading_ = nullptr;
    // The read for the entry on the page while earlier reads, waiting on
    // their file systems, leave no room for it; tried again by retry_.
    struct PendingRead {
        ViewerPageKind page;
        std::string file;
        bool askSignature;
    };
    std::optional<PendingRead> pendingRead_;
    QTimer* retry_ = nullptr;
    std::function<void(const std::string&)> beforeRead_;
    std::function<void()> whenShown_;
    ZipMemberExtractor extract_;
    std::shared_ptr<std::atomic<bool>> remoteCopyStop_; // set: the copy under way is no longer wanted
    std::vector<QPointer<QWidget>> hiddenForFullScreen_;
    bool fullScreen_ = false; // the window shows the viewer alone, without its menu
};

} // namespace tarnel
