// The "Configure" dialog and the autostart entry it switches.
#include "app/Autostart.h"
#include "app/ConfigureDialog.h"
#include "app/components/TestEnvironment.h"
#include "panes/ViewerExtensions.h"
#include "viewer/TextFont.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace tarnel;

namespace {

// Answers the input boxes that come up while it lives.
class InputBoxAnswer {
public:
    // text empty and confirm false: the box is cancelled.
    InputBoxAnswer(QString text, bool confirm) : text_(std::move(text)), confirm_(confirm)
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            if (!box)
                return;
            ++seen;
            title = box->windowTitle();
            label = box->labelText();
            box->setTextValue(text_);
            confirm_ ? box->accept() : box->reject();
        });
        timer_.start(5);
    }
    int seen = 0;
    QString title, label;

private:
    QString text_;
    bool confirm_;
    QTimer timer_;
};

void Click(TDlgConfigure& d, const char* name) { d.findChild<QPushButton*>(name)->click(); }
int PressOk(TDlgConfigure& d)
{
    Click(d, "BtnOK");
    return d.result();
}
int PressCancel(TDlgConfigure& d)
{
    Click(d, "BtnCancel");
    return d.result();
}

QStringList Lines(const QListWidget* list)
{
    QStringList lines;
    for (int i = 0; i < list->count(); ++i)
        lines << list->item(i)->text();
    return lines;
}
QListWidgetItem* Line(const QListWidget* list, const QString& text)
{
    const QList<QListWidgetItem*> found = list->findItems(text, Qt::MatchExactly);
    return found.isEmpty() ? nullptr : found.first();
}

std::string Describe(const AppSettings& s)
{
    std::string out = std::to_string(s.QuitType) + s.backType;
    for (bool b : {s.ShowBigSize, s.ShowAttrs, s.ShowListHints, s.ShowSupported, s.FastZipMove, s.UseAsyncShell,
                   s.QueuePerVolume, s.DescriptionsFollow, s.ConfirmCopyTarget, s.KeepPlaces})
        out += b ? '1' : '0';
    const TextViewSettings& t = s.textView;
    out += "|" + t.fontName + "|" + std::to_string(t.fontSize) + "|" + std::to_string(t.fontFore) + "|" +
           std::to_string(t.fontBack) + "|" + std::to_string(t.tabSize) + (t.printPage ? "P" : "-");
    for (const HotKeyDefinition& k : s.hotKeys)
        out += "|" + std::to_string(k.modifiers) + ":" + std::to_string(k.keyCode) + (k.enabled ? "e" : "d");
    return out;
}

std::vector<std::string> Exts(const ViewerExtensionTable& table)
{
    std::vector<std::string> out;
    for (const ViewerExtension& e : table.Entries())
        out.push_back(e.Ext + (e.Enabled ? "+" : "-") + (e.BuiltIn ? "b" : ""));
    return out;
}

std::string ReadFile(const std::string& path)
{
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string("<missing>");
}

class ConfigureTest : public ::testing::Test {
protected:
    QTemporaryDir config;
    EnvGuard env;
    AppSettings settings;
    ViewerExtensionTable table;
    QStringList log; // every hook call, in order
    ConfigureHooks hooks;

    void SetUp() override
    {
        ASSERT_TRUE(config.isValid());
        env.Set("XDG_CONFIG_HOME", config.path().toStdString());
        hooks.setHotKeysActive = [this](bool on) { log << QString("active %1").arg(on); };
        hooks.getHotKey = [this](int n) { return settings.hotKeys[size_t(n)]; };
        hooks.setHotKey = [this](int n, const HotKeyDefinition& d) {
            log << QString("set %1 %2:%3%4").arg(n).arg(d.modifiers).arg(d.keyCode).arg(d.enabled ? "e" : "d");
        };
        hooks.showHotKeyHints = [this] { log << "hints"; };
        hooks.applyBackType = [this](const std::string& b) { log << QString("back %1").arg(b.c_str()); };
        hooks.redrawLists = [this] { log << "redraw"; };
        hooks.programPath = "/opt/tarnel/bin/tarnel";
    }

    int Run(const std::function<int(TDlgConfigure&)>& run)
    {
        return TDlgConfigure::RunConfigure(settings, table, hooks, nullptr, [&](TDlgConfigure& d) {
            log << "run";
            return run(d);
        });
    }
    static void Check(TDlgConfigure& d, const char* name, bool on) { d.findChild<QAbstractButton*>(name)->setChecked(on); }
};

} // namespace

TEST_F(ConfigureTest, PagesCaptionsAndLabelsAreThere)
{
    TDlgConfigure d(settings, table, hooks);
    EXPECT_EQ(d.windowTitle(), "Configure");
    EXPECT_FALSE(d.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(d.windowFlags() & Qt::WindowSystemMenuHint);
    QStringList tabs;
    for (int i = 0; i < d.Pages()->count(); ++i)
        tabs << d.Pages()->tabText(i);
    EXPECT_EQ(tabs, QStringList({"Hot keys", "Quitting", "File lists", "Internal viewer", "Text viewer", "Advanced",
                                 "Appearance"}));

    QStringList banners;
    for (int i = 0; i < d.Pages()->count(); ++i)
        banners << d.Pages()->widget(i)->findChild<QLabel*>("Banner")->text();
    EXPECT_EQ(banners, QStringList({"Set your own defined hot-keys", "What to do when the close button is pressed",
                                    "Set options specific to file lists",
                                    "Configure extensions for use with internal viewer",
                                    "Configure viewer appearance", "Set advanced options for experienced users",
                                    "Customize Tarnel's appearance"}));

    auto textsOf = [&d](auto* type) {
        QStringList texts;
        for (const auto* w : d.findChildren<std::remove_pointer_t<decltype(type)>*>())
            texts << w->text();
        return texts;
    };
    const QStringList labels = textsOf((QLabel*)nullptr);
    for (const char* text : {"application restore, resume and hide", "full screen viewer", "viewer on/off",
                             "ESCAPE key", "View with internal viewer:", "View as text:", "Font:", "Size:",
                             "Foreground color:", "Background color:", "Tab size:", "Coolbar background",
                             "This is a sample to show \nhow the quick brown fox \njumps over the lazy dog \n:-)"})
        EXPECT_TRUE(labels.contains(text)) << text;
    const QStringList buttons = textsOf((QAbstractButton*)nullptr);
    for (const char* text :
         {"ask for confirmation", "do nothing (ignore quit request and do not ask for confirmation)",
          "always quit without confirmation", "always minimize without confirmation",
          "show allocated disk space for directories", "show icon for files supported by internal viewer",
          "show icons for file attributes", "show hints", "print page number", "Auto load Tarnel at &startup",
          "Do not ask confirmation when moving from ZIP files",
          "Use asynchronous shell operations on file MOVE and COPY to keep on working while they take place",
          "Default", "None", "Add", "Remove", "Cancel", "OK"})
        EXPECT_TRUE(buttons.contains(text)) << text;
    for (int n = 1; n <= 4; ++n)
        EXPECT_NE(d.findChild<HotKeyEdit*>(QString("HotKey%1").arg(n)), nullptr);

    // Built-in types on the left, the others on the right, as the table has them.
    EXPECT_EQ(Lines(d.InternalList()),
              QStringList({".BMP", ".GIF", ".JPG", ".WAV", ".AVI", ".MID", ".TXT", ".VOX", ".RAR", ".PNG", ".WEBP",
                           ".SVG", ".TIF", ".TIFF", ".ICO", ".XPM", ".MP3", ".OGG", ".FLAC", ".OPUS", ".MP4", ".MKV",
                           ".WEBM"}));
    EXPECT_EQ(Lines(d.TextList()), QStringList({".DIZ", ".NFO", ".INF", ".INI"}));
}

TEST_F(ConfigureTest, OpeningFillsFromSettingsWithHotKeysOffUntilItCloses)
{
    settings.QuitType = 2;
    settings.backType = "none"; // matched without regard to case
    settings.ShowBigSize = true;
    settings.ShowAttrs = false;
    settings.FastZipMove = true;
    settings.textView.tabSize = 3;
    table.Entries()[6].Enabled = false; // .TXT
    settings.hotKeys[1].enabled = false;

    Run([&](TDlgConfigure& d) {
        EXPECT_EQ(log, QStringList({"active 0", "run"})); // no preview fired while filling
        EXPECT_EQ(d.Pages()->currentIndex(), 0);
        EXPECT_TRUE(d.findChild<QRadioButton*>("RBQuit2")->isChecked());
        EXPECT_TRUE(d.findChild<QRadioButton*>("RBNone")->isChecked());
        EXPECT_TRUE(d.findChild<QCheckBox*>("CBShowBigSize")->isChecked());
        EXPECT_FALSE(d.findChild<QCheckBox*>("CBShowAttrs")->isChecked());
        EXPECT_TRUE(d.findChild<QCheckBox*>("CBFastZipMove")->isChecked());
        EXPECT_FALSE(d.findChild<QCheckBox*>("CBAutostart")->isChecked());
        EXPECT_EQ(d.findChild<QSpinBox*>("SETabSize")->value(), 3);
        EXPECT_EQ(d.findChild<QSpinBox*>("SESize")->value(), 9); // -9 shown without its sign
        EXPECT_EQ(Line(d.InternalList(), ".TXT")->checkState(), Qt::Unchecked);
        EXPECT_EQ(Line(d.InternalList(), ".BMP")->checkState(), Qt::Checked);
        EXPECT_EQ(d.HotKey(0)->KeyCombination(), QKeyCombination(Qt::ShiftModifier, Qt::Key_F5));
        EXPECT_EQ(d.HotKey(3)->KeyCombination(), QKeyCombination(Qt::Key_Escape));
        return PressOk(d);
    });
    // Stored while off; switched on last, which registers them.
    EXPECT_EQ(log, QStringList({"active 0", "run", "set 0 1:116e", "set 1 0:117d", "set 2 0:118e", "set 3 0:27e",
                                "hints", "active 1"}));

    log.clear();
    Run(PressCancel);
    EXPECT_EQ(log, QStringList({"active 0", "run", "back None", "active 1"}));

    // Even a run that throws leaves the hot keys on.
    log.clear();
    EXPECT_THROW(Run([](TDlgConfigure&) -> int { throw std::runtime_error("x"); }), std::runtime_error);
    EXPECT_EQ(log.last(), "active 1");
}

TEST_F(ConfigureTest, CancelChangesNothingButAnAddedExtensionStays)
{
    ASSERT_TRUE(SetAutostart(true, "/somewhere/else"));
    const std::string before = Describe(settings);
    const std::string entry = ReadFile(AutostartFile());

    InputBoxAnswer answer("pas", true);
    const int result = Run([&](TDlgConfigure& d) {
        Click(d, "BtnAdd");
        d.findChild<QRadioButton*>("RBQuit3")->setChecked(true);
        Check(d, "CBShowBigSize", true);
        Check(d, "CBAutostart", false);
        Check(d, "CBFastZipMove", true);
        d.findChild<QRadioButton*>("RBNone")->click();
        d.findChild<QSpinBox*>("SESize")->setValue(14);
        d.findChild<QComboBox*>("CBForeColor")->setCurrentText("Red");
        QTest::keyClick(d.HotKey(0), Qt::Key_F9);
        Line(d.InternalList(), ".GIF")->setCheckState(Qt::Unchecked);
        d.TextList()->setCurrentRow(0);
        Click(d, "BtnRemove");
        return PressCancel(d);
    });
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(Describe(settings), before);
    EXPECT_EQ(ReadFile(AutostartFile()), entry);
    EXPECT_EQ(Exts(table), (std::vector<std::string>{".BMP+b", ".GIF+b", ".JPG+b", ".WAV+b", ".AVI+b", ".MID+b",
                                                     ".TXT+b", ".VOX+b", ".RAR+b", ".DIZ+", ".NFO+", ".INF+",
                                                     ".INI+", ".PNG+b", ".WEBP+b", ".SVG+b", ".TIF+b", ".TIFF+b", ".ICO+b", ".XPM+b",
                                                     ".MP3+b", ".OGG+b", ".FLAC+b", ".OPUS+b", ".MP4+b", ".MKV+b", ".WEBM+b", ".PAS+"}));
    // The preview showed "None"; Cancel put the stored background back.
    EXPECT_EQ(log, QStringList({"active 0", "run", "back None", "back Default", "active 1"}));
}

TEST_F(ConfigureTest, AddAsksForAnExtensionAndStoresItUpperCaseWithItsDot)
{
    TDlgConfigure d(settings, table, hooks);
    {
        InputBoxAnswer answer("pas", true);
        Click(d, "BtnAdd");
        EXPECT_EQ(answer.seen, 1);
        EXPECT_EQ(answer.title, "View as text");
        EXPECT_EQ(answer.label, "Custom extension:");
    }
    {
        InputBoxAnswer answer(".log", true);
        Click(d, "BtnAdd");
    }
    {
        // The table keeps 9 characters: the line shows what is kept, and OK
        // finds it again instead of dropping it.
        InputBoxAnswer answer("verylongext", true);
        Click(d, "BtnAdd");
    }
    {
        InputBoxAnswer answer("tmp", false);
        Click(d, "BtnAdd");
        EXPECT_EQ(answer.seen, 1);
    }
    EXPECT_EQ(Lines(d.TextList()), QStringList({".DIZ", ".NFO", ".INF", ".INI", ".PAS", ".LOG", ".VERYLONG"}));
    EXPECT_EQ(Line(d.TextList(), ".LOG")->checkState(), Qt::Checked);
    EXPECT_EQ(Exts(table).back(), ".VERYLONG+");
    EXPECT_EQ(table.Entries().size(), 30u);

    PressOk(d);
    EXPECT_EQ(table.Entries().size(), 30u);
    EXPECT_EQ(Exts(table)[29], ".VERYLONG+");

    // A full table asks nothing.
    while (table.Entries().size() < ViewerExtensionTable::kMaxEntries)
        table.Add("x");
    TDlgConfigure full(settings, table, hooks);
    InputBoxAnswer answer("zzz", true);
    Click(full, "BtnAdd");
    QTest::qWait(30);
    EXPECT_EQ(answer.seen, 0);
    EXPECT_EQ(table.Entries().size(), ViewerExtensionTable::kMaxEntries);
}

TEST_F(ConfigureTest, RemoveTakesCustomTypesOutOnOkAndBuiltInOnesCanOnlyBeUnchecked)
{
    Run([&](TDlgConfigure& d) {
        Click(d, "BtnRemove"); // nothing selected: nothing goes
        EXPECT_EQ(d.TextList()->count(), 4);
        Line(d.InternalList(), ".BMP")->setSelected(true);
        Click(d, "BtnRemove");
        EXPECT_EQ(d.InternalList()->count(), 23);

        Line(d.TextList(), ".INI")->setSelected(true);
        Click(d, "BtnRemove");
        EXPECT_EQ(Lines(d.TextList()), QStringList({".DIZ", ".NFO", ".INF"}));
        // Until OK the table is untouched.
        EXPECT_EQ(table.Entries().size(), 27u);

        Line(d.InternalList(), ".BMP")->setCheckState(Qt::Unchecked);
        Line(d.TextList(), ".NFO")->setCheckState(Qt::Unchecked);
        return PressOk(d);
    });
    EXPECT_EQ(Exts(table), (std::vector<std::string>{".BMP-b", ".GIF+b", ".JPG+b", ".WAV+b", ".AVI+b", ".MID+b",
                                                     ".TXT+b", ".VOX+b", ".RAR+b", ".DIZ+", ".NFO-", ".INF+",
                                                     ".PNG+b", ".WEBP+b", ".SVG+b", ".TIF+b", ".TIFF+b", ".ICO+b", ".XPM+b",
                                                     ".MP3+b", ".OGG+b", ".FLAC+b", ".OPUS+b", ".MP4+b", ".MKV+b", ".WEBM+b"}));
}

TEST_F(ConfigureTest, OkStoresEveryPage)
{
    settings.textView.fontFore = 0x123456; // not one of the named colours
    Run([&](TDlgConfigure& d) {
        d.findChild<QRadioButton*>("RBQuit1")->setChecked(true);
        Check(d, "CBShowListHints", false);
        Check(d, "CBFastZipMove", true);
        Check(d, "CBUseAsyncShell", true);
        EXPECT_FALSE(d.findChild<QCheckBox*>("CBQueuePerVolume")->isChecked()); // off by default
        Check(d, "CBQueuePerVolume", true);
        EXPECT_TRUE(d.findChild<QCheckBox*>("CBDescriptionsFollow")->isChecked()); // on by default
        Check(d, "CBDescriptionsFollow", false);
        EXPECT_TRUE(d.findChild<QCheckBox*>("CBConfirmCopyTarget")->isChecked()); // on unless turned off
        Check(d, "CBConfirmCopyTarget", false);
        EXPECT_TRUE(d.findChild<QCheckBox*>("CBKeepPlaces")->isChecked());
        Check(d, "CBKeepPlaces", false);
        d.findChild<QRadioButton*>("RBNone")->click();
        auto* tab = d.findChild<QSpinBox*>("SETabSize");
        tab->setValue(4);
        Check(d, "CBPrintPage", true);
        d.findChild<QComboBox*>("CBBackColor")->setCurrentText("Navy");
        return PressOk(d);
    });
    EXPECT_EQ(settings.QuitType, 1);
    EXPECT_FALSE(settings.ShowListHints);
    EXPECT_TRUE(settings.FastZipMove);
    EXPECT_TRUE(settings.UseAsyncShell);
    EXPECT_TRUE(settings.QueuePerVolume);
    EXPECT_FALSE(settings.DescriptionsFollow);
    EXPECT_FALSE(settings.ConfirmCopyTarget);
    EXPECT_FALSE(settings.KeepPlaces);
    EXPECT_EQ(settings.backType, "None");
    EXPECT_EQ(settings.textView.tabSize, 4);
    EXPECT_TRUE(settings.textView.printPage);
    EXPECT_EQ(settings.textView.fontBack, 0x800000u);
    EXPECT_EQ(settings.textView.fontFore, 0x123456u); // left alone, kept as it was
    EXPECT_EQ(settings.textView.fontSize, -9);        // the size was not chosen: its sign stays
    EXPECT_EQ(settings.textView.fontName, "Fixedsys");
    // Hints alone do not change what the lists draw.
    EXPECT_FALSE(log.contains("redraw"));

    log.clear();
    Run([&](TDlgConfigure& d) {
        Check(d, "CBShowAttrs", false);
        return PressOk(d);
    });
    EXPECT_FALSE(settings.ShowAttrs);
    EXPECT_TRUE(log.contains("redraw"));
}

TEST_F(ConfigureTest, TextViewerPagePreviewsOnTheSampleAndOkKeepsIt)
{
    Run([&](TDlgConfigure& d) {
        auto* fonts = d.findChild<QComboBox*>("CBFont");
        // Fixed-pitch faces only; a stored face this system lacks shows as
        // the face the viewer really uses.
        EXPECT_EQ(fonts->currentText(), FontFamilyInUse("Fixedsys"));
        if (!QFontDatabase::hasFamily("Fixedsys"))
            EXPECT_NE(fonts->currentText(), "Fixedsys");
        for (int i = 0; i < fonts->count(); ++i) {
            const QString name = fonts->itemText(i);
            EXPECT_TRUE(name == "Fixedsys" || QFontDatabase::isFixedPitch(name)) << name.toStdString();
        }
        EXPECT_EQ(d.findChild<QComboBox*>("CBForeColor")->currentText(), "Silver");
        EXPECT_EQ(d.findChild<QComboBox*>("CBBackColor")->currentText(), "Black");

        auto* size = d.findChild<QSpinBox*>("SESize");
        EXPECT_EQ(size->minimum(), 4);
        EXPECT_EQ(size->maximum(), 24);
        QTest::keyClicks(size, "2");
        EXPECT_EQ(size->value(), 9); // not typed into
        QTest::keyClick(size, Qt::Key_Up);
        EXPECT_EQ(size->value(), 10);
        EXPECT_EQ(d.findChild<QSpinBox*>("SETabSize")->maximum(), 20);

        auto* sample = d.findChild<QLabel*>("Sample");
        d.findChild<QComboBox*>("CBForeColor")->setCurrentText("Yellow");
        d.findChild<QComboBox*>("CBBackColor")->setCurrentText("Navy");
        EXPECT_EQ(sample->palette().color(QPalette::WindowText), QColor(255, 255, 0));
        EXPECT_EQ(sample->palette().color(QPalette::Window), QColor(0, 0, 128));
        EXPECT_EQ(sample->font().pointSize(), 10);
        if (fonts->count() > 1) {
            fonts->setCurrentIndex(fonts->currentIndex() == 0 ? 1 : 0);
            EXPECT_EQ(sample->font().family(), fonts->currentText());
        }
        return PressOk(d);
    });
    EXPECT_EQ(settings.textView.fontSize, 10);
    EXPECT_EQ(settings.textView.fontFore, 0x00FFFFu);
    EXPECT_EQ(settings.textView.fontBack, 0x800000u);
}

TEST_F(ConfigureTest, HotKeyEditTurnsPlainAndShiftKeysIntoAlt)
{
    TDlgConfigure d(settings, table, hooks);
    d.show();
    d.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
    HotKeyEdit* edit = d.HotKey(1);
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_F9);
    EXPECT_EQ(edit->KeyCombination(), QKeyCombination(Qt::AltModifier, Qt::Key_F9));
    QTest::keyClick(edit, Qt::Key_F8, Qt::ShiftModifier);
    EXPECT_EQ(edit->KeyCombination(), QKeyCombination(Qt::AltModifier, Qt::Key_F8));
    QTest::keyClick(edit, Qt::Key_F9, Qt::ControlModifier);
    EXPECT_EQ(edit->KeyCombination(), QKeyCombination(Qt::ControlModifier, Qt::Key_F9));
    QTest::keyClick(edit, Qt::Key_F9, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(edit->KeyCombination(), QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_F9));
    // A lone modifier is no key; Escape and Enter are keys, not the dialog's.
    QTest::keyClick(edit, Qt::Key_Control, Qt::ControlModifier);
    EXPECT_EQ(edit->KeyCombination(), QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_F9));
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_EQ(edit->KeyCombination(), QKeyCombination(Qt::AltModifier, Qt::Key_Escape));
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_TRUE(d.isVisible());
    // A shortcut of the window does not take the key away.
    int fired = 0;
    auto* shortcut = new QShortcut(QKeySequence("Alt+S"), &d);
    QObject::connect(shortcut, &QShortcut::activated, [&] { ++fired; });
    QTest::keyClick(edit, Qt::Key_S, Qt::AltModifier);
    EXPECT_EQ(edit->KeyCombination(), QKeyCombination(Qt::AltModifier, Qt::Key_S));
    EXPECT_EQ(fired, 0);
    d.reject();
}

TEST_F(ConfigureTest, TypedHotKeysAreStoredKeepingTheirEnabledFlag)
{
    settings.hotKeys[2].enabled = false;
    Run([&](TDlgConfigure& d) {
        QTest::keyClick(d.HotKey(0), Qt::Key_F9);                        // Alt+F9
        QTest::keyClick(d.HotKey(2), Qt::Key_F9, Qt::ShiftModifier);     // Alt+F9
        QTest::keyClick(d.HotKey(3), Qt::Key_F9, Qt::ControlModifier);   // Ctrl+F9
        return PressOk(d);
    });
    EXPECT_EQ(log.mid(2, 4), QStringList({"set 0 4:120e", "set 1 0:117e", "set 2 4:120d", "set 3 2:120e"}));
    EXPECT_EQ(settings.hotKeys[3].modifiers, hkCtrl);
    EXPECT_EQ(settings.hotKeys[3].keyCode, 120u);
    EXPECT_FALSE(settings.hotKeys[2].enabled);
}

TEST_F(ConfigureTest, AutostartEntryFollowsTheBoxAndAnExistingOneIsKept)
{
    const std::string file = config.path().toStdString() + "/autostart/tarnel.desktop";
    EXPECT_EQ(AutostartFile(), file);

    // Checked with no entry: written, readable by the session, no temporary left.
    Run([&](TDlgConfigure& d) {
        Check(d, "CBAutostart", true);
        return PressOk(d);
    });
    EXPECT_EQ(ReadFile(file), "[Desktop Entry]\nType=Application\nName=Tarnel\nExec=\"/opt/tarnel/bin/tarnel\" -min\n");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(QDir(config.path() + "/autostart").entryList(QDir::Files | QDir::Hidden), QStringList({"tarnel.desktop"}));

    // Someone else's entry: opening shows it checked, OK leaves it alone.
    const std::string other = "[Desktop Entry]\nType=Application\nName=Tarnel\nExec=/usr/bin/tarnel --tray\n";
    {
        QFile f(QString::fromStdString(file));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(other.c_str());
    }
    hooks.programPath = "/elsewhere/tarnel";
    Run([&](TDlgConfigure& d) {
        EXPECT_TRUE(d.findChild<QCheckBox*>("CBAutostart")->isChecked());
        return PressOk(d);
    });
    EXPECT_EQ(ReadFile(file), other);

    Run([&](TDlgConfigure& d) {
        Check(d, "CBAutostart", false);
        return PressOk(d);
    });
    EXPECT_FALSE(AutostartExists());
    // Unchecked with nothing there is fine as well.
    EXPECT_TRUE(SetAutostart(false, "/x"));
}

TEST(AutostartTest, EntryQuotesThePathForTheExecKey)
{
    // Quoted-argument escapes, "%%" for field codes, then the string escapes
    // that double every backslash again.
    EXPECT_EQ(AutostartEntry("/opt/my apps/tar\"nel$`%\\x"),
              "[Desktop Entry]\nType=Application\nName=Tarnel\n"
              "Exec=\"/opt/my apps/tar\\\\\"nel\\\\$\\\\`%%\\\\\\\\x\" -min\n");
    EXPECT_EQ(AutostartEntry("/a\nb"), "[Desktop Entry]\nType=Application\nName=Tarnel\nExec=\"/a\\nb\" -min\n");
}

TEST(AutostartTest, ConfigHomeDefaultsAndMissingFoldersAreCreated)
{
    QTemporaryDir home;
    EnvGuard env;
    env.Set("HOME", home.path().toStdString());
    env.Set("XDG_CONFIG_HOME", "relative/ignored");
    EXPECT_EQ(AutostartFile(), home.path().toStdString() + "/.config/autostart/tarnel.desktop");
    EXPECT_FALSE(AutostartExists());
    EXPECT_TRUE(SetAutostart(true, "/bin/tarnel"));
    EXPECT_TRUE(AutostartExists());

    // A folder that cannot be written: nothing is written, nothing thrown.
    env.Set("XDG_CONFIG_HOME", home.path().toStdString() + "/locked");
    ASSERT_EQ(::mkdir((home.path() + "/locked").toUtf8().constData(), 0500), 0);
    if (::geteuid() != 0) {
        EXPECT_FALSE(SetAutostart(true, "/bin/tarnel"));
        EXPECT_FALSE(AutostartExists());
    }
}
