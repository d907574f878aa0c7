#include "app/components/SysHotKey.h"
#include "app/components/VirtualKeys.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include <dlfcn.h>

using namespace tarnel;

namespace {

HotKeyDefinition Key(uint8_t modifiers, uint32_t keyCode)
{
    HotKeyDefinition definition;
    definition.modifiers = modifiers;
    definition.keyCode = keyCode;
    return definition;
}

} // namespace

TEST(VirtualKeyTest, KnownCodesGiveTheirQtKeys)
{
    const std::pair<uint32_t, QKeyCombination> known[] = {
        {116, QKeyCombination(Qt::Key_F5)},
        {112, QKeyCombination(Qt::Key_F1)},
        {135, QKeyCombination(Qt::Key_F24)},
        {27, QKeyCombination(Qt::Key_Escape)},
        {13, QKeyCombination(Qt::Key_Return)},
        {8, QKeyCombination(Qt::Key_Backspace)},
        {32, QKeyCombination(Qt::Key_Space)},
        {46, QKeyCombination(Qt::Key_Delete)},
        {33, QKeyCombination(Qt::Key_PageUp)},
        {34, QKeyCombination(Qt::Key_PageDown)},
        {37, QKeyCombination(Qt::Key_Left)},
        {40, QKeyCombination(Qt::Key_Down)},
        {44, QKeyCombination(Qt::Key_Print)},
        {48, QKeyCombination(Qt::Key_0)},
        {57, QKeyCombination(Qt::Key_9)},
        {65, QKeyCombination(Qt::Key_A)},
        {88, QKeyCombination(Qt::Key_X)},
        {90, QKeyCombination(Qt::Key_Z)},
        {96, QKeyCombination(Qt::KeypadModifier, Qt::Key_0)},
        {105, QKeyCombination(Qt::KeypadModifier, Qt::Key_9)},
        {107, QKeyCombination(Qt::KeypadModifier, Qt::Key_Plus)},
        {186, QKeyCombination(Qt::Key_Semicolon)},
        {192, QKeyCombination(Qt::Key_QuoteLeft)},
        {222, QKeyCombination(Qt::Key_Apostrophe)},
    };
    for (const auto& [code, key] : known)
        EXPECT_EQ(key, QtKeyOfVirtualKey(code)) << code;

    EXPECT_EQ(0xffc2u, XKeysymOfVirtualKey(116)); // F5
    EXPECT_EQ(0x78u, XKeysymOfVirtualKey(88));    // x
    EXPECT_EQ(0xffb5u, XKeysymOfVirtualKey(101)); // keypad 5

    for (uint32_t unmapped : {0u, 7u, 255u, 1000u}) {
        EXPECT_EQ(Qt::Key_unknown, QtKeyOfVirtualKey(unmapped).key()) << unmapped;
        EXPECT_EQ(0u, XKeysymOfVirtualKey(unmapped)) << unmapped;
    }
}

TEST(VirtualKeyTest, EveryMappedKeyRoundTrips)
{
    const std::vector<uint32_t> codes = MappedVirtualKeys();
    EXPECT_GE(codes.size(), 26u + 10u + 24u + 16u);
    std::set<int> seenQtKeys;
    std::set<uint32_t> seenKeysyms;
    for (uint32_t code : codes) {
        const QKeyCombination key = QtKeyOfVirtualKey(code);
        ASSERT_NE(Qt::Key_unknown, key.key()) << code;
        EXPECT_TRUE(seenQtKeys.insert(key.toCombined()).second) << "two codes give Qt key of " << code;
        EXPECT_TRUE(seenKeysyms.insert(XKeysymOfVirtualKey(code)).second) << "two codes give keysym of " << code;
        EXPECT_NE(0u, XKeysymOfVirtualKey(code)) << code;
        EXPECT_EQ(code, VirtualKeyOfQtKey(key)) << code;

        for (uint8_t modifiers : {uint8_t(0), uint8_t(hkShift), uint8_t(hkCtrl | hkAlt),
                                  uint8_t(hkShift | hkCtrl | hkAlt | hkMeta)}) {
            const HotKeyDefinition back = FromQtKey(ToQtKey(Key(modifiers, code)));
            EXPECT_EQ(code, back.keyCode) << code;
            EXPECT_EQ(modifiers, back.modifiers) << code;
            EXPECT_TRUE(back.enabled);
            EXPECT_FALSE(back.registered);
        }
    }
}

TEST(VirtualKeyTest, KeysQtReportsUnderAnotherName)
{
    // What a key event carries when the user presses the key in an edit field.
    EXPECT_EQ(9u, VirtualKeyOfQtKey(QKeyCombination(Qt::ShiftModifier, Qt::Key_Backtab)));
    EXPECT_EQ(13u, VirtualKeyOfQtKey(QKeyCombination(Qt::KeypadModifier, Qt::Key_Enter)));
    EXPECT_EQ(37u, VirtualKeyOfQtKey(QKeyCombination(Qt::KeypadModifier, Qt::Key_Left))); // NumLock off
    EXPECT_EQ(49u, VirtualKeyOfQtKey(QKeyCombination(Qt::ShiftModifier, Qt::Key_Exclam)));
    EXPECT_EQ(56u, VirtualKeyOfQtKey(QKeyCombination(Qt::ShiftModifier, Qt::Key_Asterisk)));
    EXPECT_EQ(106u, VirtualKeyOfQtKey(QKeyCombination(Qt::KeypadModifier, Qt::Key_Asterisk)));
    EXPECT_EQ(186u, VirtualKeyOfQtKey(QKeyCombination(Qt::ShiftModifier, Qt::Key_Colon)));
    EXPECT_EQ(187u, VirtualKeyOfQtKey(QKeyCombination(Qt::ShiftModifier, Qt::Key_Plus)));
    EXPECT_EQ(107u, VirtualKeyOfQtKey(QKeyCombination(Qt::KeypadModifier, Qt::Key_Plus)));
    EXPECT_EQ(220u, VirtualKeyOfQtKey(QKeyCombination(Qt::ShiftModifier, Qt::Key_Bar)));

    const HotKeyDefinition shifted = FromQtKey(QKeyCombination(Qt::ShiftModifier, Qt::Key_Colon));
    EXPECT_EQ(186u, shifted.keyCode);
    EXPECT_EQ(hkShift, shifted.modifiers);

    EXPECT_EQ(0u, VirtualKeyOfQtKey(QKeyCombination(Qt::Key_unknown)));
    EXPECT_EQ(0u, FromQtKey(QKeyCombination(Qt::Key_Eacute)).keyCode);
}

TEST(HotKeyNameTest, PrefixesInTheirOrderWithoutTheWindowsKey)
{
    EXPECT_EQ("Shift-F5", HotKeyName(Key(hkShift, 116)));
    EXPECT_EQ("Alt-Ctrl-X", HotKeyName(Key(hkCtrl | hkAlt, 88)));
    EXPECT_EQ("Alt-Ctrl-Shift-Del", HotKeyName(Key(hkShift | hkCtrl | hkAlt, 46)));
    EXPECT_EQ("Esc", HotKeyName(Key(0, 27)));
    EXPECT_EQ("F6", HotKeyName(Key(0, 117)));
    EXPECT_EQ("F5", HotKeyName(Key(hkMeta, 116)));
    EXPECT_EQ("Ctrl-F5", HotKeyName(Key(hkMeta | hkCtrl, 116)));
    // A code without a key keeps its prefixes.
    EXPECT_EQ("Shift-", HotKeyName(Key(hkShift, 7)));
}

TEST(HotKeyNameTest, CutToTwentyNineCharacters)
{
    // No key of the table is long enough to be cut in English: the longest
    // fills the 29 characters exactly.
    for (uint32_t code : MappedVirtualKeys()) {
        const std::string name = HotKeyName(Key(hkShift | hkCtrl | hkAlt, code));
        EXPECT_LE(name.size(), 29u) << name;
    }
    EXPECT_EQ("Alt-Ctrl-Shift-Media Previous", HotKeyName(Key(hkShift | hkCtrl | hkAlt, 177)));

    // A translated name may be longer: 38 characters of it are taken, and
    // each prefix step keeps 29 (counted in characters).
    const QString german = QString::fromUtf8("Vorheriges Stück der Medienwiedergabe zurück"); // 44
    EXPECT_EQ(QString(german.left(38)).toStdString(), HotKeyName(german, 0));
    EXPECT_EQ(QString("Shift-" + german.left(23)).toStdString(), HotKeyName(german, hkShift));
    EXPECT_EQ(QString("Alt-Ctrl-" + german.left(20)).toStdString(), HotKeyName(german, hkCtrl | hkAlt | hkMeta));
    EXPECT_EQ("Alt-Ctrl-Shift-F5", HotKeyName("F5", hkShift | hkCtrl | hkAlt));
}

TEST(HotKeyNameTest, ModifierWordsRoundTrip)
{
    EXPECT_EQ("", ModifierWords(0));
    EXPECT_EQ("shift ", ModifierWords(hkShift));
    EXPECT_EQ("ctrl alt ", ModifierWords(hkCtrl | hkAlt));
    EXPECT_EQ("shift ctrl alt ext ", ModifierWords(hkShift | hkCtrl | hkAlt | hkMeta));
    for (uint8_t modifiers = 0; modifiers < 16; ++modifiers)
        EXPECT_EQ(modifiers, ParseModifierWords(ModifierWords(modifiers))) << int(modifiers);

    // Written by hand: any case, any order, any separators.
    EXPECT_EQ(hkShift, ParseModifierWords("SHIFT"));
    EXPECT_EQ(hkCtrl | hkAlt, ParseModifierWords("Alt+Ctrl"));
    EXPECT_EQ(hkMeta, ParseModifierWords("Ext"));
    EXPECT_EQ(0, ParseModifierWords(""));
    EXPECT_EQ(0, ParseModifierWords("control"));
}

namespace {

// A window with an edit field that has the focus, like the main window with
// the command line or a pane focused.
class SysHotKeyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto* layout = new QVBoxLayout(&window_);
        edit_ = new QLineEdit(&window_);
        layout->addWidget(edit_);
        window_.show();
        window_.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
        edit_->setFocus();
        keys_ = new TSysHotKey(&window_);
        spy_ = std::make_unique<QSignalSpy>(keys_, &TSysHotKey::hotKey);
    }

    // Indexes reported for one press of key on the edit field.
    std::vector<int> Press(QKeyCombination key)
    {
        spy_->clear();
        QTest::keyClick(edit_, key.key(), key.keyboardModifiers());
        QCoreApplication::processEvents();
        std::vector<int> fired;
        for (const QList<QVariant>& arguments : *spy_)
            fired.push_back(arguments.at(0).toInt());
        return fired;
    }

    void AddDefaults()
    {
        for (const HotKeyDefinition& definition : DefaultHotKeys())
            keys_->AddHotKey(definition.keyCode, definition.modifiers);
    }

    QWidget window_;
    QLineEdit* edit_ = nullptr;
    TSysHotKey* keys_ = nullptr;
    std::unique_ptr<QSignalSpy> spy_;
};

using Fired = std::vector<int>;

} // namespace

TEST_F(SysHotKeyTest, RegisteredWhileActiveAndFiredFromTheFocusedField)
{
    AddDefaults();
    ASSERT_EQ(4, keys_->Count());
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(keys_->GetHotKey(i).registered) << i;
    EXPECT_EQ(Fired{}, Press(QKeyCombination(Qt::Key_F6)));

    keys_->SetActive(true);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(keys_->GetHotKey(i).registered) << i;
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        EXPECT_FALSE(keys_->IsSystemWide(0));
        EXPECT_EQ(Fired{0}, Press(QKeyCombination(Qt::ShiftModifier, Qt::Key_F5)));
    }
    EXPECT_EQ(Fired{1}, Press(QKeyCombination(Qt::Key_F6)));
    EXPECT_EQ(Fired{2}, Press(QKeyCombination(Qt::Key_F7)));
    EXPECT_EQ(Fired{3}, Press(QKeyCombination(Qt::Key_Escape)));
    EXPECT_EQ(Fired{}, Press(QKeyCombination(Qt::ControlModifier, Qt::Key_F6)));

    // Added while active: registered at once.
    EXPECT_EQ(4, keys_->AddHotKey(88, hkCtrl | hkAlt));
    EXPECT_TRUE(keys_->GetHotKey(4).registered);
    EXPECT_EQ(Fired{4}, Press(QKeyCombination(Qt::ControlModifier | Qt::AltModifier, Qt::Key_X)));
    // A key no table knows is refused without a word.
    EXPECT_EQ(5, keys_->AddHotKey(7, 0));
    EXPECT_FALSE(keys_->GetHotKey(5).registered);
}

TEST_F(SysHotKeyTest, SetHotKeyRegistersTheNewCombinationOnly)
{
    AddDefaults();
    keys_->SetActive(true);

    HotKeyDefinition changed = keys_->GetHotKey(1);
    changed.keyCode = 120; // F9
    changed.modifiers = hkShift;
    changed.registered = false; // not ours to set
    keys_->SetHotKey(1, changed);
    EXPECT_TRUE(keys_->GetHotKey(1).registered);
    EXPECT_EQ(120u, keys_->GetHotKey(1).keyCode);
    EXPECT_EQ(Fired{}, Press(QKeyCombination(Qt::Key_F6)));
    EXPECT_EQ(Fired{1}, Press(QKeyCombination(Qt::ShiftModifier, Qt::Key_F9)));

    // While inactive the definition is only stored.
    keys_->SetActive(false);
    changed.keyCode = 121;
    keys_->SetHotKey(1, changed);
    EXPECT_FALSE(keys_->GetHotKey(1).registered);
    EXPECT_EQ(Fired{}, Press(QKeyCombination(Qt::ShiftModifier, Qt::Key_F10)));
    keys_->SetActive(true);
    EXPECT_EQ(Fired{1}, Press(QKeyCombination(Qt::ShiftModifier, Qt::Key_F10)));

    // Out of range: ignored, and reads as an empty definition.
    keys_->SetHotKey(9, changed);
    EXPECT_EQ(0u, keys_->GetHotKey(9).keyCode);
    EXPECT_EQ(4, keys_->Count());
}

TEST_F(SysHotKeyTest, DisabledDefinitionsNeverFire)
{
    AddDefaults();
    HotKeyDefinition f7 = keys_->GetHotKey(2);
    f7.enabled = false;
    keys_->SetHotKey(2, f7);
    keys_->SetActive(true);
    EXPECT_FALSE(keys_->GetHotKey(2).registered);
    EXPECT_EQ(Fired{}, Press(QKeyCombination(Qt::Key_F7)));

    // The program loses the focus: all but the first go; it comes back: all return.
    keys_->SetEnabledExceptFirst(false);
    EXPECT_TRUE(keys_->GetHotKey(0).registered);
    for (int i = 1; i < 4; ++i) {
        EXPECT_FALSE(keys_->GetHotKey(i).registered) << i;
        EXPECT_FALSE(keys_->GetHotKey(i).enabled) << i;
    }
    EXPECT_EQ(Fired{}, Press(QKeyCombination(Qt::Key_F6)));
    EXPECT_EQ(Fired{}, Press(QKeyCombination(Qt::Key_Escape)));
    if (!keys_->IsSystemWide(0)) {
        EXPECT_EQ(Fired{0}, Press(QKeyCombination(Qt::ShiftModifier, Qt::Key_F5)));
    }

    keys_->SetEnabledExceptFirst(true);
    for (int i = 1; i < 4; ++i)
        EXPECT_TRUE(keys_->GetHotKey(i).registered) << i;
    EXPECT_EQ(Fired{2}, Press(QKeyCombination(Qt::Key_F7)));
    EXPECT_EQ(Fired{3}, Press(QKeyCombination(Qt::Key_Escape)));
}

TEST_F(SysHotKeyTest, DialogsKeepTheirKeys)
{
    AddDefaults();
    keys_->SetActive(true);

    // The configuration dialog switches every hot key off while it is open,
    // so that its key fields can take any key.
    QDialog dialog(&window_);
    auto* field = new QLineEdit(&dialog);
    keys_->SetActive(false);
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(keys_->GetHotKey(i).registered) << i;
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    field->setFocus();
    spy_->clear();
    for (Qt::Key key : {Qt::Key_F6, Qt::Key_F7, Qt::Key_Escape})
        QTest::keyClick(field, key);
    QTest::keyClick(field, Qt::Key_F5, Qt::ShiftModifier);
    QCoreApplication::processEvents();
    EXPECT_EQ(0, spy_->count());
    dialog.close();
    keys_->SetActive(true);
    EXPECT_EQ(Fired{1}, Press(QKeyCombination(Qt::Key_F6)));

    // Any other modal dialog (a message, a question) keeps its Escape.
    QDialog modal(&window_);
    modal.setModal(true);
    auto* answer = new QLineEdit(&modal);
    modal.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&modal));
    answer->setFocus();
    spy_->clear();
    QTest::keyClick(answer, Qt::Key_Escape);
    EXPECT_EQ(0, spy_->count());
    EXPECT_FALSE(modal.isVisible());
    EXPECT_EQ(Fired{3}, Press(QKeyCombination(Qt::Key_Escape)));

    keys_->Clear();
    EXPECT_EQ(0, keys_->Count());
    EXPECT_EQ(Fired{}, Press(QKeyCombination(Qt::Key_F6)));
}

TEST_F(SysHotKeyTest, HotKeysGoFirstAndEachCombinationHasOneOwner)
{
    // A menu command on F7 somewhere in the window; Home, which an edit field
    // keeps for itself.
    QAction menuCommand(&window_);
    menuCommand.setShortcut(QKeySequence(Qt::Key_F7));
    window_.addAction(&menuCommand);
    QSignalSpy triggered(&menuCommand, &QAction::triggered);
    edit_->setText("abc");

    AddDefaults();
    keys_->SetActive(true);
    EXPECT_EQ(Fired{2}, Press(QKeyCombination(Qt::Key_F7)));
    EXPECT_EQ(0, triggered.count());
    keys_->AddHotKey(36, 0); // Home
    EXPECT_EQ(Fired{4}, Press(QKeyCombination(Qt::Key_Home)));
    EXPECT_EQ(3, edit_->cursorPosition());
    keys_->SetActive(false);
    EXPECT_EQ(Fired{}, Press(QKeyCombination(Qt::Key_F7)));
    EXPECT_EQ(1, triggered.count());
    EXPECT_EQ(Fired{}, Press(QKeyCombination(Qt::Key_Home)));
    EXPECT_EQ(0, edit_->cursorPosition());
    keys_->SetActive(true);

    // A second definition of a taken combination is refused, as another
    // program's hot key would be; the first one keeps working.
    EXPECT_EQ(5, keys_->AddHotKey(117, 0));
    EXPECT_FALSE(keys_->GetHotKey(5).registered);
    EXPECT_EQ(Fired{1}, Press(QKeyCombination(Qt::Key_F6)));
    // Once the owner lets go, registering again succeeds.
    HotKeyDefinition f6 = keys_->GetHotKey(1);
    f6.keyCode = 120; // F9
    keys_->SetHotKey(1, f6);
    keys_->SetHotKey(5, keys_->GetHotKey(5));
    EXPECT_TRUE(keys_->GetHotKey(5).registered);
    EXPECT_EQ(Fired{5}, Press(QKeyCombination(Qt::Key_F6)));

    // A popup menu keeps its Escape.
    QMenu menu;
    menu.addAction("item");
    menu.popup(window_.mapToGlobal(QPoint(5, 5)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    spy_->clear();
    QTest::keyClick(&menu, Qt::Key_Escape);
    EXPECT_EQ(0, spy_->count());
    EXPECT_FALSE(menu.isVisible());
    EXPECT_EQ(Fired{3}, Press(QKeyCombination(Qt::Key_Escape)));
}

TEST_F(SysHotKeyTest, HintTexts)
{
    AddDefaults();
    EXPECT_EQ("Esc or Shift-F5 to hide", HideHintText(*keys_));
    EXPECT_EQ("Shift-F5 to hide/restore", TrayHintText(*keys_));
    EXPECT_EQ("Viewer mode activated. Press Esc or F7 to exit or F6 to toggle full screen mode",
              ViewerHintText(*keys_));

    keys_->SetHotKey(0, Key(ParseModifierWords("ctrl alt "), 88));
    EXPECT_EQ("Alt-Ctrl-X to hide/restore", TrayHintText(*keys_));
    EXPECT_EQ("Esc or Alt-Ctrl-X to hide", HideHintText(*keys_));
}

// The system-wide grab needs an X server: run under xvfb-run with
// QT_QPA_PLATFORM=xcb. Key presses come from the XTEST extension, so they
// travel through the server like real ones.
namespace {

struct XClient {
    using Display = void;
    void* xlib = dlopen("libX11.so.6", RTLD_NOW);
    void* xtst = dlopen("libXtst.so.6", RTLD_NOW);

    template <typename F>
    F Get(void* library, const char* name)
    {
        void* symbol = library ? dlsym(library, name) : nullptr;
        F function = nullptr;
        std::memcpy(&function, &symbol, sizeof function);
        return function;
    }

    Display* (*open)(const char*) = Get<Display* (*)(const char*)>(xlib, "XOpenDisplay");
    int (*close)(Display*) = Get<int (*)(Display*)>(xlib, "XCloseDisplay");
    unsigned char (*keycode)(Display*, unsigned long) =
        Get<unsigned char (*)(Display*, unsigned long)>(xlib, "XKeysymToKeycode");
    unsigned long (*root)(Display*) = Get<unsigned long (*)(Display*)>(xlib, "XDefaultRootWindow");
    int (*grabKey)(Display*, int, unsigned, unsigned long, int, int, int) =
        Get<int (*)(Display*, int, unsigned, unsigned long, int, int, int)>(xlib, "XGrabKey");
    int (*ungrabKey)(Display*, int, unsigned, unsigned long) =
        Get<int (*)(Display*, int, unsigned, unsigned long)>(xlib, "XUngrabKey");
    int (*sync)(Display*, int) = Get<int (*)(Display*, int)>(xlib, "XSync");
    int (*fakeKey)(Display*, unsigned, int, unsigned long) =
        Get<int (*)(Display*, unsigned, int, unsigned long)>(xtst, "XTestFakeKeyEvent");

    Display* display = (open && close && keycode && root && grabKey && ungrabKey && sync && fakeKey)
                           ? open(nullptr)
                           : nullptr;

    ~XClient()
    {
        if (display)
            close(display);
    }

    // Presses and releases the keys in order, releasing in reverse.
    void Chord(std::initializer_list<unsigned long> keysyms)
    {
        for (unsigned long keysym : keysyms)
            fakeKey(display, keycode(display, keysym), 1, 0);
        for (auto it = std::rbegin(keysyms); it != std::rend(keysyms); ++it)
            fakeKey(display, keycode(display, *it), 0, 0);
        sync(display, 0);
    }
};

constexpr unsigned long kShiftL = 0xffe1, kControlL = 0xffe3, kF5 = 0xffc2, kNumLock = 0xff7f;

} // namespace

TEST_F(SysHotKeyTest, SystemWideGrabOnX11)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X11 session (xvfb-run, QT_QPA_PLATFORM=xcb)";
    XClient other;
    ASSERT_NE(nullptr, other.display) << "libX11/libXtst or the X server missing";

    keys_->SetActive(true);
    AddDefaults();
    ASSERT_TRUE(keys_->GetHotKey(0).registered);
    ASSERT_TRUE(keys_->IsSystemWide(0));
    EXPECT_FALSE(keys_->IsSystemWide(1)); // the others never leave the program

    other.Chord({kShiftL, kF5});
    ASSERT_TRUE(spy_->wait(3000));
    QTest::qWait(100);
    ASSERT_EQ(1, spy_->count()); // once, not also through a shortcut
    EXPECT_EQ(0, spy_->at(0).at(0).toInt());

    // NumLock on does not stop it; another modifier with it is another key.
    spy_->clear();
    other.Chord({kNumLock});
    other.Chord({kShiftL, kF5});
    EXPECT_TRUE(spy_->wait(3000));
    other.Chord({kNumLock});
    spy_->clear();
    other.Chord({kControlL, kShiftL, kF5});
    EXPECT_FALSE(spy_->wait(300));

    // Unregistered: the key goes back to whoever has the focus.
    keys_->SetActive(false);
    other.Chord({kShiftL, kF5});
    EXPECT_FALSE(spy_->wait(300));
}

TEST_F(SysHotKeyTest, KeyGrabbedByAnotherClientFallsBackToTheProgram)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X11 session (xvfb-run, QT_QPA_PLATFORM=xcb)";
    XClient other;
    ASSERT_NE(nullptr, other.display) << "libX11/libXtst or the X server missing";
    const int f5 = other.keycode(other.display, kF5);
    other.grabKey(other.display, f5, 1 /* Shift */, other.root(other.display), 0, 1, 1);
    other.sync(other.display, 0);

    AddDefaults();
    keys_->SetActive(true);
    EXPECT_TRUE(keys_->GetHotKey(0).registered);
    EXPECT_FALSE(keys_->IsSystemWide(0));
    EXPECT_EQ(Fired{0}, Press(QKeyCombination(Qt::ShiftModifier, Qt::Key_F5)));

    // Given up by the other client: the next registration gets the grab.
    other.ungrabKey(other.display, f5, 1, other.root(other.display));
    other.sync(other.display, 0);
    keys_->SetHotKey(0, keys_->GetHotKey(0));
    EXPECT_TRUE(keys_->IsSystemWide(0));
}
