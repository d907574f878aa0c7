#include "app/components/SysHotKey.h"

#include "app/components/VirtualKeys.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>

#include <dlfcn.h>

namespace tarnel {

// The X11 side: passive key grabs on the root window, and a native event
// filter that turns the grabbed key presses into hot key reports. Xlib and
// libxcb are loaded at run time (Qt's xcb plugin has them in the process
// already) so that the program links and runs without X11 libraries.
class X11HotKeyGrab : public QAbstractNativeEventFilter {
public:
    using Fire = std::function<void(int)>;

    // Null when the session is not X11 or the libraries can't be had.
    static std::unique_ptr<X11HotKeyGrab> Create(Fire fire);
    ~X11HotKeyGrab() override;

    // False when the key has no keycode here or another client holds it.
    bool Grab(int index, uint32_t keysym, uint8_t modifiers);
    void Ungrab(int index);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
#if QT_CONFIG(xcb)
    struct Cookie {
        unsigned int sequence;
    };
    struct Functions {
        unsigned char (*keysymToKeycode)(Display*, unsigned long);
        unsigned long (*defaultRootWindow)(Display*);
        Cookie (*grabKeyChecked)(xcb_connection_t*, uint8_t ownerEvents, uint32_t window, uint16_t modifiers,
                                 uint8_t key, uint8_t pointerMode, uint8_t keyboardMode);
        Cookie (*ungrabKey)(xcb_connection_t*, uint8_t key, uint32_t window, uint16_t modifiers);
        void* (*requestCheck)(xcb_connection_t*, Cookie); // an error to free(), or null
        int (*flush)(xcb_connection_t*);
    };
    static const Functions* Load();

    X11HotKeyGrab(const Functions* functions, Display* display, xcb_connection_t* connection, Fire fire);
    void UngrabVariants(uint8_t keycode, uint16_t modifiers, int count);

    const Functions* x_;
    Display* display_;
    xcb_connection_t* connection_;
    uint32_t root_;
#endif
    struct Grabbed {
        int index;
        uint8_t keycode;
        uint16_t modifiers;
    };
    std::vector<Grabbed> grabs_;
    Fire fire_;
};

#if QT_CONFIG(xcb)
namespace {

// X protocol values.
constexpr uint16_t kShiftMask = 1, kLockMask = 2, kControlMask = 4, kMod1Mask = 8, kMod2Mask = 16, kMod4Mask = 64;
constexpr uint8_t kKeyPress = 2;
constexpr uint8_t kGrabModeAsync = 1;
// CapsLock and NumLock (Mod2 on every common layout) must not stop the key.
constexpr uint16_t kLockVariants[] = {0, kLockMask, kMod2Mask, kLockMask | kMod2Mask};

struct KeyPressEvent { // xcb_key_press_event_t
    uint8_t responseType;
    uint8_t detail;
    uint16_t sequence;
    uint32_t time, root, event, child;
    int16_t rootX, rootY, eventX, eventY;
    uint16_t state;
    uint8_t sameScreen, pad;
};

uint16_t XModifiers(uint8_t modifiers)
{
    uint16_t mask = 0;
    if (modifiers & hkShift)
        mask |= kShiftMask;
    if (modifiers & hkCtrl)
        mask |= kControlMask;
    if (modifiers & hkAlt)
        mask |= kMod1Mask;
    if (modifiers & hkMeta)
        mask |= kMod4Mask;
    return mask;
}

template <typename F>
bool Resolve(void* library, const char* name, F& function)
{
    void* symbol = library ? dlsym(library, name) : nullptr;
    std::memcpy(&function, &symbol, sizeof function);
    return symbol != nullptr;
}

} // namespace

const X11HotKeyGrab::Functions* X11HotKeyGrab::Load()
{
    static const std::optional<Functions> loaded = []() -> std::optional<Functions> {
        // Kept open for the life of the process; Qt holds them anyway.
        void* xlib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        void* xcb = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
        Functions f{};
        if (Resolve(xlib, "XKeysymToKeycode", f.keysymToKeycode) &&
            Resolve(xlib, "XDefaultRootWindow", f.defaultRootWindow) &&
            Resolve(xcb, "xcb_grab_key_checked", f.grabKeyChecked) && Resolve(xcb, "xcb_ungrab_key", f.ungrabKey) &&
            Resolve(xcb, "xcb_request_check", f.requestCheck) && Resolve(xcb, "xcb_flush", f.flush))
            return f;
        return std::nullopt;
    }();
    return loaded ? &*loaded : nullptr;
}

std::unique_ptr<X11HotKeyGrab> X11HotKeyGrab::Create(Fire fire)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->display() || !x11->connection())
        return nullptr;
    const Functions* functions = Load();
    if (!functions)
        return nullptr;
    return std::unique_ptr<X11HotKeyGrab>(
        new X11HotKeyGrab(functions, x11->display(), x11->connection(), std::move(fire)));
}

X11HotKeyGrab::X11HotKeyGrab(const Functions* functions, Display* display, xcb_connection_t* connection, Fire fire)
    : x_(functions),
      display_(display),
      connection_(connection),
      root_(static_cast<uint32_t>(functions->defaultRootWindow(display))),
      fire_(std::move(fire))
{
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11HotKeyGrab::~X11HotKeyGrab()
{
    while (!grabs_.empty())
        Ungrab(grabs_.back().index);
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool X11HotKeyGrab::Grab(int index, uint32_t keysym, uint8_t modifiers)
{
    const uint8_t keycode = keysym ? x_->keysymToKeycode(display_, keysym) : 0;
    if (keycode == 0)
        return false;
    const uint16_t mask = XModifiers(modifiers);
    // owner_events false: the press comes to the root window even when one of
    // our own windows has the focus, so it is reported exactly once, here.
    int done = 0;
    for (uint16_t variant : kLockVariants) {
        const Cookie cookie = x_->grabKeyChecked(connection_, 0, root_, mask | variant, keycode, kGrabModeAsync,
                                                 kGrabModeAsync);
        if (void* error = x_->requestCheck(connection_, cookie)) { // BadAccess: another client has it
            std::free(error);
            UngrabVariants(keycode, mask, done);
            return false;
        }
        ++done;
    }
    grabs_.push_back({index, keycode, mask});
    return true;
}

void X11HotKeyGrab::UngrabVariants(uint8_t keycode, uint16_t modifiers, int count)
{
    for (int i = 0; i < count; ++i)
        x_->ungrabKey(connection_, keycode, root_, modifiers | kLockVariants[i]);
    x_->flush(connection_);
}

void X11HotKeyGrab::Ungrab(int index)
{
    for (auto it = grabs_.begin(); it != grabs_.end(); ++it) {
        if (it->index == index) {
            UngrabVariants(it->keycode, it->modifiers, static_cast<int>(std::size(kLockVariants)));
            grabs_.erase(it);
            return;
        }
    }
}

bool X11HotKeyGrab::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t" || !message)
        return false;
    const auto* event = static_cast<const KeyPressEvent*>(message);
    if ((event->responseType & 0x7f) != kKeyPress || event->event != root_)
        return false;
    const uint16_t held = event->state & (kShiftMask | kControlMask | kMod1Mask | kMod4Mask);
    for (const Grabbed& grab : grabs_) {
        if (grab.keycode == event->detail && grab.modifiers == held) {
            fire_(grab.index);
            return true;
        }
    }
    return false;
}

#else // Qt without X11 support: nothing is ever grabbed.

std::unique_ptr<X11HotKeyGrab> X11HotKeyGrab::Create(Fire)
{
    return nullptr;
}
X11HotKeyGrab::~X11HotKeyGrab() = default;
bool X11HotKeyGrab::Grab(int, uint32_t, uint8_t)
{
    return false;
}
void X11HotKeyGrab::Ungrab(int) {}
bool X11HotKeyGrab::nativeEventFilter(const QByteArray&, void*, qintptr*)
{
    return false;
}

#endif

TSysHotKey::TSysHotKey(QWidget* window) : QObject(window), window_(window)
{
    QCoreApplication::instance()->installEventFilter(this);
}

TSysHotKey::~TSysHotKey()
{
    for (int i = 0; i < Count(); ++i)
        Unregister(i);
}

bool TSysHotKey::eventFilter(QObject* watched, QEvent* event)
{
    // The override query comes first: accepting it keeps the key away from
    // every shortcut and menu command, and the press then comes here.
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride)
        return QObject::eventFilter(watched, event);
    if (QApplication::activePopupWidget())
        return false;
    if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != window_)
        return false;
    const HotKeyDefinition pressed = FromQtKey(static_cast<QKeyEvent*>(event)->keyCombination());
    if (pressed.keyCode == 0)
        return false;
    for (int i = 0; i < Count(); ++i) {
        const Entry& entry = entries_[static_cast<size_t>(i)];
        if (entry.definition.registered && !entry.grabbed && entry.definition.keyCode == pressed.keyCode &&
            entry.definition.modifiers == pressed.modifiers) {
            event->accept();
            if (type == QEvent::KeyPress)
                emit hotKey(i); // last: the receiver may change the definitions
            return true;
        }
    }
    return false;
}

void TSysHotKey::SetActive(bool active)
{
    if (active == active_)
        return;
    active_ = active;
    for (int i = 0; i < Count(); ++i) {
        if (active)
            Register(i);
        else
            Unregister(i);
    }
}

int TSysHotKey::AddHotKey(uint32_t keyCode, uint8_t modifiers)
{
    Entry entry;
    entry.definition.keyCode = keyCode;
    entry.definition.modifiers = modifiers;
    entry.definition.enabled = true;
    entry.definition.registered = false;
    entries_.push_back(std::move(entry));
    const int index = Count() - 1;
    if (active_)
        Register(index);
    return index;
}

HotKeyDefinition TSysHotKey::GetHotKey(int index) const
{
    if (index < 0 || index >= Count())
        return HotKeyDefinition{};
    return entries_[static_cast<size_t>(index)].definition;
}

void TSysHotKey::SetHotKey(int index, const HotKeyDefinition& definition)
{
    if (index < 0 || index >= Count())
        return;
    if (active_)
        Unregister(index);
    HotKeyDefinition& own = entries_[static_cast<size_t>(index)].definition;
    own.modifiers = definition.modifiers;
    own.keyCode = definition.keyCode;
    own.enabled = definition.enabled;
    if (active_)
        Register(index);
}

void TSysHotKey::Clear()
{
    if (active_) {
        for (int i = 0; i < Count(); ++i)
            Unregister(i);
    }
    entries_.clear();
}

void TSysHotKey::SetEnabledExceptFirst(bool enabled)
{
    for (int i = 1; i < Count(); ++i) {
        HotKeyDefinition definition = GetHotKey(i);
        if (definition.enabled != enabled) {
            definition.enabled = enabled;
            SetHotKey(i, definition);
        }
    }
}

bool TSysHotKey::IsSystemWide(int index) const
{
    return index >= 0 && index < Count() && entries_[static_cast<size_t>(index)].grabbed;
}

bool TSysHotKey::TakenByOther(int index) const
{
    const HotKeyDefinition& own = entries_[static_cast<size_t>(index)].definition;
    for (int i = 0; i < Count(); ++i) {
        const HotKeyDefinition& other = entries_[static_cast<size_t>(i)].definition;
        if (i != index && other.registered && other.keyCode == own.keyCode && other.modifiers == own.modifiers)
            return true;
    }
    return false;
}

void TSysHotKey::Register(int index)
{
    Entry& entry = entries_[static_cast<size_t>(index)];
    HotKeyDefinition& definition = entry.definition;
    if (!definition.enabled || definition.registered)
        return;
    const QKeyCombination key = ToQtKey(definition);
    // Refused silently, as the system refuses a combination someone else owns.
    if (key.key() == Qt::Key_unknown || TakenByOther(index))
        return;

    if (index == 0) {
        if (!grab_) {
            // Reported from the event loop, not from inside X event processing.
            grab_ = X11HotKeyGrab::Create([this](int which) {
                QMetaObject::invokeMethod(this, [this, which] { emit hotKey(which); }, Qt::QueuedConnection);
            });
        }
        if (grab_ && grab_->Grab(index, XKeysymOfVirtualKey(definition.keyCode), definition.modifiers)) {
            entry.grabbed = true;
            definition.registered = true;
            return;
        }
    }

    definition.registered = true; // taken from the program's key events
}

void TSysHotKey::Unregister(int index)
{
    Entry& entry = entries_[static_cast<size_t>(index)];
    if (!entry.definition.registered)
        return;
    if (entry.grabbed && grab_)
        grab_->Ungrab(index);
    entry.grabbed = false;
    entry.definition.registered = false;
}

std::string HideHintText(const TSysHotKey& keys)
{
    return HotKeyName(keys.GetHotKey(3)) + " or " + HotKeyName(keys.GetHotKey(0)) + " to hide";
}

std::string TrayHintText(const TSysHotKey& keys)
{
    return HotKeyName(keys.GetHotKey(0)) + " to hide/restore";
}

std::string ViewerHintText(const TSysHotKey& keys)
{
    return "Viewer mode activated. Press " + HotKeyName(keys.GetHotKey(3)) + " or " + HotKeyName(keys.GetHotKey(2)) +
           " to exit or " + HotKeyName(keys.GetHotKey(1)) + " to toggle full screen mode";
}

} // namespace tarnel
