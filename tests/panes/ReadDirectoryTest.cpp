#include "PaneFixture.h"
#include "panes/ReadDirectory.h"
#include "panes/Sorting.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarnel;
using List = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

struct ReadDirectoryTest : ::testing::Test, test::PaneFixture {
    std::string dir;

    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-read-XXXXXX";
        dir = std::string(mkdtemp(tmpl)) + "/";
        drives = {Volume{"/", DriveType::Fixed, "ext4", "/dev/sda1", "root", "/ [root]", "/"},
                  Volume{"/media/usb", DriveType::Removable, "vfat", "/dev/sdb1", "", "/media/usb", "usb"}};
        pane.Path = dir;
    }
    void TearDown() override { fs::remove_all(dir); }

    void File(const std::string& name, const std::string& content = "")
    {
        std::ofstream(dir + name, std::ios::binary) << content;
    }
    void Dir(const std::string& name) { fs::create_directory(dir + name); }

    struct FakeWorker : PaneWorker {
        int* stops;
        explicit FakeWorker(int* s) : stops(s) {}
        void Terminate() override {}
        void Wait() override { ++*stops; }
    };
    struct FakeWorkers : PaneWorkerFactory {
        int starts = 0, stops = 0;
        std::unique_ptr<PaneWorker> StartIconThread(TDirData&, std::mutex&, const std::string&) override
        {
            ++starts;
            return std::make_unique<FakeWorker>(&stops);
        }
        std::unique_ptr<PaneWorker> StartSizeThread(TDirData&, std::mutex&, const std::string&) override
        {
            ++starts;
            return std::make_unique<FakeWorker>(&stops);
        }
    };
};

} // namespace

// The read finds the description file among the names it lists: any letter
// case, the first regular file in byte order, never a link or a folder; of a
// large file the lines for listed names are kept whatever their case.
TEST_F(ReadDirectoryTest, DescriptionsComeFromTheFileAmongTheListedNames)
{
    const auto descriptionOf = [&](const std::string& name) {
        ReadDirectory(pane);
        for (int i = 0; i < pane.Count; ++i)
            if (pane.Item(i).Name == name)
                return pane.Item(i).Description;
        return std::string("(not listed)");
    };
    File("a.txt");
    File("target", "a.txt from the link\r\n");
    File("descript.ion", "a.txt lower\r\n");
    File("Descript.Ion", "a.txt mixed\r\n");
    ASSERT_EQ(symlink("target", (dir + "DESCRIPT.ION").c_str()), 0);
    EXPECT_EQ(descriptionOf("a.txt"), "mixed"); // the link is passed over
    fs::remove(dir + "Descript.Ion");
    EXPECT_EQ(descriptionOf("a.txt"), "lower");
    fs::remove(dir + "descript.ion");
    Dir("DESCRIPT.ioN");
    EXPECT_EQ(descriptionOf("a.txt"), "");

    std::string big;
    for (int i = 0; big.size() < 200 * 1024; ++i)
        big += "absent" + std::to_string(i) + ".txt never listed\r\n";
    File("Descript.ion", big + "A.TXT found in a large file\r\n\"With Blank\" and quoted\r\n");
    File("with blank");
    EXPECT_EQ(descriptionOf("a.txt"), "found in a large file");
    EXPECT_EQ(descriptionOf("with blank"), "and quoted");
}

TEST_F(ReadDirectoryTest, FilterHidesFilesButNeverDirectories)
{
    File("a.txt");
    File("b.doc");
    File("C.TXT");
    Dir("x");
    controls.filterText = "*.txt";
    ReadDirectory(pane);
    EXPECT_EQ(Names(), (List{"..", "x", "a.txt", "C.TXT", "/ [root]", "/media/usb"}));
    EXPECT_EQ(pane.DirCount, 2);
    EXPECT_EQ(pane.FileCount, 2);
    EXPECT_EQ(pane.DriveCount, 2);
    EXPECT_EQ(controls.RowCount(), pane.Count);
    EXPECT_EQ(controls.filterItems, (List{"*", "*.doc", "*.txt"}));
    EXPECT_EQ(controls.filterIndex, 2);
    EXPECT_EQ(controls.pathLabel, dir);
    EXPECT_EQ(controls.busyDepth, 0);
    EXPECT_EQ(controls.updateDepth, 0);
}

TEST_F(ReadDirectoryTest, EntryFieldsAndDescriptions)
{
    File("readme.txt", "hello");
    File(".hidden");
    Dir("sub");
    File("DESCRIPT.ION", "README.TXT greets\r\n\"sub\" a folder\r\n");
    DirSizes().Store(dir + "sub", 777);
    ReadDirectory(pane);
    const TFileData& sub = pane.Item(1);
    EXPECT_EQ(sub.Name, "sub");
    EXPECT_EQ(sub.Size.load(), 777); // remembered total shown at once
    EXPECT_EQ(sub.SizeDone.load(), 0);
    EXPECT_EQ(sub.Description, "a folder");
    const TFileData& readme = pane.Item(pane.DirCount + 2); // .hidden, DESCRIPT.ION, readme.txt
    EXPECT_EQ(readme.Name, "readme.txt");
    EXPECT_EQ(readme.Size.load(), 5);
    EXPECT_EQ(readme.Description, "greets");
    EXPECT_NE(readme.Time, 0);
    EXPECT_TRUE(pane.Item(pane.DirCount).Attr & 2); // .hidden
    const TFileData& drive = pane.Item(pane.Count - 1);
    EXPECT_EQ(drive.Kind, fkDrive);
    EXPECT_EQ(drive.SizeDone.load(), 1);
    EXPECT_EQ(drive.Time, 0);
}

TEST_F(ReadDirectoryTest, MissingDirectoryListsOnlyDrives)
{
    pane.Path = dir + "gone";
    ReadDirectory(pane);
    EXPECT_EQ(pane.Count, 2);
    EXPECT_EQ(pane.DriveCount, 2);
    EXPECT_EQ(controls.pathLabel, dir + "gone/");
}

TEST_F(ReadDirectoryTest, EmptyFilterListsNoFiles)
{
    File("a");
    Dir("d");
    controls.filterText = "";
    ReadDirectory(pane);
    EXPECT_EQ(Names(), (List{"..", "d", "/ [root]", "/media/usb"}));
}

TEST_F(ReadDirectoryTest, ReturningRestoresTopAndCurrentRowWithNothingSelected)
{
    for (int i = 0; i < 30; ++i)
        File("f" + std::to_string(i));
    ReadDirectory(pane);
    controls.topRow = 5;
    controls.currentRow = 9;
    RereadPane(pane);
    EXPECT_EQ(controls.topRow, 5);
    EXPECT_EQ(controls.currentRow, 9);
    EXPECT_EQ(controls.SelectedCount(), 0);
    EXPECT_EQ(pane.History.size(), 1u);

    pane.Positions.Store(pane.Key(), 500, 900); // out of range: ignored
    controls.topRow = 0;
    controls.currentRow = -1;
    ReadDirectory(pane);
    EXPECT_EQ(controls.topRow, 0);
    EXPECT_EQ(controls.currentRow, -1);
}

TEST_F(ReadDirectoryTest, WorkersStopBeforeAndStartAfterADiskRead)
{
    FakeWorkers workers;
    pane.Workers = &workers;
    ReadDirectory(pane);
    EXPECT_EQ(workers.starts, 2);
    ReadDirectory(pane);
    EXPECT_EQ(workers.stops, 2);
    EXPECT_EQ(workers.starts, 4);

    pane.ZipMode = 1; // inside an archive: nothing starts, the archive's source fills the listing
    struct ParentOnly : FileSource {
        mutable bool listed = false;
        const char* Name() const override { return kZipSourceName; }
        void List(const PanePlace&, ListSink& sink, const CancelToken&) const override
        {
            listed = true;
            SourceEntry e;
            e.kind = fkDirectory;
            e.name = "..";
            std::vector<SourceEntry> chunk;
            chunk.push_back(std::move(e));
            sink.Chunk(std::move(chunk));
        }
        Capabilities Can(const PanePlace&) const override { return {Capability::CopyOut}; }
    };
    auto archive = std::make_shared<ParentOnly>();
    auto sources = std::make_shared<SourceTable>(*DefaultSources());
    sources->zip = archive;
    pane.Sources = sources;
    ReadDirectory(pane);
    const bool listed = archive->listed;
    EXPECT_TRUE(listed);
    EXPECT_EQ(workers.stops, 4);
    EXPECT_EQ(workers.starts, 4);
    EXPECT_EQ(pane.Count, 3);
}

TEST_F(ReadDirectoryTest, OddNamesListAndSortLikeAnyOther)
{
    const List odd = {"bad\xff\xfename", "new\nline", "-dash", std::string(255, 'n'), "sp ace"};
    for (const auto& name : odd)
        File(name);
    ReadDirectory(pane);
    EXPECT_EQ(pane.FileCount, 5);
    const List all = Names();
    const List files(all.begin() + 1, all.begin() + 1 + pane.FileCount);
    EXPECT_EQ(files, (List{"-dash", "bad\xff\xfename", "new\nline", std::string(255, 'n'), "sp ace"}));
}

TEST_F(ReadDirectoryTest, ListingGrowsPastItsFirstCapacity)
{
    for (int i = 0; i < 9000; ++i)
        close(open((dir + std::to_string(i)).c_str(), O_CREAT | O_WRONLY, 0644));
    ReadDirectory(pane);
    EXPECT_EQ(pane.FileCount, 9000);
    EXPECT_EQ(pane.Count, 9000 + 1 + 2);
}

TEST_F(ReadDirectoryTest, BestWidthsFitTheWidestTexts)
{
    File("a-rather-long-name.txt");
    ReadDirectory(pane);
    EXPECT_EQ(pane.BestWidths[0], int(std::string("a-rather-long-name.txt").size()) * 7 + 16 + 2);
    EXPECT_EQ(pane.BestWidths[1], 11 * 7 + 3);
    EXPECT_GT(pane.BestWidths[2], 10);
}
