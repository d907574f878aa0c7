#include "app/QuickGoMenu.h"

#include "panes/PathUtil.h"
#include "platform/Volumes.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QPointer>

#include <algorithm>
#include <mutex>
#include <system_error>
#include <thread>
#include <dirent.h>
#include <fcntl.h>
#include <numeric>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {

QString Decode(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

// Menu text shows "&" literally instead of taking it as a mnemonic.
QString MenuText(QString text) { return text.replace('&', "&&"); }

void SetPlace(QAction* action, const std::string& path)
{
    const QString shown = Decode(path);
    action->setStatusTip(shown);
    action->setToolTip(shown);
    action->setData(QByteArray::fromStdString(path)); // raw bytes: not every name is UTF-8
}

std::string PlaceOf(const QAction* action) { return action->data().toByteArray().toStdString(); }

bool IsDots(const char* name) { return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)); }

// d_type says "directory" for real ones only; links and file systems that do
// not fill d_type need a stat that follows the link.
bool EntryIsDirectory(int dirFd, const dirent* e)
{
    if (e->d_type == DT_DIR)
        return true;
    if (e->d_type != DT_LNK && e->d_type != DT_UNKNOWN)
        return false;
    struct stat st;
    return fstatat(dirFd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

// Stops at the first directory found: only the answer matters, not the count.
bool HoldsDirectory(int parentFd, const char* name)
{
    const int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return false;
    }
    bool found = false;
    while (const dirent* e = readdir(dir))
        if (!IsDots(e->d_name) && EntryIsDirectory(fd, e)) {
            found = true;
            break;
        }
    closedir(dir);
    return found;
}

// Deletes the items of menu from index first on, with the sub-menus they open.
void DeleteItems(QMenu* menu, qsizetype first)
{
    const QList<QAction*> actions = menu->actions();
    for (qsizetype i = first; i < actions.size(); ++i) {
        QAction* action = actions[i];
        if (QMenu* sub = action->menu<QMenu*>(); sub && sub->parent() == menu)
            delete sub; // takes its menu action along
        else if (action->parent() == menu)
            delete action;
        else
            menu->removeAction(action);
    }
}

} // namespace

bool ListSubdirectories(const std::string& dir, std::vector<std::string>& names, std::vector<bool>* hasSubdirectories)
{
    names.clear();
    if (hasSubdirectories)
        hasSubdirectories->clear();
    DIR* handle = opendir(dir.c_str());
    if (!handle)
        return false;
    const int fd = dirfd(handle);
    std::vector<std::string> found;
    while (const dirent* e = readdir(handle))
        if (!IsDots(e->d_name) && EntryIsDirectory(fd, e))
            found.emplace_back(e->d_name);

    std::vector<std::string> keys;
    keys.reserve(found.size());
    for (const std::string& name : found)
        keys.push_back(UpperAscii(name));
    std::vector<size_t> order(found.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return keys[a] != keys[b] ? keys[a] < keys[b] : found[a] < found[b];
    });
    for (size_t i : order) {
        names.push_back(std::move(found[i]));
        if (hasSubdirectories)
            hasSubdirectories->push_back(HoldsDirectory(fd, names.back().c_str()));
    }
    closedir(handle);
    return true;
}

struct QuickGoMenu::Listings {
    std::mutex mutex;
    QuickGoMenu* owner = nullptr; // null once the menu is gone
};

QuickGoMenu::QuickGoMenu(QWidget* parent)
    : QObject(parent), menu_(new QMenu(parent)), listings_(std::make_shared<Listings>())
{
    menu_->setObjectName("QuickGoPopup");
    listings_->owner = this;
}

QuickGoMenu::~QuickGoMenu()
{
    std::lock_guard lock(listings_->mutex);
    listings_->owner = nullptr;
}

bool QuickGoMenu::IsReading(const QMenu* sub) { return sub->property("quickGoListing").toUInt() != 0; }

void QuickGoMenu::Popup(const QPoint& globalPos)
{
    Refill(menu_);
    menu_->popup(globalPos);
}

void QuickGoMenu::Refill(QMenu* menu)
{
    DeleteItems(menu, 0);
    FillDriveItems(menu);
}

void QuickGoMenu::FillDriveItems(QMenu* menu)
{
    const DriveList& drives = SystemDrives();
    for (size_t i = 0; i < drives.size(); ++i) {
        const std::string place = AddPathDelimiter(drives[i].root);
        QMenu* sub = AddBranch(menu, int(i), MenuText(Decode(drives[i].displayText)), place,
                               MenuText("-> " + Decode(place)));
        sub->menuAction()->setObjectName(QString("PopMyItem%1").arg(menu->actions().size()));
    }
}

QMenu* QuickGoMenu::AddBranch(QMenu* parent, int position, const QString& text, const std::string& path,
                              const QString& arrowText)
{
    auto* sub = new QMenu(text, parent);
    SetPlace(sub->menuAction(), path);
    parent->insertMenu(parent->actions().value(position), sub);
    // The first item goes to the place itself, so a directory stays reachable
    // even though choosing its item only opens the sub-menu.
    auto* arrow = new QAction(arrowText, sub);
    SetPlace(arrow, path);
    connect(arrow, &QAction::triggered, this, [this, path] { emit goTo(path); });
    sub->addAction(arrow);
    sub->setDefaultAction(arrow);
    connect(sub, &QMenu::aboutToShow, this, [this, sub] { FillDirectory(sub); });
    return sub;
}

void QuickGoMenu::AddLeaf(QMenu* parent, const QString& text, const std::string& path)
{
    auto* leaf = new QAction(text, parent);
    SetPlace(leaf, path);
    connect(leaf, &QAction::triggered, this, [this, path] { emit goTo(path); });
    parent->addAction(leaf);
}

void QuickGoMenu::FillDirectory(QMenu* sub)
{
    // Listed afresh at every opening: the tree may have changed since.
    DeleteItems(sub, 1);
    auto* reading = new QAction("Reading...", sub);
    reading->setObjectName("QuickGoReading");
    reading->setEnabled(false);
    sub->addAction(reading);
    const unsigned ticket = ++tickets_ ? tickets_ : ++tickets_;
    sub->setProperty("quickGoListing", ticket);
    const std::string dir = AddPathDelimiter(PlaceOf(sub->menuAction()));
    const auto listings = listings_;
    QPointer<QMenu> target(sub);
    const auto work = [listings, target, ticket, dir] {
        std::vector<std::string> names;
        std::vector<bool> branches;
        ListSubdirectories(dir, names, &branches);
        std::lock_guard lock(listings->mutex);
        if (QuickGoMenu* owner = listings->owner)
            QMetaObject::invokeMethod(owner, [owner, target, ticket, names = std::move(names),
                                              branches = std::move(branches)] {
                if (target)
                    owner->Listed(target, ticket, names, branches);
            }, Qt::QueuedConnection);
    };
    try {
        std::thread(work).detach();
    } catch (const std::system_error&) {
        sub->setProperty("quickGoListing", 0u);
        DeleteItems(sub, 1);
    }
}

void QuickGoMenu::Listed(QMenu* sub, unsigned ticket, const std::vector<std::string>& names,
                         const std::vector<bool>& branches)
{
    if (sub->property("quickGoListing").toUInt() != ticket)
        return; // opened again since: that listing counts
    sub->setProperty("quickGoListing", 0u);
    DeleteItems(sub, 1);
    const std::string dir = AddPathDelimiter(PlaceOf(sub->menuAction()));
    for (size_t i = 0; i < names.size(); ++i) {
        const QString text = MenuText(Decode(names[i]));
        const std::string path = dir + names[i] + "/";
        if (branches[i])
            AddBranch(sub, int(sub->actions().size()), text, path, "-> " + text);
        else
            AddLeaf(sub, text, path);
    }
}

} // namespace tarnel
