#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace tarnel;

namespace {

const std::string kHead = std::string(kRegistryHeader) + "\n";
const std::string kCfg = "[HKEY_CURRENT_USER\\Software\\Vormane\\orv\\cfg]\n";

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-registry-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        user_ = dir_ + "/user.reg";
        machine_ = dir_ + "/system.reg";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    static void Put(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    static std::string Get(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    static std::vector<std::string> Entries(const std::string& dir)
    {
        std::vector<std::string> names;
        if (DIR* d = opendir(dir.c_str())) {
            while (dirent* e = readdir(d))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                    names.push_back(e->d_name);
            closedir(d);
        }
        return names;
    }

    std::string dir_, user_, machine_;
};

// The message a read of the wrong type gives, or "" when it succeeds.
template <typename Read>
std::string ReadError(Read read)
{
    try {
        read();
    } catch (const RegistryError& e) {
        return e.what();
    }
    return {};
}


} // namespace

// --- The text form ------------------------------------------------------------

TEST_F(RegistryTest, EveryValueTypeAndByteSurvivesSaveAndLoad)
{
    const std::string quotes = "say \"hi\" \\\\server\\share\\";
    const std::string utf8 = "Grüße, €, 日本, 🙂";
    const std::string controls = std::string("tab\tnl\ncr\rnul") + '\0' + "del\x7f";
    const std::string invalid = "/home/me/caf\xe9/\xff\xfe\xc0\xaf\xed\xa0\x80 \xf4\x90\x80\x80";
    {
        Registry reg(user_, machine_);
        ASSERT_TRUE(reg.Load().empty());
        RegistryKey key(reg);
        ASSERT_TRUE(key.OpenKey("Software\\Vormane\\orv\\TextView", true));
        key.WriteInteger("FontSize", -9);
        key.WriteInteger("Zero", 0);
        key.WriteInteger("Max", int32_t(0xFFFFFFFFu));
        key.WriteInteger("System colour", int32_t(0x80000005u));
        key.WriteString("quotes", quotes);
        key.WriteString("utf8", utf8);
        key.WriteString("controls", controls);
        key.WriteString("invalid", invalid);
        key.WriteString("", "default value");
        key.WriteString("empty", "");
        key.WriteString("na\"me \\ \xff", "odd name");
        ASSERT_TRUE(reg.Save());
    }
    const std::string text = Get(user_);
    EXPECT_TRUE(text.starts_with(kHead)) << text;
    // The file stays UTF-8 text with one line per value: foreign bytes are escaped.
    EXPECT_NE(text.find("\"invalid\"=\"/home/me/caf\\xe9/\\xff\\xfe\\xc0\\xaf\\xed\\xa0\\x80 \\xf4\\x90\\x80\\x80\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"utf8\"=\"" + utf8 + "\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"FontSize\"=dword:fffffff7\n"), std::string::npos) << text;
    EXPECT_NE(text.find("@=\"default value\"\n"), std::string::npos) << text;

    Registry reg(user_, machine_);
    ASSERT_TRUE(reg.Load().empty());
    RegistryKey key(reg);
    ASSERT_TRUE(key.OpenKey("Software\\Vormane\\orv\\TextView", false));
    EXPECT_EQ(key.ReadInteger("FontSize"), -9);
    EXPECT_EQ(key.ReadInteger("Zero"), 0);
    EXPECT_EQ(uint32_t(key.ReadInteger("Max")), 0xFFFFFFFFu);
    EXPECT_EQ(uint32_t(key.ReadInteger("System colour")), 0x80000005u);
    EXPECT_EQ(key.ReadString("quotes"), quotes);
    EXPECT_EQ(key.ReadString("utf8"), utf8);
    EXPECT_EQ(key.ReadString("controls"), controls);
    EXPECT_EQ(key.ReadString("invalid"), invalid);
    EXPECT_EQ(key.ReadString(""), "default value");
    EXPECT_EQ(key.ReadString("empty"), "");
    EXPECT_EQ(key.ReadString("na\"me \\ \xff"), "odd name");
}

TEST_F(RegistryTest, HandWrittenFilesInTheirUsualShapes)
{
    // A byte order mark, CRLF, capitals in hex digits and type, comments,
    // blanks around "=", trailing blanks, \xNN for any byte.
    const std::string text = "\xEF\xBB\xBF" + std::string(kRegistryHeader) + "\r\n\r\n"
                             "; written by hand\r\n"
                             "[HKEY_CURRENT_USER\\Software\\Vormane\\orv\\cfg]  \r\n"
                             "\"QuitType\"=dword:0000001F\r\n"
                             "\"Short\" = DWORD:7\r\n"
                             "\"Path\"=\"C:\\\\Temp\\\\\\\"x\\\"\\x41\\x4a\"\t\r\n"
                             "@=\"d\"\r\n";
    Put(user_, text);
    Registry reg(user_, machine_);
    ASSERT_TRUE(reg.Load().empty());
    RegistryKey key(reg);
    ASSERT_TRUE(key.OpenKey("Software\\Vormane\\orv\\cfg", false));
    EXPECT_EQ(key.ReadInteger("QuitType"), 31);
    EXPECT_EQ(key.ReadInteger("Short"), 7);
    EXPECT_EQ(key.ReadString("Path"), "C:\\Temp\\\"x\"AJ");
    EXPECT_EQ(key.ReadString(""), "d");
}

TEST_F(RegistryTest, MalformedTextIsRefusedWhole)
{
    const std::string deep = [] {
        std::string path = "HKEY_CURRENT_USER";
        for (size_t i = 0; i < kMaxKeyDepth; ++i)
            path += "\\k";
        return "[" + path + "]\n";
    }();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "empty file"},
        {"REGEDIT4\n" + kCfg, "older header"},
        {kCfg + "\"a\"=dword:1\n", "no header"},
        {kHead + "\"a\"=dword:1\n" + kCfg, "value before any key"},
        {kHead + kCfg + "\"a\"=\"open\n\"b\"=dword:1\n", "unterminated string"},
        {kHead + kCfg + "\"a\"=\"x\\n\"\n", "unknown escape"},
        {kHead + kCfg + "\"a\"=\"x\\x4\"\n", "short \\x escape"},
        {kHead + kCfg + "\"a\"=\"x\\\"\n", "escaped closing quote"},
        {kHead + kCfg + "\"a\"=dword:123456789\n", "dword of 9 digits"},
        {kHead + kCfg + "\"a\"=dword:12g4\n", "dword not hexadecimal"},
        {kHead + kCfg + "\"a\"=dword:\n", "dword without digits"},
        {kHead + kCfg + "\"a\"=hex:01,02\n", "binary value"},
        {kHead + kCfg + "\"a\"=hex(2):41,00\n", "expandable text"},
        {kHead + kCfg + "\"a\"=-\n", "value deletion"},
        {kHead + kCfg + "\"a\"=\"x\" trailing\n", "text after the value"},
        {kHead + kCfg + "\"a\"\n", "no equals sign"},
        {kHead + kCfg + "a=\"x\"\n", "unquoted name"},
        {kHead + "[-HKEY_CURRENT_USER\\Software]\n", "key deletion"},
        {kHead + "[HKEY_CURRENT_USER\\Software\n", "unclosed key"},
        {kHead + "[HKEY_CURRENT_USER\\\\Software]\n", "empty key name"},
        {kHead + "[HKEY_CURRENT_USER\\Software\\]\n", "trailing backslash"},
        {kHead + "[]\n", "empty path"},
        {kHead + "[HKEY_CURRENT_USER\\a\x01]\n", "control byte in a key name"},
        {kHead + kCfg + "\"a\"=\"caf\xe9\"\n", "Latin-1 text"},
        {kHead + kCfg + "\"a\"=\"x\"\n" + "\x80\n", "stray byte on its own line"},
        {kHead + deep, "nested deeper than the registry allows"},
    };
    for (const auto& [text, what] : cases) {
        RegistryNode root;
        std::string error;
        EXPECT_FALSE(ParseRegistryText(text, root, error)) << what;
        EXPECT_TRUE(error.starts_with("line ")) << what << ": " << error;
        EXPECT_TRUE(root.Keys().empty()) << what;
    }
    // One level less is still a key.
    RegistryNode root;
    std::string error;
    EXPECT_TRUE(ParseRegistryText(kHead + deep.substr(0, deep.size() - 4) + "]\n", root, error)) << error;
}

// --- Keys and values ----------------------------------------------------------

TEST_F(RegistryTest, EnumerationFollowsTheFileAndAppendsNewNames)
{
    Put(user_, kHead + "[HKEY_CURRENT_USER\\Software\\Vormane\\orv\\CoolBar1\\TBDrives]\n\"width\"=dword:c5\n"
                       "[HKEY_CURRENT_USER\\Software\\Vormane\\orv\\CoolBar1]\n\"BackType\"=\"None\"\n"
                       "[HKEY_CURRENT_USER\\Software\\Vormane\\orv\\CoolBar1\\TBGeneral]\n"
                       "[HKEY_CURRENT_USER\\Software\\Vormane\\orv\\LeftHeader]\n"
                       "\"width3\"=dword:1388\n\"width0\"=dword:64\n\"width2\"=dword:78\n"
                       // A deeper key makes its parent exist, in the place it first appears.
                       "[HKEY_CURRENT_USER\\Software\\Vormane\\orv\\CoolBar1\\TBNavigation\\deep]\n");
    Registry reg(user_, machine_);
    ASSERT_TRUE(reg.Load().empty());
    RegistryKey key(reg);
    ASSERT_TRUE(key.OpenKey("Software\\Vormane\\orv", false));
    EXPECT_EQ(key.GetKeyNames(), (std::vector<std::string>{"CoolBar1", "LeftHeader"}));
    ASSERT_TRUE(key.OpenKey("CoolBar1", false)); // relative to the open key
    EXPECT_EQ(key.GetKeyNames(), (std::vector<std::string>{"TBDrives", "TBGeneral", "TBNavigation"}));
    EXPECT_EQ(key.GetValueNames(), (std::vector<std::string>{"BackType"}));

    ASSERT_TRUE(key.OpenKey("\\Software\\Vormane\\orv\\LeftHeader", false)); // from the top
    EXPECT_EQ(key.GetValueNames(), (std::vector<std::string>{"width3", "width0", "width2"}));
    key.WriteInteger("width1", 50);
    key.WriteInteger("width0", 101); // replaced where it stands
    EXPECT_EQ(key.GetValueNames(), (std::vector<std::string>{"width3", "width0", "width2", "width1"}));
    ASSERT_TRUE(key.OpenKey("\\Software\\Vormane\\orv\\CoolBar1\\Alpha", true));
    ASSERT_TRUE(reg.Save());

    Registry again(user_, machine_);
    ASSERT_TRUE(again.Load().empty());
    RegistryKey back(again);
    ASSERT_TRUE(back.OpenKey("Software\\Vormane\\orv\\CoolBar1", false));
    EXPECT_EQ(back.GetKeyNames(), (std::vector<std::string>{"TBDrives", "TBGeneral", "TBNavigation", "Alpha"}));
    ASSERT_TRUE(back.OpenKey("\\Software\\Vormane\\orv\\LeftHeader", false));
    EXPECT_EQ(back.GetValueNames(), (std::vector<std::string>{"width3", "width0", "width2", "width1"}));
    EXPECT_EQ(back.ReadInteger("width0"), 101);
}

TEST_F(RegistryTest, NamesIgnoreAsciiCaseAndKeepTheirFirstSpelling)
{
    Put(user_, kHead + "[HKEY_CURRENT_USER\\Software\\Vormane\\ORV\\Cfg]\n\"QuitType\"=dword:2\n"
                       "[hkey_current_user\\SOFTWARE\\vormane\\orv\\cfg]\n\"QUITTYPE\"=dword:3\n\"ShowAttrs\"=dword:0\n");
    Registry reg(user_, machine_);
    ASSERT_TRUE(reg.Load().empty());
    RegistryKey key(reg);
    EXPECT_TRUE(key.KeyExists("software\\VORMANE\\orv\\cFG"));
    ASSERT_TRUE(key.OpenKey("software\\vormane\\orv", false));
    EXPECT_EQ(key.GetKeyNames(), (std::vector<std::string>{"Cfg"}));
    ASSERT_TRUE(key.OpenKey("CFG", true)); // found, not created a second time
    EXPECT_EQ(key.GetValueNames(), (std::vector<std::string>{"QuitType", "ShowAttrs"}));
    EXPECT_EQ(key.ReadInteger("quittype"), 3); // the later line wins
    key.WriteInteger("showattrs", 1);
    EXPECT_EQ(key.GetValueNames(), (std::vector<std::string>{"QuitType", "ShowAttrs"}));
    // Only ASCII letters fold: these are two names.
    key.WriteString("\xc3\x84", "upper");
    key.WriteString("\xc3\xa4", "lower");
    EXPECT_EQ(key.ReadString("\xc3\x84"), "upper");
    EXPECT_EQ(key.ReadString("\xc3\xa4"), "lower");
}

TEST_F(RegistryTest, ReadingTheOtherTypeFailsWithTheMessage)
{
    Registry reg(user_, machine_);
    RegistryKey key(reg);
    ASSERT_TRUE(key.OpenKey("Software\\Vormane\\orv\\cfg", true));
    key.WriteString("QuitType", "2");
    key.WriteInteger("FontName", 5);
    EXPECT_EQ(ReadError([&] { key.ReadInteger("QuitType"); }), "Invalid data type for 'QuitType'");
    EXPECT_EQ(ReadError([&] { key.ReadString("FontName"); }), "Invalid data type for 'FontName'");
    EXPECT_EQ(ReadError([&] { key.ReadString("Missing"); }), "Invalid data type for 'Missing'");
    EXPECT_EQ(ReadError([&] { key.ReadString("QuitType"); }), "");
    // A write changes the type.
    key.WriteInteger("QuitType", 2);
    EXPECT_EQ(key.ReadInteger("QuitType"), 2);
}

TEST_F(RegistryTest, HandEditedWrongTypeFailsOnlyThatRead)
{
    Put(user_, kHead + "[HKEY_CURRENT_USER\\Software\\Vormane\\orv\\TextView]\n"
                       "\"FontName\"=dword:00000005\n\"TabSize\"=dword:00000004\n\"FontSize\"=\"-9\"\n"
                       "[HKEY_CURRENT_USER\\Software\\Vormane\\orv\\bookmarks\\/home/me]\n");
    Registry reg(user_, machine_);
    EXPECT_TRUE(reg.Load().empty()); // the file itself is fine
    RegistryKey key(reg);
    ASSERT_TRUE(key.OpenKey("Software\\Vormane\\orv\\TextView", false));
    EXPECT_TRUE(key.ValueExists("FontName"));
    EXPECT_EQ(ReadError([&] { key.ReadString("FontName"); }), "Invalid data type for 'FontName'");
    EXPECT_EQ(ReadError([&] { key.ReadInteger("FontSize"); }), "Invalid data type for 'FontSize'");
    EXPECT_EQ(key.ReadInteger("TabSize"), 4);
    EXPECT_TRUE(key.KeyExists("\\Software\\Vormane\\orv\\bookmarks\\/home/me"));
}

TEST_F(RegistryTest, DeletingValuesAndKeyTrees)
{
    Registry reg(user_, machine_);
    RegistryKey key(reg);
    ASSERT_TRUE(key.OpenKey("Software\\Vormane\\orv\\bookmarks\\/home/a\\inner", true));
    key.WriteInteger("x", 1);
    ASSERT_TRUE(key.OpenKey("\\Software\\Vormane\\orv\\bookmarks\\/tmp", true));
    ASSERT_TRUE(key.OpenKey("\\Software\\Vormane\\orv\\supported", true));
    key.WriteString(".BMP", "1");
    key.WriteString(".PAS", "0");
    key.WriteString(".TXT", "1");

    EXPECT_TRUE(key.DeleteValue(".pas"));
    EXPECT_FALSE(key.DeleteValue(".pas"));
    EXPECT_FALSE(key.ValueExists(".PAS"));
    EXPECT_EQ(key.GetValueNames(), (std::vector<std::string>{".BMP", ".TXT"}));
    key.WriteString(".PAS", "1"); // comes back at the end
    EXPECT_EQ(key.GetValueNames(), (std::vector<std::string>{".BMP", ".TXT", ".PAS"}));

    // The key opened below a deleted tree is gone with it.
    RegistryKey inner(reg);
    ASSERT_TRUE(inner.OpenKey("Software\\Vormane\\orv\\bookmarks\\/home/a\\inner", false));
    EXPECT_TRUE(key.DeleteKey("\\Software\\Vormane\\orv\\BOOKMARKS"));
    EXPECT_FALSE(key.DeleteKey("\\Software\\Vormane\\orv\\bookmarks"));
    EXPECT_FALSE(inner.ValueExists("x"));
    EXPECT_THROW(inner.WriteInteger("x", 2), RegistryError);
    EXPECT_FALSE(key.KeyExists("\\Software\\Vormane\\orv\\bookmarks\\/tmp"));
    ASSERT_TRUE(key.OpenKey("\\Software\\Vormane\\orv", false));
    EXPECT_EQ(key.GetKeyNames(), (std::vector<std::string>{"supported"}));
    ASSERT_TRUE(reg.Save());

    const std::string text = Get(user_);
    EXPECT_EQ(text.find("bookmarks"), std::string::npos) << text;
    EXPECT_TRUE(text.ends_with("\".TXT\"=\"1\"\n\".PAS\"=\"1\"\n")) << text;
}

TEST_F(RegistryTest, KeysThatCannotBeNamedAreNotCreated)
{
    Registry reg(user_, machine_);
    RegistryKey key(reg);
    EXPECT_FALSE(key.OpenKey("Software\\missing", false));
    for (std::string path : {"a\\\\b", "a\\", "line\nbreak", "caf\xe9"})
        EXPECT_FALSE(key.OpenKey(path, true)) << path;
    EXPECT_FALSE(reg.File(RegistryRoot::CurrentUser).Modified());
    EXPECT_TRUE(reg.Save());
    EXPECT_TRUE(Entries(dir_).empty()); // nothing changed, nothing written
}

// --- The machine's file ---------------------------------------------------------

TEST_F(RegistryTest, MachineHiveIsReadOnly)
{
    const std::string system = kHead + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\site-tool]\n"
                                       "\"DisplayName\"=\"Site tool 2.1\"\n";
    Put(machine_, system);
    Registry reg(user_, machine_);
    ASSERT_TRUE(reg.Load().empty());
    RegistryKey key(reg, RegistryRoot::LocalMachine);
    ASSERT_TRUE(key.OpenKey("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", false));
    EXPECT_EQ(key.GetKeyNames(), (std::vector<std::string>{"site-tool"}));
    ASSERT_TRUE(key.OpenKey("site-tool", true));
    EXPECT_EQ(key.ReadString("DisplayName"), "Site tool 2.1");
    EXPECT_EQ(ReadError([&] { key.WriteString("DisplayName", "x"); }), "Failed to set data for 'DisplayName'");
    EXPECT_FALSE(key.DeleteValue("DisplayName"));
    EXPECT_FALSE(key.OpenKey("New", true));
    EXPECT_FALSE(key.DeleteKey("\\SOFTWARE"));

    RegistryKey user(reg);
    EXPECT_FALSE(user.KeyExists("SOFTWARE\\Microsoft")); // the hives are apart
    ASSERT_TRUE(user.OpenKey("Software\\Vormane\\orv\\cfg", true));
    user.WriteInteger("QuitType", 1);
    ASSERT_TRUE(reg.Save());
    EXPECT_EQ(Get(machine_), system);
    EXPECT_EQ(Get(user_).find("HKEY_LOCAL_MACHINE"), std::string::npos);
}

// --- The user's file on disk ----------------------------------------------------

TEST_F(RegistryTest, UnparsableFileIsRefusedAndNeverOverwritten)
{
    const std::string broken = kHead + kCfg + "\"QuitType\"=dword:00000002\n\"FontName\"=\"Fixedsys\n";
    Put(user_, broken);
    Registry reg(user_, machine_);
    const std::vector<std::string> problems = reg.Load();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find(user_), std::string::npos) << problems[0];
    EXPECT_NE(problems[0].find("line 4: unterminated string"), std::string::npos) << problems[0];

    RegistryKey key(reg);
    EXPECT_FALSE(key.KeyExists("Software")); // the good lines before the fault are not loaded either
    ASSERT_TRUE(key.OpenKey("Software\\Vormane\\orv\\cfg", true));
    key.WriteInteger("QuitType", 0);
    EXPECT_FALSE(reg.Save());
    EXPECT_FALSE(reg.File(RegistryRoot::CurrentUser).Save());
    EXPECT_EQ(Get(user_), broken);
    EXPECT_EQ(Entries(dir_), (std::vector<std::string>{"user.reg"}));

    // Refused for the whole run, even once the user has repaired the file.
    Put(user_, kHead);
    EXPECT_TRUE(reg.File(RegistryRoot::CurrentUser).Load().empty());
    EXPECT_TRUE(reg.File(RegistryRoot::CurrentUser).Refused());
    EXPECT_FALSE(reg.File(RegistryRoot::CurrentUser).Save());
}

TEST_F(RegistryTest, TenMegabytesOfGarbageAreRefusedQuickly)
{
    std::mt19937 random(7);
    std::string garbage(10 * 1024 * 1024, '\0');
    for (char& c : garbage)
        c = char(random());
    // Garbage from the first byte; and a bad line behind many good ones, which
    // must not take time that grows with the square of their number (many
    // sibling keys, many values in one key).
    std::string lines = kHead;
    while (lines.size() < 512 * 1024)
        lines += "[HKEY_CURRENT_USER\\Software\\k" + std::to_string(lines.size()) + "]\n";
    while (lines.size() < 1024 * 1024)
        lines += "\"v" + std::to_string(lines.size()) + "\"=dword:0000001\n";
    lines += "\"last\"=dword:zz\n";
    for (const std::string& text : {garbage, lines}) {
        Put(user_, text);
        const auto start = std::chrono::steady_clock::now();
        Registry reg(user_, machine_);
        EXPECT_EQ(reg.Load().size(), 1u);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
        EXPECT_FALSE(RegistryKey(reg).KeyExists("Software"));
        EXPECT_FALSE(reg.File(RegistryRoot::CurrentUser).Save());
    }
}

// A file that holds less than its size said when it was opened (cut by
// another program while read; sysfs files behave so for good) is no set of
// settings: taking its first part would save the rest away at the end.
TEST_F(RegistryTest, AFileShorterThanItsSizeIsRefusedAndKept)
{
    const char* shortFile = "/sys/kernel/mm/transparent_hugepage/enabled";
    struct stat st;
    if (stat(shortFile, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)
        GTEST_SKIP() << "no sysfs file to stand for a shrinking one";
    ASSERT_EQ(symlink(shortFile, user_.c_str()), 0);
    Registry reg(user_, machine_);
    const std::vector<std::string> problems = reg.Load();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("changed while it was read"), std::string::npos) << problems[0];
    RegistryKey key(reg);
    ASSERT_TRUE(key.OpenKey("Software\\Vormane\\orv\\cfg", true));
    key.WriteInteger("QuitType", 1);
    EXPECT_FALSE(reg.Save());
    struct stat after;
    ASSERT_EQ(lstat(user_.c_str(), &after), 0);
    EXPECT_TRUE(S_ISLNK(after.st_mode)) << "replaced instead of left alone";
}

TEST_F(RegistryTest, HostileFilesAreRefusedWithoutHangingOrEatingMemory)
{
    // A named pipe in the file's place: nobody ever writes to it, and opening
    // it as a file would wait for a writer for good.
    ASSERT_EQ(mkfifo(user_.c_str(), 0600), 0);
    {
        Registry reg(user_, machine_);
        auto loading = std::async(std::launch::async, [&] { return reg.Load(); });
        if (loading.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            const int release = open(user_.c_str(), O_WRONLY | O_NONBLOCK);
            loading.wait();
            close(release);
            FAIL() << "loading blocked on a named pipe";
        }
        const std::vector<std::string> problems = loading.get();
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_NE(problems[0].find("not a regular file"), std::string::npos) << problems[0];
        RegistryKey key(reg);
        ASSERT_TRUE(key.OpenKey("Software\\Vormane\\orv\\cfg", true));
        key.WriteInteger("QuitType", 1);
        EXPECT_FALSE(reg.Save());
        struct stat st;
        ASSERT_EQ(lstat(user_.c_str(), &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "replaced instead of left alone";
    }
    ASSERT_EQ(unlink(user_.c_str()), 0);

    // Keys nested two bytes apart cost hundreds of bytes each in memory: a
    // file of them is refused within a few times its size, and kept.
    std::string nested = kHead;
    for (int i = 0; nested.size() < 2 * 1024 * 1024; ++i) {
        nested += "[HKEY_CURRENT_USER\\k" + std::to_string(i);
        for (int depth = 0; depth < 500; ++depth)
            nested += "\\a";
        nested += "]\n";
    }
    {
        const std::string& text = nested;
        Put(user_, text);
        Registry reg(user_, machine_);
        const std::vector<std::string> problems = reg.Load();
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_NE(problems[0].find("cannot be used"), std::string::npos) << problems[0];
        EXPECT_FALSE(RegistryKey(reg).KeyExists("Software"));
        RegistryKey key(reg);
        ASSERT_TRUE(key.OpenKey("Software\\Vormane\\orv\\cfg", true));
        key.WriteInteger("QuitType", 1);
        EXPECT_FALSE(reg.Save());
        EXPECT_EQ(Get(user_), text);
    }

    // A large file in the shapes the program writes still loads.
    std::string large = kHead + kCfg + "\"QuitType\"=dword:00000002\n";
    for (int i = 0; large.size() < 2 * 1024 * 1024; ++i)
        large += "[HKEY_CURRENT_USER\\Software\\Vormane\\orv\\bookmarks\\/home/me/d" + std::to_string(i) + "]\n";
    for (int i = 0; i < 20000; ++i)
        large += "\"width" + std::to_string(i) + "\"=dword:00000064\n";
    Put(user_, large);
    Registry reg(user_, machine_);
    EXPECT_TRUE(reg.Load().empty());
    EXPECT_TRUE(RegistryKey(reg).KeyExists("Software\\Vormane\\orv\\bookmarks\\/home/me/d30000"));
}

TEST_F(RegistryTest, FailedSaveStepsKeepThePreviousFile)
{
    struct FailingOps : RegistryFileOps {
        int failAt = 0; // 1 write, 2 sync, 3 rename
        bool Write(int fd, std::string_view data) override
        {
            if (failAt != 1)
                return RegistryFileOps::Write(fd, data);
            RegistryFileOps::Write(fd, data.substr(0, data.size() / 2)); // the disk fills up halfway
            return false;
        }
        bool Sync(int fd) override { return failAt != 2 && RegistryFileOps::Sync(fd); }
        bool Rename(const std::string& from, const std::string& to) override
        {
            return failAt != 3 && RegistryFileOps::Rename(from, to);
        }
    } ops;

    const std::string previous = kHead + kCfg + "\"QuitType\"=dword:00000003\n";
    Put(user_, previous);
    for (int step = 1; step <= 3; ++step) {
        ops.failAt = step;
        Registry reg(user_, machine_, &ops);
        ASSERT_TRUE(reg.Load().empty());
        RegistryKey key(reg);
        ASSERT_TRUE(key.OpenKey("Software\\Vormane\\orv\\cfg", false));
        key.WriteInteger("QuitType", 1);
        key.WriteString("Padding", std::string(100000, 'p'));
        EXPECT_FALSE(reg.Save()) << step;
        EXPECT_EQ(Get(user_), previous) << step;
        EXPECT_EQ(Entries(dir_), (std::vector<std::string>{"user.reg"})) << step;
        // The next attempt, with the disk well again, goes through.
        ops.failAt = 0;
        EXPECT_TRUE(reg.Save()) << step;
        EXPECT_NE(Get(user_).find("dword:00000001"), std::string::npos) << step;
        Put(user_, previous);
    }
}

TEST_F(RegistryTest, FreshUserStartsEmptyAndGetsFolderAndFile)
{
    const std::string path = dir_ + "/config/tarnel/user.reg";
    Registry reg(path, dir_ + "/no-such-system.reg");
    EXPECT_TRUE(reg.Load().empty());
    RegistryKey key(reg);
    EXPECT_FALSE(key.KeyExists("Software"));
    EXPECT_TRUE(key.GetKeyNames().empty());
    ASSERT_TRUE(key.OpenKey("Software\\Vormane\\orv\\bookmarks\\/home/me/src", true));
    ASSERT_TRUE(reg.Save());

    struct stat st;
    ASSERT_EQ(stat((dir_ + "/config/tarnel").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u); // settings are the user's own
    EXPECT_EQ(Get(path), kHead + "\n[HKEY_CURRENT_USER\\Software\\Vormane\\orv\\bookmarks\\/home/me/src]\n");

    Registry again(path, dir_ + "/no-such-system.reg");
    ASSERT_TRUE(again.Load().empty());
    EXPECT_TRUE(RegistryKey(again).KeyExists("Software\\Vormane\\orv\\bookmarks\\/home/me/src"));
}

TEST_F(RegistryTest, SavingThroughALinkReplacesItsTarget)
{
    const std::string real = dir_ + "/dotfiles.reg";
    Put(real, kHead);
    ASSERT_EQ(symlink(real.c_str(), user_.c_str()), 0);
    Registry reg(user_, machine_);
    ASSERT_TRUE(reg.Load().empty());
    RegistryKey key(reg);
    ASSERT_TRUE(key.OpenKey("Software\\Vormane\\orv\\cfg", true));
    key.WriteInteger("QuitType", 2);
    ASSERT_TRUE(reg.Save());
    struct stat st;
    ASSERT_EQ(lstat(user_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_NE(Get(real).find("\"QuitType\"=dword:00000002"), std::string::npos);
}

TEST_F(RegistryTest, UserFileFollowsTheXdgConfigHome)
{
    auto keep = [](const char* name) {
        const char* v = std::getenv(name);
        return std::pair<bool, std::string>(v != nullptr, v ? v : "");
    };
    const auto xdg = keep("XDG_CONFIG_HOME");
    const auto home = keep("HOME");

    setenv("XDG_CONFIG_HOME", "/x/conf/", 1);
    setenv("HOME", "/h/me", 1);
    EXPECT_EQ(Registry::DefaultUserFile(), "/x/conf/tarnel/user.reg");
    setenv("XDG_CONFIG_HOME", "relative/conf", 1); // not absolute: ignored
    EXPECT_EQ(Registry::DefaultUserFile(), "/h/me/.config/tarnel/user.reg");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(Registry::DefaultUserFile(), "/h/me/.config/tarnel/user.reg");
    unsetenv("HOME"); // the password database then
    const std::string fallback = Registry::DefaultUserFile();
    EXPECT_TRUE(fallback.starts_with("/")) << fallback;
    EXPECT_TRUE(fallback.ends_with("/.config/tarnel/user.reg")) << fallback;

    for (const auto& [name, saved] : {std::pair{"XDG_CONFIG_HOME", xdg}, std::pair{"HOME", home}}) {
        if (saved.first)
            setenv(name, saved.second.c_str(), 1);
        else
            unsetenv(name);
    }
}
