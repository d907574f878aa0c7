#pragma once
// Notices volumes being mounted and unmounted, the Linux form of media arriving
// and being removed, so that panes showing them can be re-read.
#include "platform/Volumes.h"

#include <QObject>

#include <string>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace tarnel {

// Mount points that appeared or vanished between two mount tables, sorted, each
// once. A mount point that now holds another file system counts as well.
std::vector<std::string> ChangedMountPoints(const std::vector<MountInfoLine>& before,
                                            const std::vector<MountInfoLine>& after);

// True when panePath is one of changedMountPoints or lies below one of them
// (at a "/" boundary: "/media/usb2" is not below "/media/usb").
bool PlaceIsOnChangedVolume(const std::string& panePath, const std::vector<std::string>& changedMountPoints);

class MountWatcher : public QObject {
    Q_OBJECT
public:
    // The kernel flags the mount table file with POLLPRI on every change.
    // Another file may be given for tests; it is read only by Rescan.
    explicit MountWatcher(QObject* parent = nullptr, std::string mountInfoPath = "/proc/self/mountinfo");
    ~MountWatcher() override;

    bool IsWatching() const { return fd_ >= 0; }
    const std::vector<MountInfoLine>& Mounts() const { return mounts_; }
    // The mount points behind the latest mountsChanged.
    const std::vector<std::string>& LastChanges() const { return lastChanges_; }

public slots:
    // Reads the table again; emits mountsChanged when volumes appeared or vanished.
    void Rescan();

signals:
    void mountsChanged();

private:
    std::string ReadTable() const;

    std::string path_;
    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* settle_ = nullptr;
    std::vector<MountInfoLine> mounts_;
    std::vector<std::string> lastChanges_;
};

} // namespace tarnel
