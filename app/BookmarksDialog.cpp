#include "app/BookmarksDialog.h"

#include "app/Bookmarks.h"

#include "widgets/DialogButtons.h"

#include <QFile>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace tarnel {

BookmarksDialog::BookmarksDialog(const std::vector<std::string>& paths, QWidget* parent) : QDialog(parent)
{
    setObjectName("DlgBookmarks");
    setWindowTitle("Delete bookmark(s)");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("These are your currently selected bookmarks", this));

    list_ = new QListWidget(this);
    list_->setObjectName("BookmarkList");
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    for (const std::string& path : paths) {
        auto* item = new QListWidgetItem(QFile::decodeName(QByteArray::fromStdString(path)), list_);
        item->setData(Qt::UserRole, QByteArray::fromStdString(path));
    }
    layout->addWidget(list_);

    auto* remove = new QPushButton("&Delete", this);
    remove->setObjectName("BtnDelete");
    connect(remove, &QPushButton::clicked, this, &BookmarksDialog::DeleteSelected);
    AddOkCancelRow(*this, *layout, remove);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        adjustSize();
        move(screen->availableGeometry().center() - rect().center());
    }
}

void BookmarksDialog::DeleteSelected()
{
    // The current row alone is not enough: focus gives the list a current
    // row without the user having picked a line.
    const QList<QListWidgetItem*> selected = list_->selectedItems();
    if (!selected.isEmpty())
        delete selected.first();
}

std::vector<std::string> BookmarksDialog::Paths() const
{
    std::vector<std::string> paths;
    for (int i = 0; i < list_->count(); ++i)
        paths.push_back(list_->item(i)->data(Qt::UserRole).toByteArray().toStdString());
    return paths;
}

bool BookmarksDialog::EditBookmarks(BookmarkMenu& bookmarks, QWidget* parent,
                                    const std::function<int(BookmarksDialog&)>& run)
{
    BookmarksDialog dialog(bookmarks.Paths(), parent);
    const int answer = run ? run(dialog) : dialog.exec();
    if (answer != QDialog::Accepted)
        return false;
    bookmarks.Replace(dialog.Paths());
    return true;
}

} // namespace tarnel
