// The main window's side of the quick viewer and of opening entries: the
// buttons, menu items and keys that reach the viewer host.
#include "app/MainWindow.h"
#include "fileops/BackgroundWork.h"

#include "app/components/SysHotKey.h"
#include "fileops/LastCommand.h"
#include "fileops/LaunchApplication.h"
#include "fileops/model/LaunchDefaultApp.h"
#include "fileops/model/LaunchProcess.h"
#include "panes/Navigation.h"
#include "panes/PathUtil.h"
#include "panes/ViewerExtensions.h"
#include "viewer/EntryHints.h"
#include "viewer/TextPage.h"
#include "viewer/TextView.h"
#include "viewer/ViewerHost.h"
#include "widgets/PaneView.h"
#include "widgets/RowPainter.h"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QSplitter>
#include <QToolBar>
#include <QToolButton>

#include <unistd.h>

namespace tarnel {

void MainWindow::BuildViewer()
{
    auto* viewerButton = general_->findChild<QToolButton*>("SBViewer");
    auto* fullScreenButton = general_->findChild<QToolButton*>("SpeedButton2");
    ViewerWindowParts parts;
    parts.window = this;
    parts.left = left_;
    parts.right = right_;
    parts.split = split_;
    parts.center = center_;
    parts.leftDock = split_->widget(0);
    parts.rightDock = split_->widget(1);
    parts.viewerButton = viewerButton;
    parts.viewerMenu = Action("Viewer1");
    parts.locale = &locale_;
    parts.viewerCaption = [this] { return hotKeys_ ? QString::fromStdString(ViewerHintText(*hotKeys_)) : QString(); };
    parts.showHotKeyHints = [this] {
        if (hotKeys_)
            ShowHotKeyHints();
    };
    parts.hideProgram = [this] { HideProgram(); };
    parts.relayout = [this] { resizeEvent(nullptr); };
    parts.activePane = [this] { return ActivePane(); };
    parts.setActivePane = [this](PaneView* pane) { SetActivePane(pane); };
    // The viewer hot key and button show the entry on the page its type asks
    // for, a picture as a picture; "View as text" stays the way to its bytes.
    parts.viewEntry = [this] {
        PaneView* pane = ActivePane();
        viewer_->ShowEntryInViewer(pane, pane->Data().Path, pane->CurrentRow(), false, false);
    };
    parts.messages = [this]() -> UserMessages& { return *messages_; };
    parts.runOperation = [this](std::shared_ptr<Operation> op, std::function<void(const Operation&)> done) {
        return Background().Run(op, RunMode::Foreground, nullptr, std::move(done));
    };
    viewer_ = std::make_unique<ViewerHost>(parts);
    hints_ = new EntryHints(left_, right_, driveButtons_, locale_, this);
    ConnectViewerMenu();
    // Before the hot keys' filter is installed, so that theirs runs first.
    qApp->installEventFilter(this);

    viewerButton->setEnabled(true);
    fullScreenButton->setEnabled(true);
    connect(viewerButton, &QToolButton::clicked, this, [this] { viewer_->SBViewerClick(); });
    connect(fullScreenButton, &QToolButton::clicked, this, [this] {
        if (viewer_->IsOn())
            viewer_->ToggleFullScreenViewer();
    });
    for (PaneView* pane : {left_, right_}) {
        connect(pane, &PaneView::currentEntryChanged, viewer_.get(), &ViewerHost::FilesLeftClick);
        connect(pane, &PaneView::listingRead, viewer_.get(), &ViewerHost::ListingRead);
        pane->OpenButton()->setEnabled(true);
        connect(pane->OpenButton(), &QToolButton::clicked, this, [this, pane] { OpenFolderInFileManager(pane); });
    }
}

void MainWindow::SetMessages(std::unique_ptr<UserMessages> messages)
{
    messages_ = std::move(messages);
    AnswerOperationMessagesFromTest();
    if (viewer_)
        viewer_->Pages().text->VWText->SetMessages(messages_.get());
}

void MainWindow::ConnectViewerMenu()
{
    viewer_->Pages().text->VWText->SetMessages(messages_.get());
}

void MainWindow::ApplyTextViewSettings() { viewer_->Pages().text->ApplySettings(settings_.textView); }

bool MainWindow::FullScreenTextKey(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || !viewer_ || !viewer_->IsFullScreen() ||
        viewer_->CurrentPage() != ViewerPageKind::Text || !general_->findChild<QToolButton*>("SBViewer")->isChecked())
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this || QApplication::activeModalWidget())
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    TTextView* view = viewer_->Pages().text->VWText;
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    if (mods == Qt::NoModifier) {
        view->ScrollKey(key->key());
        return true; // every plain key is the view's in this mode
    }
    if (mods == Qt::ControlModifier && key->key() == Qt::Key_C) {
        view->CopySelection();
        QApplication::beep();
        return true;
    }
    return false;
}

void MainWindow::ViewCommand(bool open, bool asText, bool asInfo, const char* popupItem)
{
    RememberLastCommand(*dirPopup_, Action(popupItem));
    LaunchEntry(ActivePane(), open, asText, asInfo);
}

} // namespace tarnel

namespace tarnel {

bool MainWindow::ViewPath(const std::string& path)
{
    std::string full = path;
    while (full.size() > 1 && full.back() == '/')
        full.pop_back();
    const size_t slash = full.rfind('/');
    if (slash == std::string::npos || full == "/")
        return false;
    const std::string name = full.substr(slash + 1);
    GoToDirectory(leftDir_, slash == 0 ? "/" : full.substr(0, slash), locale_);
    // A screenshot run, not the user's window: it may wait for the listing.
    const QDeadlineTimer deadline(60000);
    while (leftDir_.Reading() && !deadline.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    int row = -1;
    for (int i = 0; i < leftDir_.Count && row < 0; ++i)
        if (leftDir_.Item(i).Kind != fkDrive && leftDir_.Item(i).Name == name)
            row = i;
    if (row < 0)
        return false;
    left_->SetCurrentRow(row);
    left_->SetSelected(row, true);
    left_->List()->scrollTo(left_->List()->model()->index(row, 0));
    general_->findChild<QToolButton*>("SBViewer")->setChecked(true);
    viewer_->FilesLeftClick(left_);
    return viewer_->IsOn();
}

} // namespace tarnel
