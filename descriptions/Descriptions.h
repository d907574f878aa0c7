#pragma once
// DESCRIPT.ION: one line per described entry, beside the entries it describes.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarnel {

inline constexpr const char* kDescriptionFileName = "DESCRIPT.ION";
inline constexpr size_t kDescriptionBufferSize = 10240;
// Description files below this size are kept whole whichever names they hold.
inline constexpr size_t kDescriptionsKeptWhole = 64 * 1024;
inline constexpr const char* kRenameDescriptionWarning = "Unable to rename to DESCRIPT.ION.";

struct DescriptionLine {
    std::string name; // empty: the line describes nothing
    std::string description;
};

// Splits one line (without its line end) into name and description.
DescriptionLine ParseDescriptionLine(std::string_view line);
// The written form: quoted when the name holds a blank. No line end.
std::string FormatDescriptionLine(const std::string& name, const std::string& description);

// Name=description pairs of one directory, looked up without regard to
// (ASCII) letter case.
class DescriptionList {
public:
    void Clear() { byName_.clear(); }
    void Set(const std::string& name, const std::string& description);
    void Remove(const std::string& name);
    // nullptr when the name has no description.
    const std::string* Find(const std::string& name) const;
    size_t Size() const { return byName_.size(); }
    bool Empty() const { return byName_.empty(); }

    // Hash of a name without regard to (ASCII) letter case.
    struct NameHash {
        using is_transparent = void;
        size_t operator()(std::string_view name) const;
    };

private:
    struct NameEqual {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const;
    };
    // Keys upper-cased; looked up as given, with no upper-cased copy.
    std::unordered_map<std::string, std::string, NameHash, NameEqual> byName_;
};

// Letter case counts on this system, and other programs name the file
// "descript.ion": the file of dir that is read and rewritten is DESCRIPT.ION
// if it is there, else the regular file whose name equals it without regard
// to case (of several, the first in byte order), else DESCRIPT.ION, which a
// first write creates. dir with or without "/".
std::string DescriptionFileIn(const std::string& dir);
// name is spelled like the description file (any case).
bool IsDescriptionFileName(std::string_view name);

// dir ends with "/". A missing or unreadable file leaves the list empty. Of a
// large file only the lines for names present in dir are kept.
void LoadDescriptions(const std::string& dir, DescriptionList& list);

class DirectoryNames;
// The same, with the folder's names already read by a listing (names.Fd() is
// open on dir): neither the file's spelling nor the names present cost a
// second read of the folder.
void LoadDescriptionsAmong(const std::string& dir, const DirectoryNames& names, DescriptionList& list);

// The descriptions of the given names only (later line wins), whether or
// not the entries are still in dir.
void LoadDescriptionsOf(const std::string& dir, const std::vector<std::string>& names, DescriptionList& list);

// Receives, once per file, the text saying that a description file is larger
// than the reader takes (DescLineReader::kMaxFileBytes): only its beginning
// counts and nothing is written to it. Called on the reading thread; by
// default the text goes to standard error.
void SetDescriptionNotice(std::function<void(const std::string& text)> notice);
// Description of one file or directory (full path), from the first line for
// its name, or "".
std::string ReadDescription(const std::string& fullPath);

enum class WriteDescriptionResult {
    Written,
    NotStored,    // the temporary file could not be made, or the old file is
                  // too large to be rewritten whole: silently not stored
    NameNotStorable, // the line format cannot carry this name: the caller says so
    RenameFailed, // the caller shows kRenameDescriptionWarning; the old file is intact
    Incomplete,   // written over in place and failed midway: the file may be
                  // half written, its new contents are in keptCopy
};
// Sets the description of one file or directory (full path) in the
// DESCRIPT.ION of its directory. The file is replaced in one step by a new
// one with its owner, mode and extended attributes; one with hard links (or
// whose owner or attributes a new file cannot take on) is written over in
// place from a synced copy, so that all its names show the new lines.
WriteDescriptionResult WriteDescription(const std::string& fullPath, const std::string& description,
                                        std::string* keptCopy = nullptr);

struct DescriptionChange {
    std::string name;
    std::string description;
    bool remove = false; // drop every line for name instead
};
// Applies several changes to the description file of dir in one rewrite,
// with the same safety as WriteDescription. A name the format cannot carry
// is left out. Removals alone never create a file nor rewrite one that has no
// line for them. A file that began with a UTF-8 byte-order mark keeps it.
WriteDescriptionResult WriteDescriptions(const std::string& dir, const std::vector<DescriptionChange>& changes,
                                         std::string* keptCopy = nullptr);

// Descriptions from a description file's contents fetched by other means
// (from a remote folder), read as the file's: lines cut at the reader's
// length, no more than DescLineReader::kMaxFileBytes taken. present, when
// given, names the folder's entries: of a large file only their lines are
// kept, so that a hostile file costs no more memory than the folder.
void ParseDescriptions(std::string_view bytes, DescriptionList& list,
                       const std::vector<std::string>* present = nullptr);
// Whether a line can carry a description for name.
bool DescriptionNameStorable(const std::string& name);
// The new contents of a description file whose old contents are old (empty
// when there is none) after changes, as WriteDescriptions makes them; out is
// left empty when nothing needs writing. NotStored when old is larger than
// the reader takes: its end would be lost.
WriteDescriptionResult RewriteDescriptionBytes(std::string_view old, const std::vector<DescriptionChange>& changes,
                                               std::optional<std::string>& out);

} // namespace tarnel
