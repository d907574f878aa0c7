#include "widgets/MimeIconResolver.h"

#include "platform/Volumes.h"
#include "widgets/IconCache.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {

// The first bytes of a regular file; empty for anything else. Non-blocking and
// not following links, so a pipe or a link to a device cannot hold the thread.
QByteArray ReadHead(const std::string& path, int limit)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return {};
    QByteArray data;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        data.resize(limit);
        qsizetype got = 0;
        while (got < limit) {
            const ssize_t n = ::read(fd, data.data() + got, size_t(limit - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += n;
        }
        data.truncate(got);
    }
    ::close(fd);
    return data;
}

} // namespace

QMimeType MimeIconResolver::TypeOfFile(const std::string& fullPath) const
{
    const QString name = QFile::decodeName(QByteArray::fromStdString(fullPath));
    const QMimeType byName = mimeTypes_.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    if (!byName.isDefault())
        return byName;
    const QByteArray head = ReadHead(fullPath, kSniffBytes);
    return head.isEmpty() ? byName : mimeTypes_.mimeTypeForData(head);
}

int MimeIconResolver::IconKeyFor(FileKind kind, const std::string& fullPath, const Volume* drive)
{
    IconCache& icons = Icons();
    if (kind == fkDrive)
        return icons.DriveKey(drive ? drive->type : DriveType::Fixed);
    if (kind == fkDirectory) // ".." included
        return icons.FolderKey();
    return icons.KeyForMimeType(TypeOfFile(fullPath));
}

} // namespace tarnel
