#include "viewer/model/RangeReader.h"

#include <cerrno>

#include <unistd.h>

namespace tarnel {

DescriptorReader::~DescriptorReader()
{
    if (fd_ >= 0)
        ::close(fd_);
}

size_t DescriptorReader::ReadAt(int64_t offset, void* buffer, size_t size) const
{
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd_, static_cast<char*>(buffer) + got, size - got, offset + int64_t(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += size_t(n);
    }
    return got;
}

} // namespace tarnel
