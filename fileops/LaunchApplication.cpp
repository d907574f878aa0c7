#include "fileops/LaunchApplication.h"

#include "fileops/model/LaunchDefaultApp.h"
#include "fileops/model/LaunchProcess.h"
#include "platform/RegularFile.h"
#include "viewer/model/ViewerDispatch.h"

#include <QFile>
#include <QMimeDatabase>

#include <set>

#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {

QString Decode(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

std::string NameOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

QMimeType MimeTypeOf(const std::string& file)
{
    const QMimeDatabase db;
    struct stat st;
    if (::stat(file.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return db.mimeTypeForName("inode/directory");
    const int fd = OpenRegularFileForReading(file);
    if (fd < 0)
        return db.mimeTypeForFile(Decode(NameOf(file)), QMimeDatabase::MatchExtension);
    // Our own read of the head: Qt would open a name it cannot spell back.
    QByteArray head(4096, '\0');
    const ssize_t n = ::pread(fd, head.data(), size_t(head.size()), 0);
    ::close(fd);
    head.resize(n > 0 ? qsizetype(n) : 0);
    return db.mimeTypeForFileNameAndData(Decode(NameOf(file)), head);
}

} // namespace

std::vector<std::string> MimeTypesOf(const std::string& file)
{
    const QMimeDatabase db;
    std::vector<std::string> types;
    std::set<QString> seen;
    std::vector<QMimeType> queue{MimeTypeOf(file)};
    // Breadth first: a type before its parents, nearer parents first.
    for (size_t i = 0; i < queue.size(); ++i) {
        const QMimeType& type = queue[i];
        if (!type.isValid() || !seen.insert(type.name()).second)
            continue;
        types.push_back(type.name().toStdString());
        for (const QString& parent : type.parentMimeTypes())
            queue.push_back(db.mimeTypeForName(parent));
    }
    return types;
}

std::optional<DesktopEntry> GetOpenVerb(const std::string& file, const XdgDirs& dirs)
{
    return FindDefaultApplication(MimeTypesOf(file), dirs);
}

std::vector<std::string> LaunchCommand(const DesktopEntry& entry, const std::string& file)
{
    std::vector<std::string> argv;
    if (!ExpandExecLine(entry, file, argv))
        return {};
    if (entry.terminal)
        argv.insert(argv.begin(), {"x-terminal-emulator", "-e"});
    return argv;
}

pid_t OpenWithDefaultApplication(const std::string& file, const std::string& directory, const XdgDirs& dirs)
{
    const std::optional<DesktopEntry> entry = GetOpenVerb(file, dirs);
    if (!entry)
        return -1;
    const std::vector<std::string> argv = LaunchCommand(*entry, file);
    if (argv.empty())
        return -1;
    std::string error;
    return StartChild(argv, entry->path.empty() ? directory : entry->path, error);
}

void OpenInFileManager(const std::string& directory)
{
    std::string error;
    const pid_t pid = StartChild({"xdg-open", directory}, {}, error);
    if (pid > 0)
        TWaitProcessEnd::Start(pid, {}, std::chrono::milliseconds(0)); // reaps it
}

} // namespace tarnel
