#include "platform/Volumes.h"
#include "platform/VolumeSpace.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <system_error>
#include <thread>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace tarnel {

namespace {

constexpr size_t kMaxDrives = 26;

bool StartsWith(const std::string& s, const char* prefix)
{
    return s.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// True when path is base itself or lies below it.
bool IsAtOrBelow(const std::string& path, const std::string& base)
{
    if (base == "/")
        return !path.empty() && path[0] == '/';
    return StartsWith(path, base.c_str()) && (path.size() == base.size() || path[base.size()] == '/');
}

std::string AsciiLower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

// The kernel writes space, tab, newline and backslash as \ooo.
std::string UnescapeOctal(const std::string& s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' && IsOctal(s[i + 2]) &&
            IsOctal(s[i + 3])) {
            out += char((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// udev writes unsafe bytes of a link name as \xHH.
std::string UnescapeHex(const std::string& s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' && HexValue(s[i + 2]) >= 0 && HexValue(s[i + 3]) >= 0) {
            out += char(HexValue(s[i + 2]) * 16 + HexValue(s[i + 3]));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<std::string> SplitOnSpaces(const std::string& line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t end = line.find(' ', start);
        fields.push_back(line.substr(start, end - start));
        if (end == std::string::npos)
            return fields;
        start = end + 1;
    }
}

bool IsNetworkFs(const std::string& fs)
{
    static const char* const kTypes[] = {
        "nfs", "nfs4", "cifs", "smb3", "smbfs", "davfs", "fuse.davfs", "fuse.sshfs", "fuse.gvfsd-fuse"};
    return std::any_of(std::begin(kTypes), std::end(kTypes), [&](const char* t) { return fs == t; });
}

bool IsPseudoFs(const std::string& fs)
{
    static const char* const kTypes[] = {"proc", "sysfs", "cgroup", "cgroup2", "devpts", "devtmpfs", "mqueue", "autofs",
        "squashfs", "overlay", "securityfs", "debugfs", "tracefs", "pstore", "bpf", "configfs", "fusectl", "hugetlbfs",
        "binfmt_misc", "efivarfs", "rpc_pipefs", "nsfs", "selinuxfs", "fuse.portal", "fuse.lxcfs"};
    return std::any_of(std::begin(kTypes), std::end(kTypes), [&](const char* t) { return fs == t; });
}

bool IsRamFs(const std::string& fs) { return fs == "tmpfs" || fs == "ramfs"; }
bool IsCdFs(const std::string& fs) { return fs == "iso9660" || fs == "udf"; }
bool IsBlockSource(const std::string& source) { return StartsWith(source, "/dev/"); }
bool IsMediaMount(const std::string& mp) { return IsAtOrBelow(mp, "/media") || IsAtOrBelow(mp, "/run/media"); }

bool IsSystemPlace(const std::string& mp)
{
    return IsAtOrBelow(mp, "/proc") || IsAtOrBelow(mp, "/sys") || IsAtOrBelow(mp, "/dev");
}

// The type a mount shows as, or nothing when it is not worth a drive row.
std::optional<DriveType> ClassifyMount(const MountInfoLine& m, const VolumeProbe& probe)
{
    const bool isRoot = m.mountPoint == "/";
    if (!isRoot) {
        if (IsSystemPlace(m.mountPoint) || IsPseudoFs(m.fsType))
            return std::nullopt;
        // gvfs keeps its network shares below /run/user, so network file
        // systems are exempt from the /run rule.
        if (IsNetworkFs(m.fsType))
            return DriveType::Network;
        if (IsAtOrBelow(m.mountPoint, "/run") && !IsAtOrBelow(m.mountPoint, "/run/media"))
            return std::nullopt;
    } else if (IsNetworkFs(m.fsType)) {
        return DriveType::Network;
    }
    if (IsCdFs(m.fsType))
        return DriveType::CdRom;
    if (IsRamFs(m.fsType))
        return DriveType::RamDisk;
    const bool block = IsBlockSource(m.source);
    if ((block && probe.IsRemovableDevice(m.source)) || IsMediaMount(m.mountPoint))
        return DriveType::Removable;
    if (block || isRoot)
        return DriveType::Fixed;
    return std::nullopt;
}

std::string ButtonCaptionOf(const std::string& root)
{
    if (root == "/")
        return root;
    return root.substr(root.rfind('/') + 1);
}

std::string DisplayTextOf(const Volume& v)
{
    switch (v.type) {
    case DriveType::Removable:
        return v.root;
    case DriveType::Network:
        if (!v.source.empty())
            return v.root + " " + AsciiLower(v.source);
        break;
    default:
        break;
    }
    return v.root + " [" + v.label + "]";
}

std::string RealPathOf(const std::string& path)
{
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return path;
    std::string result(resolved);
    std::free(resolved);
    return result;
}

std::string ReadSmallFile(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class SystemVolumeProbe : public VolumeProbe {
public:
    bool IsRemovableDevice(const std::string& source) const override
    {
        std::string device = RealPathOf(source);
        std::string name = device.substr(device.rfind('/') + 1);
        if (name.empty())
            return false;
        // A partition's sysfs directory sits inside its disk's directory.
        std::string sysPath = "/sys/class/block/" + name;
        if (::access((sysPath + "/partition").c_str(), F_OK) == 0) {
            std::string real = RealPathOf(sysPath);
            real.erase(real.rfind('/'));
            name = real.substr(real.rfind('/') + 1);
        }
        std::string flag = ReadSmallFile(("/sys/block/" + name + "/removable").c_str());
        return !flag.empty() && flag[0] == '1';
    }

    std::string LabelOf(const std::string& source) const override
    {
        if (!labels_)
            labels_ = ReadLabels();
        auto it = labels_->find(RealPathOf(source));
        return it == labels_->end() ? std::string() : it->second;
    }

private:
    static std::map<std::string, std::string> ReadLabels()
    {
        std::map<std::string, std::string> labels;
        const std::string dir = "/dev/disk/by-label/";
        DIR* d = ::opendir(dir.c_str());
        if (!d)
            return labels;
        while (const dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.')
                continue;
            labels[RealPathOf(dir + e->d_name)] = AsciiLower(UnescapeHex(e->d_name));
        }
        ::closedir(d);
        return labels;
    }

    mutable std::optional<std::map<std::string, std::string>> labels_;
};

std::vector<MountInfoLine> ReadMountInfo() { return ParseMountInfo(ReadSmallFile("/proc/self/mountinfo")); }

bool IsFuseFs(const std::string& fs) { return StartsWith(fs, "fuse"); }

// A file system whose answers may have to wait for a server or a helper
// process: its own mount point, and everything mounted below it, is never
// looked at while the drive list is read.
bool MayWait(const MountInfoLine& m)
{
    return IsNetworkFs(m.fsType) || IsFuseFs(m.fsType) || !(IsBlockSource(m.source) || IsRamFs(m.fsType));
}

// Bind mounts of single files (containers mount /etc/hosts that way) are not
// places to go to. They come from local disks, whose mount points answer a
// stat from memory; a mount point that could wait is kept unasked.
std::vector<MountInfoLine> WithoutFileMounts(std::vector<MountInfoLine> mounts)
{
    std::vector<std::string> waiting;
    for (const MountInfoLine& m : mounts)
        if (MayWait(m) && m.mountPoint != "/")
            waiting.push_back(m.mountPoint);
    std::erase_if(mounts, [&](const MountInfoLine& m) {
        if (MayWait(m) || std::any_of(waiting.begin(), waiting.end(),
                                      [&](const std::string& w) { return IsAtOrBelow(m.mountPoint, w); }))
            return false;
        struct stat st;
        return ::stat(m.mountPoint.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
    });
    return mounts;
}

int64_t ClampedProduct(unsigned long long a, unsigned long long b)
{
    unsigned long long product;
    if (__builtin_mul_overflow(a, b, &product) || product > static_cast<unsigned long long>(INT64_MAX))
        return INT64_MAX;
    return int64_t(product);
}

DriveList& DriveStore()
{
    static DriveList drives;
    return drives;
}

bool& DriveStoreLoaded()
{
    static bool loaded = false;
    return loaded;
}

// The answers of the volume space workers. Leaked on purpose: a worker still
// waiting on a dead server at exit must find it there.
struct SpaceStore {
    struct Slot {
        VolumeSpaceAnswer answer;
        std::chrono::steady_clock::time_point when;
        bool asking = false;
    };
    std::mutex mutex;
    std::map<std::string, Slot> slots;
    std::map<const void*, std::function<void(const std::string&)>> listeners;
};

SpaceStore& Spaces()
{
    static SpaceStore* store = new SpaceStore;
    return *store;
}

constexpr auto kSpaceFreshFor = std::chrono::seconds(1);

void AskSpace(const std::string& root)
{
    struct statvfs vfs;
    const bool known = ::statvfs(root.c_str(), &vfs) == 0;
    const int64_t total = known ? ClampedProduct(vfs.f_blocks, vfs.f_frsize) : 0;
    const int64_t free = known ? ClampedProduct(vfs.f_bavail, vfs.f_frsize) : 0;
    SpaceStore& store = Spaces();
    std::lock_guard lock(store.mutex);
    SpaceStore::Slot& slot = store.slots[root];
    slot.answer = {true, total, free};
    slot.when = std::chrono::steady_clock::now();
    slot.asking = false;
    // Under the lock, so that a listener taken away is never called after.
    for (const auto& [owner, listener] : store.listeners)
        listener(root);
}

} // namespace

std::vector<MountInfoLine> ParseMountInfo(const std::string& text)
{
    std::vector<MountInfoLine> mounts;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        // id parent major:minor root mount-point options [optional...] - type source super-options
        std::vector<std::string> f = SplitOnSpaces(line);
        if (f.size() < 10)
            continue;
        auto sep = std::find(f.begin() + 6, f.end(), "-");
        if (sep == f.end() || f.end() - sep < 3 || f[4].empty() || f[4][0] != '/')
            continue;
        MountInfoLine m;
        m.mountPoint = UnescapeOctal(f[4]);
        m.fsType = UnescapeOctal(*(sep + 1));
        m.source = UnescapeOctal(*(sep + 2));
        mounts.push_back(std::move(m));
    }
    return mounts;
}

DriveList SelectVolumes(const std::vector<MountInfoLine>& mounts, const VolumeProbe& probe)
{
    // A later mount on the same point hides the earlier one.
    std::map<std::string, const MountInfoLine*> byPoint;
    for (const MountInfoLine& m : mounts)
        byPoint[m.mountPoint] = &m;

    DriveList drives;
    if (!byPoint.count("/")) {
        Volume root;
        root.root = "/";
        drives.push_back(root);
    }
    // The map iterates in byte order of the mount point, and "/" sorts first.
    for (const auto& [point, m] : byPoint) {
        std::optional<DriveType> type = ClassifyMount(*m, probe);
        if (!type)
            continue;
        Volume v;
        v.root = point;
        v.type = *type;
        v.fsType = m->fsType;
        v.source = m->source;
        drives.push_back(std::move(v));
        if (drives.size() == kMaxDrives)
            break;
    }
    for (Volume& v : drives) {
        if (IsBlockSource(v.source))
            v.label = AsciiLower(probe.LabelOf(v.source));
        v.displayText = DisplayTextOf(v);
        v.buttonCaption = ButtonCaptionOf(v.root);
    }
    return drives;
}

DriveList ReadSystemDriveList()
{
    SystemVolumeProbe probe;
    return SelectVolumes(WithoutFileMounts(ReadMountInfo()), probe);
}

DriveList ReadSystemDriveListFromTables()
{
    SystemVolumeProbe probe;
    return SelectVolumes(ReadMountInfo(), probe);
}

const DriveList& SystemDrives()
{
    if (!DriveStoreLoaded())
        RefreshSystemDrives();
    return DriveStore();
}

void RefreshSystemDrives() { SetSystemDrives(ReadSystemDriveList()); }

void SetSystemDrives(DriveList drives)
{
    DriveStore() = std::move(drives);
    DriveStoreLoaded() = true;
}

int64_t DriveTotalBytes(const std::string& root)
{
    struct statvfs vfs;
    if (::statvfs(root.c_str(), &vfs) != 0)
        return 0;
    return ClampedProduct(vfs.f_blocks, vfs.f_frsize);
}

int64_t DriveFreeBytes(const std::string& root)
{
    struct statvfs vfs;
    if (::statvfs(root.c_str(), &vfs) != 0)
        return 0;
    return ClampedProduct(vfs.f_bavail, vfs.f_frsize);
}

VolumeSpaceAnswer VolumeSpace(const std::string& root)
{
    SpaceStore& store = Spaces();
    std::lock_guard lock(store.mutex);
    SpaceStore::Slot& slot = store.slots[root];
    if (!slot.asking && (!slot.answer.answered || std::chrono::steady_clock::now() - slot.when > kSpaceFreshFor)) {
        try {
            // Never joined: a volume whose server is gone keeps its worker
            // waiting, and nobody waits for that worker.
            std::thread(AskSpace, root).detach();
            slot.asking = true;
        } catch (const std::system_error&) {
            // No thread to be had: asked again at the next paint.
        }
    }
    return slot.answer;
}

void SetVolumeSpaceListener(const void* owner, std::function<void(const std::string& root)> listener)
{
    SpaceStore& store = Spaces();
    std::lock_guard lock(store.mutex);
    if (listener)
        store.listeners[owner] = std::move(listener);
    else
        store.listeners.erase(owner);
}

std::string VolumeRootOf(const std::string& path, const std::vector<MountInfoLine>& mounts)
{
    const std::string* best = nullptr;
    for (const MountInfoLine& m : mounts)
        if (IsAtOrBelow(path, m.mountPoint) && (!best || m.mountPoint.size() > best->size()))
            best = &m.mountPoint;
    return best ? *best : std::string("/");
}

std::string VolumeRootOf(const std::string& path) { return VolumeRootOf(path, ReadMountInfo()); }

} // namespace tarnel
