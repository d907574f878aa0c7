#pragma once
// The quick-go menus: one item per drive, each opening onto the directory tree
// of that drive. A sub-menu is listed only when it is about to open, one level
// at a time, so a menu costs nothing for the parts of the tree left unvisited.
// Qt wraps a menu taller than the screen into columns by itself.
#include <QObject>
#include <QPoint>

#include <string>
#include <vector>

class QMenu;
class QWidget;

namespace tarnel {

class QuickGoMenu : public QObject {
    Q_OBJECT
public:
    explicit QuickGoMenu(QWidget* parent);

    // The menu Popup shows.
    QMenu* Menu() const { return menu_; }

    // Rebuilds Menu() and shows it at globalPos (without waiting).
    void Popup(const QPoint& globalPos);
    // Deletes every item of menu, then FillDriveItems.
    void Refill(QMenu* menu);
    // Inserts one item per system drive at the top of menu.
    void FillDriveItems(QMenu* menu);

signals:
    // A place was chosen; the path ends with "/".
    void goTo(const std::string& path);

private:
    QMenu* AddBranch(QMenu* parent, int position, const QString& text, const std::string& path,
                     const QString& arrowText);
    void AddLeaf(QMenu* parent, const QString& text, const std::string& path);
    void FillDirectory(QMenu* sub);

    QMenu* menu_;
};

// The sub-directory names of dir (links to directories included, "." and ".."
// not), sorted without regard to ASCII case. hasSubdirectories, when given,
// receives for each name whether that directory holds a directory in turn.
// False when dir cannot be read.
bool ListSubdirectories(const std::string& dir, std::vector<std::string>& names,
                        std::vector<bool>* hasSubdirectories = nullptr);

} // namespace tarnel
