// The pane popup's "Open with" and "Terminal here" start the desktop's
// programs with every name as one argument, and say so when one cannot
// start; the panes start at the folders given or kept from the last run.
#include "app/PaneReads.h"
#include "app/MainWindow.h"
#include "app/PrivateMessages.h"
#include "app/RecordedMessages.h"
#include "app/components/InstanceBlock.h"
#include "app/components/TestEnvironment.h"
#include "panes/Navigation.h"
#include "panes/RowText.h"
#include "platform/Registry.h"
#include "widgets/PaneView.h"

#include <QAction>
#include <QLabel>
#include <QApplication>
#include <QContextMenuEvent>
#include <QListView>
#include <QMenu>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

class LaunchMenuTest : public ::testing::Test {
protected:
    std::string root;
    EnvGuard env;
    std::unique_ptr<MainWindow> window;
    test::RecordedMessages* messages = nullptr;
    // A name a shell would split, expand and take for an option.
    const std::string oddName = "-x my \"file\" $(touch pwned)\nnext.txt";

    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-openwith-XXXXXX";
        root = mkdtemp(tmpl);
        for (const char* d : {"files/sub", "config", "home/applications", "system/applications", "bin"})
            fs::create_directories(root + "/" + d);
        // Only our own applications; the MIME database stays the system's.
        fs::create_symlink("/usr/share/mime", root + "/system/mime");
        env.Set("XDG_CONFIG_HOME", root + "/config");
        env.Set("XDG_CONFIG_DIRS", root + "/config");
        env.Set("XDG_DATA_HOME", root + "/home");
        env.Set("XDG_DATA_DIRS", root + "/system");
        env.Set("XDG_CURRENT_DESKTOP", "");
        env.Set("ARGS_OUT", root + "/args");
        env.Unset("TERMINAL");
        env.Set("PATH", root + "/bin:/usr/bin:/bin");
        Write("files/notes.txt", "notes");
        Write("files/" + oddName, "odd");
        // Each run appends one line: its arguments, then the folder it runs in.
        Script("bin/record-args", "s=''\nfor a in \"$@\"; do s=\"$s<$a>\"; done\nprintf '%s @%s\\n' \"$s\" \"$PWD\" >> \"$ARGS_OUT\"\n");
        Write("home/applications/all.desktop",
              "[Desktop Entry]\nType=Application\nName=All at once\nExec=record-args --all %F\nMimeType=text/plain;\n");
        Write("system/applications/each.desktop",
              "[Desktop Entry]\nType=Application\nName=One & each\nExec=record-args --one %f\n");
        Write("system/applications/quiet.desktop",
              "[Desktop Entry]\nType=Application\nName=Quiet\nNoDisplay=true\nExec=record-args --quiet %f\n");
        Write("system/applications/console.desktop",
              "[Desktop Entry]\nType=Application\nName=Console\nTerminal=true\nExec=record-args --console %f\n");
        Write("system/applications/mimeinfo.cache",
              "[MIME Cache]\ntext/plain=each.desktop;quiet.desktop;console.desktop;\n");
        Write("config/mimeapps.list", "[Default Applications]\ntext/plain=all.desktop\n");
    }
    void TearDown() override
    {
        window.reset();
        fs::remove_all(root);
    }
    void Write(const std::string& name, const std::string& bytes)
    {
        std::ofstream(root + "/" + name, std::ios::binary) << bytes;
    }
    void Script(const std::string& name, const std::string& body)
    {
        Write(name, "#!/bin/sh\n" + body);
        chmod((root + "/" + name).c_str(), 0755);
    }
    void Open()
    {
        StartOptions options;
        options.independent = true;
        options.leftDir = root + "/files";
        options.rightDir = root + "/files";
        window = std::make_unique<MainWindow>(options, nullptr);
        auto recorder = std::make_unique<test::RecordedMessages>();
        messages = recorder.get();
        window->SetMessages(std::move(recorder));
        window->show();
        QApplication::processEvents();
        test::WaitForReads(*window);
    }
    int Row(const std::string& name)
    {
        const TDirData& data = window->LeftPane()->Data();
        for (int i = 0; i < data.Count; ++i)
            if (data.Item(i).Name == name)
                return i;
        return -1;
    }
    // A right-click on the row, as the user opens the popup.
    QMenu* PopupOn(const std::string& name)
    {
        QListView* list = window->LeftPane()->List();
        const QPoint at = list->visualRect(list->model()->index(Row(name), 0)).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
        QApplication::sendEvent(list->viewport(), &event);
        EXPECT_TRUE(QTest::qWaitFor([&] { return window->DirPopup()->isVisible(); }));
        return window->OpenWithMenu();
    }
    QStringList Captions(QMenu* menu)
    {
        QStringList captions;
        for (QAction* a : menu->actions())
            captions << a->text();
        return captions;
    }
    void Choose(QMenu* menu, const QString& id)
    {
        QAction* item = menu->findChild<QAction*>(id);
        if (!item)
            for (QAction* a : menu->actions())
                if (a->objectName() == id)
                    item = a;
        ASSERT_NE(item, nullptr) << id.toStdString();
        window->DirPopup()->hide();
        item->trigger();
    }
    // The lines the runs wrote, sorted: runs of one choice race each other.
    std::vector<std::string> Runs(size_t count)
    {
        std::vector<std::string> lines;
        const bool all = QTest::qWaitFor([&] {
            std::ifstream in(root + "/args", std::ios::binary);
            lines.clear();
            for (std::string line; std::getline(in, line);)
                lines.push_back(line);
            return lines.size() >= count;
        });
        EXPECT_TRUE(all) << lines.size() << " runs";
        fs::remove(root + "/args");
        std::sort(lines.begin(), lines.end());
        return lines;
    }
};

} // namespace

TEST_F(LaunchMenuTest, OpenWithListsTheTypesApplicationsAndGivesEachNameWhole)
{
    Open();
    PaneView* pane = window->LeftPane();
    pane->SetSelected(Row(oddName), true);
    pane->SetSelected(Row("notes.txt"), true);
    pane->SetCurrentRow(Row("notes.txt"));
    QMenu* openWith = PopupOn("notes.txt");
    // The default first, then the associated ones; the NoDisplay one is not offered.
    EXPECT_EQ(Captions(openWith), (QStringList{"All at once", "One && each", "Console"}));

    const std::string files = root + "/files/";
    Choose(openWith, "all.desktop"); // %F: one run with both names
    // The odd name holds a newline: its run's line is split in two.
    std::vector<std::string> runs = Runs(2);
    std::string joined;
    for (const std::string& line : runs)
        joined += line + "|";
    EXPECT_NE(joined.find("<--all><" + files + "-x my \"file\" $(touch pwned)"), std::string::npos) << joined;
    EXPECT_NE(joined.find("next.txt><" + files + "notes.txt> @" + root + "/files|"), std::string::npos) << joined;
    EXPECT_FALSE(fs::exists(root + "/files/pwned"));

    Choose(PopupOn("notes.txt"), "each.desktop"); // %f: one run per name
    runs = Runs(3);
    EXPECT_EQ(std::count_if(runs.begin(), runs.end(), [](const std::string& l) { return l.rfind("<--one>", 0) == 0; }), 2);
    EXPECT_NE(std::find(runs.begin(), runs.end(), "<--one><" + files + "notes.txt> @" + root + "/files"), runs.end());
    EXPECT_TRUE(messages->log.isEmpty()) << messages->log.join("; ").toStdString();

    // A folder offers the folder's applications; ".." and an archive's members nothing.
    pane->SetSelected(Row(oddName), false);
    pane->SetSelected(Row("notes.txt"), false);
    PopupOn("..");
    EXPECT_FALSE(window->OpenWithMenu()->menuAction()->isEnabled());
    window->DirPopup()->hide();
}

TEST_F(LaunchMenuTest, TerminalEntriesAndTerminalHereRunInTheDesktopsTerminal)
{
    Script("bin/my-term", "s=''\nfor a in \"$@\"; do s=\"$s<$a>\"; done\nprintf '%s @%s\\n' \"term:$s\" \"$PWD\" >> \"$ARGS_OUT\"\n");
    env.Set("TERMINAL", "my-term");
    Open();
    window->LeftPane()->SetCurrentRow(Row("notes.txt"));
    Choose(PopupOn("notes.txt"), "console.desktop");
    EXPECT_EQ(Runs(1), (std::vector<std::string>{"term:<-e><record-args><--console><" + root +
                                                  "/files/notes.txt> @" + root + "/files"}));

    PopupOn("notes.txt");
    window->DirPopup()->hide();
    window->Action("PopTerminalHere")->trigger();
    EXPECT_EQ(Runs(1), (std::vector<std::string>{"term: @" + root + "/files"}));
}

TEST_F(LaunchMenuTest, AProgramThatCannotStartIsSaid)
{
    Write("system/applications/each.desktop",
          "[Desktop Entry]\nType=Application\nName=Broken\nExec=/nonexistent/viewer %f\n");
    env.Set("PATH", root + "/bin"); // no terminal, no xdg-open
    Open();
    window->LeftPane()->SetCurrentRow(Row("notes.txt"));
    Choose(PopupOn("notes.txt"), "each.desktop");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !messages->log.isEmpty(); }));
    EXPECT_EQ(messages->log.takeFirst(),
              "error: Broken cannot be started: /nonexistent/viewer: No such file or directory");

    Choose(PopupOn("notes.txt"), "console.desktop");
    ASSERT_EQ(messages->log.size(), 1);
    EXPECT_TRUE(messages->log.takeFirst().startsWith("error: Console cannot be started: Console runs in a terminal, "
                                                     "and no terminal program was found"));

    window->Action("PopTerminalHere")->trigger();
    ASSERT_EQ(messages->log.size(), 1);
    EXPECT_TRUE(messages->log.takeFirst().startsWith("error: No terminal program was found."));

    // "Open this directory" with no xdg-open, and with one that finds no program.
    window->LeftPane()->OpenButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !messages->log.isEmpty(); }));
    EXPECT_EQ(messages->log.takeFirst(), "error: The folder cannot be opened: xdg-open: No such file or directory");
    Script("bin/xdg-open", "exit 3\n");
    window->LeftPane()->OpenButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !messages->log.isEmpty(); }));
    EXPECT_TRUE(messages->log.takeFirst().startsWith("error: The folder cannot be opened: No program to open folders"));
}

namespace {

class StartPlacesTest : public ::testing::Test {
protected:
    std::string root;
    std::unique_ptr<Registry> registry;
    std::unique_ptr<MainWindow> window;
    test::RecordedMessages* messages = nullptr;

    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-places-XXXXXX";
        root = mkdtemp(tmpl);
        for (const char* d : {"left/deep", "right", "other"})
            fs::create_directories(root + "/" + d);
        std::ofstream(root + "/right/big.bin") << std::string(5000, 'b');
        std::ofstream(root + "/right/small.bin") << "s";
    }
    void TearDown() override
    {
        window.reset();
        registry.reset();
        fs::remove_all(root);
    }
    void Start(std::vector<std::string> given, bool withSettings = true)
    {
        window.reset();
        StartOptions options;
        options.independent = true;
        options.givenPlaces = std::move(given);
        if (withSettings) {
            registry = std::make_unique<Registry>(root + "/user.reg", root + "/none.reg");
            registry->Load();
            options.registry = registry.get();
        }
        window = std::make_unique<MainWindow>(options, nullptr);
        auto recorder = std::make_unique<test::RecordedMessages>();
        messages = recorder.get();
        window->SetMessages(std::move(recorder));
        window->show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->PlaceChecksWaiting() == 0; }));
        QApplication::processEvents();
        test::WaitForReads(*window);
    }
    void End()
    {
        window->SaveSettings();
        window.reset();
        registry.reset();
    }
    std::string LeftPath() { return window->LeftPane()->Data().Path; }
    std::string RightPath() { return window->RightPane()->Data().Path; }
};

} // namespace

TEST_F(StartPlacesTest, GivenFoldersThenTheKeptPlacesAndSortOrders)
{
    Start({root + "/left", root + "/right"});
    EXPECT_EQ(LeftPath(), root + "/left/");
    EXPECT_EQ(RightPath(), root + "/right/");
    EXPECT_EQ(window->LeftPane()->Data().History.size(), 1u); // the given place is where the run starts
    EXPECT_EQ(window->RightPane()->PathLabel()->text().toStdString(), root + "/right/");
    // The user sorts the right pane by size, largest first, and moves the left one.
    window->RightPane()->SetSortKey(1);
    window->RightPane()->Data().Ascending = 0;
    GoToDirectory(window->LeftPane()->Data(), root + "/left/deep", DisplayLocale{});
    End();

    Start({});
    EXPECT_EQ(LeftPath(), root + "/left/deep/");
    EXPECT_EQ(RightPath(), root + "/right/");
    EXPECT_EQ(window->RightPane()->SortKey(), 1);
    EXPECT_EQ(window->RightPane()->Data().Ascending, 0);
    const TDirData& right = window->RightPane()->Data();
    EXPECT_EQ(right.Item(right.DirCount).Name, "big.bin"); // read in the kept order
    EXPECT_EQ(window->LeftPane()->SortKey(), 0);
    EXPECT_TRUE(messages->log.isEmpty());

    // One folder given: the left pane; the right one where it was.
    Start({root + "/other"});
    EXPECT_EQ(LeftPath(), root + "/other/");
    EXPECT_EQ(RightPath(), root + "/right/");
    End();
}

TEST_F(StartPlacesTest, FoldersThatAreGoneFallBackToTheStartPlace)
{
    Start({}, false);
    const std::string startPlace = LeftPath(); // nothing given, nothing kept
    Start({root + "/left", root + "/right"});
    End();
    fs::remove_all(root + "/left");
    Start({root + "/missing"});
    // The given folder is said to be missing; the kept left one is gone too.
    EXPECT_EQ(LeftPath(), startPlace);
    EXPECT_EQ(RightPath(), root + "/right/");
    ASSERT_EQ(messages->log.size(), 1);
    EXPECT_EQ(messages->log[0].toStdString(), "error: The folder " + root + "/missing does not exist.");
}

TEST_F(StartPlacesTest, WithKeepingOffARunStartsWhereAFirstRunDoes)
{
    Start({}, false);
    const std::string startPlace = LeftPath();
    Start({root + "/left", root + "/right"});
    window->RightPane()->SetSortKey(3);
    window->Settings().KeepPlaces = false;
    End();
    Start({});
    EXPECT_EQ(LeftPath(), startPlace);
    EXPECT_EQ(RightPath(), startPlace);
    EXPECT_EQ(window->RightPane()->SortKey(), 0);
    EXPECT_FALSE(window->Settings().KeepPlaces);
}

TEST_F(StartPlacesTest, HandedOverPathsTheLatestWins)
{
    EnvGuard env;
    env.Set("TARNEL_INSTANCE_TAG", "-places-" + std::to_string(getpid()));
    InstanceBlock block;
    std::string error;
    ASSERT_TRUE(block.Open(&error)) << error;
    StartOptions options;
    options.independent = true;
    options.leftDir = root + "/left";
    options.rightDir = root + "/right";
    window = std::make_unique<MainWindow>(options, &block);
    window->SetMessages(std::make_unique<test::RecordedMessages>());
    window->show();
    // Two paths come in before either is checked: the pane goes to the second.
    block.WriteShellCall(root + "/other");
    window->ShellCall();
    block.WriteShellCall(root + "/right");
    window->ShellCall();
    EXPECT_EQ(LeftPath(), root + "/left/"); // nothing waited for here
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->PlaceChecksWaiting() == 0; }));
    QApplication::processEvents();
    test::WaitForReads(*window);
    EXPECT_EQ(LeftPath(), root + "/right/");
    window.reset();
}
