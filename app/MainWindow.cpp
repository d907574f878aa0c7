#include "app/MainWindow.h"

#include "app/PrivateMessages.h"
#include "app/SystemLocale.h"
#include "app/CommandTable.h"
#include "app/Bookmarks.h"
#include "app/WorkerSinkQt.h"
#include "panes/BackgroundWorkers.h"
#include "widgets/MimeIconResolver.h"
#include "app/ConfigureDialog.h"
#include "app/components/SysHotKey.h"
#include "app/components/VirtualKeys.h"
#include "app/components/TrayIcon.h"
#include "panes/DisplayOptions.h"
#include "panes/ViewerExtensions.h"
#include "app/SettingsStore.h"
#include "app/QuickGoMenu.h"
#include "fileops/LastCommand.h"
#include "fileops/BackgroundWork.h"
#include "fileops/model/ZipMaster.h"
#include "panes/Navigation.h"
#include "app/components/MountWatcher.h"
#include "panes/ReadDirectory.h"
#include "panes/Sorting.h"
#include "platform/Volumes.h"
#include "platform/VolumeSpace.h"
#include "viewer/ViewerHost.h"
#include "widgets/FunctionKeyBar.h"
#include "widgets/IconCache.h"
#include "widgets/PaneView.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QComboBox>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <unistd.h>

namespace tarnel {

namespace {

// The command column, top to bottom.
constexpr const char* kColumn[] = {"Synchronize", "NewDir",    "Refresh",    "Rename", "ViewAsText",
                                   "Open",        "ViewInfos", "Delete",     "Copy",   "Move",
                                   "Describe",    "Attributes", "Direction", "ToZip",  "Properties"};

void SetHint(QWidget* w, const QString& hint)
{
    w->setToolTip(hint);
    w->setStatusTip(hint);
}

std::string StartPlace()
{
    char buffer[4096];
    const char* cwd = getcwd(buffer, sizeof buffer);
    return VolumeRootOf(cwd ? cwd : "/");
}

} // namespace

MainWindow::MainWindow(const StartOptions& options, InstanceBlock* block, QWidget* parent)
    : QMainWindow(parent),
      locale_(SystemDisplayLocale()),
      workerSink_(std::make_unique<WorkerSinkQt>()),
      iconResolver_(std::make_unique<MimeIconResolver>()),
      workers_(std::make_unique<BackgroundWorkers>(*workerSink_, *iconResolver_)),
      messages_(std::make_unique<MessageBoxes>(this)),
      block_(block)
{
    setObjectName("Form1");
    setWindowTitle("Tarnel");
    resize(1000, 640);
    statusBar()->setObjectName("StatusBar");
    commands_ = std::make_unique<CommandTable>(*this);
    BuildToolBars();
    BuildPanes();
    BuildMenus();
    BuildPopups();
    BuildViewer();
    BuildZip();
    commands_->AttachToWindow();
    StartUp(options);
}

void MainWindow::BuildToolBars()
{
    general_ = addToolBar("Viewer");
    general_->setObjectName("TBGeneral");
    auto* viewer = new QToolButton(general_);
    viewer->setObjectName("SBViewer");
    viewer->setText("Viewer");
    viewer->setCheckable(true);
    SetHint(viewer, "Quick viewer");
    general_->addWidget(viewer);
    auto* fullScreen = new QToolButton(general_);
    fullScreen->setObjectName("SpeedButton2");
    fullScreen->setText("Full screen");
    SetHint(fullScreen, "Full screen viewer");
    general_->addWidget(fullScreen);

    drives_ = addToolBar("Drives");
    drives_->setObjectName("TBDrives");
    for (int i = 0; i < 26; ++i) {
        auto* button = new QToolButton(drives_);
        button->setObjectName(QString("TBDrive%1").arg(i + 1, 2, 10, QChar('0')));
        button->setText(QString(QChar('a' + i)) + ":");
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        connect(button, &QToolButton::clicked, this, [this, i] { SBDriveClick(i); });
        driveButtons_.append(button);
        drives_->addWidget(button)->setObjectName(button->objectName() + "Action");
    }

    navigation_ = addToolBar("Navigation");
    navigation_->setObjectName("TBNavigation");
    commands_->AddTo(navigation_, {"Back", "Forward", "Refresh", "Root"});
}

void MainWindow::BuildPanes()
{
    auto* central = new QWidget(this);
    auto* row = new QVBoxLayout(central);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    split_ = new QSplitter(Qt::Horizontal, central);
    split_->setObjectName("LeftSplit");
    split_->setChildrenCollapsible(false);
    split_->installEventFilter(this);
    left_ = new PaneView(true, leftDir_, locale_, split_);
    auto* rest = new QWidget(split_);
    auto* restRow = new QHBoxLayout(rest);
    restRow->setContentsMargins(0, 0, 0, 0);
    restRow->setSpacing(0);
    BuildCommandColumn();
    center_->setParent(rest);
    right_ = new PaneView(false, rightDir_, locale_, rest);
    restRow->addWidget(center_);
    restRow->addWidget(right_, 1);
    split_->addWidget(left_);
    split_->addWidget(rest);
    row->addWidget(split_, 1);
    // Under the panes, as two-pane file managers have it.
    functionKeys_ = new FunctionKeyBar(central);
    row->addWidget(functionKeys_);
    setCentralWidget(central);
    left_->SetOther(right_);
    right_->SetOther(left_);
    ConnectPane(left_);
    ConnectPane(right_);
}

void MainWindow::BuildCommandColumn()
{
    center_ = new QWidget(this);
    center_->setObjectName("PanCenter");
    auto* column = new QVBoxLayout(center_);
    column->setContentsMargins(4, 4, 4, 4);
    for (const char* name : kColumn) {
        QPushButton* button = commands_->AddButton(name, center_);
        button->setAutoDefault(false);
        button->setFocusPolicy(Qt::NoFocus); // the keys stay with the list
        column->addWidget(button);
    }
    column->addStretch(1);
    direction_ = CommandButton("direction");
}

void MainWindow::ConnectPane(PaneView* pane)
{
    connect(pane, &PaneView::activated, this, &MainWindow::SetActivePane);
    connect(pane, &PaneView::filesDropped, this, &MainWindow::DropFiles);
    connect(pane, &PaneView::filterChosen, this, [this](PaneView* p) {
        SetActivePane(p);
        ReadDirectory(p->Data(), locale_);
        FocusActiveList();
    });
    connect(pane, &PaneView::sortBoxChanged, this, [this](PaneView* p) {
        SetActivePane(p);
        SortBoxChanged(p->Data());
        FocusActiveList();
    });
    connect(pane, &PaneView::headerClicked, this, [this](PaneView* p, const QString& caption) {
        SetActivePane(p);
        HeaderSectionClicked(p->Data(), caption.toStdString());
    });
    connect(pane, &PaneView::headerPopupRequested, this, [this](PaneView* p, QPoint at) {
        headerPopupPane_ = p;
        headerPopup_->popup(at);
    });
    connect(pane, &PaneView::listReleased, this, &MainWindow::ShowSelectionSummary);
    connect(pane, &PaneView::listDoubleClicked, this, [this](PaneView* p) {
        viewer_->SetViewerActive(p, false); // a double-click leaves the viewer first
        OpenEntryOf(p);
    });
    connect(pane, &PaneView::listEnterPressed, this, &MainWindow::OpenEntryOf);
    connect(pane, &PaneView::listPopupRequested, this, [this](PaneView* p, QPoint at) {
        DirPopupPopup(p, p->List()->viewport()->mapFromGlobal(at));
        dirPopup_->popup(at);
    });
    connect(pane, &PaneView::historyChanged, this, &MainWindow::UpdateNavButtons);
    connect(pane, &PaneView::otherPaneRequested, this, [this](PaneView* p) {
        SetActivePane(p->Other());
        p->Other()->FocusList();
    });
    connect(pane, &PaneView::selectionKeyed, this, &MainWindow::ShowSelectionSummary);
    connect(pane, &PaneView::parentRequested, this, [this](PaneView* p) {
        SetActivePane(p);
        GoParentClick(p);
    });
    connect(pane, &PaneView::refreshRequested, this, [this](PaneView* p) {
        SetActivePane(p);
        BTNRefreshClick();
    });
    connect(pane->List(), &PaneList::deletePressed, this, [this, pane] {
        SetActivePane(pane);
        Action("Delete")->trigger();
    });
    connect(pane->ParentButton(), &QToolButton::clicked, this, [this, pane] { GoParentClick(pane); });
    connect(pane->QuickGoButton(), &QToolButton::clicked, this,
            [this, pane] { PostPrivateMessage(this, UM_QUICKGO, pane == left_ ? 1 : 2); });
}

void MainWindow::BuildMenus()
{
    QMenuBar* bar = menuBar();
    commands_->AddTo(bar->addMenu("&File"), {"Minimize", "Shutdown"});

    QMenu* edit = bar->addMenu("&Edit");
    commands_->AddTo(edit, {"CopyPath"});
    commands_->AddTo(edit->addMenu("Select &all"), {"SelectAll", "SelectFiles", "SelectDirectories"});

    commands_->AddTo(bar->addMenu("Director&y"), {"Refresh", "Synchronize"});

    QMenu* bookmarks = bar->addMenu("&Bookmarks");
    commands_->AddTo(bookmarks, {"AddBookmark", "EditBookmarks", "-"});
    bookmarks_ = new BookmarkMenu(bookmarks);
    connect(bookmarks_, &BookmarkMenu::goTo, this,
            [this](const std::string& path) { GoToDirectory(ActivePane()->Data(), path, locale_); });

    QMenu* viewer = bar->addMenu("&Viewer");
    viewer->menuAction()->setObjectName("Viewer1");
    viewer->menuAction()->setVisible(false); // shown only with the text page
    commands_->AddTo(viewer, {"ViewerCopy", "ViewerPrint", "ViewerSearch"});

    // Alt+U is Configure's.
    commands_->AddTo(bar->addMenu("Uti&lity"), {"RefreshDrives", "Uninstall", "NetDrive", "EditId3", "FindFiles", "Operations"});
    bar->addAction(Action("Configure"));
    commands_->AddTo(bar->addMenu("&Help"), {"About"});
}

void MainWindow::BuildPopups()
{
    dirPopup_ = new QMenu(this);
    dirPopup_->setObjectName("DirPopup");
    quickDir_ = dirPopup_->addMenu("Quick dir");
    quickDir_->menuAction()->setObjectName("Quickdir1");
    quickGo_ = new QuickGoMenu(this);
    connect(quickGo_, &QuickGoMenu::goTo, this, [this](const std::string& path) {
        if (quickGoTarget_)
            GoToDirectory(quickGoTarget_->Data(), path, locale_);
    });
    commands_->AddTo(dirPopup_, {"Open", "View", "ViewAsText", "ViewInfos", "-", "Copy", "Move", "Delete", "Rename",
                                 "-", "NewDir", "Refresh", "Properties", "FolderSizes"});
    // The popup offered what fits its entry; the keys and buttons have every command again.
    connect(dirPopup_, &QMenu::aboutToHide, this, [this] { commands_->OfferAll(); });
    BuildLaunchItems(); // Open with, Terminal here

    headerPopup_ = new QMenu(this);
    headerPopup_->setObjectName("HeaderPopup");
    commands_->AddTo(headerPopup_, {"AutoSizeColumns"});

    trayMenu_ = new QMenu(this);
    trayMenu_->setObjectName("TrayMenu");
    commands_->AddTo(trayMenu_, {"Restore", "ShutdownFromTray"});
}

// Directory totals and icons fill in from background threads; the main
// thread repaints the size column and shows their error texts.
void MainWindow::StartWorkers()
{
    workerSink_->SetRepaintHandler([this](TDirData& data) {
        PaneView* pane = &data == &leftDir_ ? left_ : right_;
        const QHeaderView* header = pane->Header();
        QWidget* viewport = pane->List()->viewport();
        viewport->update(header->sectionViewportPosition(1), 0, header->sectionSize(1), viewport->height());
    });
    workerSink_->SetErrorHandler([this](const QString& text) { messages_->Plain(text); });
    leftDir_.Workers = workers_.get();
    rightDir_.Workers = workers_.get();
    // The window's thread makes no system call on a user path: listings,
    // icons, directory totals, the drive list and the volumes' space are
    // found on workers, and their answers come back as events.
    connect(&ContentLooks::Instance(), &ContentLooks::answered, this, [this] {
        left_->List()->viewport()->update();
        right_->List()->viewport()->update();
    });
    SetVolumeSpaceListener(this, [this](const std::string&) {
        QMetaObject::invokeMethod(this, [this] {
            left_->List()->viewport()->update();
            right_->List()->viewport()->update();
            if (viewer_)
                viewer_->VolumeAnswered();
        }, Qt::QueuedConnection);
    });
}

void MainWindow::Configure1Click()
{
    ConfigureHooks hooks;
    hooks.setHotKeysActive = [this](bool on) { hotKeys_->SetActive(on); };
    hooks.getHotKey = [this](int n) { return hotKeys_->GetHotKey(n); };
    hooks.setHotKey = [this](int n, const HotKeyDefinition& d) { hotKeys_->SetHotKey(n, d); };
    hooks.showHotKeyHints = [this] { ShowHotKeyHints(); };
    hooks.applyBackType = [this](const std::string& back) { ApplyBackType(back); };
    hooks.redrawLists = [this] {
        left_->List()->viewport()->update();
        right_->List()->viewport()->update();
    };
    TDlgConfigure::RunConfigure(settings_, ViewerExtensions(), hooks, this);
    ApplyKeyOptions();
    DisplayOptions& o = Options();
    o.ShowBigSize = settings_.ShowBigSize;
    o.ShowAttrs = settings_.ShowAttrs;
    o.ShowListHints = settings_.ShowListHints;
    o.ShowSupported = settings_.ShowSupported;
    ApplyTextViewSettings();
}

QPushButton* MainWindow::CommandButton(const QString& name) const { return center_->findChild<QPushButton*>(name); }

QToolButton* MainWindow::DriveButton(int index) const { return driveButtons_.value(index); }

QAction* MainWindow::Action(const QString& name) const
{
    if (QAction* command = commands_->Action(name))
        return command;
    return findChild<QAction*>(name);
}

void MainWindow::ApplyKeyOptions()
{
    commands_->SetCommanderKeys(settings_.CommanderKeys);
    std::vector<FunctionKeyBar::Entry> entries;
    const auto hotKeyName = [this](int n) {
        return hotKeys_ ? QString::fromStdString(HotKeyName(hotKeys_->GetHotKey(n))) : QString();
    };
    for (const CommandTable::BarEntry& e : commands_->BarEntries(hotKeyName))
        entries.push_back({e.name, e.key, e.text, e.action});
    functionKeys_->SetEntries(entries);
    functionKeys_->setVisible(settings_.FunctionKeyBar);
}

PaneView* MainWindow::ActivePane() const { return rightActive_ ? right_ : left_; }

QString MainWindow::StatusText() const { return statusBar()->currentMessage(); }

void MainWindow::ShowStatus(const QString& text) { statusBar()->showMessage(text); }

void MainWindow::SizeCommandColumn()
{
    int widest = 0;
    const QFontMetrics metrics(font());
    for (const char* name : kColumn)
        if (const CommandRow* row = commands_->Row(name); QString(row->button).startsWith("BTN"))
            widest = std::max(widest, metrics.horizontalAdvance(QString(row->buttonText).remove('&')));
    // Room for the button's frame beyond the bare caption.
    const int buttonWidth = widest + 4 + 2 * style()->pixelMetric(QStyle::PM_ButtonMargin);
    for (QPushButton* button : center_->findChildren<QPushButton*>())
        button->setFixedWidth(buttonWidth);
    center_->setFixedWidth(2 * center_->layout()->contentsMargins().left() + buttonWidth);
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    RememberPlacement();
}

void MainWindow::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    RememberPlacement();
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    RememberPlacement();
    // With a tray to come back from, a minimised program lives only there.
    if (isMinimized() && tray_ && tray_->Active())
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                hide();
        });
}

// The full-screen text keys come first (the filter is the application's).
// The splitter has its new width only once the window's layout has run, so
// the halves are set from the splitter's own resize, the first one included.
bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (FullScreenTextKey(watched, event))
        return true;
    if (event->type() == QEvent::Show && watched->isWidgetType() && watched != this &&
        static_cast<QWidget*>(watched)->isWindow())
        PlaceShownWindow(static_cast<QWidget*>(watched));
    if (watched == split_ && event->type() == QEvent::Resize) {
        const int leftWidth = (width() - center_->width()) / 2;
        split_->setSizes({leftWidth, std::max(split_->width() - split_->handleWidth() - leftWidth, 0)});
        if (widthsToFit_ && isVisible()) {
            widthsToFit_ = false;
            QTimer::singleShot(0, this, &MainWindow::FitUnstoredWidths);
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::StartUp(const StartOptions& options)
{
    // Start-up order: bind the panes, record and read them, drive buttons,
    // settings (stored settings come with the configuration issue), active
    // pane, hot keys (later), command column, then the start-up tail message.
    registry_ = options.registry;
    LoadEarlySettings();
    // The drive rows from the mount table alone, until the worker's full read
    // started below answers.
    SetSystemDrives(ReadSystemDriveListFromTables());
    // A place given at the start may lie inside an archive, as --list takes it.
    leftDir_.MoveTo(PanePlace::FromPathByName(options.leftDir.empty() ? StartPlace() : options.leftDir));
    rightDir_.MoveTo(PanePlace::FromPathByName(options.rightDir.empty() ? StartPlace() : options.rightDir));
    leftDir_.Controls = left_;
    rightDir_.Controls = right_;
    StartWorkers();
    ApplySavedSortOrders();
    left_->SetPathLabel(leftDir_.Text());
    right_->SetPathLabel(rightDir_.Text());
    RecordHistory(leftDir_);
    RecordHistory(rightDir_);
    RereadPane(leftDir_, locale_);
    RereadPane(rightDir_, locale_);
    BuildDriveButtons();
    LoadLateSettings();
    SetActivePane(left_);
    startMinimized_ = options.startMinimized;
    StartHotKeysAndTray();
    ApplyKeyOptions();
    SizeCommandColumn();
    if (!options.independent) {
        mountWatcher_ = new MountWatcher(this);
        connect(mountWatcher_, &MountWatcher::mountsChanged, this, &MainWindow::OnMountsChanged);
    }
    // The list the window started with came from the mount table alone; it
    // is replaced only when the worker's read finds it different, and only
    // while nothing else has replaced it meanwhile.
    {
        const auto roots = [](const DriveList& drives) {
            std::vector<std::string> list;
            for (const Volume& v : drives)
                list.push_back(v.root);
            return list;
        };
        auto drives = std::make_shared<DriveList>();
        Background().StartTask([drives](const std::atomic<bool>&) { *drives = ReadSystemDriveList(); },
                               [this, drives, roots, started = roots(SystemDrives())] {
                                   if (!drivesReading_ && roots(SystemDrives()) == started &&
                                       roots(*drives) != started)
                                       ApplyVolumeChange(std::move(*drives), {});
                               });
    }
    ReturnKeysToTheList();
    FocusActiveList();
    StartPlaces(options); // the given or kept places, once a worker has found them
    PostPrivateMessage(this, UM_STARTUP);
}

// Buttons and menu items run their command and leave the keys with the
// active pane's list, so that arrows, Enter and Backspace go on from there;
// a dialog the command opened gives them back to the list when it closes.
void MainWindow::ReturnKeysToTheList()
{
    for (QToolBar* bar : {general_, drives_, navigation_})
        for (QToolButton* button : bar->findChildren<QToolButton*>())
            button->setFocusPolicy(Qt::NoFocus);
    for (QAbstractButton* button : center_->findChildren<QAbstractButton*>())
        connect(button, &QAbstractButton::clicked, this, &MainWindow::FocusActiveList);
    for (QToolBar* bar : {general_, drives_, navigation_})
        connect(bar, &QToolBar::actionTriggered, this, &MainWindow::FocusActiveList);
    for (QToolButton* button : drives_->findChildren<QToolButton*>())
        connect(button, &QToolButton::clicked, this, &MainWindow::FocusActiveList);
    for (QToolButton* button : general_->findChildren<QToolButton*>())
        connect(button, &QToolButton::clicked, this, &MainWindow::FocusActiveList);
    connect(functionKeys_, &FunctionKeyBar::commandRun, this, &MainWindow::FocusActiveList);
    // A menu gives the keys back to where they were only as it closes, after its item ran.
    const auto later = [this] { QTimer::singleShot(0, this, &MainWindow::FocusActiveList); };
    connect(menuBar(), &QMenuBar::triggered, this, later);
    for (QMenu* menu : findChildren<QMenu*>())
        connect(menu, &QMenu::triggered, this, later);
}

void MainWindow::FocusActiveList() { ActivePane()->FocusList(); }

// A window the program opens comes up where it can be seen whole: centred on
// the main window unless it placed itself (those centred on the screen, or
// put back where the user left them), moved back onto the screen, and
// active, so that its keys work at once.
void MainWindow::PlaceShownWindow(QWidget* w)
{
    const Qt::WindowType type = w->windowType();
    if (type != Qt::Window && type != Qt::Dialog && type != Qt::Tool && type != Qt::Sheet)
        return;
    const bool overWindow = isVisible() && !isMinimized();
    const QScreen* screen = overWindow ? this->screen() : w->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    // Not yet mapped, a window knows no frame: the main window's tells what
    // the decorations take.
    QMargins frame;
    if (overWindow)
        frame = QMargins(geometry().left() - frameGeometry().left(), geometry().top() - frameGeometry().top(),
                         frameGeometry().right() - geometry().right(), frameGeometry().bottom() - geometry().bottom());
    const QSize room(std::max(area.width() - frame.left() - frame.right(), 100),
                     std::max(area.height() - frame.top() - frame.bottom(), 100));
    if (w->width() > room.width() || w->height() > room.height())
        w->resize(w->size().boundedTo(room));
    const QSize whole = w->size().grownBy(frame);
    QPoint at = w->pos();
    if (!w->testAttribute(Qt::WA_Moved)) {
        // Over the part of the main window that is on the screen.
        const QRect seen = frameGeometry() & area;
        const QRect over = overWindow && !seen.isEmpty() ? seen : area;
        at = over.center() - QPoint(whole.width() / 2, whole.height() / 2);
    }
    at.setX(std::max(area.left(), std::min(at.x(), area.left() + area.width() - whole.width())));
    at.setY(std::max(area.top(), std::min(at.y(), area.top() + area.height() - whole.height())));
    w->move(at);
    QTimer::singleShot(0, w, [w] {
        if (!w->isVisible())
            return;
        w->raise();
        w->activateWindow();
    });
}

} // namespace tarnel
