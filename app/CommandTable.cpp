#include "app/CommandTable.h"

#include "app/AttributesDialog.h"
#include "app/DescriptionDialog.h"
#include "app/MainWindow.h"
#include "app/MainWindowSftpCommands.h"
#include "panes/ViewerExtensions.h"
#include "platform/ShellFileOperation.h"
#include "sources/sftp/SftpOperations.h"
#include "viewer/TextPage.h"
#include "viewer/ViewerHost.h"
#include "widgets/PaneView.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QPushButton>
#include <QToolBar>

#include <algorithm>

namespace tarnel {

namespace {

// The entry under the active pane's cursor, or null.
const TFileData* CurrentEntry(MainWindow& w)
{
    const PaneView* pane = w.ActivePane();
    const TDirData& data = pane->Data();
    const int row = pane->CurrentRow();
    return row >= 0 && row < data.Count ? &data.Item(row) : nullptr;
}

bool IsFile(MainWindow& w)
{
    const TFileData* e = CurrentEntry(w);
    return e && e->Kind == fkFile;
}

// "F5" gives 5; anything else, modifiers included, gives 0.
int FunctionKeyNumber(const QString& key)
{
    if (key.size() < 2 || key[0] != 'F')
        return 0;
    bool number = false;
    const int n = key.mid(1).toInt(&number);
    return number ? n : 0;
}

} // namespace

const std::vector<CommandRow>& CommandTable::Rows()
{
    // Defined here, inside the class the window befriends: the handlers reach
    // its private parts as its own members would.
    static const std::vector<CommandRow> rows = {
        // The main menu.
        {"Minimize", "Minimize1", "", "Minimize Tarnel", nullptr, nullptr, nullptr, nullptr, "", "", -1,
         [](MainWindow& w) { w.MinimizeProgram(); }, nullptr},
        {"Shutdown", "Shutdown1", "", "Shutdown Tarnel", nullptr, nullptr, nullptr, nullptr, "", "", -1,
         [](MainWindow& w) { w.ShutdownProgram(); }, nullptr},
        {"CopyPath", "Copypathtoclipboard1", "", "Copy path to clipboard", nullptr, nullptr, nullptr, nullptr, "", "",
         -1, [](MainWindow& w) { w.Copypathtoclipboard1Click(); }, nullptr},
        {"SelectAll", "Filesanddirectories1", "", "Files a&nd directories", nullptr, nullptr, nullptr, nullptr, "", "",
         -1, [](MainWindow& w) { w.SelectAllOfKindActive(2); }, nullptr},
        {"SelectFiles", "Files1", "", "&Files", nullptr, nullptr, nullptr, nullptr, "", "", -1,
         [](MainWindow& w) { w.SelectAllOfKindActive(1); }, nullptr},
        {"SelectDirectories", "Directories1", "", "&Directories", nullptr, nullptr, nullptr, nullptr, "", "", -1,
         [](MainWindow& w) { w.SelectAllOfKindActive(0); }, nullptr},
        {"Synchronize", "Synchronize1", "", "Synchronize", "Go to the same directory that is shown in the other pane",
         "BTNGoToOther", "&Go to other", nullptr, "", "", -1, [](MainWindow& w) { w.Synchronize1Click(); }, nullptr},
        {"AddBookmark", "Addbookmark1", "", "Add bookmark", nullptr, nullptr, nullptr, nullptr, "", "", -1,
         [](MainWindow& w) { w.AddbookmarkClick(); }, nullptr},
        {"EditBookmarks", "Editbookmarks1", "", "Edit bookmarks", nullptr, nullptr, nullptr, nullptr, "", "", -1,
         [](MainWindow& w) { w.Editbookmarks1Click(); }, nullptr},
        // The viewer menu passes its items to the text page's own.
        {"ViewerCopy", "Copytoclipboard1", "", "Copy to clipboard", nullptr, nullptr, nullptr, nullptr, "", "", -1,
         [](MainWindow& w) { w.Viewer()->Pages().text->Copytoclipboard1->trigger(); }, nullptr},
        {"ViewerPrint", "Print1", "", "Print", nullptr, nullptr, nullptr, nullptr, "", "", -1,
         [](MainWindow& w) { w.Viewer()->Pages().text->Print1->trigger(); }, nullptr},
        {"ViewerSearch", "Search1", "", "Search", nullptr, nullptr, nullptr, nullptr, "", "", -1,
         [](MainWindow& w) { w.Viewer()->Pages().text->Search1->trigger(); }, nullptr},
        {"RefreshDrives", "Refreshdrivelist1", "", "Refresh drive list", nullptr, nullptr, nullptr, nullptr, "", "", -1,
         [](MainWindow& w) { w.Refreshdrivelist1Click(); }, nullptr},
        {"Uninstall", "Uninstall1", "", "Uninstall", "Remove some software currently installed on this machine",
         nullptr, nullptr, nullptr, "", "", -1, [](MainWindow& w) { w.Uninstall1Click(); }, nullptr},
        {"NetDrive", "Connect1", "", "Add net drive", nullptr, nullptr, nullptr, nullptr, "", "", -1,
         [](MainWindow& w) { w.Connect1Click(); }, nullptr},
        {"EditId3", "EditID3tags1", "", "Edit mp3 ID3 tags", nullptr, nullptr, nullptr, nullptr, "", "", -1,
         [](MainWindow& w) { w.EditID3tags1Click(); }, nullptr},
        {"FindFiles", "FindFiles1", "", "&Find files...", "Find files by name and content below the active pane's folder",
         nullptr, nullptr, nullptr, "Alt+F7", "", -1, [](MainWindow& w) { w.FindFilesClick(); }, nullptr},
        {"Operations", "Operations1", "", "&Operations...", "The file operations running or waiting, with their progress",
         nullptr, nullptr, nullptr, "", "", -1, [](MainWindow& w) { w.ShowOperations(); }, nullptr},
        {"Configure", "Configure1", "", "Config&ure", nullptr, nullptr, nullptr, nullptr, "", "", -1,
         [](MainWindow& w) { w.Configure1Click(); }, nullptr},
        {"About", "About1", "", "&About", nullptr, nullptr, nullptr, nullptr, "", "", -1,
         [](MainWindow& w) { w.ShowAbout(); }, nullptr},

        // The pane commands: the popup's items, most with a button in the column.
        {"Open", "PopOpen", "", "Open", "Open the last selected file or directory", "BTNOpen", "&Open", nullptr, "",
         "", -1, [](MainWindow& w) { w.ViewCommand(true, false, false, "PopOpen"); },
         [](MainWindow& w) {
             const TFileData* e = CurrentEntry(w);
             return e && (e->Kind == fkFile || (e->Kind == fkDirectory && w.ActivePane()->Data().Can(Capability::DiskPaths)));
         }},
        {"View", "PopView", "", "View", nullptr, nullptr, nullptr, nullptr, "", "", -1,
         [](MainWindow& w) { w.ViewCommand(false, false, false, "PopView"); },
         [](MainWindow& w) { return IsFile(w) && IsViewerExtension(CurrentEntry(w)->Name); }},
        {"ViewAsText", "PopViewAsText", "", "View as text", "View as text the last selected file or directory",
         "BTNViewAsText", "View as &text", nullptr, "", "", -1,
         [](MainWindow& w) { w.ViewCommand(false, true, false, "PopViewAsText"); }, &IsFile},
        {"ViewInfos", "PopViewInfos", "", "View infos", "View informations about the last selected file or directory",
         "BTNViewInfos", "View &infos", nullptr, "", "", -1,
         [](MainWindow& w) { w.ViewCommand(false, false, true, "PopViewInfos"); }, nullptr},
        {"Copy", "PopCopy", "", "Copy", "Copy selected files and directories", "BTNCopy", "&Copy", "Copy", "F5", "",
         -1, [](MainWindow& w) { w.RunFileCommand(FO_COPY); }, nullptr},
        {"Move", "PopMove", "", "Move", "Move selected files and directories", "BTNMove", "&Move", "Move", "", "F6",
         -1, [](MainWindow& w) { w.RunFileCommand(FO_MOVE); }, nullptr},
        {"Delete", "PopDelete", "", "Delete", "Delete selected files and directories", "BTNDelete", "&Delete",
         "Delete", "F8", "", -1, [](MainWindow& w) { w.RunFileCommand(FO_DELETE); }, nullptr},
        {"Rename", "PopRename", "", "Rename", "Rename the selected file or directory", "BTNRename", "Re&name",
         "Rename", "F2; Shift+F6", "", -1, [](MainWindow& w) { w.RunFileCommand(FO_RENAME); }, nullptr},
        {"NewDir", "PopNewDir", "", "New dir/zip", "Create new directory", "BTNNewDir", "Ne&w dir/zip", "New dir", "",
         "F7", -1, [](MainWindow& w) { w.NewDirClick(); }, nullptr},
        {"Refresh", "PopRefresh", "Refresh1 NavRefresh", "Refresh", "Refresh directory listing", "BTNRefresh",
         "&Refresh", nullptr, "", "", -1, [](MainWindow& w) { w.BTNRefreshClick(); }, nullptr},
        {"Properties", "PopProperties", "", "Properties", nullptr, "BTNProperties", "Properties", nullptr, "", "", -1,
         [](MainWindow& w) { w.RunFileCommand(FO_PROPERTIES); }, nullptr},
        {"FolderSizes", "PopFolderSizes", "", "Folder sizes",
         "Sum up the selected folders of a remote place over the connection", nullptr, nullptr, nullptr,
         "Alt+Shift+Return", "", -1,
         [](MainWindow& w) {
             PaneView* pane = w.ActivePane();
             if (!IsRemotePlace(pane->Data().Place())) {
                 w.ShowStatus("Folder sizes here are summed by themselves");
                 return;
             }
             SumRemoteFolders(pane->Data(), *pane, *w.messages_, &w);
         },
         [](MainWindow& w) {
             const TFileData* e = CurrentEntry(w);
             return e && e->Kind == fkDirectory && IsRemotePlace(w.ActivePane()->Data().Place());
         }},
        {"TestArchive", "PopTestArchive", "", "Test archive", "Read every member of the archive through to find damage",
         nullptr, nullptr, nullptr, "", "", -1, [](MainWindow& w) { w.TestArchiveClick(); },
         [](MainWindow& w) { return !w.ArchiveToTest().empty(); }},
        {"TerminalHere", "PopTerminalHere", "", "Terminal here", "Open the desktop's terminal in this folder", nullptr,
         nullptr, nullptr, "", "", -1, [](MainWindow& w) { w.TerminalHereClick(); }, nullptr},
        {"Describe", "Describe", "", "Describe", "Describe file or directory", "BTNDescribe", "De&scribe", nullptr, "",
         "", -1,
         [](MainWindow& w) {
             PaneView* pane = w.ActivePane();
             if (w.RefusedInsideArchive(pane, pane->SelectedRows()))
                 return;
             RunDescribeCommand(pane->Data(), *pane, *w.messages_, &w, {}, w.locale_);
         },
         nullptr},
        // Alt+T is "View as text"'s: one letter, one command.
        {"Attributes", "Attributes", "", "Attributes", "View/change file or directory attributes", "BTNAttributes",
         "&Attributes", nullptr, "", "", -1,
         [](MainWindow& w) {
             PaneView* pane = w.ActivePane();
             if (w.RefusedInsideArchive(pane, pane->SelectedRows()))
                 return;
             RunAttributesCommand(pane->Data(), *pane, *w.messages_, &w);
         },
         nullptr},
        {"Direction", "Direction", "", "Swap direction", nullptr, "direction", ">>>>", nullptr, "", "", -1,
         [](MainWindow& w) { w.DirectionClick(); }, nullptr},
        {"ToZip", "ToZip", "", "To zip", nullptr, "BTNToZip", "To zip", nullptr, "", "", -1,
         [](MainWindow& w) { w.BTNToZipClick(); }, nullptr},

        // The keys of two-pane file managers, with their places on the bar.
        {"QuickView", "QuickView", "", "View in the viewer", "Show the entry under the cursor in the viewer", nullptr,
         nullptr, "View", "F3", "", -1, [](MainWindow& w) { w.QuickViewClick(); }, nullptr},
        {"Edit", "Edit", "", "Edit", "Edit the file under the cursor", nullptr, nullptr, "Edit", "F4", "", -1,
         [](MainWindow& w) { w.EditEntryClick(); }, nullptr},
        {"NewFile", "NewFile", "", "New file", "Create an empty file and edit it", nullptr, nullptr, "New file",
         "Shift+F4", "", -1, [](MainWindow& w) { w.NewFileClick(); }, nullptr},
        {"QuickViewer", "QuickViewer", "", "Quick viewer", "Quick viewer on or off", nullptr, nullptr, "Viewer",
         "Ctrl+Q", "", 2, [](MainWindow& w) { w.SysHotKeyHotKey(2); }, nullptr},
        {"FullScreenViewer", "FullScreenViewer", "", "Full screen viewer", "Full screen viewer on or off", nullptr,
         nullptr, "Full screen", "", "", 1, [](MainWindow& w) { w.SysHotKeyHotKey(1); }, nullptr},

        // The tool bar, the header popup and the tray menu.
        {"Back", "NavBack", "", "Back", "Back", nullptr, nullptr, nullptr, "", "", -1,
         [](MainWindow& w) { w.NavBackClick(); }, nullptr},
        {"Forward", "NavForward", "", "Forward", "Forward", nullptr, nullptr, nullptr, "", "", -1,
         [](MainWindow& w) { w.NavForwardClick(); }, nullptr},
        {"Root", "NavRoot", "", "Root", "Root", nullptr, nullptr, nullptr, "", "", -1,
         [](MainWindow& w) { w.NavRootClick(); }, nullptr},
        {"AutoSizeColumns", "Autosizecolumns1", "", "Auto-size columns", nullptr, nullptr, nullptr, nullptr, "", "",
         -1,
         [](MainWindow& w) {
             if (w.headerPopupPane_)
                 w.AutoSizeColumns(w.headerPopupPane_);
         },
         nullptr},
        {"Restore", "Restore1", "", "Restore", nullptr, nullptr, nullptr, nullptr, "", "", -1,
         [](MainWindow& w) { w.ShowProgram(); }, nullptr},
        {"ShutdownFromTray", "Shutdown2", "", "Shut down", nullptr, nullptr, nullptr, nullptr, "", "", -1,
         [](MainWindow& w) { w.ShutdownProgram(); }, nullptr},
    };
    return rows;
}

CommandTable::CommandTable(MainWindow& window) : window_(window)
{
    const std::vector<CommandRow>& rows = Rows();
    for (size_t i = 0; i < rows.size(); ++i) {
        const CommandRow& row = rows[i];
        auto* action = new QAction(QString::fromUtf8(row.text), &window);
        action->setObjectName(row.object);
        if (row.hint) {
            action->setToolTip(row.hint);
            action->setStatusTip(row.hint);
        }
        action->setShortcutContext(Qt::WindowShortcut);
        void (*run)(MainWindow&) = row.run;
        QObject::connect(action, &QAction::triggered, &window, [&window, run] { run(window); });
        index_.insert(row.name, int(i));
        index_.insert(row.object, int(i));
        for (const QString& alias : QString(row.aliases).split(' ', Qt::SkipEmptyParts))
            index_.insert(alias, int(i));
        actions_.push_back(action);
    }
    SetCommanderKeys(false);
}

void CommandTable::AttachToWindow()
{
    // Wherever the focus is in the window, the keys reach the command, also
    // while its menu is hidden (the full-screen viewer hides the menu bar).
    for (QAction* action : actions_)
        window_.addAction(action);
}

QAction* CommandTable::Action(const QString& name) const
{
    const auto it = index_.find(name);
    return it == index_.end() ? nullptr : actions_[size_t(*it)];
}

const CommandRow* CommandTable::Row(const QString& name) const
{
    const auto it = index_.find(name);
    return it == index_.end() ? nullptr : &Rows()[size_t(*it)];
}

void CommandTable::AddTo(QMenu* menu, std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        if (QString(name) == "-") {
            menu->addSeparator();
            continue;
        }
        QAction* action = Action(name);
        Q_ASSERT_X(action, "CommandTable::AddTo", name);
        if (!action)
            continue;
        if (action->parent() == &window_)
            action->setParent(menu);
        menu->addAction(action);
    }
}

void CommandTable::AddTo(QToolBar* bar, std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        if (QString(name) == "-") {
            bar->addSeparator();
            continue;
        }
        QAction* action = Action(name);
        Q_ASSERT_X(action, "CommandTable::AddTo", name);
        if (action)
            bar->addAction(action);
    }
}

QPushButton* CommandTable::AddButton(const char* name, QWidget* column)
{
    const CommandRow* row = Row(name);
    Q_ASSERT_X(row && row->button, "CommandTable::AddButton", name);
    auto* button = new QPushButton(QString::fromUtf8(row->buttonText), column);
    button->setObjectName(row->button);
    if (row->hint) {
        button->setToolTip(row->hint);
        button->setStatusTip(row->hint);
    }
    QAction* action = Action(name);
    QObject::connect(button, &QPushButton::clicked, action, &QAction::trigger);
    return button;
}

void CommandTable::SetCommanderKeys(bool on)
{
    commander_ = on;
    const std::vector<CommandRow>& rows = Rows();
    for (size_t i = 0; i < rows.size(); ++i) {
        QList<QKeySequence> keys = QKeySequence::listFromString(rows[i].keys, QKeySequence::PortableText);
        if (on)
            keys += QKeySequence::listFromString(rows[i].commanderKeys, QKeySequence::PortableText);
        // An empty text reads as one empty key, which would hide the keys after it.
        keys.removeAll(QKeySequence());
        actions_[i]->setShortcuts(keys);
    }
}

void CommandTable::OfferForPopup()
{
    const std::vector<CommandRow>& rows = Rows();
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].offered)
            actions_[i]->setEnabled(rows[i].offered(window_));
}

void CommandTable::OfferAll()
{
    const std::vector<CommandRow>& rows = Rows();
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].offered)
            actions_[i]->setEnabled(true);
}

std::vector<CommandTable::BarEntry> CommandTable::BarEntries(const std::function<QString(int)>& hotKeyName) const
{
    std::vector<BarEntry> entries;
    const std::vector<CommandRow>& rows = Rows();
    for (size_t i = 0; i < rows.size(); ++i) {
        const CommandRow& row = rows[i];
        if (!row.barText)
            continue;
        QString key;
        if (row.hotKey >= 0 && hotKeyName)
            key = hotKeyName(row.hotKey);
        else if (!actions_[i]->shortcuts().isEmpty())
            key = actions_[i]->shortcuts().first().toString(QKeySequence::NativeText);
        entries.push_back({row.name, key, row.barText, actions_[i]});
    }
    std::stable_sort(entries.begin(), entries.end(), [](const BarEntry& a, const BarEntry& b) {
        const int fa = FunctionKeyNumber(a.key), fb = FunctionKeyNumber(b.key);
        return (fa ? fa : 1000) < (fb ? fb : 1000);
    });
    return entries;
}

} // namespace tarnel
