#include "app/components/MountWatcher.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fstream>

#include <sys/mount.h>

using namespace tarnel;

namespace {

using Points = std::vector<std::string>;

const std::vector<MountInfoLine> kBase = {
    {"/", "ext4", "/dev/sda2"},
    {"/home", "ext4", "/dev/sda3"},
    {"/proc", "proc", "proc"},
};

std::vector<MountInfoLine> With(std::vector<MountInfoLine> mounts, const MountInfoLine& extra)
{
    mounts.push_back(extra);
    return mounts;
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

} // namespace

TEST(MountChanges, AppearedVanishedAndReplacedMountPoints)
{
    EXPECT_EQ(Points{}, ChangedMountPoints(kBase, kBase));

    std::vector<MountInfoLine> shuffled = kBase;
    std::reverse(shuffled.begin(), shuffled.end());
    EXPECT_EQ(Points{}, ChangedMountPoints(kBase, shuffled)) << "order is not a change";

    const auto withStick = With(kBase, {"/media/me/STICK", "vfat", "/dev/sdb1"});
    EXPECT_EQ(Points{"/media/me/STICK"}, ChangedMountPoints(kBase, withStick));
    EXPECT_EQ(Points{"/media/me/STICK"}, ChangedMountPoints(withStick, kBase));

    // Another medium under the same mount point between two looks.
    const auto otherStick = With(kBase, {"/media/me/STICK", "exfat", "/dev/sdc1"});
    EXPECT_EQ(Points{"/media/me/STICK"}, ChangedMountPoints(withStick, otherStick));

    // One mount stacked on top of another at the same place, then removed.
    const auto stacked = With(withStick, {"/media/me/STICK", "vfat", "/dev/sdd1"});
    EXPECT_EQ(Points{"/media/me/STICK"}, ChangedMountPoints(withStick, stacked));
    EXPECT_EQ(Points{"/media/me/STICK"}, ChangedMountPoints(stacked, withStick));

    const auto two = With(With(kBase, {"/mnt/b", "nfs4", "srv:/b"}), {"/mnt/a", "cifs", "//srv/a"});
    EXPECT_EQ((Points{"/mnt/a", "/mnt/b"}), ChangedMountPoints(two, kBase)) << "sorted, each once";
}

TEST(MountChanges, PlaceIsOnChangedVolumeAtSlashBoundaries)
{
    const Points changed = {"/media/usb", "/mnt/net/"};
    EXPECT_TRUE(PlaceIsOnChangedVolume("/media/usb", changed));
    EXPECT_TRUE(PlaceIsOnChangedVolume("/media/usb/", changed));
    EXPECT_TRUE(PlaceIsOnChangedVolume("/media/usb/photos/2020", changed));
    EXPECT_TRUE(PlaceIsOnChangedVolume("/mnt/net/x", changed));
    EXPECT_FALSE(PlaceIsOnChangedVolume("/media/usb2", changed));
    EXPECT_FALSE(PlaceIsOnChangedVolume("/media/usb2/photos", changed));
    EXPECT_FALSE(PlaceIsOnChangedVolume("/media", changed)) << "above the mount point";
    EXPECT_FALSE(PlaceIsOnChangedVolume("/home/me", changed));
    EXPECT_FALSE(PlaceIsOnChangedVolume("/home/me", {}));
    EXPECT_FALSE(PlaceIsOnChangedVolume("", changed));

    EXPECT_TRUE(PlaceIsOnChangedVolume("/home/me", {"/"})) << "everything lies on the root";
    EXPECT_TRUE(PlaceIsOnChangedVolume("/", {"/"}));
}

TEST(MountWatcher, RescanSignalsOnlyWhenVolumesComeOrGo)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string table = dir.path().toStdString() + "/mountinfo";
    const std::string root = "26 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n";
    const std::string stick = "40 26 8:17 / /media/me/My\\040Stick rw - vfat /dev/sdb1 rw\n";
    WriteFile(table, root);

    MountWatcher watcher(nullptr, table);
    ASSERT_TRUE(watcher.IsWatching());
    ASSERT_EQ(1u, watcher.Mounts().size());
    QSignalSpy spy(&watcher, &MountWatcher::mountsChanged);

    // New mount ids and options: the same volumes.
    WriteFile(table, "99 1 254:0 / / ro,noatime shared:7 - ext4 /dev/vda ro\n");
    watcher.Rescan();
    EXPECT_EQ(0, spy.count());

    WriteFile(table, root + stick);
    watcher.Rescan();
    ASSERT_EQ(1, spy.count());
    EXPECT_EQ(Points{"/media/me/My Stick"}, watcher.LastChanges());
    EXPECT_EQ(2u, watcher.Mounts().size());

    // A read that yields nothing is not every volume vanishing.
    WriteFile(table, "");
    watcher.Rescan();
    EXPECT_EQ(1, spy.count());

    WriteFile(table, root);
    watcher.Rescan();
    ASSERT_EQ(2, spy.count());
    EXPECT_EQ(Points{"/media/me/My Stick"}, watcher.LastChanges());
}

TEST(MountWatcher, ReadsThisSystemsTable)
{
    MountWatcher watcher;
    ASSERT_TRUE(watcher.IsWatching());
    const auto& mounts = watcher.Mounts();
    EXPECT_TRUE(std::any_of(mounts.begin(), mounts.end(), [](const MountInfoLine& m) { return m.mountPoint == "/"; }));

    MountWatcher missing(nullptr, "/nonexistent/mountinfo");
    EXPECT_FALSE(missing.IsWatching());
    missing.Rescan(); // harmless
    EXPECT_TRUE(missing.Mounts().empty());
}

TEST(MountWatcher, NoticesARealMountAndUnmount)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string place = QDir(dir.path()).canonicalPath().toStdString();
    MountWatcher watcher;
    QSignalSpy spy(&watcher, &MountWatcher::mountsChanged);

    if (mount("tarnel-test", place.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount here: " << std::strerror(errno);
    struct Unmount {
        std::string place;
        ~Unmount() { umount2(place.c_str(), MNT_DETACH); }
    } unmount{place};

    EXPECT_TRUE(spy.wait(3000));
    EXPECT_EQ(Points{place}, watcher.LastChanges());
    EXPECT_TRUE(PlaceIsOnChangedVolume(place + "/sub", watcher.LastChanges()));

    ASSERT_EQ(0, umount2(place.c_str(), 0));
    EXPECT_TRUE(spy.wait(3000));
    EXPECT_EQ(Points{place}, watcher.LastChanges());
    EXPECT_EQ(2, spy.count());
}
