#pragma once
// Mounted volumes: the Linux meaning of the program's "drives".
#include <cstdint>
#include <string>
#include <vector>

namespace tarnel {

enum class DriveType { Removable, Fixed, Network, CdRom, RamDisk };

struct Volume {
    std::string root;          // mount point, no trailing "/" except for "/" itself
    DriveType type = DriveType::Fixed;
    std::string fsType;        // as in mountinfo, e.g. "ext4", "nfs4"
    std::string source;        // mount source, e.g. "/dev/sda1", "server:/share"
    std::string label;         // file system label, lower-cased; empty when none
    std::string displayText;   // row name and drive button hint
    std::string buttonCaption; // last name of the mount point, "/" for the root
};

using DriveList = std::vector<Volume>;

// One line of /proc/self/mountinfo, unescaped (\040 and friends).
struct MountInfoLine {
    std::string mountPoint;
    std::string fsType;
    std::string source;
};

// Parses mountinfo text; malformed lines are skipped.
std::vector<MountInfoLine> ParseMountInfo(const std::string& text);

// Decides which mounts are worth showing and in which order ("/" first, then by
// mount point, at most 26). isRemovableSource tells whether a block device source
// is removable; labelOf gives the lower-cased label of a source (may be empty).
struct VolumeProbe {
    virtual ~VolumeProbe() = default;
    virtual bool IsRemovableDevice(const std::string& source) const = 0;
    virtual std::string LabelOf(const std::string& source) const = 0;
};
DriveList SelectVolumes(const std::vector<MountInfoLine>& mounts, const VolumeProbe& probe);

// Reads /proc/self/mountinfo, /sys/block and /dev/disk/by-label of this machine.
DriveList ReadSystemDriveList();

// The process-wide drive list that panes list as drive rows. Refreshed on
// request (start-up, "Refresh drive list", mount table changes).
const DriveList& SystemDrives();
void RefreshSystemDrives();
void SetSystemDrives(DriveList drives); // for tests and headless runs

// statvfs of a volume root: f_blocks * f_frsize and f_bavail * f_frsize; 0 on failure.
int64_t DriveTotalBytes(const std::string& root);
int64_t DriveFreeBytes(const std::string& root);

// The mount point of the volume that holds path: the longest mount point that
// is a prefix of path at a "/" boundary ("/" when nothing else fits).
std::string VolumeRootOf(const std::string& path, const std::vector<MountInfoLine>& mounts);
std::string VolumeRootOf(const std::string& path);

} // namespace tarnel
