#pragma once
// Every command of the main window in one table: its name, the object name
// and caption of its action, its button in the command column, its keys,
// when the pane popup offers it and the handler it runs. Each command has
// one QAction; the menus, the command column, the tool bar, the keys, the
// function-key bar and the popups all hold that action, so a command is
// wired once and a key or a bar is added without touching its handler.
#include <QHash>
#include <QString>

#include <functional>
#include <initializer_list>
#include <vector>

class QAction;
class QMenu;
class QPushButton;
class QToolBar;
class QWidget;

namespace tarnel {

class MainWindow;

struct CommandRow {
    const char* name;          // the command's own name, used by the layouts
    const char* object;        // its action's object name (the design's item name)
    const char* aliases;       // the design's names of the same item elsewhere, blank-separated
    const char* text;          // the action's caption, as menus show it
    const char* hint;          // tool tip and status tip, or null
    const char* button;        // its button in the command column, or null
    const char* buttonText;    // that button's caption
    const char* barText;       // its caption on the function-key bar, or null: not on the bar
    const char* keys;          // its keys in QKeySequence's portable text, "; " between them
    const char* commanderKeys; // keys it gets only with the commander keys
    int hotKey;                // the viewer hot key that also runs it (the bar shows that key), or -1
    void (*run)(MainWindow&);
    // Whether the pane popup offers it for the entry under the cursor; null: always.
    bool (*offered)(MainWindow&);
};

class CommandTable {
public:
    // Makes every command's action, a child of the window, with its keys.
    explicit CommandTable(MainWindow& window);

    static const std::vector<CommandRow>& Rows();

    // The keys work in the whole window; once the menus hold their items,
    // so that each item's first place stays its menu.
    void AttachToWindow();

    // By the command's name, its action's object name or an alias.
    QAction* Action(const QString& name) const;
    const CommandRow* Row(const QString& name) const;

    // Puts the commands' actions into a menu or a tool bar in this order;
    // "-" is a separator. A menu that holds an action first becomes its parent.
    void AddTo(QMenu* menu, std::initializer_list<const char*> names);
    void AddTo(QToolBar* bar, std::initializer_list<const char*> names);
    // The command column's button of a command: a click triggers its action.
    QPushButton* AddButton(const char* name, QWidget* column);

    // With the commander keys, F6 and F7 run their file commands.
    void SetCommanderKeys(bool on);
    bool CommanderKeys() const { return commander_; }

    // The popup offers only what fits the entry under the cursor; once it
    // is gone every command is there again for its keys and buttons.
    void OfferForPopup();
    void OfferAll();

    struct BarEntry {
        QString name; // the command's name
        QString key;  // its key as the user reads it, or ""
        QString text;
        QAction* action;
    };
    // The function-key bar: plain function keys first in their order, then
    // the rest in table order. hotKeyName names a viewer hot key's key.
    std::vector<BarEntry> BarEntries(const std::function<QString(int)>& hotKeyName) const;

private:
    MainWindow& window_;
    std::vector<QAction*> actions_; // one per row
    QHash<QString, int> index_;
    bool commander_ = false;
};

} // namespace tarnel
