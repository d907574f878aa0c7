#pragma once
// Hot keys that call the program up and put it away.
//
// The first definition is grabbed from the X server when the session is X11,
// so it works while another program has the focus. Every other definition,
// and the first one where no grab can be had (Wayland, offscreen, a key some
// other client already grabbed), is taken from the program's own key events:
// it works only while the program has the focus, but then wherever the focus
// is, before any widget or menu shortcut sees the key.
#include "app/Settings.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace tarnel {

class X11HotKeyGrab;

class TSysHotKey : public QObject {
    Q_OBJECT
public:
    // window is the parent. Keys are not taken while a modal window other
    // than it, or a popup menu, has the keyboard.
    explicit TSysHotKey(QWidget* window);
    ~TSysHotKey() override;

    // Changing it registers every definition (true) or unregisters every one.
    bool Active() const { return active_; }
    void SetActive(bool active);

    // Appends an enabled definition, registered at once when Active. Returns
    // its index, which is also what hotKey reports.
    int AddHotKey(uint32_t keyCode, uint8_t modifiers);
    // A copy; `registered` is true while an X grab or the program holds it.
    HotKeyDefinition GetHotKey(int index) const;
    // Takes modifiers, keyCode and enabled (registered is ours) and registers
    // the definition again when Active.
    void SetHotKey(int index, const HotKeyDefinition& definition);
    int Count() const { return static_cast<int>(entries_.size()); }
    void Clear();

    // Enables or disables every definition but the first, which stays
    // registered the whole time (the others follow the program's activation).
    void SetEnabledExceptFirst(bool enabled);

    // True when definition index is held by an X grab.
    bool IsSystemWide(int index) const;

signals:
    void hotKey(int index);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Entry {
        HotKeyDefinition definition;
        bool grabbed = false;
    };

    void Register(int index);
    void Unregister(int index);
    bool TakenByOther(int index) const;

    QPointer<QWidget> window_;
    std::vector<Entry> entries_;
    std::unique_ptr<X11HotKeyGrab> grab_;
    bool active_ = false;
};

// Texts built from the hot key names of the main window's four definitions
// (0 restore/hide, 1 full screen viewer, 2 viewer on/off, 3 Escape).
// "Esc or Shift-F5 to hide"
std::string HideHintText(const TSysHotKey& keys);
// "Shift-F5 to hide/restore"
std::string TrayHintText(const TSysHotKey& keys);
// "Viewer mode activated. Press Esc or F7 to exit or F6 to toggle full screen mode"
std::string ViewerHintText(const TSysHotKey& keys);

} // namespace tarnel
