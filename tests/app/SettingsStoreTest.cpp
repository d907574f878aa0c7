#include "app/SettingsStore.h"
#include "panes/ViewerExtensions.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    std::string dir;
    std::string file;

    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-settings-XXXXXX";
        dir = mkdtemp(tmpl);
        file = dir + "/user.reg";
    }
    void TearDown() override { fs::remove_all(dir); }

    void Write(const std::string& body)
    {
        std::ofstream(file) << "Windows Registry Editor Version 5.00\n\n" << body;
    }
    std::string Read()
    {
        std::ifstream in(file);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // One run: load everything, let the test change it, save at the end.
    template <typename Change>
    SettingsStore Run(AppSettings& settings, ViewerExtensionTable& table, Change&& change)
    {
        Registry registry(file, dir + "/none.reg");
        registry.Load();
        SettingsStore store(registry);
        store.LoadAll(settings, table);
        change(settings, table);
        store.SaveAll(settings, table);
        return store;
    }
};

const char* const kRoot = "[HKEY_CURRENT_USER\\Software\\Vormane\\orv\\";

} // namespace

TEST_F(SettingsStoreTest, AFreshUserGetsEveryKeyAfterOneRun)
{
    AppSettings settings;
    ViewerExtensionTable table;
    Run(settings, table, [](AppSettings&, ViewerExtensionTable&) {});
    const std::string text = Read();
    for (const char* key : {"cfg]", "supported]", "HotKeys\\key0]", "HotKeys\\key3]", "CoolBar1\\TBGeneral]",
                            "CoolBar1\\TBNavigation]", "CoolBar1\\TBDrives]", "TextView]", "LeftHeader]",
                            "RightHeader]", "MainForm]"})
        EXPECT_NE(text.find(std::string(kRoot) + key), std::string::npos) << key;
    EXPECT_NE(text.find("\"QuitType\"=dword:00000000"), std::string::npos);
    EXPECT_NE(text.find("\"modifiers\"=\"shift \""), std::string::npos);
}

TEST_F(SettingsStoreTest, RoundTripKeepsEverySetting)
{
    AppSettings first;
    ViewerExtensionTable table;
    Run(first, table, [](AppSettings& s, ViewerExtensionTable& t) {
        s.QuitType = 3;
        s.ShowBigSize = true;
        s.ShowAttrs = false;
        s.UseAsyncShell = true;
        s.QueuePerVolume = true;
        s.DescriptionsFollow = false;
        s.ConfirmCopyTarget = false;
        s.backType = "None";
        s.bands = {{"TBDrives", true, 300}, {"TBGeneral", false, 90}, {"TBNavigation", true, 250}};
        s.textView = {"DejaVu Sans Mono", 12, 0x00FF0000, 0x00FFFFFF, 4, true};
        s.leftWidths = {120, 60, 130, 900};
        s.bookmarks = {"/home/user/", "/tmp/a b/", "/home/user/"};
        s.hotKeys[0] = {hkCtrl | hkAlt, 88, false, true};
        s.mainForm = {10, 20, 800, 600, 3, false};
        t.Add(".pas");
        t.Entries()[0].Enabled = false;
    });
    AppSettings second;
    ViewerExtensionTable table2;
    Run(second, table2, [](AppSettings&, ViewerExtensionTable&) {});
    EXPECT_EQ(second.QuitType, 3);
    EXPECT_TRUE(second.ShowBigSize);
    EXPECT_FALSE(second.ShowAttrs);
    EXPECT_TRUE(second.UseAsyncShell);
    EXPECT_TRUE(second.QueuePerVolume);
    EXPECT_FALSE(second.DescriptionsFollow);
    EXPECT_FALSE(second.ConfirmCopyTarget);
    EXPECT_EQ(second.backType, "None");
    ASSERT_EQ(second.bands.size(), 3u);
    EXPECT_EQ(second.bands[0].name, "TBDrives");
    EXPECT_TRUE(second.bands[0].lineBreak);
    EXPECT_EQ(second.bands[0].width, 300);
    EXPECT_EQ(second.bands[2].name, "TBNavigation");
    EXPECT_EQ(second.textView.fontName, "DejaVu Sans Mono");
    EXPECT_EQ(second.textView.fontFore, 0x00FF0000u);
    EXPECT_TRUE(second.textView.printPage);
    EXPECT_EQ(second.leftWidths, (std::array<int, 4>{120, 60, 130, 900}));
    EXPECT_EQ(second.bookmarks, (std::vector<std::string>{"/home/user/", "/tmp/a b/", "/home/user/"})); // duplicates kept
    EXPECT_EQ(second.hotKeys[0].keyCode, 88u);
    EXPECT_EQ(second.hotKeys[0].modifiers, hkCtrl | hkAlt);
    EXPECT_EQ(second.mainForm.width, 800);
    EXPECT_EQ(second.mainForm.state, 3);
    EXPECT_FALSE(table2.Entries()[0].Enabled);
    EXPECT_TRUE(table2.Accepts("x.PAS"));
}

TEST_F(SettingsStoreTest, ColumnWidthsByName)
{
    Write(std::string(kRoot) + "LeftHeader]\n\"width9\"=dword:00000009\n\"widthx\"=dword:00000007\n"
                               "\"width2\"=dword:00000078\n\"width0\"=dword:00000040\n");
    AppSettings settings;
    ViewerExtensionTable table;
    Run(settings, table, [](AppSettings&, ViewerExtensionTable&) {});
    EXPECT_EQ(settings.leftWidths, (std::array<int, 4>{64, 50, 120, 5000}));
    EXPECT_EQ(settings.rightWidths, (std::array<int, 4>{100, 50, 80, 5000}));
    // Only the stored ones are kept as they are; the window fits the others.
    EXPECT_EQ(settings.leftWidthStored, (std::array<bool, 4>{true, false, true, false}));
    EXPECT_EQ(settings.rightWidthStored, (std::array<bool, 4>{}));
}

TEST_F(SettingsStoreTest, HandWrittenModifiersAndViewerTypes)
{
    Write(std::string(kRoot) + "HotKeys\\key1]\n\"VirtKey\"=dword:00000078\n\"modifiers\"=\"SHIFT CTRL \"\n\n" + kRoot +
          "supported]\n\".PAS\"=\"1\"\n\".LOG\"=\"0\"\n\".ABCDEFGHIJ\"=\"1\"\n\".bmp\"=\"0\"\n\".png\"=\"0\"\n");
    AppSettings settings;
    ViewerExtensionTable table;
    Run(settings, table, [](AppSettings&, ViewerExtensionTable&) {});
    EXPECT_EQ(settings.hotKeys[1].keyCode, 120u);
    EXPECT_EQ(settings.hotKeys[1].modifiers, hkShift | hkCtrl);
    EXPECT_TRUE(table.Accepts("a.pas"));
    EXPECT_FALSE(table.Accepts("a.log"));
    EXPECT_FALSE(table.Accepts("a.bmp"));
    EXPECT_TRUE(table.Accepts("a.ABCDEFGH"));
    // Built-ins added since the table was stored are on; a stored one keeps its flag.
    EXPECT_TRUE(table.Accepts("a.mp3"));
    EXPECT_FALSE(table.Accepts("a.png"));
    EXPECT_EQ(table.Entries().size(), 30u);
}

TEST_F(SettingsStoreTest, AWrongTypeIsReportedAndItsKeyIsNotWrittenBack)
{
    Write(std::string(kRoot) + "cfg]\n\"QuitType\"=\"two\"\n\"ShowBigSize\"=dword:00000001\n\n" + kRoot +
          "bookmarks\\/kept/]\n\n" + kRoot + "TextView]\n\"TabSize\"=dword:00000003\n");
    AppSettings settings;
    ViewerExtensionTable table;
    const SettingsStore store = Run(settings, table, [](AppSettings& s, ViewerExtensionTable&) { s.QuitType = 2; });
    ASSERT_EQ(store.Messages().size(), 1u);
    EXPECT_EQ(store.Messages()[0], "Invalid data type for 'QuitType'");
    EXPECT_FALSE(settings.ShowBigSize); // that key keeps its defaults
    EXPECT_EQ(settings.textView.tabSize, 3);
    EXPECT_EQ(settings.bookmarks, (std::vector<std::string>{"/kept/"}));
    const std::string text = Read();
    EXPECT_NE(text.find("\"QuitType\"=\"two\""), std::string::npos); // the hand-edited key stays as it was
    EXPECT_NE(text.find("\"TabSize\"=dword:00000003"), std::string::npos);
}

TEST_F(SettingsStoreTest, AnUnreadableFileIsNeverOverwritten)
{
    std::ofstream(file) << std::string(100000, '\x01') << "garbage";
    const std::string before = Read();
    Registry registry(file, dir + "/none.reg");
    EXPECT_FALSE(registry.Load().empty());
    SettingsStore store(registry);
    AppSettings settings;
    ViewerExtensionTable table;
    store.LoadAll(settings, table);
    EXPECT_FALSE(store.SaveAll(settings, table));
    EXPECT_EQ(Read(), before);
}

TEST_F(SettingsStoreTest, BookmarksComeBackByteForByteInTheirOrder)
{
    const std::vector<std::string> paths = {"/data/", "/Data/", "/data/", "/a\\b/", "/caf\xe9/", "/ctl\x01/"};
    AppSettings first;
    ViewerExtensionTable table;
    Run(first, table, [&](AppSettings& s, ViewerExtensionTable&) { s.bookmarks = paths; });
    AppSettings second;
    Run(second, table, [](AppSettings&, ViewerExtensionTable&) {});
    EXPECT_EQ(second.bookmarks, paths);
    AppSettings third; // and again after a run that changed nothing
    Run(third, table, [](AppSettings&, ViewerExtensionTable&) {});
    EXPECT_EQ(third.bookmarks, paths);

    // A key written by hand, named by its path alone, still counts.
    Write(std::string(kRoot) + "bookmarks\\/srv/files/]\n\n");
    AppSettings hand;
    Run(hand, table, [](AppSettings&, ViewerExtensionTable&) {});
    EXPECT_EQ(hand.bookmarks, (std::vector<std::string>{"/srv/files/"}));
}
