#pragma once
// "Delete bookmark(s)": the bookmark list, from which lines can be removed.
#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class QListWidget;

namespace tarnel {

class BookmarkMenu;

class BookmarksDialog : public QDialog {
    Q_OBJECT
public:
    explicit BookmarksDialog(const std::vector<std::string>& paths, QWidget* parent = nullptr);

    // The lines left, in list order, raw bytes.
    std::vector<std::string> Paths() const;
    QListWidget* List() const { return list_; }

    // Shows the dialog for the menu's bookmarks (run replaces exec() in tests)
    // and applies the remaining lines on OK. True when they were applied.
    static bool EditBookmarks(BookmarkMenu& bookmarks, QWidget* parent,
                              const std::function<int(BookmarksDialog&)>& run = {});

private:
    void DeleteSelected();

    QListWidget* list_;
};

} // namespace tarnel
