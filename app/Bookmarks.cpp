#include "app/Bookmarks.h"

#include "app/UserMessages.h"
#include "panes/DirData.h"
#include "panes/PathUtil.h"

#include <QAction>
#include <QFile>
#include <QMenu>

namespace tarnel {

BookmarkMenu::BookmarkMenu(QMenu* menu) : QObject(menu), menu_(menu) {}

bool BookmarkMenu::IsBookmark(const QAction* action)
{
    return action && action->objectName().startsWith("bkmk");
}

void BookmarkMenu::Append(const std::string& path)
{
    const QString shown = QFile::decodeName(QByteArray::fromStdString(path));
    auto* action = new QAction(menu_);
    // "&" would otherwise turn the next letter into a mnemonic.
    action->setText(QString(shown).replace('&', "&&"));
    action->setStatusTip(shown);
    action->setToolTip(shown);
    action->setObjectName(QString::asprintf("bkmk%02d", int(menu_->actions().size())));
    // The decoded text cannot always be encoded back (invalid UTF-8), so the
    // bytes travel with the item.
    action->setData(QByteArray::fromStdString(path));
    connect(action, &QAction::triggered, this, [this, path] { emit goTo(path); });
    menu_->addAction(action);
}

std::vector<std::string> BookmarkMenu::Paths() const
{
    std::vector<std::string> paths;
    for (const QAction* action : menu_->actions())
        if (IsBookmark(action))
            paths.push_back(action->data().toByteArray().toStdString());
    return paths;
}

void BookmarkMenu::Replace(const std::vector<std::string>& paths)
{
    while (!menu_->actions().isEmpty() && IsBookmark(menu_->actions().constLast()))
        delete menu_->actions().constLast();
    for (const std::string& path : paths)
        Append(path);
}

bool BookmarkMenu::AddFromPane(const TDirData& pane, UserMessages& messages)
{
    if (!pane.Can(Capability::DiskPaths)) {
        messages.Information("You can't bookmark a compressed file (yet).");
        return false;
    }
    // Its query lives only as long as the run.
    if (std::string_view(pane.Source()) == kSearchSourceName) {
        messages.Information("A list of found files cannot be bookmarked; bookmark the folder the find started in.");
        return false;
    }
    Append(AddPathDelimiter(pane.Path));
    return true;
}

} // namespace tarnel
