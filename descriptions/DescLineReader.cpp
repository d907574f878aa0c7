#include "descriptions/DescLineReader.h"

#include "platform/RegularFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {

struct Slot {
    bool used = false;
    int fd = -1;
    std::unique_ptr<char[]> buffer;
    size_t capacity = 0;
    size_t pos = 0;   // next unread byte
    size_t len = 0;   // valid bytes in buffer
    bool end = false; // a block read has returned nothing
    size_t left = 0;  // bytes still allowed to be read
    bool cut = false;
    dev_t device = 0;
    ino_t inode = 0;
    bool bom = false;
};

Slot g_slots[DescLineReader::kHandles];
// Guards taking and freeing slots: listings and file operations read
// description files on threads of their own. A slot itself belongs to the
// one thread that opened it.
std::mutex g_slotsMutex;

Slot* SlotOf(int handle)
{
    if (handle < 1 || handle > DescLineReader::kHandles)
        return nullptr;
    Slot& s = g_slots[handle - 1];
    return s.used ? &s : nullptr;
}

// Refills an exhausted buffer. A read error counts as end of data: a reader
// loop must always terminate.
void Fill(Slot& s)
{
    s.pos = 0;
    s.len = 0;
    if (s.end)
        return;
    if (s.left == 0) {
        // The file may have grown past the cap since it was opened: what lies
        // beyond was not read, so the data is no whole file.
        char probe;
        if (::read(s.fd, &probe, 1) != 0)
            s.cut = true;
        s.end = true;
        return;
    }
    ssize_t n;
    do
        n = ::read(s.fd, s.buffer.get(), s.capacity < s.left ? s.capacity : s.left);
    while (n < 0 && errno == EINTR);
    if (n <= 0) {
        // A read error is no end of file: a rewrite from these lines would
        // drop every line after it.
        if (n < 0)
            s.cut = true;
        s.end = true;
    } else {
        s.len = size_t(n);
        s.left -= size_t(n);
    }
}

// Keeps the invariant "bytes are waiting, or end is set", so that EndOfData
// turns true right after the last line and a reader loop yields no extra
// empty line.
void Ensure(Slot& s)
{
    if (s.pos == s.len)
        Fill(s);
}

inline bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

} // namespace

int DescLineReader::Open(const std::string& fileName, size_t bufferSize)
{
    // A link could make a shared folder's description file any file of ours.
    int fd = OpenRegularFileNoLink(fileName);
    if (fd < 0)
        return 0;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return 0;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);

    if (bufferSize == 0)
        bufferSize = 1;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[bufferSize]);
    if (!buffer) {
        ::close(fd);
        return 0;
    }

    int index = 0;
    {
        std::lock_guard lock(g_slotsMutex);
        while (index < kHandles && g_slots[index].used)
            ++index;
        if (index == kHandles) {
            ::close(fd);
            return 0;
        }
        g_slots[index].used = true;
    }
    Slot& s = g_slots[index];
    s.fd = fd;
    s.buffer = std::move(buffer);
    s.capacity = bufferSize;
    s.pos = s.len = 0;
    s.end = false;
    s.left = kMaxFileBytes;
    s.cut = st.st_size > off_t(kMaxFileBytes);
    s.device = st.st_dev;
    s.inode = st.st_ino;
    Fill(s); // an empty file is at its end at once
    // A UTF-8 byte-order mark (other programs write one) is no part of the
    // first name.
    static constexpr char kBom[] = "\xEF\xBB\xBF";
    if (s.len >= 3 && std::equal(kBom, kBom + 3, s.buffer.get())) {
        s.bom = true;
        s.pos = 3;
        Ensure(s);
    }
    return index + 1;
}

std::string DescLineReader::ReadLine(int handle)
{
    return ReadLineUpTo(handle, kMaxLine);
}

std::string DescLineReader::ReadWholeLine(int handle)
{
    return ReadLineUpTo(handle, std::string::npos);
}

std::string DescLineReader::ReadLineUpTo(int handle, size_t maxLine)
{
    std::string line;
    Slot* s = SlotOf(handle);
    if (!s)
        return line;

    // Scan block-wise for the line end; bytes beyond maxLine are skipped
    // without being stored, so a huge line costs time only, not memory.
    for (;;) {
        Ensure(*s);
        if (s->pos == s->len)
            return line; // last line without a line break
        const char* begin = s->buffer.get() + s->pos;
        const char* stop = s->buffer.get() + s->len;
        const char* p = begin;
        while (p != stop && !IsLineEnd(*p))
            ++p;
        size_t room = maxLine - line.size();
        size_t take = size_t(p - begin);
        line.append(begin, take < room ? take : room);
        s->pos += size_t(p - begin);
        if (p != stop)
            break;
    }

    // One line end: CR or LF, plus a single CR or LF directly after it, which
    // may sit in the next block.
    ++s->pos;
    Ensure(*s);
    if (s->pos < s->len && IsLineEnd(s->buffer[s->pos])) {
        ++s->pos;
        Ensure(*s);
    }
    return line;
}

bool DescLineReader::EndOfData(int handle)
{
    Slot* s = SlotOf(handle);
    return !s || (s->end && s->pos == s->len);
}

bool DescLineReader::HasBom(int handle)
{
    Slot* s = SlotOf(handle);
    return s && s->bom;
}

bool DescLineReader::Cut(int handle)
{
    Slot* s = SlotOf(handle);
    return s && s->cut;
}

void DescLineReader::Identity(int handle, unsigned long long& device, unsigned long long& inode)
{
    Slot* s = SlotOf(handle);
    device = s ? s->device : 0;
    inode = s ? s->inode : 0;
}

void DescLineReader::Close(int handle)
{
    Slot* s = SlotOf(handle);
    if (!s)
        return;
    ::close(s->fd);
    std::lock_guard lock(g_slotsMutex);
    *s = Slot();
}

} // namespace tarnel
