#pragma once
// What both archive libraries share: messages through the caller's callback,
// wildcard patterns and the writing of a new archive.
#include "platform/zipdll/ZipDllApi.h"

#include <functional>
#include <sys/stat.h>
#include <string>
#include <string_view>
#include <vector>

namespace tarnel::zipdll {

// Sends messages and progress to the caller's callback and remembers a
// cancel request.
class Reporter {
public:
    Reporter(ZipDllCallback callback, void* caller, void* handle) : callback_(callback), caller_(caller), handle_(handle) {}
    void Message(const std::string& text, int errorCode = 0) { Send(ZIPDLL_ACTION_MESSAGE, errorCode, 0, text); }
    void FileStart(const std::string& name, int64_t size) { Send(ZIPDLL_ACTION_FILE_START, 0, size, name); }
    // The end of one file; a member name with error code 0 tells the caller
    // that member is done (extracted or tested), so a move may delete it;
    // its index goes in the size field.
    void FileEnd(const std::string& member = {}, bool done = true, uint64_t index = 0)
    {
        Send(ZIPDLL_ACTION_FILE_END, done ? 0 : kFileFailed, int64_t(index), member);
    }
    bool Cancelled() const { return cancelled_; }

private:
    static constexpr int kFileFailed = 1;
    void Send(int action, int errorCode, int64_t size, const std::string& text);
    ZipDllCallback callback_;
    void* caller_;
    void* handle_;
    bool cancelled_ = false;
};

// Error codes passed with messages.
inline constexpr int kErrorGeneral = 1;
inline constexpr int kErrorRefused = 2;

// "*" (also across "/") and "?", without regard to ASCII case; a trailing
// "*.*" stands for everything below, as "*" does.
bool WildcardMatch(std::string_view pattern, std::string_view name);
bool HasWildcards(std::string_view text);

// The file patterns of one call against an archive's members. "*" and "?"
// are legal in Linux names: a selector that is the exact name of a
// member names that member alone, never its look-alikes, and "FOLDER/*.*"
// (how a folder is named) takes everything below FOLDER, its name compared
// literally (without regard to ASCII case, as the listing merges folders).
bool IsFolderSelector(std::string_view selector);

class MemberSelection {
public:
    MemberSelection(const std::vector<std::string>& selectors, const std::function<bool(const std::string&)>& isMember);
    // An empty selection takes every member.
    bool Selects(const std::string& name) const;

private:
    enum class Kind { Literal, Folder, Pattern };
    struct Selector {
        std::string text; // for a folder: its name and "/"
        Kind kind;
    };
    std::vector<Selector> selectors_;
};

// The file patterns of a call, checked: at most ZIPDLL_MAX_SELECTORS, each at
// most 255 bytes. False (with a message) when the call must be refused.
bool ReadSelectors(char* const* selectors, int32_t count, std::vector<std::string>& out, Reporter& reporter);

// A C string of at most 255 bytes, or false with a message.
bool ReadName(const char* text, std::string& out, Reporter& reporter);

// Flushes a finished archive and the directory entry that names it.
void SyncFileAndDirectory(const std::string& path);

} // namespace tarnel::zipdll

namespace tarnel::zipdll {

// A copy of an archive beside it, to be changed and then put in its place:
// until Commit the original stays as it was. The archive name is resolved
// first, so a link keeps pointing at the archive.
class ArchiveCopy {
public:
    ArchiveCopy() = default;
    ArchiveCopy(const ArchiveCopy&) = delete;
    ArchiveCopy& operator=(const ArchiveCopy&) = delete;
    ~ArchiveCopy();
    // Copies original (when it exists) to a new temporary beside it.
    bool Begin(const std::string& original, std::string& error);
    const std::string& TempPath() const { return temp_; }
    // The archive file itself, links resolved.
    const std::string& RealPath() const { return original_; }
    // True when st is the archive or its temporary: a folder being added
    // may hold them, and a move must never delete them.
    bool Holds(const struct stat& st) const;
    // Flushes the temporary and renames it over the original, with the
    // original's mode and, where allowed, owner. When asEmpty, the archive
    // with no entries takes its place instead.
    bool Commit(bool asEmpty, std::string& error);

private:
    std::string original_;
    std::string temp_;
    bool existed_ = false;
    struct stat originalStat_ {};
    dev_t tempDev_ = 0;
    ino_t tempIno_ = 0;
    mode_t mode_ = 0644;
};

} // namespace tarnel::zipdll
