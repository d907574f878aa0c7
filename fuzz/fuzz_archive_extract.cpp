// Arbitrary bytes as an archive, every listed member extracted by the
// libarchive source: damage and lying sizes end in a message; nothing is
// written outside the destination.
#include "sources/archive/ArchiveExtract.h"
#include "sources/archive/ArchiveTable.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <ftw.h>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int RemoveOne(const char* path, const struct stat*, int, FTW*) { return ::remove(path); }

struct Scratch {
    std::string root, archive, outer, dest;
};

const Scratch& Places()
{
    static const Scratch scratch = [] {
        char name[] = "/dev/shm/fuzz-archive-XXXXXX";
        if (!mkdtemp(name))
            std::abort();
        Scratch s;
        s.root = name;
        s.archive = s.root + "/archive";
        s.outer = s.root + "/outer";
        s.dest = s.outer + "/dest";
        if (::mkdir(s.outer.c_str(), 0700) != 0)
            std::abort();
        static char made[sizeof name];
        std::memcpy(made, name, sizeof name);
        std::atexit([] { nftw(made, RemoveOne, 16, FTW_DEPTH | FTW_PHYS); });
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{8 << 20, 8 << 20};
        setrlimit(RLIMIT_FSIZE, &limit);
        return s;
    }();
    return scratch;
}

// The names in dir, "." and ".." left out.
size_t Count(const std::string& dir)
{
    size_t n = 0;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d))
            n += std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0;
        ::closedir(d);
    }
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Scratch& s = Places();
    FILE* out = std::fopen(s.archive.c_str(), "wb");
    if (!out || std::fwrite(data, 1, size, out) != size || std::fclose(out) != 0)
        std::abort();
    nftw(s.dest.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
    if (::mkdir(s.dest.c_str(), 0700) != 0)
        std::abort();
    const tarnel::CancelToken never;
    const std::shared_ptr<const tarnel::ArchiveTable> table = tarnel::ReadArchiveTable(s.archive, never);
    std::vector<tarnel::ArchiveExtractItem> plan;
    for (const tarnel::ArchiveMember& m : table->members)
        if (!m.unsafe)
            plan.push_back({m.ordinal, m.path, true});
    tarnel::ExtractArchiveMembers(s.archive, *table, plan, s.dest);
    // root holds the archive and outer; outer holds dest alone.
    if (Count(s.root) != 2 || Count(s.outer) != 1)
        std::abort();
    return 0;
}
