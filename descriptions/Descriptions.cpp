#include "descriptions/Descriptions.h"

#include "descriptions/DescLineReader.h"
#include "panes/PathUtil.h"
#include "platform/DirectoryReader.h"
#include "platform/FileRewrite.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <unordered_set>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace tarnel {

DescriptionLine ParseDescriptionLine(std::string_view line)
{
    DescriptionLine out;
    if (line.empty())
        return out;
    if (line.front() == '"') {
        size_t close = line.find('"', 1);
        if (close == std::string_view::npos)
            return out;
        out.name = line.substr(1, close - 1);
        // The closing quote and the blank after it are skipped; a line may
        // end at the quote or one byte after it.
        if (close + 2 < line.size())
            out.description = line.substr(close + 2);
        return out;
    }
    size_t blank = line.find(' ');
    if (blank == std::string_view::npos)
        return out;
    out.name = line.substr(0, blank);
    out.description = line.substr(blank + 1);
    return out;
}

std::string FormatDescriptionLine(const std::string& name, const std::string& description)
{
    std::string out;
    out.reserve(name.size() + description.size() + 3);
    if (name.find(' ') != std::string::npos) {
        out += '"';
        out += name;
        out += '"';
    } else {
        out += name;
    }
    out += ' ';
    out += description;
    return out;
}

void DescriptionList::Set(const std::string& name, const std::string& description)
{
    if (description.empty())
        Remove(name);
    else
        byName_[UpperAscii(name)] = description;
}

void DescriptionList::Remove(const std::string& name)
{
    byName_.erase(UpperAscii(name));
}

const std::string* DescriptionList::Find(const std::string& name) const
{
    auto it = byName_.find(std::string_view(name));
    return it == byName_.end() ? nullptr : &it->second;
}

namespace {

// ASCII letters of eight bytes at once upper-cased; other bytes kept.
uint64_t UpperAsciiWord(uint64_t w)
{
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHigh = 0x8080808080808080ull;
    const uint64_t low7 = w & ~kHigh;
    const uint64_t fromA = low7 + kOnes * (0x80 - 'a'); // high bit: at least 'a'
    const uint64_t pastZ = low7 + kOnes * (0x80 - 'z' - 1); // high bit: past 'z'
    const uint64_t lower = fromA & ~pastZ & ~w & kHigh;
    return w - (lower >> 2);
}

uint64_t Mix(uint64_t h, uint64_t w)
{
    h = (h ^ w) * 0x9E3779B97F4A7C15ull;
    return h ^ (h >> 32);
}

} // namespace

size_t DescriptionList::NameHash::operator()(std::string_view name) const
{
    // A word at a time: every entry of a listing is looked up.
    uint64_t h = name.size();
    size_t i = 0;
    for (; i + 8 <= name.size(); i += 8) {
        uint64_t w;
        std::memcpy(&w, name.data() + i, 8);
        h = Mix(h, UpperAsciiWord(w));
    }
    if (i < name.size()) {
        uint64_t w = 0;
        std::memcpy(&w, name.data() + i, name.size() - i);
        h = Mix(h, UpperAsciiWord(w));
    }
    return size_t(h);
}

bool DescriptionList::NameEqual::operator()(std::string_view a, std::string_view b) const
{
    return EqualsIgnoreCase(a, b);
}

namespace {

// Below this size a file's lines are kept whether or not their names exist:
// few enough to cost nothing, and no second read of the folder.
constexpr size_t kKeepAllBelow = kDescriptionsKeptWhole;

std::mutex g_noticeMutex;
std::function<void(const std::string&)> g_notice;
std::set<std::pair<unsigned long long, unsigned long long>> g_noticed; // device, inode

// Says once per file (by device and inode) that only its beginning is read.
void NoticeCut(int handle, const std::string& descPath)
{
    if (!DescLineReader::Cut(handle))
        return;
    unsigned long long device = 0, inode = 0;
    DescLineReader::Identity(handle, device, inode);
    std::function<void(const std::string&)> notice;
    {
        std::lock_guard lock(g_noticeMutex);
        if (!g_noticed.insert({device, inode}).second)
            return;
        notice = g_notice;
    }
    const std::string text = descPath + " is larger than " +
                             std::to_string(DescLineReader::kMaxFileBytes / (1024 * 1024)) +
                             " MiB: only its first " +
                             std::to_string(DescLineReader::kMaxFileBytes / (1024 * 1024)) +
                             " MiB are read, and no description is written to it.";
    if (notice)
        notice(text);
    else
        std::cerr << "tarnel: " << text << "\n";
}

// Calls onLine for every line of a description file; false when it cannot be
// opened.
// onLine returns false to stop early.
template <class OnLine>
bool ForEachLine(const std::string& descPath, OnLine onLine)
{
    int h = DescLineReader::Open(descPath, kDescriptionBufferSize);
    if (h == 0)
        return false;
    NoticeCut(h, descPath);
    while (!DescLineReader::EndOfData(h) && onLine(ParseDescriptionLine(DescLineReader::ReadLine(h))))
        ;
    DescLineReader::Close(h);
    return true;
}

// Every line whole, with its parsed form: a rewrite must not cut the lines it
// only passes on. False when the file cannot be opened or is too large to be
// passed on whole. bom is set before the first line is passed.
template <class OnLine>
bool ForEachWholeLine(const std::string& descPath, bool& bom, OnLine onLine)
{
    int h = DescLineReader::Open(descPath, kDescriptionBufferSize);
    if (h == 0)
        return false;
    NoticeCut(h, descPath);
    if (DescLineReader::Cut(h)) {
        DescLineReader::Close(h);
        return false;
    }
    bom = DescLineReader::HasBom(h);
    while (!DescLineReader::EndOfData(h)) {
        const std::string line = DescLineReader::ReadWholeLine(h);
        onLine(line, ParseDescriptionLine(line));
    }
    const bool whole = !DescLineReader::Cut(h); // grew past the cap or failed meanwhile
    DescLineReader::Close(h);
    return whole;
}

// The lines of a description file's contents held in memory, split as
// DescLineReader splits a file's: past a UTF-8 byte-order mark, each line
// cut to maxLine. Only the reader's cap of the contents counts.
template <class OnLine>
void ForEachLineOf(std::string_view bytes, size_t maxLine, bool& bom, OnLine onLine)
{
    bytes = bytes.substr(0, std::min(bytes.size(), DescLineReader::kMaxFileBytes));
    bom = bytes.substr(0, 3) == "\xEF\xBB\xBF";
    if (bom)
        bytes.remove_prefix(3);
    const auto isEnd = [](char c) { return c == '\r' || c == '\n'; };
    while (!bytes.empty()) {
        const size_t end = std::min(bytes.find_first_of("\r\n"), bytes.size());
        const std::string line(bytes.substr(0, std::min(end, maxLine)));
        size_t next = end;
        if (next < bytes.size())
            ++next; // one line end: CR or LF, and one more of them directly after it
        if (next > end && next < bytes.size() && isEnd(bytes[next]))
            ++next;
        bytes.remove_prefix(next);
        onLine(line, ParseDescriptionLine(line));
    }
}

std::string WithSlash(std::string dir)
{
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    return dir;
}

// Splits a full path into its directory (with "/", or "" for a bare name)
// and its name; a trailing "/" of a directory path is ignored.
void SplitPath(std::string path, std::string& dir, std::string& name)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        dir.clear();
        name = path;
    } else {
        dir = path.substr(0, slash + 1);
        name = path.substr(slash + 1);
    }
}

// A name that the line format cannot carry back unchanged (a quote where the
// format needs none, a line break) must not be written: it would describe a
// different name, or split the line.
bool NameFitsFormat(const std::string& name)
{
    if (name.empty() || name.find_first_of("\r\n") != std::string::npos)
        return false;
    return ParseDescriptionLine(FormatDescriptionLine(name, "x")).name == name;
}

bool WriteAll(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// The DOS attributes the written file carries: those of the old file with
// the hidden bit added.
std::string HiddenAttributeText(const std::string& oldPath, bool oldExists)
{
    int attr = 0;
    if (oldExists) {
        char value[64];
        ssize_t n = ::lgetxattr(oldPath.c_str(), "user.DOSATTRIB", value, sizeof value);
        if (n > 0) {
            int parsed = ParseDosAttrib(value, size_t(n));
            if (parsed > 0)
                attr = parsed;
        }
    }
    attr |= faHidden;
    char text[16];
    int len = std::snprintf(text, sizeof text, "0x%x", unsigned(attr));
    return std::string(text, size_t(len));
}

// Gives the new file the DOS hidden bit before it replaces the old one; the
// other bits come from the old file. Failure (no user xattrs here) is fine.
void SetHiddenAttribute(int fd, const std::string& oldPath, bool oldExists)
{
    const std::string text = HiddenAttributeText(oldPath, oldExists);
    (void)::fsetxattr(fd, "user.DOSATTRIB", text.data(), text.size(), 0);
}

// The names of the extended attributes that list returns; an empty list
// where the file system has none. False on any other failure.
template <class List>
bool AttributeNames(List list, std::vector<std::string>& names)
{
    std::vector<char> buffer;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const ssize_t size = list(nullptr, 0);
        if (size < 0)
            return errno == ENOTSUP;
        buffer.resize(size_t(size) + 1);
        const ssize_t n = list(buffer.data(), buffer.size());
        if (n < 0 && errno == ERANGE)
            continue; // grew meanwhile
        if (n < 0)
            return false;
        for (size_t at = 0; at < size_t(n);) {
            const std::string name(buffer.data() + at);
            at += name.size() + 1;
            if (!name.empty())
                names.push_back(name);
        }
        return true;
    }
    return false;
}

// One attribute's value; false when there is none (or it cannot be read).
template <class Get>
bool AttributeValue(Get get, std::string& value)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        const ssize_t size = get(nullptr, 0);
        if (size < 0)
            return false;
        value.resize(size_t(size));
        const ssize_t n = get(value.data(), value.size());
        if (n < 0 && errno == ERANGE)
            continue;
        if (n < 0)
            return false;
        value.resize(size_t(n));
        return true;
    }
    return false;
}

// Gives the new file (fd) what protects the old one: owner, group, mode and
// extended attributes, an ACL among them. False when any of it cannot be
// given, as when the old file belongs to another user: replacing it would
// then change who may read or write the descriptions.
bool TakeOnOwnerModeAndAttributes(int fd, const std::string& oldPath, const struct stat& old)
{
    struct stat made;
    if (::fstat(fd, &made) != 0)
        return false;
    if ((made.st_uid != old.st_uid || made.st_gid != old.st_gid) && ::fchown(fd, old.st_uid, old.st_gid) != 0)
        return false;
    // After the owner: a change of owner clears the set-id bits.
    if (::fchmod(fd, old.st_mode & 07777) != 0)
        return false;
    std::vector<std::string> oldNames, newNames;
    if (!AttributeNames([&](char* b, size_t n) { return ::llistxattr(oldPath.c_str(), b, n); }, oldNames) ||
        !AttributeNames([&](char* b, size_t n) { return ::flistxattr(fd, b, n); }, newNames))
        return false;
    for (const std::string& name : oldNames) {
        std::string value, current;
        if (!AttributeValue([&](void* b, size_t n) { return ::lgetxattr(oldPath.c_str(), name.c_str(), b, n); },
                            value)) {
            if (errno == ENODATA)
                continue; // removed meanwhile
            return false;
        }
        // A label the system gave the new file already may not be settable.
        if (AttributeValue([&](void* b, size_t n) { return ::fgetxattr(fd, name.c_str(), b, n); }, current) &&
            current == value)
            continue;
        if (::fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0)
            return false;
    }
    // What the new file got from its folder (a default ACL) and the old one
    // did not have would widen or narrow who may read it.
    for (const std::string& name : newNames)
        if (std::find(oldNames.begin(), oldNames.end(), name) == oldNames.end() &&
            ::fremovexattr(fd, name.c_str()) != 0)
            return false;
    return true;
}

// Writes the new contents over the old file itself, so that every name it
// has shows them and it keeps its owner, mode and attributes. The contents
// go to a synced copy first: a full disk stops before the file is touched,
// and a failure in the middle leaves them in that copy (keptCopy). A file
// changed since it was read is left alone.
WriteDescriptionResult RewriteInPlace(const std::string& path, const struct stat& old, const std::string& data,
                                      std::string* keptCopy)
{
    FileStamp expected;
    expected.dev = old.st_dev;
    expected.ino = old.st_ino;
    expected.size = old.st_size;
    expected.mtimeSec = old.st_mtim.tv_sec;
    expected.mtimeNsec = old.st_mtim.tv_nsec;
    const RewriteResult r = RewriteFile(path, data, &expected);
    if (r.status == RewriteStatus::Incomplete) {
        if (keptCopy)
            *keptCopy = r.keptCopy;
        return WriteDescriptionResult::Incomplete;
    }
    if (r.status != RewriteStatus::Written)
        return WriteDescriptionResult::NotStored;
    const std::string text = HiddenAttributeText(path, true);
    (void)::lsetxattr(path.c_str(), "user.DOSATTRIB", text.data(), text.size(), 0);
    return WriteDescriptionResult::Written;
}

// A new file "DSC" + six characters in dir, made with the mode the umask
// gives (mkstemp would make it 0600 whatever the user wants).
int CreateTempIn(const std::string& dir, std::string& path)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = dir + "DSC";
        for (int i = 0; i < 6; ++i)
            path += letters[random() % (sizeof letters - 1)];
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// The text as a line can hold it: no line breaks, no longer than the reader
// takes back whole.
std::string StorableText(const std::string& name, const std::string& description)
{
    std::string text = description;
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 32)
            c = ' ';
    const size_t prefix = FormatDescriptionLine(name, "").size();
    if (prefix + text.size() > DescLineReader::kMaxLine)
        text.resize(prefix < DescLineReader::kMaxLine ? DescLineReader::kMaxLine - prefix : 0);
    return text;
}

// What a rewrite of a description file makes of its lines, wherever they
// are read from and the result goes.
class DescriptionRewrite {
public:
    explicit DescriptionRewrite(const std::vector<DescriptionChange>& changes)
    {
        // What each name ends with: a later change for a name replaces an
        // earlier one, and a new description outweighs a removal.
        for (bool removals : {true, false}) {
            for (const DescriptionChange& c : changes) {
                if (c.remove != removals || c.name.empty())
                    continue;
                if (!c.remove && !NameFitsFormat(c.name))
                    continue; // no line could carry it
                const std::string key = UpperAscii(c.name);
                auto [it, added] = finals_.try_emplace(key);
                if (added)
                    order_.push_back(key);
                it->second = {c.name, c.remove ? std::string() : StorableText(c.name, c.description), c.remove,
                              false};
            }
        }
    }

    bool Nothing() const { return finals_.empty(); }
    bool OnlyRemovals() const
    {
        return std::all_of(finals_.begin(), finals_.end(), [](const auto& f) { return f.second.remove; });
    }
    // The line is one the changes replace or drop.
    bool Touches(const DescriptionLine& d) const { return !d.name.empty() && finals_.count(UpperAscii(d.name)) > 0; }

    // One line of the old file, whole, with its parsed form.
    void Pass(const std::string& line, const DescriptionLine& d)
    {
        if (d.name.empty())
            return;
        auto it = finals_.find(UpperAscii(d.name));
        if (it == finals_.end()) {
            EmitLine(line); // byte for byte, however long
        } else if (!it->second.remove) {
            it->second.written = true;
            EmitLine(FormatDescriptionLine(d.name, it->second.text));
        }
    }

    // The whole new file. A file that began with a byte-order mark keeps it:
    // the program that wrote it reads it as UTF-8 only with the mark. Its
    // size is bounded by the reader's cap.
    std::string Finish(bool bom)
    {
        for (const std::string& key : order_) {
            const Final& f = finals_.at(key);
            if (!f.remove && !f.written)
                EmitLine(FormatDescriptionLine(f.name, f.text));
        }
        if (bom)
            out_.insert(0, "\xEF\xBB\xBF");
        return std::move(out_);
    }

private:
    void EmitLine(const std::string& line)
    {
        out_ += line;
        out_ += "\r\n";
    }

    struct Final {
        std::string name;
        std::string text;
        bool remove = false;
        bool written = false;
    };
    std::unordered_map<std::string, Final> finals_; // key: upper-cased name
    std::vector<std::string> order_;                 // first-seen order of the names to append
    std::string out_;
};

} // namespace

bool IsDescriptionFileName(std::string_view name)
{
    return EqualsIgnoreCase(name, kDescriptionFileName);
}

namespace {

// Of the names spelled like the description file, the first in byte order
// that is a regular file: a link or a folder of that name describes nothing.
// DESCRIPT.ION itself comes first of all spellings. "" when there is none.
std::string DescriptionNameAmong(const DirectoryNames& names)
{
    std::string best;
    struct stat st;
    for (const struct dirent64* e : names.Entries()) {
        if (!IsDescriptionFileName(e->d_name) || (!best.empty() && best <= e->d_name))
            continue;
        if (e->d_type != DT_REG
            && (e->d_type != DT_UNKNOWN || ::fstatat(names.Fd(), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0
                || !S_ISREG(st.st_mode)))
            continue;
        best = e->d_name;
    }
    return best;
}

int OpenFolder(const std::string& dir)
{
    return ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

} // namespace

std::string DescriptionFileIn(const std::string& dir)
{
    const std::string standard = WithSlash(dir) + kDescriptionFileName;
    struct stat st;
    if (::lstat(standard.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return standard;
    // Other programs write the name in other letter cases.
    std::string best;
    const int fd = OpenFolder(dir);
    if (fd >= 0) {
        DirectoryNames names;
        names.Read(fd);
        best = DescriptionNameAmong(names);
        ::close(fd);
    }
    return best.empty() ? standard : WithSlash(dir) + best;
}

void LoadDescriptionsAmong(const std::string& dir, const DirectoryNames& names, DescriptionList& list)
{
    list.Clear();
    const std::string name = DescriptionNameAmong(names);
    if (name.empty())
        return;
    // Millions of lines for names that are not there must not cost memory:
    // of a large file only lines whose names hash like a present name are
    // kept (a rare collision keeps a line that describes nothing).
    struct stat st;
    const bool filter = ::fstatat(names.Fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
                        st.st_size >= off_t(kKeepAllBelow);
    std::vector<size_t> present;
    const DescriptionList::NameHash hash;
    if (filter) {
        present.reserve(names.Entries().size());
        for (const struct dirent64* e : names.Entries())
            present.push_back(hash(e->d_name));
        std::sort(present.begin(), present.end());
    }
    ForEachLine(WithSlash(dir) + name, [&](const DescriptionLine& d) {
        if (!d.name.empty() && (!filter || std::binary_search(present.begin(), present.end(), hash(d.name))))
            list.Set(d.name, d.description); // empty description removes
        return true;
    });
}

void LoadDescriptions(const std::string& dir, DescriptionList& list)
{
    const int fd = OpenFolder(dir);
    if (fd >= 0) {
        DirectoryNames names;
        names.Read(fd);
        LoadDescriptionsAmong(dir, names, list);
        ::close(fd);
        return;
    }
    // A folder that may be searched but not read: only its DESCRIPT.ION,
    // and only while small enough to be kept whole.
    list.Clear();
    const std::string standard = WithSlash(dir) + kDescriptionFileName;
    struct stat st;
    if (::lstat(standard.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size >= off_t(kKeepAllBelow))
        return;
    ForEachLine(standard, [&](const DescriptionLine& d) {
        if (!d.name.empty())
            list.Set(d.name, d.description);
        return true;
    });
}

void LoadDescriptionsOf(const std::string& dir, const std::vector<std::string>& names, DescriptionList& list)
{
    list.Clear();
    std::unordered_set<std::string> wanted;
    for (const std::string& name : names)
        wanted.insert(UpperAscii(name));
    if (wanted.empty())
        return;
    ForEachLine(DescriptionFileIn(dir), [&](const DescriptionLine& d) {
        if (!d.name.empty() && wanted.count(UpperAscii(d.name)))
            list.Set(d.name, d.description);
        return true;
    });
}

void SetDescriptionNotice(std::function<void(const std::string& text)> notice)
{
    std::lock_guard lock(g_noticeMutex);
    g_notice = std::move(notice);
}

std::string ReadDescription(const std::string& fullPath)
{
    std::string dir, name;
    SplitPath(fullPath, dir, name);
    std::string result;
    if (name.empty())
        return result;
    ForEachLine(DescriptionFileIn(dir), [&](const DescriptionLine& d) {
        if (d.name.empty() || !EqualsIgnoreCase(d.name, name))
            return true;
        result = d.description;
        return false; // the first line for the name is its description
    });
    return result;
}

WriteDescriptionResult WriteDescription(const std::string& fullPath, const std::string& description,
                                        std::string* keptCopy)
{
    std::string dir, name;
    SplitPath(fullPath, dir, name);
    if (!NameFitsFormat(name))
        return WriteDescriptionResult::NameNotStorable;
    return WriteDescriptions(dir, {{name, description, false}}, keptCopy);
}

WriteDescriptionResult WriteDescriptions(const std::string& dir, const std::vector<DescriptionChange>& changes,
                                         std::string* keptCopy)
{
    DescriptionRewrite rewrite(changes);
    if (rewrite.Nothing())
        return WriteDescriptionResult::Written;

    const std::string descPath = DescriptionFileIn(dir);
    struct stat old;
    // The name itself, not what a link there points to.
    const bool oldExists = ::lstat(descPath.c_str(), &old) == 0;
    const bool oldRegular = oldExists && S_ISREG(old.st_mode);

    // Only removals: a file with no line for them stays untouched (and none
    // is made).
    if (rewrite.OnlyRemovals()) {
        bool any = false;
        ForEachLine(descPath, [&](const DescriptionLine& d) {
            any = rewrite.Touches(d);
            return !any;
        });
        if (!any)
            return WriteDescriptionResult::Written;
    }

    bool bom = false;
    bool opened = ForEachWholeLine(descPath, bom, [&](const std::string& line, const DescriptionLine& d) {
        rewrite.Pass(line, d);
    });
    // An existing regular file that cannot be read (no permission, no free
    // reader handle) must not be replaced by one that lacks its lines.
    if (!opened && oldRegular)
        return WriteDescriptionResult::NotStored;
    const std::string out = rewrite.Finish(bom);

    // A new file renamed over the old one replaces it in one step; but a
    // second name of the old file would keep the old lines, so a file with
    // hard links, or one whose owner, mode or attributes the new file cannot
    // take on, is written over in place instead.
    if (oldRegular && old.st_nlink > 1)
        return RewriteInPlace(descPath, old, out, keptCopy);

    std::string tempPath;
    int fd = CreateTempIn(WithSlash(dir), tempPath);
    if (fd < 0)
        return WriteDescriptionResult::NotStored;
    auto fail = [&](WriteDescriptionResult r) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(tempPath.c_str());
        return r;
    };
    if (!WriteAll(fd, out))
        return fail(WriteDescriptionResult::NotStored);

    if (oldRegular && !TakeOnOwnerModeAndAttributes(fd, descPath, old)) {
        fail(WriteDescriptionResult::NotStored);
        return RewriteInPlace(descPath, old, out, keptCopy);
    }
    SetHiddenAttribute(fd, descPath, oldRegular);

    if (::fsync(fd) != 0)
        return fail(WriteDescriptionResult::NotStored);
    int closeResult = ::close(fd);
    fd = -1;
    if (closeResult != 0)
        return fail(WriteDescriptionResult::NotStored);

    // The old file stays in place until the new one replaces it in one step,
    // under the name it had.
    if (::rename(tempPath.c_str(), descPath.c_str()) != 0)
        return fail(WriteDescriptionResult::RenameFailed);

    int dirFd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        (void)::fsync(dirFd);
        ::close(dirFd);
    }
    return WriteDescriptionResult::Written;
}

void ParseDescriptions(std::string_view bytes, DescriptionList& list, const std::vector<std::string>* present)
{
    list.Clear();
    // As with a file of the disk: a large one keeps only the lines of names
    // that are there.
    std::vector<size_t> hashes;
    const DescriptionList::NameHash hash;
    const bool filter = present && bytes.size() >= kKeepAllBelow;
    if (filter) {
        hashes.reserve(present->size());
        for (const std::string& name : *present)
            hashes.push_back(hash(name));
        std::sort(hashes.begin(), hashes.end());
    }
    bool bom = false;
    ForEachLineOf(bytes, DescLineReader::kMaxLine, bom, [&](const std::string&, const DescriptionLine& d) {
        if (!d.name.empty() && (!filter || std::binary_search(hashes.begin(), hashes.end(), hash(d.name))))
            list.Set(d.name, d.description);
    });
}

bool DescriptionNameStorable(const std::string& name) { return NameFitsFormat(name); }

WriteDescriptionResult RewriteDescriptionBytes(std::string_view old, const std::vector<DescriptionChange>& changes,
                                               std::optional<std::string>& out)
{
    out.reset();
    if (old.size() > DescLineReader::kMaxFileBytes)
        return WriteDescriptionResult::NotStored; // its end would be lost
    DescriptionRewrite rewrite(changes);
    if (rewrite.Nothing())
        return WriteDescriptionResult::Written;
    bool bom = false;
    if (rewrite.OnlyRemovals()) {
        bool any = false;
        ForEachLineOf(old, DescLineReader::kMaxLine, bom,
                      [&](const std::string&, const DescriptionLine& d) { any = any || rewrite.Touches(d); });
        if (!any)
            return WriteDescriptionResult::Written;
    }
    ForEachLineOf(old, std::string::npos, bom,
                  [&](const std::string& line, const DescriptionLine& d) { rewrite.Pass(line, d); });
    out = rewrite.Finish(bom);
    return WriteDescriptionResult::Written;
}

} // namespace tarnel
