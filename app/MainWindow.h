#pragma once
// The main window: two panes, the command column, tool bars, menus and the
// private messages other processes and worker threads post to it.
#include "app/Config.h"
#include "app/UserMessages.h"
#include "panes/DirData.h"
#include "panes/RowText.h"

#include <QMainWindow>
#include <functional>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QSplitter;
class QToolBar;
class QToolButton;

namespace tarnel {

class BookmarkMenu;
class InstanceBlock;
class MountWatcher;
class PaneView;
class QuickGoMenu;

struct StartOptions {
    bool independent = false;     // a screenshot run: no instance block, no settings
    std::string leftDir, rightDir; // empty: the volume root of the working directory
    bool startMinimized = false;  // "-MIN" and its spellings
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
    Config& Settings() { return config_; }
    QPushButton* DirectionButton() const { return direction_; }
    QPushButton* CommandButton(const QString& name) const;
    QToolButton* DriveButton(int index) const;
    QAction* Action(const QString& name) const;
    QMenu* DirPopup() const { return dirPopup_; }
    QMenu* HeaderPopup() const { return headerPopup_; }
    QMenu* TrayMenu() const { return trayMenu_; }
    BookmarkMenu* Bookmarks() const { return bookmarks_; }
    QuickGoMenu* QuickGo() const { return quickGo_; }
    PaneView* QuickGoTarget() const { return quickGoTarget_; }
    QString StatusText() const;

    // Tests answer the questions and read the boxes.
    void SetMessages(std::unique_ptr<UserMessages> messages) { messages_ = std::move(messages); }
    void SetCloseQuery(std::function<int()> ask) { closeQuery_ = std::move(ask); }

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
    void QuickGoClick(PaneView* pane);
    void AddbookmarkClick();
    void Editbookmarks1Click();
    void Connect1Click();
    // Before the pane popup shows: the pane becomes active, the row under the
    // mouse is taken when nothing selected is current, items follow the entry.
    void DirPopupPopup(PaneView* pane, QPoint viewportPos);

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void BuildToolBars();
    void BuildPanes();
    void BuildCommandColumn();
    void BuildMenus();
    void BuildPopups();
    void ConnectPane(PaneView* pane);
    void SizeCommandColumn();
    void StartUp(const StartOptions& options);
    void HandlePrivateMessage(int message, qintptr wParam);
    void UpdateNavButtons();
    void ShowSelectionSummary(PaneView* pane);
    void RefreshPane(PaneView* pane);
    void OnMountsChanged();
    void ShowStatus(const QString& text);
    QAction* AddAction(QMenu* menu, const QString& name, const QString& text, std::function<void()> handler,
                       bool enabled = true);

    Config config_;
    DisplayLocale locale_;
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
    bool terminating_ = false; // Shutdown or the end of the desktop session: close without asking
};

} // namespace tarnel
