// The texts of the list and drive-button hints.
#include "panes/FileData.h"
#include "viewer/model/EntryHintText.h"

#include <gtest/gtest.h>

using namespace tarnel;

namespace {

// 2021-03-04 05:06
constexpr int32_t kTime = ((2021 - 1980) << 25) | (3 << 21) | (4 << 16) | (5 << 11) | (6 << 5);

struct HintTest : ::testing::Test {
    DisplayLocale locale; // "," and "dd/MM/yyyy"
    TFileData entry;
    ListHintInput input;
    std::vector<std::string> summaryAsked;
    void SetUp() override
    {
        entry.Time = kTime;
        input.entry = &entry;
        input.folder = "/music/";
        input.id3Summary = [this](const std::string& path) {
            summaryAsked.push_back(path);
            return std::string("\nTitle : Song");
        };
    }
    std::string Text() { return ListHintText(input, locale); }
};

} // namespace

TEST_F(HintTest, FileLinesFlagsSummaryAndDescription)
{
    entry.Name = "a.mp3";
    entry.Size = 1234567;
    entry.Attr = 3;
    entry.Description = "my song";
    input.supported = true;
    EXPECT_EQ(Text(), "a.mp3\n04/03/2021 05:06\nSize : 1,234,567 bytes\nSupported,Hidden,Readonly\nTitle : Song\nmy song");
    EXPECT_EQ(summaryAsked, std::vector<std::string>{"/music/a.mp3"});
}

TEST_F(HintTest, OnlyMp3FilesAskForTheTagAndEmptyLinesAreLeftOut)
{
    entry.Name = "a.MP3x";
    entry.Size = 0;
    EXPECT_EQ(Text(), "a.MP3x\n04/03/2021 05:06\nSize : 0 bytes");
    EXPECT_TRUE(summaryAsked.empty());
    entry.Name = "B.Mp3";
    input.id3Summary = [](const std::string&) { return std::string(); };
    EXPECT_EQ(Text(), "B.Mp3\n04/03/2021 05:06\nSize : 0 bytes");
}

TEST_F(HintTest, DirectoryWithAndWithoutItsTotal)
{
    entry.Kind = fkDirectory;
    entry.Name = "src";
    entry.Size = -1;
    input.supported = true; // never said of a directory
    EXPECT_EQ(Text(), "src\n04/03/2021 05:06\nTotal size : <unknown>");
    entry.Size = 2048000;
    entry.UsedBytes = 2101248;
    entry.SubDirs = 3;
    entry.SubFiles = 41;
    EXPECT_EQ(Text(), "src\n04/03/2021 05:06\nTotal size : 2,048,000 bytes\nBytes used : 2,101,248\n3 dirs and 41 files");
}

TEST_F(HintTest, InvalidDateAndDriveRows)
{
    entry.Name = "odd";
    entry.Time = 0;
    EXPECT_EQ(Text(), "odd\n<invalid date>\nSize : 0 bytes");
    entry.Kind = fkDrive;
    entry.Name = "/media/stick";
    EXPECT_EQ(Text(), "/media/stick");
    input.driveQualifies = true;
    input.drive = {10 * 1024 * 1024, 4 * 1024 * 1024 + 512};
    EXPECT_EQ(Text(), "/media/stick\nSize : 10,240 KB\nUsed : 6,144 KB\nFree : 4,097 KB");
}

TEST(DriveHint, WhichVolumesShowTheirSpace)
{
    EXPECT_TRUE(DriveQualifiesForHint(DriveType::Fixed, false));
    EXPECT_TRUE(DriveQualifiesForHint(DriveType::Network, false));
    EXPECT_TRUE(DriveQualifiesForHint(DriveType::CdRom, false));
    EXPECT_TRUE(DriveQualifiesForHint(DriveType::RamDisk, false));
    EXPECT_FALSE(DriveQualifiesForHint(DriveType::Removable, false));
    EXPECT_TRUE(DriveQualifiesForHint(DriveType::Removable, true));
    EXPECT_EQ(DriveHintText({0, 0}, DisplayLocale{}), "Size : 0 KB\nUsed : 0 KB\nFree : 0 KB");
}
