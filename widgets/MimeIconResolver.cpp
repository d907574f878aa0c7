#include "widgets/MimeIconResolver.h"

#include "platform/RegularFile.h"
#include "platform/Volumes.h"
#include "widgets/IconCache.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {

// The first bytes of a regular file; empty when there is none to read.
QByteArray ReadHead(const std::string& path, int limit)
{
    const int fd = OpenRegularFileForReading(path);
    if (fd < 0)
        return {};
    QByteArray data(limit, Qt::Uninitialized);
    qsizetype got = 0;
    while (got < limit) {
        const ssize_t n = ::read(fd, data.data() + got, size_t(limit - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    ::close(fd);
    data.truncate(got);
    return data;
}

// The type a node that holds no file data has, by what it is.
const char* TypeOfNode(mode_t mode)
{
    if (S_ISFIFO(mode))
        return "inode/fifo";
    if (S_ISCHR(mode))
        return "inode/chardevice";
    if (S_ISBLK(mode))
        return "inode/blockdevice";
    if (S_ISSOCK(mode))
        return "inode/socket";
    if (S_ISDIR(mode))
        return "inode/directory";
    return nullptr;
}

} // namespace

QMimeType MimeIconResolver::TypeOfFile(const std::string& fullPath) const
{
    // The type first, and without opening anything: opening a fifo or a
    // device (a terminal, the kernel log) may block, act, or take data.
    struct stat st;
    const bool there = ::stat(fullPath.c_str(), &st) == 0;
    if (there) {
        if (const char* node = TypeOfNode(st.st_mode))
            return mimeTypes_.mimeTypeForName(QString::fromLatin1(node));
    }
    const QString name = QFile::decodeName(QByteArray::fromStdString(fullPath));
    const QMimeType byName = mimeTypes_.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    if (!byName.isDefault() || !there || !S_ISREG(st.st_mode))
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
