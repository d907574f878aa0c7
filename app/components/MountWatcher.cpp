#include "app/components/MountWatcher.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <tuple>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace tarnel {

namespace {

// Mounting one stick touches the table several times (mount, remount with
// options, a bind or two); one look after things settle is enough.
constexpr int kSettleMs = 200;

using MountKey = std::tuple<std::string, std::string, std::string>;

std::vector<MountKey> SortedKeys(const std::vector<MountInfoLine>& mounts)
{
    std::vector<MountKey> keys;
    keys.reserve(mounts.size());
    for (const MountInfoLine& m : mounts)
        keys.emplace_back(m.mountPoint, m.fsType, m.source);
    std::sort(keys.begin(), keys.end());
    return keys;
}

bool IsAtOrBelow(const std::string& path, const std::string& base)
{
    if (base.empty() || path.compare(0, base.size(), base) != 0)
        return false;
    return path.size() == base.size() || base.back() == '/' || path[base.size()] == '/';
}

} // namespace

std::vector<std::string> ChangedMountPoints(const std::vector<MountInfoLine>& before,
                                            const std::vector<MountInfoLine>& after)
{
    const std::vector<MountKey> a = SortedKeys(before);
    const std::vector<MountKey> b = SortedKeys(after);
    std::vector<MountKey> diff;
    std::set_symmetric_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(diff));
    std::vector<std::string> points;
    for (const MountKey& k : diff)
        points.push_back(std::get<0>(k));
    std::sort(points.begin(), points.end());
    points.erase(std::unique(points.begin(), points.end()), points.end());
    return points;
}

bool PlaceIsOnChangedVolume(const std::string& panePath, const std::vector<std::string>& changedMountPoints)
{
    return std::any_of(changedMountPoints.begin(), changedMountPoints.end(),
                       [&](const std::string& mp) { return IsAtOrBelow(panePath, mp); });
}

MountWatcher::MountWatcher(QObject* parent, std::string mountInfoPath)
    : QObject(parent), path_(std::move(mountInfoPath)), settle_(new QTimer(this))
{
    settle_->setSingleShot(true);
    settle_->setInterval(kSettleMs);
    connect(settle_, &QTimer::timeout, this, &MountWatcher::Rescan);

    fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    mounts_ = ParseMountInfo(ReadTable());
    if (fd_ >= 0) {
        notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Exception, this);
        connect(notifier_, &QSocketNotifier::activated, settle_, qOverload<>(&QTimer::start));
    }
}

MountWatcher::~MountWatcher()
{
    delete notifier_; // before the descriptor it watches goes away
    if (fd_ >= 0)
        ::close(fd_);
}

std::string MountWatcher::ReadTable() const
{
    if (fd_ < 0 || lseek(fd_, 0, SEEK_SET) != 0)
        return {};
    std::string text;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n > 0)
            text.append(buffer, size_t(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    return text;
}

void MountWatcher::Rescan()
{
    std::vector<MountInfoLine> now = ParseMountInfo(ReadTable());
    // The table is never empty; a failed read must not look like every volume gone.
    if (now.empty())
        return;
    std::vector<std::string> changes = ChangedMountPoints(mounts_, now);
    mounts_ = std::move(now);
    if (changes.empty())
        return;
    lastChanges_ = std::move(changes);
    emit mountsChanged();
}

} // namespace tarnel
