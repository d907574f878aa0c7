// The tools of the main window: the batch renamer, the ID3 tag manager and
// the installed-software list, each a modal dialog made for one use.
#include "app/MainWindow.h"
#include "panes/ReadDirectory.h"
#include "tools/DlgId3.h"
#include "tools/DlgRenamer.h"
#include "tools/DlgUninstall.h"
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
    TDlgRenamer dialog(data, [this, &data] { ReadDirectory(data, locale_); }, *messages_, registry_, this);
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
