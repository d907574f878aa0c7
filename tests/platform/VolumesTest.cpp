#include "platform/Volumes.h"
#include "platform/VolumeSpace.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

using namespace tarnel;

namespace {

class FakeProbe : public VolumeProbe {
public:
    std::set<std::string> removable;
    std::map<std::string, std::string> labels;

    bool IsRemovableDevice(const std::string& source) const override { return removable.count(source) > 0; }
    std::string LabelOf(const std::string& source) const override
    {
        auto it = labels.find(source);
        return it == labels.end() ? std::string() : it->second;
    }
};

std::vector<MountInfoLine> Mounts(std::initializer_list<MountInfoLine> lines) { return lines; }

std::vector<std::string> DisplayTexts(const DriveList& drives)
{
    std::vector<std::string> texts;
    for (const Volume& v : drives)
        texts.push_back(v.displayText);
    return texts;
}

} // namespace

TEST(MountInfo, ParsesFieldsAroundTheSeparatorAndUnescapes)
{
    const std::string text = "26 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
                             "40 26 8:17 / /media/My\\040Disk\\134x rw master:3 shared:9 - vfat /dev/sdb1 rw\n"
                             "41 26 0:50 / /mnt/tab\\011nl\\012end rw - nfs4 srv:/a\\040b rw,vers=4.2\n"
                             "42 26 0:51 / /mnt/no-optional rw - tmpfs tmpfs rw\n"
                             "garbage line\n"
                             "43 26 0:52 / /mnt/no-separator rw shared:1 ext4 /dev/sda1 rw\n"
                             "44 26 0:53 / /mnt/cut rw - ext4\n"
                             "\n"
                             "45 26 0:54 / /mnt/lone\\\\ rw - ext4 /dev/sdc1 rw";
    auto m = ParseMountInfo(text);
    ASSERT_EQ(5u, m.size());
    EXPECT_EQ("/", m[0].mountPoint);
    EXPECT_EQ("ext4", m[0].fsType);
    EXPECT_EQ("/dev/vda", m[0].source);
    EXPECT_EQ("/media/My Disk\\x", m[1].mountPoint);
    EXPECT_EQ("vfat", m[1].fsType);
    EXPECT_EQ("/dev/sdb1", m[1].source);
    EXPECT_EQ("/mnt/tab\tnl\nend", m[2].mountPoint);
    EXPECT_EQ("srv:/a b", m[2].source);
    EXPECT_EQ("/mnt/no-optional", m[3].mountPoint);
    EXPECT_EQ("tmpfs", m[3].fsType);
    EXPECT_EQ("/mnt/lone\\\\", m[4].mountPoint); // not an escape: kept as written
}

TEST(SelectVolumes, KeepsUsefulMountsInOrderWithTheirTexts)
{
    FakeProbe probe;
    probe.removable = {"/dev/sdb1"};
    probe.labels = {{"/dev/sda3", "HOME"}, {"/dev/sr0", "Disc 1"}, {"/dev/sda1", "efi"}};
    auto mounts = Mounts({
        {"/sys", "sysfs", "sysfs"},
        {"/proc", "proc", "proc"},
        {"/dev", "devtmpfs", "udev"},
        {"/dev/shm", "tmpfs", "tmpfs"},
        {"/run", "tmpfs", "tmpfs"},
        {"/run/user/1000", "tmpfs", "tmpfs"},
        {"/run/user/1000/gvfs", "fuse.gvfsd-fuse", "gvfsd-fuse"},
        {"/sys/fs/cgroup", "cgroup2", "cgroup2"},
        {"/proc/sys/fs/binfmt_misc", "autofs", "systemd-1"},
        {"/", "ext4", "/dev/sda2"},
        {"/boot/efi", "vfat", "/dev/sda1"},
        {"/home", "ext4", "/dev/sda3"},
        {"/tmp", "tmpfs", "tmpfs"},
        {"/snap/core/100", "squashfs", "/dev/loop0"},
        {"/media/stick", "vfat", "/dev/sdb1"},
        {"/run/media/bob/CARD", "exfat", "/dev/sdc1"},
        {"/mnt/nas", "nfs4", "Server:/Share"},
        {"/mnt/cd", "iso9660", "/dev/sr0"},
        {"/mnt/ram", "ramfs", "ramfs"},
        {"/mnt/portal", "fuse.portal", "portal"},
        {"/srv/bind", "none", "none"},
    });
    DriveList drives = SelectVolumes(mounts, probe);

    EXPECT_EQ((std::vector<std::string> {
                  "/ []",
                  "/boot/efi [efi]",
                  "/home [home]",
                  "/media/stick",
                  "/mnt/cd [disc 1]",
                  "/mnt/nas server:/share",
                  "/mnt/ram []",
                  "/run/media/bob/CARD",
                  "/run/user/1000/gvfs gvfsd-fuse",
                  "/tmp []",
              }),
        DisplayTexts(drives));
    const std::map<std::string, DriveType> types = {{"/", DriveType::Fixed}, {"/boot/efi", DriveType::Fixed},
        {"/media/stick", DriveType::Removable}, {"/mnt/cd", DriveType::CdRom}, {"/mnt/nas", DriveType::Network},
        {"/mnt/ram", DriveType::RamDisk}, {"/run/media/bob/CARD", DriveType::Removable}, {"/tmp", DriveType::RamDisk}};
    for (const Volume& v : drives) {
        if (types.count(v.root)) {
            EXPECT_EQ(types.at(v.root), v.type) << v.root;
        }
    }
    EXPECT_EQ("/", drives[0].buttonCaption);
    EXPECT_EQ("efi", drives[1].buttonCaption);
    EXPECT_EQ("CARD", drives[7].buttonCaption);
    EXPECT_EQ("home", drives[2].label);
    EXPECT_EQ("Server:/Share", drives[5].source);
}

TEST(SelectVolumes, RootIsAlwaysThereAndFirst)
{
    FakeProbe probe;
    // Containers: an overlay root is still the root.
    DriveList overlay = SelectVolumes(Mounts({{"/a", "ext4", "/dev/sdb1"}, {"/", "overlay", "overlay"}}), probe);
    EXPECT_EQ((std::vector<std::string> {"/ []", "/a []"}), DisplayTexts(overlay));
    EXPECT_EQ(DriveType::Fixed, overlay[0].type);

    DriveList none = SelectVolumes({}, probe);
    ASSERT_EQ(1u, none.size());
    EXPECT_EQ("/", none[0].root);
    EXPECT_EQ("/", none[0].buttonCaption);
}

TEST(SelectVolumes, LaterMountOnTheSamePointWins)
{
    FakeProbe probe;
    auto texts = DisplayTexts(SelectVolumes(Mounts({
                                                {"/", "ext4", "/dev/sda1"},
                                                {"/mnt/x", "ext4", "/dev/sda4"},
                                                {"/mnt/x", "cifs", "//NAS/x"},
                                                {"/mnt/y", "ext4", "/dev/sda5"},
                                                {"/mnt/y", "autofs", "systemd-1"},
                                            }),
        probe));
    EXPECT_EQ((std::vector<std::string> {"/ []", "/mnt/x //nas/x"}), texts);
}

TEST(SelectVolumes, SortsByBytesAndStopsAtTwentySix)
{
    FakeProbe probe;
    std::vector<MountInfoLine> mounts;
    for (int i = 39; i >= 0; --i)
        mounts.push_back({"/mnt/d" + std::string(i < 10 ? "0" : "") + std::to_string(i), "ext4", "/dev/x"});
    mounts.push_back({"/", "ext4", "/dev/sda1"});
    DriveList drives = SelectVolumes(mounts, probe);
    ASSERT_EQ(26u, drives.size());
    EXPECT_EQ("/", drives[0].root);
    EXPECT_EQ("/mnt/d00", drives[1].root);
    EXPECT_EQ("/mnt/d24", drives[25].root);

    auto bytes = SelectVolumes(
        Mounts({{"/mnt/\xc3\xa9", "ext4", "/dev/a"}, {"/mnt/a", "ext4", "/dev/b"}, {"/mnt/Z", "ext4", "/dev/c"}}),
        probe);
    ASSERT_EQ(4u, bytes.size());
    EXPECT_EQ("/mnt/Z", bytes[1].root);
    EXPECT_EQ("/mnt/a", bytes[2].root);
    EXPECT_EQ("/mnt/\xc3\xa9", bytes[3].root);
}

TEST(VolumeRoot, LongestMountAtAPathBoundary)
{
    auto mounts = Mounts({{"/", "ext4", "/dev/sda1"}, {"/home", "ext4", "/dev/sda2"}, {"/home/bob/nas", "nfs", "s:/x"},
        {"/media/usb", "vfat", "/dev/sdb1"}});
    EXPECT_EQ("/home", VolumeRootOf("/home/x", mounts));
    EXPECT_EQ("/home", VolumeRootOf("/home", mounts));
    EXPECT_EQ("/home", VolumeRootOf("/home/", mounts));
    EXPECT_EQ("/", VolumeRootOf("/homework", mounts));
    EXPECT_EQ("/home/bob/nas", VolumeRootOf("/home/bob/nas/a/b/", mounts));
    EXPECT_EQ("/home", VolumeRootOf("/home/bob/nasty", mounts));
    EXPECT_EQ("/media/usb", VolumeRootOf("/media/usb/", mounts));
    EXPECT_EQ("/", VolumeRootOf("/etc", {}));
}

TEST(SystemVolumes, ThisMachineHasARootWithSpace)
{
    DriveList drives = ReadSystemDriveList();
    ASSERT_FALSE(drives.empty());
    EXPECT_EQ("/", drives[0].root);
    EXPECT_LE(drives.size(), 26u);
    EXPECT_GT(DriveTotalBytes("/"), 0);
    EXPECT_LE(DriveFreeBytes("/"), DriveTotalBytes("/"));
    EXPECT_EQ(0, DriveTotalBytes("/no/such/place"));
    EXPECT_EQ(0, DriveFreeBytes("/no/such/place"));
    EXPECT_EQ("/", VolumeRootOf("/"));
    EXPECT_EQ("/proc", VolumeRootOf("/proc/self"));
}

TEST(SystemVolumes, SetListReplacesTheProcessList)
{
    Volume v;
    v.root = "/x";
    SetSystemDrives({v});
    ASSERT_EQ(1u, SystemDrives().size());
    EXPECT_EQ("/x", SystemDrives()[0].root);
    RefreshSystemDrives();
    EXPECT_EQ("/", SystemDrives()[0].root);
}

// Asking for a volume's space never waits on the volume: the first answer is
// "not yet", a worker asks statvfs, and the listener hears when it is in.
TEST(VolumeSpace, AnsweredByAWorkerThenKept)
{
    char tmpl[] = "/tmp/tarnel-space-XXXXXX";
    const std::string root = mkdtemp(tmpl);
    std::mutex mutex;
    std::condition_variable heard;
    std::vector<std::string> answered;
    int owner = 0;
    SetVolumeSpaceListener(&owner, [&](const std::string& r) {
        std::lock_guard lock(mutex);
        answered.push_back(r);
        heard.notify_all();
    });

    EXPECT_FALSE(VolumeSpace(root).answered);
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(heard.wait_for(lock, std::chrono::seconds(10), [&] { return !answered.empty(); }));
        EXPECT_EQ(answered, std::vector<std::string>{root});
    }
    const VolumeSpaceAnswer space = VolumeSpace(root);
    EXPECT_TRUE(space.answered);
    EXPECT_EQ(space.totalBytes, DriveTotalBytes(root));
    EXPECT_GT(space.totalBytes, 0);

    const std::string gone = root + "/no/such/place";
    EXPECT_FALSE(VolumeSpace(gone).answered);
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(heard.wait_for(lock, std::chrono::seconds(10), [&] { return answered.size() >= 2; }));
    }
    EXPECT_TRUE(VolumeSpace(gone).answered);
    EXPECT_EQ(VolumeSpace(gone).totalBytes, 0) << "a failed statvfs is answered as nothing";

    SetVolumeSpaceListener(&owner, nullptr);
    rmdir(root.c_str());
}
