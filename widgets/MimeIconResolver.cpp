#include "widgets/MimeIconResolver.h"

#include "platform/RegularFile.h"
#include "platform/Volumes.h"
#include "widgets/IconCache.h"

#include <QByteArray>
#include <QFile>
#include <QStandardPaths>

#include <cctype>
#include <cerrno>
#include <fnmatch.h>
#include <vector>
#include <deque>
#include <fstream>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>
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

struct NameKeys {
    static constexpr size_t kMax = 250000;
    std::mutex mutex;
    std::unordered_map<std::string, int> keys;
    int lookups = 0;
};

NameKeys& KnownNames()
{
    static NameKeys* names = new NameKeys; // icon threads may outlive statics
    return *names;
}

// The database's glob patterns other than a plain "*.ext" (literal names,
// prefixes, character classes), each with its first byte for a quick test.
// Read from the globs2 files beside the database's cache: asking the
// database for its patterns would parse every type's whole description.
// nullptr when there are none to read (the library's built-in database):
// then every name is looked up on its own.
struct OddPattern {
    std::string glob;
    char first; // lower case; 0 when the pattern starts with a wildcard
};

const std::vector<OddPattern>* OddPatterns()
{
    static const std::vector<OddPattern>* odd = []() -> std::vector<OddPattern>* {
        const QStringList files = QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, "mime/globs2");
        if (files.isEmpty())
            return nullptr;
        auto* found = new std::vector<OddPattern>;
        for (const QString& file : files) {
            std::ifstream in(QFile::encodeName(file).toStdString());
            for (std::string line; std::getline(in, line);) {
                // weight:type:glob[:flags]
                const size_t a = line.find(':');
                const size_t b = a == std::string::npos ? a : line.find(':', a + 1);
                if (line.empty() || line[0] == '#' || b == std::string::npos)
                    continue;
                const size_t c = line.find(':', b + 1);
                const std::string glob = line.substr(b + 1, c == std::string::npos ? std::string::npos : c - b - 1);
                const bool plain = glob.size() > 2 && glob.compare(0, 2, "*.") == 0 &&
                                   glob.find_first_of("*?[", 1) == std::string::npos;
                if (plain || glob.empty())
                    continue;
                const char first = char(std::tolower(static_cast<unsigned char>(glob[0])));
                found->push_back({glob, (first == '*' || first == '?' || first == '[') ? char(0) : first});
            }
        }
        return found;
    }();
    return odd;
}

// What a name's type by name depends on. A plain "*.ext" pattern matches
// from one of the name's dots on, so names alike from their first dot on
// match the same ones, provided something comes before the tail: when no
// other pattern can match, the name is known by that tail, and 100,000 files of a few kinds cost a few lookups. Other
// names are known by the whole name ("/" before it keeps the two apart).
std::string TypeKeyOf(const std::string& name)
{
    const auto whole = [&] { return "/" + name; };
    const std::vector<OddPattern>* odd = OddPatterns();
    if (!odd)
        return whole();
    for (const char c : name)
        if (static_cast<unsigned char>(c) >= 0x80)
            return whole(); // decoded before matching: kept out of the byte test below
    const char first = char(std::tolower(static_cast<unsigned char>(name.empty() ? 0 : name[0])));
    for (const OddPattern& pattern : *odd) {
        if (pattern.first != 0 && pattern.first != first)
            continue;
        if (::fnmatch(pattern.glob.c_str(), name.c_str(), FNM_CASEFOLD) == 0)
            return whole();
    }
    const size_t dot = name.find('.');
    if (dot == 0)
        return whole(); // nothing before the tail: the database treats ".txt" unlike "a.txt"
    return dot == std::string::npos ? std::string() : name.substr(dot);
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
    // The type by name depends on the name alone: answers are kept for every
    // pane, so two panes on one folder of 100,000 files look each up once.
    const std::string name = fullPath.substr(fullPath.rfind('/') + 1);
    const std::string typeKey = TypeKeyOf(name);
    NameKeys& known = KnownNames();
    {
        std::lock_guard lock(known.mutex);
        if (const auto found = known.keys.find(typeKey); found != known.keys.end())
            return -found->second;
    }
    const int key = icons.KeyForMimeType(
        mimeTypes_.mimeTypeForFile(QFile::decodeName(QByteArray::fromStdString(name)), QMimeDatabase::MatchExtension));
    std::lock_guard lock(known.mutex);
    if (known.keys.size() >= NameKeys::kMax)
        known.keys.clear();
    known.keys.emplace(typeKey, key);
    ++known.lookups;
    return -key;
}

int MimeIconResolver::NameLookups()
{
    NameKeys& known = KnownNames();
    std::lock_guard lock(known.mutex);
    return known.lookups;
}

struct ContentLooks::State {
    struct Request {
        std::string path;
        int64_t size;
        int32_t time;
    };
    struct Answer {
        int64_t size;
        int32_t time;
        int key;
    };
    static constexpr size_t kMaxAnswers = 100000;

    std::mutex mutex;
    std::deque<Request> queue;
    std::unordered_set<std::string> queued;
    std::unordered_map<std::string, Answer> answers;
    int workers = 0;
    int done = 0;
    bool notifying = false;
    MimeIconResolver resolver;

    void Work(ContentLooks* owner)
    {
        std::unique_lock lock(mutex);
        while (!queue.empty()) {
            const Request request = std::move(queue.front());
            queue.pop_front();
            lock.unlock();
            // Outside the lock: a file on a dead mount keeps only this worker.
            const int key = Icons().KeyForMimeType(resolver.TypeOfFile(request.path));
            lock.lock();
            queued.erase(request.path);
            if (answers.size() >= kMaxAnswers)
                answers.clear();
            answers[request.path] = {request.size, request.time, key};
            ++done;
            if (!notifying) {
                notifying = true;
                QMetaObject::invokeMethod(owner, [owner, this] {
                    {
                        std::lock_guard relock(mutex);
                        notifying = false;
                    }
                    emit owner->answered();
                }, Qt::QueuedConnection);
            }
        }
        --workers;
    }
};

ContentLooks::ContentLooks() : state_(std::make_shared<State>()) {}

ContentLooks& ContentLooks::Instance()
{
    // Never deleted: a worker waiting on a dead mount at exit must find it.
    static ContentLooks* looks = new ContentLooks;
    return *looks;
}

int ContentLooks::KeyFor(const std::string& fullPath, int64_t size, int32_t time)
{
    State& s = *state_;
    std::lock_guard lock(s.mutex);
    const auto found = s.answers.find(fullPath);
    if (found != s.answers.end() && found->second.size == size && found->second.time == time)
        return found->second.key;
    if (!s.queued.insert(fullPath).second)
        return 0;
    s.queue.push_front({fullPath, size, time});
    if (s.queue.size() > kMaxQueued) {
        s.queued.erase(s.queue.back().path);
        s.queue.pop_back();
    }
    if (s.workers < kMaxWorkers) {
        try {
            std::thread([state = state_, this] { state->Work(this); }).detach();
            ++s.workers;
        } catch (const std::system_error&) {
            // No thread now: the next row painted tries again.
        }
    }
    return 0;
}

int ContentLooks::LooksDone() const
{
    std::lock_guard lock(state_->mutex);
    return state_->done;
}

} // namespace tarnel
