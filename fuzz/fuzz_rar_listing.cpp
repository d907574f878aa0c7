// Arbitrary bytes as a RAR archive through libunrar.so's interface: listing
// (skip), testing and extracting every member, as the "packed" page walks
// them. Lying sizes and damaged headers must end in a code, never a crash or
// a hang, and extraction must write nothing outside its destination nor link
// to anything there.
#include "platform/unrar/unrar.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <ftw.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// root/archive.rar and root/outer/dest, the destination: a name climbing one
// or two levels out of dest lands where it is seen. After each run root and
// outer must hold exactly those.
struct Scratch {
    std::string root, archive, outer, dest;
};

int RemoveOne(const char* path, const struct stat*, int, FTW*) { return ::remove(path); }

void RemoveTree(const std::string& path)
{
    nftw(path.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
}

const Scratch& Places()
{
    static const Scratch scratch = [] {
        char name[] = "/dev/shm/fuzz-rar-XXXXXX";
        if (!mkdtemp(name))
            std::abort();
        Scratch s;
        s.root = name;
        s.archive = s.root + "/archive.rar";
        s.outer = s.root + "/outer";
        s.dest = s.outer + "/dest";
        if (::mkdir(s.outer.c_str(), 0700) != 0)
            std::abort();
        // Plain bytes: the handler runs after the strings are gone.
        static char made[sizeof name];
        std::memcpy(made, name, sizeof name);
        std::atexit([] { RemoveTree(made); });
        // Lying sizes may unpack to gigabytes: a write past this fails as on a full disk.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{8 << 20, 8 << 20};
        setrlimit(RLIMIT_FSIZE, &limit);
        return s;
    }();
    return scratch;
}

// Names in a directory other than the expected ones.
bool OnlyHolds(const std::string& dir, std::initializer_list<const char*> expected)
{
    bool clean = true;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..")
                continue;
            bool known = false;
            for (const char* x : expected)
                known = known || name == x;
            if (!known) {
                std::fprintf(stderr, "extraction wrote %s/%s\n", dir.c_str(), name.c_str());
                clean = false;
            }
        }
        ::closedir(d);
    }
    return clean;
}

// Every link extracted points inside the destination.
std::string linkRoot;
bool linksStayInside = true;

int CheckLink(const char* path, const struct stat* st, int, FTW*)
{
    if (!S_ISLNK(st->st_mode))
        return 0;
    const std::filesystem::path link(path);
    const std::filesystem::path target = std::filesystem::read_symlink(link);
    const std::string resolved = (link.parent_path() / target).lexically_normal().string();
    if (target.is_absolute() || (resolved != linkRoot && resolved.compare(0, linkRoot.size() + 1, linkRoot + "/") != 0)) {
        std::fprintf(stderr, "extraction made %s pointing to %s\n", path, target.c_str());
        linksStayInside = false;
    }
    return 0;
}

bool LinksStayInside(const std::string& dest)
{
    linkRoot = dest;
    linksStayInside = true;
    nftw(dest.c_str(), CheckLink, 16, FTW_PHYS);
    return linksStayInside;
}

bool Exists(const char* path)
{
    struct stat st;
    return ::lstat(path, &st) == 0;
}

void Walk(const std::string& path, unsigned mode, int operation, const char* destination)
{
    std::string name = path;
    std::string dest = destination ? destination : "";
    RAROpenArchiveData open{};
    open.ArcName = name.data();
    open.OpenMode = mode;
    void* handle = RAROpenArchive(&open);
    if (!handle)
        return;
    RARHeaderData header{};
    for (int members = 0; members < 10000 && RARReadHeader(handle, &header) == 0; ++members) {
        // An absolute name is one place outside the destination that can be looked at.
        const bool absolute = destination && header.FileName[0] == '/';
        const bool existed = absolute && Exists(header.FileName);
        const int result = RARProcessFile(handle, operation, destination ? dest.data() : nullptr, nullptr);
        if (absolute && !existed && Exists(header.FileName)) {
            std::fprintf(stderr, "extraction wrote %s\n", header.FileName);
            std::abort();
        }
        // A refused member or link does not end a walk; anything else does.
        if (result != 0 && result != ERAR_ECREATE && result != ERAR_EREFERENCE)
            break;
    }
    RARCloseArchive(handle);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Scratch& at = Places();
    FILE* f = std::fopen(at.archive.c_str(), "wb");
    if (!f)
        std::abort();
    if (size)
        std::fwrite(data, 1, size, f);
    std::fclose(f);
    Walk(at.archive, RAR_OM_LIST, RAR_SKIP, nullptr);
    Walk(at.archive, RAR_OM_EXTRACT, RAR_TEST, nullptr);
    if (::mkdir(at.dest.c_str(), 0700) != 0)
        std::abort();
    Walk(at.archive, RAR_OM_EXTRACT, RAR_EXTRACT, at.dest.c_str());
    // A hard link made to the archive itself would be a second name for it.
    struct stat archive {};
    const bool archiveAlone = ::lstat(at.archive.c_str(), &archive) == 0 && archive.st_nlink == 1;
    if (!archiveAlone)
        std::fprintf(stderr, "extraction linked to the archive\n");
    const bool clean = archiveAlone && OnlyHolds(at.root, {"archive.rar", "outer"}) && OnlyHolds(at.outer, {"dest"})
                       && LinksStayInside(at.dest);
    RemoveTree(at.dest);
    if (!clean)
        std::abort();
    return 0;
}
