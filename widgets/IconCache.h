#pragma once
// Icon keys and the pictures behind them. An entry's Icon field holds a small
// key (0 = none); keys are handed out from any thread, but QIcon is not
// thread-safe, so only the main thread turns a key into a picture.
#include "platform/Volumes.h"

#include <QHash>
#include <QIcon>
#include <QString>
#include <QStringList>

#include <mutex>
#include <unordered_map>
#include <vector>

class QMimeType;

namespace tarnel {

struct TDirData;
struct TFileData;

// What to draw when the icon theme knows none of a key's names.
enum class IconFallback { File, Folder, HardDisk, Removable, Network, Optical };

class IconCache {
public:
    IconCache() = default;
    IconCache(const IconCache&) = delete;
    IconCache& operator=(const IconCache&) = delete;

    // Thread-safe. The same names and fallback always give the same key; keys start at 1.
    int KeyForNames(const QStringList& themeNames, IconFallback fallback);
    // Thread-safe. One theme icon name, with the generic file picture as fallback.
    int KeyForName(const QString& iconName);
    // Thread-safe. The type's icon, then its generic icon, then a generic text or binary file.
    int KeyForMimeType(const QMimeType& type);
    // Thread-safe.
    int FolderKey();
    int DriveKey(DriveType type);

    // Main thread. A null icon for 0 or a key never handed out; for any other
    // key there is always something to draw, even without an icon theme.
    QIcon IconForKey(int key);

    // Main thread. Drops the pictures (keys stay valid), e.g. after a theme change.
    void ClearPictures();

private:
    struct Entry {
        QStringList names;
        IconFallback fallback = IconFallback::File;
    };
    std::mutex mutex_;
    std::unordered_map<std::string, int> keys_; // names and fallback -> key
    std::vector<Entry> entries_;                // key k at index k - 1
    QHash<int, QIcon> pictures_;                // main thread only
};

// The process-wide cache.
IconCache& Icons();

// The icon key painting gives an entry: drives by their type, directories and
// ".." a folder, files by the MIME type of their name (extension only: no file
// is touched). A file's key is provisional, negative, until its row shows and
// ContentLooks has looked at the file; an archive member's is final. drive is
// the volume of a drive row (null: a hard disk).
int IconKeyForEntry(const TDirData& pane, const TFileData& e, const Volume* drive);

} // namespace tarnel
