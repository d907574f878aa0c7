#pragma once
// Writing tar (plain, gzip, xz, zstd) and 7z archives through libarchive:
// a new archive from files of the disk, files added to an existing one and
// members deleted from it. Neither format can be changed in place, so every
// change writes a whole new archive to a hidden name beside the old one and
// puts it in the old one's place only when it is complete and synced: a
// full disk, a cancel or a damaged old archive leaves the old one as it was.
// Runs on a worker; everything is reached by descriptor.
#include "platform/FileRewrite.h"
#include "platform/ShellFileOperation.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct archive;

namespace tarnel {

enum class ArchiveKind { Tar, TarGz, TarXz, TarZst, SevenZip };

inline constexpr const char* kArchiveReadOnlyText = "This archive type can only be read";

inline constexpr ArchiveKind kWritableArchiveKinds[] = {ArchiveKind::Tar, ArchiveKind::TarGz, ArchiveKind::TarXz,
                                                        ArchiveKind::TarZst, ArchiveKind::SevenZip};

// "tar", "tar.gz", ... as the user picks them; the extension with its dot.
const char* ArchiveKindName(ArchiveKind kind);
const char* ArchiveKindExtension(ArchiveKind kind);
// The kind a file name's extension says (".tgz" too); none for others.
std::optional<ArchiveKind> ArchiveKindOfName(const std::string& name);

// The kind of an archive libarchive has opened for reading and read at least
// one header of (or met its end); none when it cannot be written back.
std::optional<ArchiveKind> WritableKindOf(struct archive* reader);
// Whether that archive can be changed; the reading source asks before it
// offers copies into, or deletes from, an archive it shows.
bool ArchiveFormatWritable(struct archive* reader);
// The same for an archive file, recognised by its content. Reads the file:
// never on the window's thread.
bool ArchiveFormatWritable(const std::string& archivePath);

// One item of the disk whose copy went into the archive, as it was read: a
// move removes it only while it is still that file.
struct ArchivedItem {
    std::string path;
    FileStamp stamp;
    bool folder = false;
};

struct ArchiveFacts {
    int64_t size = 0;
    int64_t time = 0; // seconds since the epoch
};

struct ArchiveWriteHooks {
    // How far the work has come; false stops it (the old archive stays).
    std::function<bool(uint64_t bytesDone, uint64_t bytesTotal, const std::string& currentName)> progress;
    // A member of that name is already in the archive. Without it every
    // such file is left out.
    std::function<ReplaceAnswer(const std::string& member, const ArchiveFacts& inArchive, const ArchiveFacts& incoming)>
        askReplace;
};

struct ArchiveWriteResult {
    enum class Status {
        Written,     // the new archive is in place
        NothingDone, // nothing to write: the archive was left alone
        Cancelled,   // stopped by the user: the archive was left alone
        Failed,      // error says why; the archive was left alone...
        Incomplete,  // ...except here: a hard-linked archive half rewritten, keptCopy holds the new one
    };
    Status status = Status::Failed;
    std::string error;
    std::string keptCopy;
    // Items left out, each with why ("path: reason").
    std::vector<std::string> skipped;
    // What went in from the disk, in the order read (a folder before its contents).
    std::vector<ArchivedItem> archived;
    size_t membersRemoved = 0;
    bool Written() const { return status == Status::Written; }
};

// A new archive of kind at archivePath (which must not exist yet) holding
// the disk paths, each under its own name. Modes, owners, times and
// symbolic links are kept; hard links become the format's links where it
// has them. Only regular files, folders and links are read.
ArchiveWriteResult CreateArchive(const std::string& archivePath, ArchiveKind kind,
                                 const std::vector<std::string>& diskPaths, const ArchiveWriteHooks& hooks);

// Adds the disk paths to the existing archive, into its folder inside ("" or
// "a/b/"). A file whose member name is taken asks hooks.askReplace; a folder
// merges with the archive's folder of that name.
ArchiveWriteResult AddToArchive(const std::string& archivePath, const std::string& inside,
                                const std::vector<std::string>& diskPaths, const ArchiveWriteHooks& hooks);

// Deletes members by name ("a/b.txt"); a folder's name ("a/b") deletes
// everything below it. A hard link left behind by a deleted member keeps
// the member's contents.
ArchiveWriteResult DeleteFromArchive(const std::string& archivePath, const std::vector<std::string>& members,
                                     const ArchiveWriteHooks& hooks);

} // namespace tarnel
