#include "support/EmptyZip.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace tarnel {

namespace {

std::string ErrnoText(const std::string& path) { return path + ": " + std::strerror(errno); }

bool CopyFd(int from, int to)
{
    std::vector<char> buffer(1 << 16);
    for (;;) {
        ssize_t got = ::read(from, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got == 0;
        for (const char* at = buffer.data(); got > 0;) {
            const ssize_t written = ::write(to, at, size_t(got));
            if (written < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            at += written;
            got -= written;
        }
    }
}

} // namespace

bool LoadEmptyZip(TFileSource& source, std::string& error)
{
    source.SetCompress(false);
    source.SetExtension(".zip");
    source.SetStore(true);
    return source.LoadFileData(kEmptyZipFormData, error);
}

bool CopySourceFile(const TFileSource& source, const std::string& target, std::string& error)
{
    const std::string from = source.FileName();
    const int in = from.empty() ? -1 : ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        error = source.Name() + ": no file to copy";
        return false;
    }
    const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (out < 0) {
        error = ErrnoText(target);
        ::close(in);
        return false;
    }
    bool ok = CopyFd(in, out);
    if (!ok)
        error = ErrnoText(target);
    ::close(in);
    if (::close(out) != 0 && ok) {
        ok = false;
        error = ErrnoText(target);
    }
    if (!ok)
        ::unlink(target.c_str()); // made by us a moment ago (O_EXCL)
    return ok;
}

bool WriteEmptyZip(const std::string& target, std::string& error)
{
    TFileSource source("SFEmptyZip");
    return LoadEmptyZip(source, error) && CopySourceFile(source, target, error);
}

} // namespace tarnel
