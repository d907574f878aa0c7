// Testing an archive the archive source reads: every member read through on
// the runner, the result said once it ends.
#include "app/MainWindow.h"
#include "app/UserMessages.h"
#include "fileops/BackgroundWork.h"
#include "fileops/model/Operation.h"
#include "panes/PathUtil.h"
#include "sources/archive/ArchiveNames.h"
#include "sources/archive/ArchiveVerify.h"
#include "widgets/PaneView.h"

#include <QFile>

namespace tarnel {

std::string MainWindow::ArchiveToTest()
{
    const PaneView* pane = ActivePane();
    const TDirData& data = pane->Data();
    if (std::string_view(data.Source()) == kArchiveSourceName)
        return data.ArchiveFile();
    const int row = pane->CurrentRow();
    if (row < 0 || row >= data.Count || !data.Can(Capability::DiskPaths))
        return {};
    const TFileData& entry = data.Item(row);
    if (entry.Kind != fkFile || !HasArchiveSuffix(entry.Name))
        return {};
    return AddPathDelimiter(data.DirOf(entry)) + entry.Name;
}

void MainWindow::TestArchiveClick()
{
    const std::string path = ArchiveToTest();
    if (path.empty()) {
        messages_->Information("Put the cursor on an archive, or go into one, to test it.");
        return;
    }
    auto report = std::make_shared<ArchiveTestReport>();
    auto op = std::make_shared<Operation>(OperationKind::ArchiveTest, "Test " + path, [path, report](Operation& op) {
        *report = TestArchive(path, [&op](const std::string& member, uint64_t bytes) {
            return op.Report(0, 0, bytes, 0, member);
        });
        return report->stopped ? OperationState::Cancelled : OperationState::Done;
    });
    const bool started = Background().Run(op, RunMode::Foreground, nullptr, [this, path, report](const Operation& ended) {
        if (ended.State() == OperationState::Cancelled)
            return;
        if (report->problems.empty()) {
            messages_->Information(QFile::decodeName(QByteArray::fromStdString(
                "No errors were found in " + path + " (" + std::to_string(report->members) + " members).")));
            return;
        }
        std::string text = "Errors were found in " + path + ":";
        for (size_t i = 0; i < report->problems.size() && i < 10; ++i)
            text += "\n" + report->problems[i];
        messages_->Warning(QFile::decodeName(QByteArray::fromStdString(text)));
    });
    if (!started)
        messages_->Warning("The program is ending: no new file operation starts.");
}

} // namespace tarnel
