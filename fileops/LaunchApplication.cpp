#include "fileops/LaunchApplication.h"

#include "fileops/model/LaunchDefaultApp.h"
#include "fileops/model/LaunchProcess.h"
#include "platform/RegularFile.h"
#include "viewer/model/ViewerDispatch.h"

#include <QFile>
#include <QMimeDatabase>

#include <cerrno>
#include <set>

#include <sys/stat.h>
#include <sys/wait.h>
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

// The type and the types it is a kind of.
std::vector<std::string> WithParents(const QMimeType& mimeType)
{
    const QMimeDatabase db;
    std::vector<std::string> types;
    std::set<QString> seen;
    std::vector<QMimeType> queue{mimeType};
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

} // namespace

std::vector<std::string> MimeTypesOf(const std::string& file) { return WithParents(MimeTypeOf(file)); }

std::vector<std::string> MimeTypesOfName(const std::string& name, bool directory)
{
    const QMimeDatabase db;
    if (directory)
        return WithParents(db.mimeTypeForName("inode/directory"));
    return WithParents(db.mimeTypeForFile(Decode(name), QMimeDatabase::MatchExtension));
}

std::optional<DesktopEntry> GetOpenVerb(const std::string& file, const XdgDirs& dirs)
{
    return FindDefaultApplication(MimeTypesOf(file), dirs);
}

std::vector<std::string> LaunchCommand(const DesktopEntry& entry, const std::string& file)
{
    std::string error;
    std::vector<std::vector<std::string>> commands = LaunchCommands(entry, {file}, error);
    return commands.size() == 1 ? commands.front() : std::vector<std::string>();
}

std::vector<std::vector<std::string>> LaunchCommands(const DesktopEntry& entry, const std::vector<std::string>& files,
                                                     std::string& error)
{
    std::vector<std::vector<std::string>> commands;
    if (!ExpandExecLine(entry, files, commands)) {
        error = "The Exec line of " + entry.location + " cannot be read.";
        return {};
    }
    if (!entry.terminal)
        return commands;
    for (std::vector<std::string>& argv : commands) {
        argv = TerminalCommand(argv);
        if (argv.empty()) {
            error = entry.name + " runs in a terminal, and no terminal program was found "
                                 "(x-terminal-emulator, or the one $TERMINAL names).";
            return {};
        }
    }
    return commands;
}

std::string StartCommands(const std::vector<std::vector<std::string>>& commands, const std::string& workingDir)
{
    for (const std::vector<std::string>& argv : commands) {
        std::string error;
        const pid_t pid = StartChild(argv, workingDir, error);
        if (pid < 0)
            return error;
        TWaitProcessEnd::Start(pid, {}, std::chrono::milliseconds(0)); // reaps it
    }
    return {};
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

std::string OpenInFileManager(const std::string& directory)
{
    std::string error;
    const pid_t pid = StartChild({"xdg-open", directory}, {}, error);
    if (pid < 0)
        return error;
    // xdg-open hands the folder on and ends; it may also run the file manager
    // itself until it is closed, so a long run is taken for success.
    for (int i = 0; i < 100; ++i) {
        int status = 0;
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid) {
            if (WIFEXITED(status) && WEXITSTATUS(status) == 3)
                return "No program to open folders was found (xdg-open: no application for inode/directory).";
            if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
                return "xdg-open could not open the folder (exit status " + std::to_string(WEXITSTATUS(status)) + ").";
            return {};
        }
        if (ended < 0 && errno != EINTR)
            return {};
        ::usleep(50 * 1000);
    }
    TWaitProcessEnd::Start(pid, {}, std::chrono::milliseconds(0)); // reaps it
    return {};
}

} // namespace tarnel
