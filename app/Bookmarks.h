#pragma once
// The bookmark items of the "&Bookmarks" menu. A bookmark lives only as a menu
// item after the menu's fixed items; the menu order is the bookmarks' order.
#include <QObject>

#include <string>
#include <vector>

class QAction;
class QMenu;

namespace tarnel {

struct TDirData;
class UserMessages;

class BookmarkMenu : public QObject {
    Q_OBJECT
public:
    // menu already holds its fixed items; the object lives as long as the menu.
    explicit BookmarkMenu(QMenu* menu);

    QMenu* Menu() const { return menu_; }

    // Appends an item named "bkmk" + the menu's item count (two digits at least).
    void Append(const std::string& path);
    // The bookmark paths in menu order, raw bytes as given to Append.
    std::vector<std::string> Paths() const;
    // Drops the bookmark items at the end of the menu and appends paths.
    void Replace(const std::vector<std::string>& paths);
    // Bookmarks the pane's place; refused (with a box) inside an archive.
    bool AddFromPane(const TDirData& pane, UserMessages& messages);

    static bool IsBookmark(const QAction* action);

signals:
    void goTo(const std::string& path);

private:
    QMenu* menu_;
};

} // namespace tarnel
