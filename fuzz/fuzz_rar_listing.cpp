// Arbitrary bytes as a RAR archive through libunrar.so's interface: listing
// (skip) and testing every member, as the "packed" page walks them. Lying
// sizes and damaged headers must end in a code, never a crash or a hang.
#include "platform/unrar/unrar.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

std::string ArchiveFile()
{
    static const std::string path = [] {
        char name[] = "/dev/shm/fuzz-rar-XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0)
            std::abort();
        ::close(fd);
        return std::string(name);
    }();
    return path;
}

void Walk(const std::string& path, unsigned mode, int operation)
{
    std::string name = path;
    RAROpenArchiveData open{};
    open.ArcName = name.data();
    open.OpenMode = mode;
    void* handle = RAROpenArchive(&open);
    if (!handle)
        return;
    RARHeaderData header{};
    for (int members = 0; members < 10000 && RARReadHeader(handle, &header) == 0; ++members)
        if (RARProcessFile(handle, operation, nullptr, nullptr) != 0)
            break;
    RARCloseArchive(handle);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = ArchiveFile();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    if (size)
        std::fwrite(data, 1, size, f);
    std::fclose(f);
    Walk(path, RAR_OM_LIST, RAR_SKIP);
    Walk(path, RAR_OM_EXTRACT, RAR_TEST);
    return 0;
}
