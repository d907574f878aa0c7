// Arbitrary bytes as an archive for the libarchive source: reading its table
// and listing every folder must end in entries and a message, never a crash
// or a hang.
#include "sources/ArchiveSource.h"
#include "sources/archive/ArchiveTable.h"

#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

struct Drop : tarnel::ListSink {
    size_t count = 0;
    void Chunk(std::vector<tarnel::SourceEntry>&& chunk) override { count += chunk.size(); }
};

// The input lives in a memory file reached by path, as the source opens one.
const std::string& InputPath(int& fd)
{
    static int memory = memfd_create("fuzz-archive", MFD_CLOEXEC);
    static const std::string path = "/proc/self/fd/" + std::to_string(memory);
    if (memory < 0)
        std::abort();
    fd = memory;
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    int fd;
    const std::string& path = InputPath(fd);
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != ssize_t(size))
        std::abort();
    const tarnel::CancelToken never;
    const std::shared_ptr<const tarnel::ArchiveTable> table = tarnel::ReadArchiveTable(path, never);
    tarnel::DetectArchiveContent(path);
    // Every folder the index holds lists through the source.
    tarnel::ArchiveSource source;
    for (const auto& [folder, unused] : table->folders) {
        tarnel::PanePlace place = tarnel::PanePlace::Archive(path, folder);
        place.SourceName = tarnel::kArchiveSourceName;
        Drop sink;
        source.List(place, sink, never);
    }
    return 0;
}
