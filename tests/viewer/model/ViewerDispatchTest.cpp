// Which page an entry lands on, and the RAR signature check.
#include "panes/FileData.h"
#include "panes/TempTree.h"
#include "platform/RegularFile.h"
#include "viewer/model/ViewerDispatch.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

using namespace tarnel;
using tarnel::test::TempTree;

namespace {

void Write(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

} // namespace

TEST(ViewerDispatch, TextExtensionWinsOverTheSignatureWhichWinsOverEveryOtherExtension)
{
    EXPECT_EQ(ChooseViewerPage("notes.txt", fkFile, true, false, false), ViewerPageKind::Text);
    EXPECT_EQ(ChooseViewerPage("photo.JPG", fkFile, true, false, false), ViewerPageKind::Packed);
    EXPECT_EQ(ChooseViewerPage("song.wav", fkFile, true, false, false), ViewerPageKind::Packed);
    EXPECT_EQ(ChooseViewerPage("call.vox", fkFile, true, false, false), ViewerPageKind::Packed);
    EXPECT_EQ(ChooseViewerPage("a.rar", fkFile, false, false, false), ViewerPageKind::Packed);
}

TEST(ViewerDispatch, ExtensionsChooseTheirPagesCaseBlind)
{
    EXPECT_EQ(ChooseViewerPage("x.Vox", fkFile, false, false, false), ViewerPageKind::Vox);
    for (const char* name : {"a.jpg", "a.BMP", "a.gif"})
        EXPECT_EQ(ChooseViewerPage(name, fkFile, false, false, false), ViewerPageKind::Image) << name;
    for (const char* name : {"a.wav", "a.MID", "a.avi"})
        EXPECT_EQ(ChooseViewerPage(name, fkFile, false, false, false), ViewerPageKind::Music) << name;
    for (const char* name : {"a.png", "a.WebP", "a.svg", "a.tif", "a.TIFF", "a.ico", "a.xpm"})
        EXPECT_EQ(ChooseViewerPage(name, fkFile, false, false, false), ViewerPageKind::Image) << name;
    for (const char* name : {"a.mp3", "a.Ogg", "a.flac", "a.opus", "a.MP4", "a.mkv", "a.webm"})
        EXPECT_EQ(ChooseViewerPage(name, fkFile, false, false, false), ViewerPageKind::Music) << name;
    // Near misses stay text.
    for (const char* name : {"a.pngx", "a.sv", "a.mp", "a.svgz.txt"})
        EXPECT_EQ(ChooseViewerPage(name, fkFile, false, false, false), ViewerPageKind::Text) << name;
    // The extension is taken from the last dot only.
    EXPECT_EQ(ChooseViewerPage("a.jpg.gz", fkFile, false, false, false), ViewerPageKind::Text);
}

TEST(ViewerDispatch, WhatIsLeftIsTextForFilesAndInformationForDirectoriesAndDrives)
{
    EXPECT_EQ(ChooseViewerPage("readme.nfo", fkFile, false, false, false), ViewerPageKind::Text);
    EXPECT_EQ(ChooseViewerPage("Makefile", fkFile, false, false, false), ViewerPageKind::Text);
    EXPECT_EQ(ChooseViewerPage("src", fkDirectory, false, false, false), ViewerPageKind::Info);
    EXPECT_EQ(ChooseViewerPage("photos.jpg", fkDirectory, false, false, false), ViewerPageKind::Image);
    EXPECT_EQ(ChooseViewerPage("/media/usb", fkDrive, false, false, false), ViewerPageKind::Info);
}

TEST(ViewerDispatch, FlagsForceTheirPage)
{
    EXPECT_EQ(ChooseViewerPage("a.jpg", fkFile, true, false, true), ViewerPageKind::Text);
    EXPECT_EQ(ChooseViewerPage("a.txt", fkFile, false, true, false), ViewerPageKind::Info);
    EXPECT_EQ(ChooseViewerPage("dir", fkDirectory, false, false, true), ViewerPageKind::Text);
}

TEST(ViewerDispatch, PageCaptionsInTabOrder)
{
    const char* expected[] = {"file info", "image", "tables", "music", "text", "vox", "packed"};
    for (int i = 0; i < kViewerPageCount; ++i)
        EXPECT_STREQ(ViewerPageCaption(ViewerPageKind(i)), expected[i]);
}

TEST(RarSignature, NeedsMoreThanFourBytesStartingRar)
{
    TempTree tree;
    Write(tree.Path() + "exact", "Rar!");
    Write(tree.Path() + "five", "Rar!\x1a");
    Write(tree.Path() + "lower", "rar!\x1a\x07");
    Write(tree.Path() + "empty", "");
    EXPECT_FALSE(HasRarSignature(tree.Path() + "exact"));
    EXPECT_TRUE(HasRarSignature(tree.Path() + "five"));
    EXPECT_FALSE(HasRarSignature(tree.Path() + "lower"));
    EXPECT_FALSE(HasRarSignature(tree.Path() + "empty"));
    EXPECT_FALSE(HasRarSignature(tree.Path() + "missing"));
    EXPECT_FALSE(HasRarSignature(""));
}

TEST(RarSignature, SpecialFilesAreNeverOpened)
{
    TempTree tree;
    // A FIFO without a writer would block an ordinary open for reading.
    ASSERT_EQ(mkfifo((tree.Path() + "fifo.rar").c_str(), 0600), 0);
    EXPECT_FALSE(HasRarSignature(tree.Path() + "fifo.rar"));
    EXPECT_LT(OpenRegularFileForReading(tree.Path() + "fifo.rar"), 0);
    EXPECT_FALSE(HasRarSignature("/dev/zero"));
    EXPECT_FALSE(HasRarSignature(tree.Path()));
    const int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = tree.Path() + "s";
    if (socketPath.size() < sizeof address.sun_path) {
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
        ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_FALSE(HasRarSignature(socketPath));
    }
    close(s);
}

TEST(RarSignature, UnreadableFileIsNotAnArchive)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    TempTree tree;
    Write(tree.Path() + "locked", "Rar!\x1a\x07\x00");
    chmod((tree.Path() + "locked").c_str(), 0);
    EXPECT_FALSE(HasRarSignature(tree.Path() + "locked"));
}
