#pragma once
// Where a pane is: a directory, or a folder inside a ZIP archive. One value,
// compared, stored in the history and handed to the file operations and the
// viewer whole, so that no caller reads the three parts on its own.
#include <string>
#include <utility>

namespace tarnel {

// The sources a place can lie in, by the names places and source tables use.
inline constexpr const char* kLocalSourceName = "local";
inline constexpr const char* kZipSourceName = "zip";
// Sources a place names itself (PanePlace::SourceName).
inline constexpr const char* kArchiveSourceName = "archive"; // archives other than ZIP, read through libarchive
inline constexpr const char* kSearchSourceName = "search";   // a find's results
inline constexpr const char* kSftpSourceName = "sftp";       // a folder of a remote machine

struct PanePlace {
    std::string Path;    // the directory; inside an archive, the archive file itself
    int ZipMode = 0;     // 0 on disk; 1 and more inside the archive at Path
    std::string ZipPath; // the folder inside the archive: "" or "a/b/"
    // The source of a place that is neither a folder of the disk nor the
    // inside of a ZIP archive ("archive", "search", "sftp"); empty for those
    // two, whose source follows from ZipMode.
    std::string SourceName;

    static PanePlace Directory(std::string path) { return {std::move(path), 0, {}, {}}; }
    static PanePlace Archive(std::string file, std::string inside = {}) { return {std::move(file), 1, std::move(inside), {}}; }
    // A path as the user gives it: "a.zip/docs/" is the folder docs inside
    // the archive a.zip (the first leading part that is a file and an
    // archive by its name or its content; a ZIP's source is the ZIP source,
    // any other's the archive source); anything else is a directory.
    static PanePlace FromPath(const std::string& path);
    // The same by the names alone, touching no file: for the window's
    // thread, which never waits on a file system.
    static PanePlace FromPathByName(const std::string& path);

    // The name of the source the place lies in: SourceName when set, else
    // "zip" inside an archive and "local" on disk. ZipMode stays what the
    // settings and the history store.
    const char* Source() const
    {
        if (!SourceName.empty())
            return SourceName.c_str();
        return InArchive() ? kZipSourceName : kLocalSourceName;
    }
    bool InArchive() const { return ZipMode > 0; }
    // The archive file without a trailing "/" (or the directory, on disk).
    std::string ArchiveFile() const;
    // The folder name below this place, on disk or inside the archive.
    PanePlace Child(const std::string& name) const;
    // One step up: out of a folder inside the archive, out of the archive,
    // or to the parent directory; "/" stays "/".
    PanePlace Parent() const;
    // The row that stands for this place in its Parent()'s listing: the
    // folder, or the archive file; "" at "/".
    std::string NameInParent() const;
    // The same place with its directory ending in "/", as the history keeps it.
    PanePlace WithDelimiter() const;
    // What the list positions of the place are stored under.
    std::string Key() const { return Path + ZipPath; }
    // The place as the user reads it: the directory, or the archive's path
    // followed by the folder inside it.
    std::string Text() const;

    bool operator==(const PanePlace&) const = default;
};

} // namespace tarnel
