#include "widgets/IconCache.h"

#include "panes/DirData.h"
#include "panes/FileData.h"

#include <QApplication>
#include <QFile>
#include <QMimeDatabase>
#include <QMimeType>
#include <QPainter>
#include <QPixmap>
#include <QStyle>

namespace tarnel {

namespace {

QStyle::StandardPixmap StandardPixmapFor(IconFallback fallback)
{
    switch (fallback) {
    case IconFallback::Folder: return QStyle::SP_DirIcon;
    case IconFallback::HardDisk: return QStyle::SP_DriveHDIcon;
    case IconFallback::Removable: return QStyle::SP_DriveFDIcon;
    case IconFallback::Network: return QStyle::SP_DriveNetIcon;
    case IconFallback::Optical: return QStyle::SP_DriveCDIcon;
    case IconFallback::File: break;
    }
    return QStyle::SP_FileIcon;
}

// Last resort when neither the theme nor the style has a picture: a plain page.
QIcon DrawnPage()
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(QColor(0x60, 0x60, 0x60));
    p.setBrush(Qt::white);
    p.drawRect(3, 1, 10, 13);
    return QIcon(pm);
}

std::string IdentityOf(const QStringList& names, IconFallback fallback)
{
    return names.join(QLatin1Char('\n')).toStdString() + '\t' + std::to_string(int(fallback));
}

} // namespace

int IconCache::KeyForNames(const QStringList& themeNames, IconFallback fallback)
{
    const std::string identity = IdentityOf(themeNames, fallback);
    std::lock_guard lock(mutex_);
    const auto found = keys_.find(identity);
    if (found != keys_.end())
        return found->second;
    entries_.push_back({themeNames, fallback});
    const int key = int(entries_.size());
    keys_.emplace(identity, key);
    return key;
}

int IconCache::KeyForName(const QString& iconName)
{
    return KeyForNames({iconName}, IconFallback::File);
}

int IconCache::KeyForMimeType(const QMimeType& type)
{
    QStringList names;
    for (const QString& name : {type.iconName(), type.genericIconName()})
        if (!name.isEmpty() && !names.contains(name))
            names << name;
    names << (type.inherits(QStringLiteral("text/plain")) ? QStringLiteral("text-x-generic")
                                                          : QStringLiteral("application-x-generic"));
    return KeyForNames(names, IconFallback::File);
}

int IconCache::FolderKey()
{
    return KeyForNames({QStringLiteral("folder")}, IconFallback::Folder);
}

int IconCache::DriveKey(DriveType type)
{
    switch (type) {
    case DriveType::Removable:
        return KeyForNames({QStringLiteral("drive-removable-media")}, IconFallback::Removable);
    case DriveType::Network:
        return KeyForNames({QStringLiteral("network-server"), QStringLiteral("folder-remote")},
                           IconFallback::Network);
    case DriveType::CdRom:
        return KeyForNames({QStringLiteral("media-optical")}, IconFallback::Optical);
    case DriveType::Fixed:
    case DriveType::RamDisk:
        break;
    }
    return KeyForNames({QStringLiteral("drive-harddisk")}, IconFallback::HardDisk);
}

QIcon IconCache::IconForKey(int key)
{
    if (key <= 0)
        return {};
    const auto cached = pictures_.constFind(key);
    if (cached != pictures_.constEnd())
        return *cached;

    Entry entry;
    {
        std::lock_guard lock(mutex_);
        if (size_t(key) > entries_.size())
            return {};
        entry = entries_[size_t(key) - 1];
    }
    QIcon icon;
    for (const QString& name : entry.names) {
        if (QIcon::hasThemeIcon(name))
            icon = QIcon::fromTheme(name);
        if (!icon.isNull())
            break;
    }
    if (icon.isNull() && QApplication::style())
        icon = QApplication::style()->standardIcon(StandardPixmapFor(entry.fallback));
    if (icon.isNull())
        icon = DrawnPage();
    pictures_.insert(key, icon);
    return icon;
}

void IconCache::ClearPictures()
{
    pictures_.clear();
}

IconCache& Icons()
{
    static IconCache* cache = [] {
        auto* made = new IconCache;
        // QIcons must not outlive the application object.
        qAddPostRoutine([] { Icons().ClearPictures(); });
        return made;
    }();
    return *cache;
}

int IconKeyForEntry(const TDirData& pane, const TFileData& e, const Volume* drive)
{
    IconCache& icons = Icons();
    if (e.Kind == fkDrive)
        return icons.DriveKey(drive ? drive->type : DriveType::Fixed);
    if (e.Kind == fkDirectory) // ".." included, on disk and inside archives alike
        return icons.FolderKey();
    // By name only: painting must not open files. Archive members have no file
    // to look at, so their key is final; a file's is provisional (negative)
    // until ContentLooks has looked at it.
    static const QMimeDatabase mimeTypes;
    const QMimeType type =
        mimeTypes.mimeTypeForFile(QFile::decodeName(QByteArray::fromStdString(e.Name)), QMimeDatabase::MatchExtension);
    const int key = icons.KeyForMimeType(type);
    return pane.Can(Capability::DiskPaths) ? -key : key;
}

} // namespace tarnel
