#include "viewer/model/ImageBuffer.h"

#include "platform/RegularFile.h"
#include "viewer/model/ViewerDispatch.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {
constexpr size_t kHugePage = size_t(2) << 20;
constexpr size_t kLargeFrom = 2 * kHugePage; // smaller ones come from the heap

size_t MappedSize(size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }
} // namespace

void* AllocateLarge(size_t bytes)
{
    if (bytes < kLargeFrom)
        return ::operator new(bytes);
    void* at = ::mmap(nullptr, MappedSize(bytes), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (at == MAP_FAILED)
        throw std::bad_alloc();
    (void)::madvise(at, MappedSize(bytes), MADV_HUGEPAGE); // a hint: without it, small pages
    return at;
}

void FreeLarge(void* at, size_t bytes) noexcept
{
    if (bytes < kLargeFrom)
        ::operator delete(at);
    else
        ::munmap(at, MappedSize(bytes));
}

bool AllocateImage(ImageBuffer& image, int width, int height, uint64_t maxPixels)
{
    if (width <= 0 || height <= 0) return false;
    const uint64_t count = uint64_t(width) * uint64_t(height);
    if (count > maxPixels) return false;
    image.width = width;
    image.height = height;
    image.pixels.assign(size_t(count), 0u);
    if (image.fileWidth == 0) image.fileWidth = width;
    if (image.fileHeight == 0) image.fileHeight = height;
    return true;
}

int OpenPictureFile(const std::string& path, int& errorCode)
{
    errno = 0;
    const int fd = OpenRegularFileForReading(path);
    if (fd >= 0) {
        errorCode = 0;
        return fd;
    }
    errorCode = errno;
    if (errorCode == 0) {
        // It exists but is no plain file: a pipe or device would block the window.
        struct stat st {};
        errorCode = ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
    }
    return -1;
}

bool ReadWholeFile(const std::string& path, FileBytes& data, int& errorCode, size_t maxBytes)
{
    data.clear();
    const int fd = OpenPictureFile(path, errorCode);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        errorCode = errno;
        ::close(fd);
        return false;
    }
    if (uint64_t(st.st_size) > maxBytes) {
        errorCode = EFBIG;
        ::close(fd);
        return false;
    }
    data.resize(size_t(st.st_size));
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::read(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break; // shrank meanwhile: keep what was read
        done += size_t(n);
    }
    data.resize(done);
    ::close(fd);
    errorCode = 0;
    return true;
}

} // namespace tarnel
