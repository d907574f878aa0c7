// Finding a file type's default application, expanding its Exec line, and
// starting it as a child that gets every name as one argument.
#include "fileops/model/LaunchDefaultApp.h"
#include "fileops/model/LaunchDesktopEntry.h"
#include "fileops/model/LaunchProcess.h"
#include "panes/TempTree.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarnel;
using tarnel::test::TempTree;

namespace {

DesktopEntry Entry(const std::string& exec)
{
    DesktopEntry e;
    e.exec = exec;
    e.name = "Viewer";
    e.icon = "viewer-icon";
    e.location = "/usr/share/applications/viewer.desktop";
    return e;
}

std::vector<std::string> Expand(const std::string& exec, const std::string& file)
{
    std::vector<std::string> argv;
    EXPECT_TRUE(ExpandExecLine(Entry(exec), file, argv)) << exec;
    return argv;
}

using Args = std::vector<std::string>;

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool WaitFor(const std::function<bool()>& done)
{
    for (int i = 0; i < 500 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

} // namespace

TEST(ExecLine, FileCodesGiveTheWholeNameAsOneArgument)
{
    const std::string odd = "/tmp/-rf my \"quoted\" 'name'\nline;$(rm -rf ~)`x`.txt";
    EXPECT_EQ(Expand("gedit %U", odd), (Args{"gedit", odd}));
    EXPECT_EQ(Expand("vlc --started-from-file %f", odd), (Args{"vlc", "--started-from-file", odd}));
    EXPECT_EQ(Expand("app --file=%f", "/a b"), (Args{"app", "--file=/a b"}));
    // No file code: the file is appended.
    EXPECT_EQ(Expand("xdg-viewer", odd), (Args{"xdg-viewer", odd}));
}

TEST(ExecLine, QuotingEscapesAndOtherFieldCodes)
{
    EXPECT_EQ(Expand(R"("/opt/My App/run" --title "a \"b\" \\ \$x" %F)", "/f"),
              (Args{"/opt/My App/run", "--title", "a \"b\" \\ $x", "/f"}));
    EXPECT_EQ(Expand("app %i --name=%c --desktop %k 100%% %d%D%n%N%v%m %u", "/f"),
              (Args{"app", "--icon", "viewer-icon", "--name=Viewer", "--desktop",
                    "/usr/share/applications/viewer.desktop", "100%", "/f"}));
    // A field code inside quotes is plain text, so the file is appended.
    EXPECT_EQ(Expand("app \"%f\"", "/f"), (Args{"app", "%f", "/f"}));
    std::vector<std::string> argv;
    EXPECT_FALSE(ExpandExecLine(Entry("app \"open quote %f"), "/f", argv));
    EXPECT_FALSE(ExpandExecLine(Entry("   "), "/f", argv));
}

TEST(ExecLine, SeveralFilesListCodesSingleCodesAndNoCode)
{
    using Commands = std::vector<Args>;
    const std::string odd = "/tmp/a b \"c\" 'd' $(id) `x`\n;e";
    const std::vector<std::string> files{odd, "/f2"};
    auto expand = [&](const std::string& exec, const std::vector<std::string>& given) {
        Commands commands;
        EXPECT_TRUE(ExpandExecLine(Entry(exec), given, commands)) << exec;
        return commands;
    };
    // %F and %U: one command, every file its own argument, wherever the code stands.
    EXPECT_EQ(expand("app --new %F --end", files), (Commands{{"app", "--new", odd, "/f2", "--end"}}));
    EXPECT_EQ(expand("app %U", files), (Commands{{"app", odd, "/f2"}}));
    // %f and %u: one command per file.
    EXPECT_EQ(expand("app -x %f", files), (Commands{{"app", "-x", odd}, {"app", "-x", "/f2"}}));
    EXPECT_EQ(expand("app --file=%u", files), (Commands{{"app", "--file=" + odd}, {"app", "--file=/f2"}}));
    // No code: all files appended; no files: the codes vanish.
    EXPECT_EQ(expand("app -a", files), (Commands{{"app", "-a", odd, "/f2"}}));
    EXPECT_EQ(expand("app %f -b %F", {}), (Commands{{"app", "-b"}}));
    // A string escape (\s) and a quoted argument with escapes survive around the list.
    DesktopEntry entry;
    ASSERT_TRUE(ParseDesktopEntry("[Desktop Entry]\nExec=\"/opt/My App/run\"\\s\"a \\\\\"q\\\\\"\" %F\n", entry));
    Commands commands;
    ASSERT_TRUE(ExpandExecLine(entry, files, commands));
    EXPECT_EQ(commands, (Commands{{"/opt/My App/run", "a \"q\"", odd, "/f2"}}));
    // A malformed line starts nothing.
    EXPECT_FALSE(ExpandExecLine(Entry("\"app %F"), files, commands));
}

TEST(DesktopEntryFile, NoDisplayHiddenAndMimeTypeList)
{
    DesktopEntry e;
    ASSERT_TRUE(ParseDesktopEntry("[Desktop Entry]\nType=Application\nExec=x\nNoDisplay=true\n"
                                  "MimeType=text/plain;image/png;odd\\;type;;\nHidden=false\n",
                                  e));
    EXPECT_TRUE(e.noDisplay);
    EXPECT_FALSE(e.hidden);
    EXPECT_EQ(e.mimeTypes, (Args{"text/plain", "image/png", "odd;type"}));
}

TEST(DesktopEntryFile, ReadsOnlyTheDesktopEntryGroupAndUndoesEscapes)
{
    DesktopEntry e;
    ASSERT_TRUE(ParseDesktopEntry("# comment\n[Desktop Entry]\nType=Application\nName=Text Editor\n"
                                  "Exec=edit\\s--new %F\nTerminal=true\nIcon=ed\n"
                                  "[Desktop Action new]\nExec=other\nName=New\n",
                                  e));
    EXPECT_EQ(e.exec, "edit --new %F");
    EXPECT_EQ(e.name, "Text Editor");
    EXPECT_TRUE(e.terminal);
    EXPECT_FALSE(ParseDesktopEntry("[Other]\nExec=x\n", e));
}

class DefaultApplication : public ::testing::Test {
protected:
    TempTree tree;
    XdgDirs dirs;
    void SetUp() override
    {
        dirs.configHome = tree.Path() + "config";
        dirs.dataHome = tree.Path() + "home";
        dirs.dataDirs = {tree.Path() + "system"};
        dirs.desktops = {"xfce"};
        for (const char* d : {"config", "home/applications", "system/applications/vendor"})
            tree.Dir(d);
    }
    void App(const std::string& where, const std::string& exec, const std::string& extra = "")
    {
        Write(tree.Path() + where, "[Desktop Entry]\nType=Application\nName=A\nExec=" + exec + "\n" + extra);
    }
    std::string Found(const std::vector<std::string>& types)
    {
        const auto entry = FindDefaultApplication(types, dirs);
        return entry ? entry->id + " " + entry->exec : "none";
    }
};

TEST_F(DefaultApplication, DesktopListBeforeUserListBeforeSystemCache)
{
    App("system/applications/cached.desktop", "cached %f");
    App("system/applications/sys.desktop", "sys %f");
    App("home/applications/user.desktop", "user %f");
    Write(tree.Path() + "system/applications/mimeinfo.cache", "[MIME Cache]\ntext/plain=cached.desktop;\n");
    EXPECT_EQ(Found({"text/plain"}), "cached.desktop cached %f");
    Write(tree.Path() + "system/applications/mimeapps.list", "[Default Applications]\ntext/plain=sys.desktop\n");
    EXPECT_EQ(Found({"text/plain"}), "sys.desktop sys %f");
    Write(tree.Path() + "config/mimeapps.list",
          "[Default Applications]\ntext/plain=missing.desktop;user.desktop;\n");
    EXPECT_EQ(Found({"text/plain"}), "user.desktop user %f");
    Write(tree.Path() + "config/xfce-mimeapps.list", "[Default Applications]\ntext/plain=sys.desktop\n");
    EXPECT_EQ(Found({"text/plain"}), "sys.desktop sys %f");
}

TEST_F(DefaultApplication, ParentTypesRemovedHiddenAndUninstalledEntries)
{
    App("system/applications/vendor/plain.desktop", "plain %f");
    App("system/applications/gone.desktop", "gone %f", "TryExec=/nonexistent/program\n");
    App("home/applications/hidden.desktop", "hidden %f", "Hidden=true\n");
    App("system/applications/hidden.desktop", "shadowed %f");
    Write(tree.Path() + "system/applications/mimeinfo.cache",
          "[MIME Cache]\ntext/x-csrc=gone.desktop;hidden.desktop;\ntext/plain=removed.desktop;vendor-plain.desktop;\n");
    App("system/applications/removed.desktop", "removed %f");
    Write(tree.Path() + "config/mimeapps.list", "[Removed Associations]\ntext/plain=removed.desktop;\n");
    // The C source has no usable application; its parent type does, found
    // through the vendor/ sub-directory.
    EXPECT_EQ(Found({"text/x-csrc", "text/plain"}), "vendor-plain.desktop plain %f");
    EXPECT_EQ(Found({"application/x-unknown"}), "none");
}

TEST_F(DefaultApplication, OpenWithListsDefaultsAddedThenAssociatedWithoutRemovedOrNoDisplay)
{
    for (const char* id : {"def", "added", "cached", "removed", "quiet", "parent", "userscan"})
        App(std::string("system/applications/") + id + ".desktop", std::string(id) + " %f");
    App("system/applications/quiet.desktop", "quiet %f", "NoDisplay=true\n");
    App("system/applications/gone.desktop", "gone %f", "Hidden=true\n");
    Write(tree.Path() + "system/applications/mimeinfo.cache",
          "[MIME Cache]\ntext/x-csrc=cached.desktop;removed.desktop;quiet.desktop;gone.desktop;def.desktop;\n"
          "text/plain=parent.desktop;cached.desktop;\n");
    // The user's list: a default, an added one, a removal that holds for the system's cache.
    Write(tree.Path() + "config/mimeapps.list", "[Added Associations]\ntext/x-csrc=added.desktop;\n"
                                                "[Removed Associations]\ntext/x-csrc=removed.desktop;\n"
                                                "[Default Applications]\ntext/x-csrc=def.desktop;\n");
    // The user's applications directory has no cache: its files say their types.
    App("home/applications/userscan.desktop", "userscan %f", "MimeType=text/x-csrc;\n");
    App("home/applications/other.desktop", "other %f", "MimeType=image/png;\n");
    std::string ids;
    for (const DesktopEntry& e : FindApplications({"text/x-csrc", "text/plain"}, dirs))
        ids += e.id + " ";
    EXPECT_EQ(ids, "def.desktop added.desktop userscan.desktop cached.desktop parent.desktop ");
    // A NoDisplay entry is no menu item but may still be the default.
    Write(tree.Path() + "config/mimeapps.list", "[Default Applications]\ntext/x-csrc=quiet.desktop\n");
    EXPECT_EQ(Found({"text/x-csrc"}), "quiet.desktop quiet %f");
    EXPECT_TRUE(FindApplications({"application/x-none"}, dirs).empty());
}

TEST(TerminalCommand, OwnChoiceThenTheDesktopsThenKnownOnesEachArgumentWhole)
{
    TempTree tree;
    for (const char* name : {"xterm", "gnome-terminal", "mine"}) {
        Write(tree.Path() + name, "#!/bin/sh\n");
        chmod((tree.Path() + name).c_str(), 0755);
    }
    struct Restore {
        std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
        ~Restore()
        {
            setenv("PATH", path.c_str(), 1);
            unsetenv("TERMINAL");
        }
    } restore;
    setenv("PATH", tree.Path().c_str(), 1);
    unsetenv("TERMINAL");
    const std::string odd = "/a b/\"c\" $(id)";
    EXPECT_EQ(TerminalCommand({"vi", odd}), (Args{tree.Path() + "gnome-terminal", "--", "vi", odd}));
    EXPECT_EQ(TerminalCommand({}), (Args{tree.Path() + "gnome-terminal"}));
    setenv("TERMINAL", "mine", 1);
    EXPECT_EQ(TerminalCommand({"vi", odd}), (Args{tree.Path() + "mine", "-e", "vi", odd}));
    setenv("TERMINAL", "not-installed", 1);
    std::remove((tree.Path() + "gnome-terminal").c_str());
    EXPECT_EQ(TerminalCommand({"vi"}), (Args{tree.Path() + "xterm", "-e", "vi"}));
    std::remove((tree.Path() + "xterm").c_str());
    EXPECT_TRUE(TerminalCommand({"vi"}).empty());
}

TEST(StartChild, ArgumentsArriveUnchangedAndTheTemporaryCopyGoes)
{
    TempTree tree;
    const std::string out = tree.Path() + "args";
    const std::string odd = "-n my \"file\"\n$(touch " + tree.Path() + "pwned)";
    const std::string script = tree.Path() + "print-args";
    Write(script, "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done > \"$OUT\"\npwd >> \"$OUT\"\n");
    chmod(script.c_str(), 0755);
    setenv("OUT", out.c_str(), 1);
    std::string error;
    const pid_t pid = StartChild({script, odd, ""}, tree.Path() + "", error);
    ASSERT_GT(pid, 0) << error;
    const std::string copy = tree.Path() + "copy.txt";
    Write(copy, "x");
    TWaitProcessEnd::Start(pid, copy, std::chrono::milliseconds(0));
    ASSERT_TRUE(WaitFor([&] { return access(copy.c_str(), F_OK) != 0; }));
    std::string dir = tree.Path();
    dir.pop_back();
    EXPECT_EQ(Read(out), "[" + odd + "][]" + dir + "\n");
    EXPECT_NE(access((tree.Path() + "pwned").c_str(), F_OK), 0);
}

TEST(StartChild, MissingProgramFailsAndTheCopyWaitsForItsMinimumLife)
{
    std::string error;
    EXPECT_EQ(StartChild({"/nonexistent/program", "x"}, "", error), -1);
    EXPECT_NE(error.find("/nonexistent/program"), std::string::npos);
    EXPECT_EQ(StartChild({}, "", error), -1);

    TempTree tree;
    const std::string copy = tree.Path() + "copy";
    Write(copy, "x");
    const pid_t pid = StartChild({"true"}, "", error);
    ASSERT_GT(pid, 0) << error;
    const auto start = std::chrono::steady_clock::now();
    TWaitProcessEnd::Start(pid, copy, std::chrono::milliseconds(300));
    ASSERT_TRUE(WaitFor([&] { return access(copy.c_str(), F_OK) != 0; }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    // The child was reaped, not left a zombie.
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1);
}

// PATH=$X:$PATH with X unset gives an empty entry; "." and "bin" are as bad.
// None may pick a program out of the folder the child starts in (the opened
// file's folder) or out of ours.
TEST(StartChild, RelativePathEntriesAreNeverSearched)
{
    TempTree tree;
    const std::string shared = tree.Path() + "shared/";
    const std::string trusted = tree.Path() + "trusted/";
    ASSERT_EQ(mkdir(shared.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((shared + "bin").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(trusted.c_str(), 0755), 0);
    const std::string out = tree.Path() + "ran";
    auto plant = [&](const std::string& path, const std::string& who) {
        Write(path, "#!/bin/sh\necho " + who + " >> \"$OUT\"\n");
        chmod(path.c_str(), 0755);
    };
    plant(shared + "handler", "planted");
    plant(shared + "bin/handler", "planted-bin");
    plant(trusted + "handler", "trusted");
    setenv("OUT", out.c_str(), 1);
    struct Restore {
        std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
        char cwd[4096] = {};
        Restore() { EXPECT_NE(getcwd(cwd, sizeof cwd), nullptr); }
        ~Restore()
        {
            setenv("PATH", path.c_str(), 1);
            EXPECT_EQ(chdir(cwd), 0);
        }
    } restore;
    ASSERT_EQ(chdir(shared.c_str()), 0); // our own folder is no place to look either
    for (const std::string& path : {":" + trusted, ".:" + trusted, "bin:" + trusted, trusted + "::"}) {
        setenv("PATH", path.c_str(), 1);
        std::remove(out.c_str());
        EXPECT_EQ(FindProgram("handler"), trusted + "handler") << path;
        std::string error;
        const pid_t pid = StartChild({"handler"}, shared, error);
        ASSERT_GT(pid, 0) << error;
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_EQ(Read(out), "trusted\n") << path;
    }
    // Only relative entries: nothing to start, and a relative path is refused.
    setenv("PATH", ":.:bin", 1);
    std::string error;
    EXPECT_EQ(StartChild({"handler"}, shared, error), -1);
    EXPECT_FALSE(ProgramExists("handler"));
    EXPECT_EQ(StartChild({"bin/handler"}, shared, error), -1);
    EXPECT_EQ(FindProgram("./handler"), "");
    EXPECT_EQ(FindProgram(trusted + "handler"), trusted + "handler");
    EXPECT_EQ(FindProgram(trusted), ""); // a folder is no program
}
