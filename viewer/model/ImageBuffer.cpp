#include "viewer/model/ImageBuffer.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

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

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& data, int& errorCode, size_t maxBytes)
{
    data.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        errorCode = errno;
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        errorCode = ::fstat(fd, &st) != 0 ? errno : EISDIR;
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
