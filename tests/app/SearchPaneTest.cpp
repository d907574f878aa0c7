// A find's results as a pane of the real window: getting there and back,
// and every file command acting on each entry's own folder, never on the
// results place's path.
#include "app/AttributesDialog.h"
#include "app/DescriptionDialog.h"
#include "app/MainWindow.h"
#include "app/ModalAnswerer.h"
#include "app/PaneReads.h"
#include "app/RecordedMessages.h"
#include "app/components/TestEnvironment.h"
#include "descriptions/Descriptions.h"
#include "fileops/NameDialogs.h"
#include "fileops/PropertiesDialog.h"
#include "platform/DirectoryReader.h"
#include "platform/FileAttributes.h"
#include "platform/Registry.h"
#include "platform/ShellFileOperation.h"
#include "sources/SearchSource.h"
#include "tools/DlgRenamer.h"
#include "viewer/ViewerHost.h"
#include "widgets/PaneView.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <filesystem>
#include <fstream>
#include <mutex>

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

struct AnsweringUi : OperationUi {
    int replaceAsked = 0;
    ReplaceAnswer AskReplace(const std::string&) override
    {
        ++replaceAsked;
        return ReplaceAnswer::Yes;
    }
    ErrorAnswer AskError(const std::string&, const std::string&, int) override { return ErrorAnswer::Cancel; }
    bool ConfirmTrash(size_t) override { return true; }
    DeleteAnswer AskDeletePermanently(const std::string&) override { return DeleteAnswer::No; }
    void Refused(const std::string&) override {}
    bool Progress(uint64_t, uint64_t, uint64_t, uint64_t, const std::string&) override { return true; }
};

// The find a refresh runs: it hands over the hits the test set, at once.
struct ScriptedFind {
    struct Job : FindJob {
        void Stop() override {}
    };
    std::mutex mutex;
    std::vector<FindHit> hits;
    std::atomic<int> runs{0};
    FindStarter Starter()
    {
        return [this](const FindQuery&, std::shared_ptr<FindSink> sink) {
            std::vector<FindHit> found;
            {
                std::lock_guard lock(mutex);
                found = hits;
            }
            ++runs;
            sink->Found(std::move(found));
            sink->Finished(false);
            return std::make_shared<Job>();
        };
    }
};

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class SearchPaneTest : public ::testing::Test {
protected:
    std::string root, start;
    EnvGuard env;
    std::unique_ptr<MainWindow> window;
    AnsweringUi ui;
    test::RecordedMessages* messages = nullptr;
    ScriptedFind find;
    FindQuery query;

    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-found-XXXXXX";
        root = mkdtemp(tmpl);
        start = root + "/start/";
        fs::create_directories(start + "a");
        fs::create_directories(start + "b/sub");
        fs::create_directories(start + "c");
        fs::create_directories(root + "/other");
        fs::create_directories(root + "/home");
        std::ofstream(start + "a/x.txt") << "from a";
        std::ofstream(start + "b/z.txt") << "from b";
        std::ofstream(start + "c/y.txt") << "from c";
        std::ofstream(start + "b/sub/inner") << "in sub";
        for (const char* name : {"XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS"})
            env.Set(name, root + "/home"); // trash there, and no desktop application opens anything
        StartOptions options;
        options.independent = true;
        options.leftDir = start;
        options.rightDir = root + "/other";
        window = std::make_unique<MainWindow>(options, nullptr);
        window->SetOperationUi(&ui);
        window->Settings().ConfirmCopyTarget = false;
        auto recorded = std::make_unique<test::RecordedMessages>();
        messages = recorded.get();
        window->SetMessages(std::move(recorded));
        window->SearchResults().SetStarter(find.Starter());
        window->show();
        QApplication::processEvents();
        test::WaitForReads(*window);
        query.folders = {start};
        query.namePatterns = "*.txt;sub";
    }
    void TearDown() override
    {
        window.reset();
        fs::remove_all(root);
    }
    static FindHit Hit(const std::string& dir, const std::string& name, bool folder = false)
    {
        FindHit hit;
        hit.directory = dir;
        hit.name = name;
        hit.folder = folder;
        return hit;
    }
    std::vector<FindHit> Hits() const
    {
        return {Hit(start + "a/", "x.txt"), Hit(start + "b/", "z.txt"), Hit(start + "c/", "y.txt"),
                Hit(start + "b/", "sub", true)};
    }
    PaneView* Left() { return window->LeftPane(); }
    PaneView* Right() { return window->RightPane(); }
    void Feed(std::vector<FindHit> hits)
    {
        window->SetActivePane(Left());
        window->FeedFindResults(query, std::move(hits));
        test::WaitForReads(*window);
    }
    // The row of the entry at folder + name, -1 when none.
    int Row(PaneView* pane, const std::string& path)
    {
        EXPECT_TRUE(test::PaneRead(pane->Data()));
        const TDirData& data = pane->Data();
        for (int i = 0; i < data.Count; ++i)
            if (data.DirOf(data.Item(i)) + data.Item(i).Name == path)
                return i;
        return -1;
    }
    void Select(PaneView* pane, const std::vector<std::string>& paths)
    {
        test::WaitForReads(*window);
        pane->SetRangeSelected(0, pane->Data().Count - 1, false);
        for (const std::string& path : paths) {
            const int row = Row(pane, path);
            ASSERT_GE(row, 0) << path;
            pane->SetSelected(row, true);
            pane->SetCurrentRow(row);
        }
        window->SetActivePane(pane);
        pane->List()->setFocus();
    }
    // The left pane's rows but the volumes'.
    int Entries() { return Left()->Data().DirCount + Left()->Data().FileCount; }
    bool IsSearchPlace(PaneView* pane) { return std::string_view(pane->Data().Source()) == kSearchSourceName; }
};

} // namespace

TEST_F(SearchPaneTest, ResultsComeAsAPlaceWithHistoryFoldersShownAndARefreshThatSearchesAgain)
{
    Feed(Hits());
    ASSERT_TRUE(IsSearchPlace(Left()));
    EXPECT_EQ(Entries(), 5) << "\"..\" and the four hits";
    const int z = Row(Left(), start + "b/z.txt");
    ASSERT_GE(z, 0);
    EXPECT_EQ(Left()->Data().Item(z).Description, "b/") << "each entry's folder, below the start folder";
    EXPECT_EQ(find.runs, 0) << "fed hits are shown as they are";

    // Enter on a found folder: that folder of the disk. Back: the results.
    Select(Left(), {start + "b/sub"});
    QTest::keyClick(Left()->List(), Qt::Key_Return);
    test::WaitForReads(*window);
    EXPECT_EQ(Left()->Data().Place(), PanePlace::Directory(start + "b/sub/"));
    EXPECT_GE(Row(Left(), start + "b/sub/inner"), 0);
    window->NavBackClick();
    test::WaitForReads(*window);
    ASSERT_TRUE(IsSearchPlace(Left()));
    EXPECT_EQ(Entries(), 5);

    // Backspace: up to the folder the find started in.
    QTest::keyClick(Left()->List(), Qt::Key_Backspace);
    test::WaitForReads(*window);
    EXPECT_EQ(Left()->Data().Place(), PanePlace::Directory(start));
    window->NavBackClick();
    test::WaitForReads(*window);

    // Ctrl+R runs the find again; its hits replace the old ones.
    {
        std::lock_guard lock(find.mutex);
        find.hits = {Hit(start + "c/", "y.txt")};
    }
    Left()->List()->setFocus();
    QTest::keyClick(Left()->List(), Qt::Key_R, Qt::ControlModifier);
    test::WaitForReads(*window);
    EXPECT_EQ(find.runs, 1);
    EXPECT_EQ(Entries(), 2);
    EXPECT_GE(Row(Left(), start + "c/y.txt"), 0);
    EXPECT_TRUE(messages->log.isEmpty()) << messages->log.join("\n").toStdString();
}

TEST_F(SearchPaneTest, ViewOpenCopyAndMoveTakeEachFileFromItsOwnFolder)
{
    Feed(Hits());
    // F3: the viewer reads the file where it lies.
    std::mutex readMutex;
    std::vector<std::string> read;
    window->Viewer()->SetBeforeRead([&](const std::string& file) {
        std::lock_guard lock(readMutex);
        read.push_back(file);
    });
    Select(Left(), {start + "c/y.txt"});
    QTest::keyClick(Left()->List(), Qt::Key_F3);
    ASSERT_TRUE(QTest::qWaitFor([&] {
        std::lock_guard lock(readMutex);
        return !read.empty();
    }));
    {
        std::lock_guard lock(readMutex);
        EXPECT_EQ(read.back(), start + "c/y.txt");
    }
    window->Viewer()->SetViewerActive(Left(), false);
    // Enter opens it as in its folder: no application here, so the viewer, on the same file.
    {
        std::lock_guard lock(readMutex);
        read.clear();
    }
    Select(Left(), {start + "a/x.txt"});
    QTest::keyClick(Left()->List(), Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] {
        std::lock_guard lock(readMutex);
        return !read.empty();
    }));
    {
        std::lock_guard lock(readMutex);
        EXPECT_EQ(read.back(), start + "a/x.txt");
    }
    window->Viewer()->SetViewerActive(Left(), false);
    window->Viewer()->SetBeforeRead({});

    // Copy files of two folders to the other pane.
    Select(Left(), {start + "a/x.txt", start + "c/y.txt"});
    QTest::keyClick(Left()->List(), Qt::Key_F5);
    test::WaitForOperations(*window);
    EXPECT_EQ(ReadAll(root + "/other/x.txt"), "from a");
    EXPECT_EQ(ReadAll(root + "/other/y.txt"), "from c");
    EXPECT_GE(Row(Left(), start + "a/x.txt"), 0) << "a copy leaves the results as they were";

    // Move: the file goes, and its row leaves the results.
    Select(Left(), {start + "b/z.txt"});
    window->DoFileOperation(FO_MOVE);
    test::WaitForOperations(*window);
    EXPECT_EQ(ReadAll(root + "/other/z.txt"), "from b");
    EXPECT_FALSE(fs::exists(start + "b/z.txt"));
    EXPECT_EQ(Row(Left(), start + "b/z.txt"), -1);
    EXPECT_TRUE(IsSearchPlace(Left()));

    // Nothing goes into the results: they are no folder.
    Select(Right(), {root + "/other/x.txt"});
    window->DoFileOperation(FO_COPY);
    test::WaitForOperations(*window);
    ASSERT_EQ(messages->log.size(), 1);
    EXPECT_TRUE(messages->log[0].contains("Nothing can be copied")) << messages->log[0].toStdString();
    EXPECT_FALSE(fs::exists(Left()->Data().Path)) << "no folder made at the results' own path";
    EXPECT_EQ(ui.replaceAsked, 0);
}

TEST_F(SearchPaneTest, DeleteAndRenameActOnTheEntrysOwnFolder)
{
    Feed(Hits());
    Select(Left(), {start + "c/y.txt"});
    QTest::keyClick(Left()->List(), Qt::Key_Delete);
    test::WaitForOperations(*window);
    EXPECT_FALSE(fs::exists(start + "c/y.txt"));
    EXPECT_TRUE(fs::exists(root + "/home/Trash/files/y.txt"));
    EXPECT_EQ(Row(Left(), start + "c/y.txt"), -1) << "a deleted file leaves the results";

    // F2: the new name in the file's own folder, and the row follows it.
    int dialogs = 0;
    window->SetNameDialogRunner([&](QDialog& d) {
        ++dialogs;
        auto* rename = dynamic_cast<RenameDialog*>(&d);
        EXPECT_NE(rename, nullptr);
        if (rename)
            rename->NameEdit()->setText("x2.txt");
        return int(QDialog::Accepted);
    });
    Select(Left(), {start + "a/x.txt"});
    QTest::keyClick(Left()->List(), Qt::Key_F2);
    test::WaitForOperations(*window);
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(ReadAll(start + "a/x2.txt"), "from a");
    EXPECT_FALSE(fs::exists(start + "x2.txt"));
    EXPECT_GE(Row(Left(), start + "a/x2.txt"), 0);
    EXPECT_EQ(Row(Left(), start + "a/x.txt"), -1);
    EXPECT_TRUE(messages->log.isEmpty()) << messages->log.join("\n").toStdString();
}

TEST_F(SearchPaneTest, DescribeAttributesPropertiesAndTheRenamerReachTheRightFiles)
{
    Feed(Hits());
    // Describe: written to the description file of the entry's folder.
    {
        test::ModalAnswerer answer([](QWidget* modal) {
            auto* dialog = qobject_cast<DescriptionDialog*>(modal);
            ASSERT_NE(dialog, nullptr);
            dialog->SetText("notes of b");
            dialog->accept();
        });
        Select(Left(), {start + "b/z.txt"});
        window->Action("Describe")->trigger();
        ASSERT_TRUE(QTest::qWaitFor([&] { return ReadDescription(start + "b/z.txt") == "notes of b"; }));
    }
    EXPECT_FALSE(fs::exists(start + "DESCRIPT.ION"));
    test::WaitForReads(*window);
    ASSERT_TRUE(QTest::qWaitFor([&] {
        const int row = Row(Left(), start + "b/z.txt");
        return row >= 0 && Left()->Data().Item(row).Description == "b/  notes of b";
    }));

    // Attributes of files in two folders.
    {
        test::ModalAnswerer answer([](QWidget* modal) {
            auto* dialog = qobject_cast<AttributesDialog*>(modal);
            ASSERT_NE(dialog, nullptr);
            QTest::keyClick(dialog->Box(faReadOnly), Qt::Key_Space);
            dialog->accept();
        });
        Select(Left(), {start + "a/x.txt", start + "c/y.txt"});
        window->Action("Attributes")->trigger();
        ASSERT_EQ(answer.seen, 1);
    }
    for (const char* file : {"a/x.txt", "c/y.txt"}) {
        uint32_t attr = 0;
        ASSERT_TRUE(ReadFileAttributes(start + file, attr));
        EXPECT_TRUE(attr & faReadOnly) << file;
    }
    EXPECT_TRUE(Left()->Data().Item(Row(Left(), start + "a/x.txt")).Attr & faReadOnly) << "the row shows it";

    // Properties: the file where it lies.
    QString location;
    window->SetNameDialogRunner([&](QDialog& d) {
        if (auto* properties = dynamic_cast<PropertiesDialog*>(&d))
            location = properties->RowText("Location:");
        return int(QDialog::Rejected);
    });
    Select(Left(), {start + "b/z.txt"});
    window->DoFileOperation(FO_PROPERTIES);
    EXPECT_TRUE(location.startsWith(QString::fromStdString(start + "b"))) << location.toStdString();

    // The renamer: files of one folder are renamed there; files of two are refused.
    Select(Left(), {start + "a/x.txt", start + "c/y.txt"});
    int renamers = 0;
    window->SetNameDialogRunner([&](QDialog&) {
        ++renamers;
        return int(QDialog::Rejected);
    });
    window->RunRenamer(Left());
    EXPECT_EQ(renamers, 0);
    ASSERT_FALSE(messages->log.isEmpty());
    EXPECT_TRUE(messages->log.last().contains("one folder")) << messages->log.last().toStdString();

    window->SetNameDialogRunner([&](QDialog& d) {
        ++renamers;
        auto* renamer = dynamic_cast<TDlgRenamer*>(&d);
        EXPECT_NE(renamer, nullptr);
        if (!renamer)
            return int(QDialog::Rejected);
        renamer->Template()->setText("renamed-[1]");
        renamer->BTNCheckClick();
        renamer->BTNRenameClick();
        return int(QDialog::Accepted);
    });
    Select(Left(), {start + "b/z.txt"});
    window->RunRenamer(Left());
    EXPECT_EQ(renamers, 1);
    EXPECT_EQ(ReadAll(start + "b/renamed-z.txt"), "from b");
    EXPECT_FALSE(fs::exists(start + "renamed-z.txt"));
    EXPECT_GE(Row(Left(), start + "b/renamed-z.txt"), 0) << "the renamed file stays in the results";
}

TEST_F(SearchPaneTest, DragsCarryEachFilesOwnPathAndDropsIntoTheResultsAreRefused)
{
    Feed(Hits());
    Select(Left(), {start + "a/x.txt", start + "b/z.txt", start + "b/sub"});
    std::vector<std::string> dragged = Left()->DragPaths();
    std::sort(dragged.begin(), dragged.end());
    EXPECT_EQ(dragged, (std::vector<std::string>{start + "a/x.txt", start + "b/sub", start + "b/z.txt"}));

    // Moved by a drop on the other pane: the rows leave the results.
    window->DropFiles(Right(), {start + "a/x.txt", start + "b/z.txt"}, Right()->Data().Place(), true, 0);
    test::WaitForOperations(*window);
    EXPECT_EQ(ReadAll(root + "/other/x.txt"), "from a");
    EXPECT_EQ(ReadAll(root + "/other/z.txt"), "from b");
    EXPECT_EQ(Row(Left(), start + "a/x.txt"), -1);
    EXPECT_EQ(Row(Left(), start + "b/z.txt"), -1);

    // A drop onto the results pane takes nothing.
    window->DropFiles(Left(), {root + "/other/x.txt"}, Left()->Data().Place(), false, 0);
    test::WaitForOperations(*window);
    ASSERT_EQ(messages->log.size(), 1);
    EXPECT_TRUE(messages->log[0].contains("list of found files")) << messages->log[0].toStdString();
    EXPECT_FALSE(fs::exists(Left()->Data().Path));
}

TEST_F(SearchPaneTest, AMemberFoundInsideAnArchiveIsNeverTakenForAFileOfTheDisk)
{
    ASSERT_EQ(std::system(("cd '" + start + "c' && zip -q ../pack.zip y.txt").c_str()), 0);
    FindHit member = Hit("", "y.txt");
    member.archive = start + "pack.zip";
    std::vector<FindHit> hits = Hits();
    hits.push_back(member);
    Feed(hits);
    const std::string memberPath = start + "pack.zip/y.txt";
    ASSERT_GE(Row(Left(), memberPath), 0);

    Select(Left(), {memberPath});
    window->DoFileOperation(FO_DELETE);
    test::WaitForOperations(*window);
    ASSERT_EQ(messages->log.size(), 1);
    EXPECT_TRUE(messages->log[0].contains("inside the archive")) << messages->log[0].toStdString();
    EXPECT_TRUE(fs::exists(start + "pack.zip"));
    Select(Left(), {memberPath});
    EXPECT_TRUE(Left()->DragPaths().empty());

    // Enter goes into the archive, onto the member.
    QTest::keyClick(Left()->List(), Qt::Key_Return);
    test::WaitForReads(*window);
    EXPECT_TRUE(Left()->Data().InArchive());
    EXPECT_EQ(Left()->Data().ArchiveFile(), start + "pack.zip");
    const int row = Left()->CurrentRow();
    ASSERT_GE(row, 0);
    EXPECT_EQ(Left()->Data().Item(row).Name, "y.txt");
}

// The query of a results place lives as long as the run: a restart does not
// bring the place back, and the pane starts where a place that is gone leaves it.
TEST(SearchPlaceRestartTest, AResultsPlaceIsNotRestored)
{
    char tmpl[] = "/tmp/tarnel-found-again-XXXXXX";
    const std::string root = mkdtemp(tmpl);
    fs::create_directories(root + "/start/a");
    std::ofstream(root + "/start/a/x.txt") << "x";
    auto run = [&](std::vector<std::string> given, const std::function<void(MainWindow&)>& then) {
        Registry registry(root + "/user.reg", root + "/none.reg");
        registry.Load();
        StartOptions options;
        options.independent = true;
        options.registry = &registry;
        options.givenPlaces = std::move(given);
        MainWindow window(options, nullptr);
        auto recorder = std::make_unique<test::RecordedMessages>();
        test::RecordedMessages* messages = recorder.get();
        window.SetMessages(std::move(recorder));
        window.show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.PlaceChecksWaiting() == 0; }));
        test::WaitForReads(window);
        then(window);
        window.SaveSettings();
        EXPECT_TRUE(messages->log.isEmpty()) << messages->log.join("\n").toStdString();
    };
    run({root + "/start"}, [&](MainWindow& window) {
        window.SetActivePane(window.LeftPane());
        FindQuery query;
        query.folders = {root + "/start/"};
        FindHit hit;
        hit.directory = root + "/start/a/";
        hit.name = "x.txt";
        window.FeedFindResults(query, {hit});
        test::WaitForReads(window);
        ASSERT_STREQ(window.LeftPane()->Data().Source(), kSearchSourceName);
    });
    run({}, [&](MainWindow& window) {
        EXPECT_STRNE(window.LeftPane()->Data().Source(), kSearchSourceName);
        EXPECT_EQ(window.LeftPane()->Data().Path.find("[find "), std::string::npos);
    });
    fs::remove_all(root);
}
