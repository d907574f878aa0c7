#pragma once
// "Configure": every user option on seven pages. It edits the in-memory
// settings (written at the end of the run); the autostart entry alone is
// changed on disk at once.
#include "app/Settings.h"

#include <QDialog>
#include <QKeyCombination>
#include <QLineEdit>

#include <array>
#include <functional>
#include <string>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QRadioButton;
class QSpinBox;
class QTabWidget;

namespace tarnel {

class ViewerExtensionTable;

// Takes one key combination, typed rather than written. Like the desktop's
// hot-key controls, a key typed with no modifier or with Shift alone becomes
// Alt with that key, so a plain key cannot be taken away from every program.
// Tab and Shift+Tab still move the focus.
class HotKeyEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit HotKeyEdit(QWidget* parent = nullptr);

    QKeyCombination KeyCombination() const { return key_; }
    // As given: the rule applies to typing only.
    void SetKeyCombination(QKeyCombination key);

    static QKeyCombination ApplyRule(QKeyCombination key);

signals:
    void KeyCombinationChanged(QKeyCombination key);

protected:
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    QKeyCombination key_;
};

// What the dialog needs from the main window. Every hook may be empty.
struct ConfigureHooks {
    std::function<void(bool)> setHotKeysActive;                  // the system hot keys on or off
    std::function<HotKeyDefinition(int)> getHotKey;              // default: the settings' hot keys
    std::function<void(int, const HotKeyDefinition&)> setHotKey; // store a changed definition
    std::function<void()> showHotKeyHints;                       // caption and tray tip
    std::function<void(const std::string&)> applyBackType;       // tool bar background, "Default" or "None"
    std::function<void()> redrawLists;                           // both panes' lists
    std::string programPath;                                     // for the autostart entry; default: this program
};

class TDlgConfigure : public QDialog {
    Q_OBJECT
public:
    // Fills the pages from settings and extensions. OK writes settings and
    // the extension table; "Add" appends to the table at once.
    TDlgConfigure(AppSettings& settings, ViewerExtensionTable& extensions, ConfigureHooks hooks,
                  QWidget* parent = nullptr);

    void SetHotKeys(const std::array<HotKeyDefinition, 4>& keys);
    // current with each key code and modifier set replaced by its edit's.
    std::array<HotKeyDefinition, 4> EditedHotKeys(std::array<HotKeyDefinition, 4> current) const;
    void SetQuitType(int quitType);
    int CheckedQuitType() const; // -1 when none is checked

    HotKeyEdit* HotKey(int n) const { return hotKeys_[size_t(n)]; }
    QTabWidget* Pages() const { return pages_; }
    QListWidget* InternalList() const { return internalList_; }
    QListWidget* TextList() const { return textList_; }

    // Cancel, Escape and closing the window: the tool bar gets its stored
    // background back.
    void reject() override;

    // Opens the dialog with the hot keys switched off, applies it on OK and
    // switches them on again whatever the result. run replaces exec() in tests.
    static int RunConfigure(AppSettings& settings, ViewerExtensionTable& extensions,
                            const ConfigureHooks& hooks, QWidget* parent = nullptr,
                            const std::function<int(TDlgConfigure&)>& run = {});

private:
    QWidget* HotKeysPage();
    QWidget* QuittingPage();
    QWidget* FileListsPage();
    QWidget* ViewerPage();
    QWidget* TextViewerPage();
    QWidget* AdvancedPage();
    QWidget* AppearancePage();

    void AddExtension();
    void RemoveExtension();
    void ChooseBackground(const char* backType);
    void UpdateSample();
    void Ok();

    AppSettings& settings_;
    ViewerExtensionTable& extensions_;
    ConfigureHooks hooks_;
    bool previews_ = false; // set once the pages are filled

    QTabWidget* pages_ = nullptr;
    std::array<HotKeyEdit*, 4> hotKeys_{};
    QButtonGroup* quitGroup_ = nullptr;
    QCheckBox* showBigSize_ = nullptr;
    QCheckBox* showSupported_ = nullptr;
    QCheckBox* showAttrs_ = nullptr;
    QCheckBox* showListHints_ = nullptr;
    QListWidget* internalList_ = nullptr;
    QListWidget* textList_ = nullptr;
    QComboBox* fontList_ = nullptr;
    QSpinBox* fontSize_ = nullptr;
    QComboBox* foreColor_ = nullptr;
    QComboBox* backColor_ = nullptr;
    QSpinBox* tabSize_ = nullptr;
    QCheckBox* printPage_ = nullptr;
    QLabel* sample_ = nullptr;
    QCheckBox* autostart_ = nullptr;
    QCheckBox* fastZipMove_ = nullptr;
    QCheckBox* useAsyncShell_ = nullptr;
    QCheckBox* queuePerVolume_ = nullptr;
    QCheckBox* descriptionsFollow_ = nullptr;
    QCheckBox* commanderKeys_ = nullptr;
    QCheckBox* functionKeyBar_ = nullptr;
    QCheckBox* confirmCopyTarget_ = nullptr;
    QCheckBox* keepPlaces_ = nullptr;
    QRadioButton* backDefault_ = nullptr;
    QRadioButton* backNone_ = nullptr;

    // The sample's font and colours, which OK stores for the text viewer.
    std::string sampleFont_;
    int sampleSize_ = 0;
    uint32_t sampleFore_ = 0;
    uint32_t sampleBack_ = 0;
};

} // namespace tarnel
