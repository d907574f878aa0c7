// The tools of the main window: the batch renamer, the ID3 tag manager and
// the installed-software list, each a modal dialog made for one use.
#include "app/MainWindow.h"
#include "panes/ReadDirectory.h"
#include "tools/DlgId3.h"
#include "tools/DlgRenamer.h"
#include "tools/DlgUninstall.h"
#include "tools/model/PaneFiles.h"
#include "sources/SearchSource.h"
#include "widgets/PaneView.h"

#include <QStatusBar>

namespace tarnel {

void MainWindow::RunRenamer(PaneView* pane)
{
    if (!pane->Data().Can(Capability::DiskPaths)) {
        ShowStatus("Working inside ZIP archives is not available yet");
        return;
    }
    TDirData& data = pane->Data();
    // Names are checked against the one folder they are renamed in.
    if (FoldersOfSelectedOrAllFiles(data).size() > 1) {
        messages_->Warning("The renamer works on the files of one folder: select found files of one folder "
                           "(sort by the Description column, which shows each file's folder).");
        return;
    }
    std::vector<int> files = pane->SelectedRows();
    if (files.empty())
        for (int i = 0; i < data.Count; ++i)
            files.push_back(i);
    if (RefusedInsideArchive(pane, files))
        return;
    TDlgRenamer* shown = nullptr;
    TDlgRenamer dialog(
        data,
        [this, &data, &shown] {
            // Found files keep the renamed ones, under their new names.
            if (shown)
                for (const auto& [from, to] : shown->Renamed())
                    search_->Renamed(data.Place(), from, to);
            ReadDirectory(data, locale_);
        },
        *messages_, registry_, this);
    shown = &dialog;
    dialog.SetDescriptionsFollow(settings_.DescriptionsFollow);
    runNameDialog_ ? runNameDialog_(dialog) : dialog.exec();
}

void MainWindow::EditID3tags1Click()
{
    TDirData& data = ActivePane()->Data();
    TDlgId3 dialog(*messages_, registry_, this);
    dialog.OpenForPane(data, [this, &data] { ReadDirectory(data, locale_); });
    runNameDialog_ ? runNameDialog_(dialog) : dialog.exec();
}

void MainWindow::Uninstall1Click()
{
    TDlgUninstall dialog(TDlgUninstall::MachineList(registry_), *messages_, registry_, this);
    runNameDialog_ ? runNameDialog_(dialog) : dialog.exec();
}

} // namespace tarnel
