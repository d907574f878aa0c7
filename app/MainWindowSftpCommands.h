#pragma once
// The pane commands on remote places that the disk's code cannot serve:
// descriptions, folder totals on demand and properties. Everything that asks
// the server runs on a worker; the window never waits for it.
#include "app/DescriptionDialog.h"

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

class QLabel;
class QVBoxLayout;

namespace tarnel {

class PaneControls;
class SftpSource;
class UserMessages;
class WorkerAnswers;
struct RemoteEntry;
struct TDirData;

// The pane's remote source; null when its place is not remote.
std::shared_ptr<const SftpSource> RemoteSourceOf(const TDirData& pane);

// Describe's store for the pane's remote place; empty (no read) when the
// pane's source keeps no descriptions.
DescriptionStore RemoteDescriptionStore(const TDirData& pane);

// Sums the selected folders of a remote pane (or the one under the cursor)
// over the connection, on a worker; each total shows in its row as it comes.
// A folder whose total cannot be had keeps its row without a size, and the
// user is told why. The answers belong to owner; pane, controls and messages
// must outlive it.
void SumRemoteFolders(TDirData& pane, PaneControls& controls, UserMessages& messages, QObject* owner);

// What the server says of remote entries: name, type, size, times,
// permissions, owner and group numbers and a link's target, all as plain
// text. It opens at once; the facts are asked on a worker and shown as they
// come, and a dialog closed first leaves them behind.
class RemotePropertiesDialog : public QDialog {
    Q_OBJECT
public:
    RemotePropertiesDialog(std::shared_ptr<const SftpSource> source, std::vector<std::string> paths,
                           QWidget* parent = nullptr);
    bool FactsDone() const { return done_; }
    // Every row shown, "Label: value" a line, for tests and the clipboard.
    QString Text() const;

    struct Facts; // one entry, as the worker found it

private:
    void Show(const std::vector<Facts>& facts);

    std::vector<std::string> paths_;
    QVBoxLayout* rows_ = nullptr;
    QLabel* waiting_ = nullptr;
    std::vector<std::pair<QString, QLabel*>> shown_;
    WorkerAnswers* answers_ = nullptr;
    bool done_ = false;
};

// The permission bits as "rwxr-xr-x", with the set-id and sticky bits in the
// places ls gives them.
std::string PermissionText(uint32_t permissions);

} // namespace tarnel
