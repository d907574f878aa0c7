// The uninstall list: the inventory, its order, and the command parsing.
#include "tools/model/InstalledSoftware.h"
#include "tools/model/UninstallCommand.h"

#include "panes/TempTree.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace tarnel;

namespace {

const char* const kStatus = R"(Package: zlib1g
Status: install ok installed
Architecture: amd64
Version: 1:1.2.13
Description: compression library - runtime
 zlib is a library implementing the deflate compression method.

Package: gone
Status: deinstall ok config-files
Version: 1.0
Description: removed, configuration left

Package: Bash
Status: hold ok installed
Version: 5.2
Description: GNU Bourne Again SHell

Package: zlib1g
Status: install ok installed
Architecture: i386
Version: 1:1.2.13
)";

} // namespace

TEST(UninstallCommand, ProgramAndParametersAreSplitAsWritten)
{
    auto parse = [](const char* text) {
        const UninstallCommand c = ParseUninstallCommand(text);
        return c.program + "|" + c.parameters;
    };
    EXPECT_EQ(parse("  \"C:/Program Files/x/un.exe\" /S "), "C:/Program Files/x/un.exe|/S");
    EXPECT_EQ(parse("/opt/app/uninstall -uninstall  now"), "/opt/app/uninstall|-uninstall  now");
    EXPECT_EQ(parse("'/opt/my app/remove'"), "/opt/my app/remove|");
    EXPECT_EQ(parse("single"), "single|");
    EXPECT_EQ(parse("\"no closing quote /S"), "\"no closing quote /S|");
    EXPECT_EQ(parse(""), "|");
    // A parameter right after the closing quote keeps its first character.
    EXPECT_EQ(parse("\"/opt/x/un\"/S"), "/opt/x/un|/S");
    EXPECT_EQ(parse("'/opt/x/un'-q -y"), "/opt/x/un|-q -y");
}

TEST(UninstallCommand, ParametersBecomeSeparateArguments)
{
    EXPECT_EQ(SplitParameters("-e sudo  apt-get remove bash"),
              (std::vector<std::string>{"-e", "sudo", "apt-get", "remove", "bash"}));
    EXPECT_EQ(SplitParameters("--dir \"/opt/my app\" ''"), (std::vector<std::string>{"--dir", "/opt/my app", ""}));
    EXPECT_EQ(SplitParameters("a;rm -rf ~ $(x)"), (std::vector<std::string>{"a;rm", "-rf", "~", "$(x)"}));
    EXPECT_TRUE(SplitParameters("   ").empty());
}

TEST(InstalledSoftware, DpkgStatusGivesInstalledPackagesOnly)
{
    const auto entries = ParseDpkgStatus(kStatus);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].key, "zlib1g");
    EXPECT_EQ(entries[0].displayName, "zlib1g 1:1.2.13 - compression library - runtime");
    EXPECT_EQ(entries[0].uninstallString, "x-terminal-emulator -e sudo apt-get remove zlib1g");
    EXPECT_EQ(entries[1].key, "Bash");
    EXPECT_EQ(entries[2].key, "zlib1g:i386"); // keys stay unique

    // Damaged text: garbage, a cut-off paragraph, no final newline.
    EXPECT_TRUE(ParseDpkgStatus(std::string("\x00\xff\n:::\nPackage\n", 15)).empty());
    EXPECT_EQ(ParseDpkgStatus("Package: a\nStatus: install ok installed").size(), 1u);
    EXPECT_TRUE(ParseDpkgStatus("").empty());
}

TEST(InstalledSoftware, ListIsOrderedBySubKeyNameWithoutCase)
{
    RegistryNode root;
    RegistryNode& key = root.AddKey("Uninstall");
    auto add = [&](const char* name, const char* display, const char* command) {
        RegistryNode& k = key.AddKey(name);
        if (display)
            k.SetValue({"DisplayName", RegistryValue::Type::Text, 0, display});
        if (command)
            k.SetValue({"UninstallString", RegistryValue::Type::Text, 0, command});
    };
    add("zzz", "A first by display name", "/bin/a");
    add("Apple", "Apple tool", "/bin/apple");
    add("nocommand", "No command", nullptr);
    add("noname", nullptr, "/bin/x");

    UninstallList list = FillUninstallList(ParseDpkgStatus(kStatus), &key);
    EXPECT_EQ(list.names, (std::vector<std::string>{"Apple tool", "Bash 5.2 - GNU Bourne Again SHell",
                                                    "zlib1g 1:1.2.13 - compression library - runtime",
                                                    "zlib1g 1:1.2.13", "A first by display name"}));
    EXPECT_EQ(list.commands.front(), "/bin/apple");
    EXPECT_EQ(list.names.size(), list.commands.size());
    EXPECT_TRUE(list.error.empty());

    // A value that is not text stops the filling; what came before stays.
    key.AddKey("m").SetValue({"DisplayName", RegistryValue::Type::DWord, 5, {}});
    key.FindKey("m")->SetValue({"UninstallString", RegistryValue::Type::Text, 0, "x"});
    list = FillUninstallList({}, &key);
    EXPECT_EQ(list.names, (std::vector<std::string>{"Apple tool"}));
    EXPECT_EQ(list.error, "Invalid data type for 'DisplayName'");

    EXPECT_TRUE(FillUninstallList({}, nullptr).names.empty());
}

TEST(InstalledSoftware, MissingOrOddStatusFilesGiveAnEmptyList)
{
    test::TempTree dir;
    EXPECT_TRUE(ReadInstalledSoftware(nullptr, dir.Path() + "missing").error.empty());
    dir.Dir("status");
    ReadInstalledSoftware(nullptr, dir.Path() + "status"); // a directory: nothing, no failure
    std::ofstream(dir.Path() + "real") << kStatus;
    const UninstallList list = ReadInstalledSoftware(nullptr, dir.Path() + "real");
    EXPECT_GE(list.names.size(), 3u); // Flatpak applications may come too
}

TEST(InstalledSoftware, FlatpakApplicationsComeFromTheInstallation)
{
    test::TempTree dir;
    dir.Dir("app/org.example.Tool/current");
    dir.Dir("app/org.example.Gone"); // no current: not installed
    dir.Dir("exports/share/applications");
    std::ofstream(dir.Path() + "exports/share/applications/org.example.Tool.desktop")
        << "[Desktop Entry]\nType=Application\nName=Example Tool\n";
    const auto apps = ReadFlatpakApps(dir.Path(), true);
    ASSERT_EQ(apps.size(), 1u);
    EXPECT_EQ(apps[0].key, "org.example.Tool");
    EXPECT_EQ(apps[0].displayName, "Example Tool (org.example.Tool) - Flatpak");
    EXPECT_EQ(apps[0].uninstallString, "x-terminal-emulator -e flatpak uninstall --user org.example.Tool");
}
