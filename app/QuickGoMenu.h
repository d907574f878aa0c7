#pragma once
// The quick-go menus: one item per drive, each opening onto the directory tree
// of that drive. A sub-menu is listed only when it is about to open, one level
// at a time, so a menu costs nothing for the parts of the tree left unvisited.
// The listing runs on a worker (a folder on a dead mount would hold the
// window): the sub-menu says "Reading..." until it comes in.
// Qt wraps a menu taller than the screen into columns by itself.
#include <QObject>
#include <QPoint>

#include <memory>
#include <string>
#include <vector>

class QMenu;
class QWidget;

namespace tarnel {

class QuickGoMenu : public QObject {
    Q_OBJECT
public:
    explicit QuickGoMenu(QWidget* parent);
    ~QuickGoMenu() override;

    // The menu Popup shows.
    QMenu* Menu() const { return menu_; }

    // Rebuilds Menu() and shows it at globalPos (without waiting).
    void Popup(const QPoint& globalPos);
    // Deletes every item of menu, then FillDriveItems.
    void Refill(QMenu* menu);
    // Inserts one item per system drive at the top of menu.
    void FillDriveItems(QMenu* menu);
    // True while sub's listing has not come in.
    static bool IsReading(const QMenu* sub);

signals:
    // A place was chosen; the path ends with "/".
    void goTo(const std::string& path);

private:
    QMenu* AddBranch(QMenu* parent, int position, const QString& text, const std::string& path,
                     const QString& arrowText);
    void AddLeaf(QMenu* parent, const QString& text, const std::string& path);
    void FillDirectory(QMenu* sub);
    void Listed(QMenu* sub, unsigned ticket, const std::vector<std::string>& names, const std::vector<bool>& branches);

    struct Listings;
    QMenu* menu_;
    std::shared_ptr<Listings> listings_; // shared with the workers
    unsigned tickets_ = 0;
};

// The sub-directory names of dir (links to directories included, "." and ".."
// not), sorted without regard to ASCII case. hasSubdirectories, when given,
// receives for each name whether that directory holds a directory in turn.
// False when dir cannot be read.
bool ListSubdirectories(const std::string& dir, std::vector<std::string>& names,
                        std::vector<bool>* hasSubdirectories = nullptr);

} // namespace tarnel
