// Opening an entry: the viewer for its own types, the default application
// for the rest (started directly, the name as one argument), and the
// viewer when no application is found.
#include "app/MainWindow.h"
#include "app/PaneReads.h"
#include "app/RecordedMessages.h"
#include "app/components/TestEnvironment.h"
#include "fileops/LaunchApplication.h"
#include "fileops/model/LaunchDefaultApp.h"
#include "viewer/ViewerHost.h"
#include "widgets/PaneView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

class LaunchEntryTest : public ::testing::Test {
protected:
    std::string root;
    EnvGuard env;
    std::unique_ptr<MainWindow> window;
    // A name a shell would split, expand and take for an option.
    const std::string oddName = "-x my \"file\" $(id)\nnext.dat";

    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-launch-XXXXXX";
        root = mkdtemp(tmpl);
        for (const char* d : {"files", "config", "home/applications", "system/applications", "run"})
            fs::create_directories(root + "/" + d);
        chmod((root + "/run").c_str(), 0700);
        // Only our own applications; the MIME database stays the system's.
        fs::create_symlink("/usr/share/mime", root + "/system/mime");
        env.Set("XDG_CONFIG_HOME", root + "/config");
        env.Set("XDG_CONFIG_DIRS", root + "/config");
        env.Set("XDG_DATA_HOME", root + "/home");
        env.Set("XDG_DATA_DIRS", root + "/system");
        env.Set("XDG_RUNTIME_DIR", root + "/run");
        env.Set("ARGS_OUT", root + "/args");
        Write("files/notes.txt", "notes");
        Write("files/" + oddName, std::string("\x01\x02\x03\x04\x05", 5));
        const std::string script = root + "/record-args";
        Write("record-args", "#!/bin/sh\nfor a in \"$@\"; do printf '<%s>' \"$a\"; done > \"$ARGS_OUT.tmp\"\n"
                             "mv \"$ARGS_OUT.tmp\" \"$ARGS_OUT\"\n");
        chmod(script.c_str(), 0755);
        Write("home/applications/recorder.desktop",
              "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" + script + " --open %f\n");
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
    void Associate(const std::string& type)
    {
        Write("config/mimeapps.list", "[Default Applications]\n" + type + "=recorder.desktop\n");
    }
    void Open()
    {
        StartOptions options;
        options.independent = true;
        options.leftDir = root + "/files";
        options.rightDir = root + "/files";
        window = std::make_unique<MainWindow>(options, nullptr);
        window->SetMessages(std::make_unique<test::RecordedMessages>());
        window->show();
        QApplication::processEvents();
        test::WaitForReads(*window);
    }
    void Cursor(const std::string& name)
    {
        PaneView* pane = window->LeftPane();
        EXPECT_TRUE(test::PaneRead(pane->Data())) << "the pane's read did not finish";
        for (int i = 0; i < pane->Data().Count; ++i)
            if (pane->Data().Item(i).Name == name)
                pane->SetCurrentRow(i);
    }
    std::string RecordedArgs()
    {
        QElapsedTimer wait;
        wait.start();
        while (!fs::exists(root + "/args") && wait.elapsed() < 5000)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::ifstream in(root + "/args", std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
};

} // namespace

TEST_F(LaunchEntryTest, OpenStartsTheDefaultApplicationWithTheNameAsOneArgument)
{
    Associate("application/octet-stream");
    Open();
    Cursor(oddName);
    window->CommandButton("BTNOpen")->click();
    EXPECT_EQ(RecordedArgs(), "<--open><" + root + "/files/" + oddName + ">");
    EXPECT_FALSE(window->Viewer()->IsOn());
}

TEST_F(LaunchEntryTest, ViewerTypesViewOpenLaunchesAndNoApplicationFallsBackToTheViewer)
{
    Associate("text/plain");
    Open();
    Cursor("notes.txt");
    window->LaunchEntry(window->LeftPane(), false, false, false); // View: .TXT is the viewer's own
    EXPECT_TRUE(window->Viewer()->IsOn());
    EXPECT_FALSE(fs::exists(root + "/args"));
    window->Viewer()->SetViewerActive(window->LeftPane(), false);
    Cursor("notes.txt");
    window->CommandButton("BTNOpen")->click();
    EXPECT_EQ(RecordedArgs(), "<--open><" + root + "/files/notes.txt>");

    Cursor(oddName); // octet-stream has no application here
    window->CommandButton("BTNOpen")->click();
    // The application is looked for on a worker; its answer brings the viewer.
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->Viewer()->IsOn(); }, 5000));
    EXPECT_EQ(window->Viewer()->CurrentPage(), ViewerPageKind::Text);
}

TEST_F(LaunchEntryTest, DefaultApplicationFollowsTheFilesTypeByNameAndContent)
{
    Open();
    EXPECT_EQ(MimeTypesOf(root + "/files/notes.txt").front(), "text/plain");
    EXPECT_EQ(MimeTypesOf(root + "/files").front(), "inode/directory");
    const std::vector<std::string> csource = MimeTypesOf(root + "/missing.c");
    EXPECT_EQ(csource.front(), "text/x-csrc");
    EXPECT_NE(std::find(csource.begin(), csource.end(), "text/plain"), csource.end()); // a parent type
    ASSERT_EQ(mkfifo((root + "/files/pipe").c_str(), 0600), 0);
    EXPECT_FALSE(MimeTypesOf(root + "/files/pipe").empty()); // answered without opening it
    Associate("text/plain");
    const auto app = GetOpenVerb(root + "/files/notes.txt", XdgDirs::FromEnvironment());
    ASSERT_TRUE(app.has_value());
    EXPECT_EQ(app->id, "recorder.desktop");
    EXPECT_EQ(LaunchCommand(*app, "/a b"), (std::vector<std::string>{root + "/record-args", "--open", "/a b"}));
}
