#include "panes/Place.h"

#include <gtest/gtest.h>

namespace tarnel {
namespace {

// Into an archive, down its folders and back out again, the place retraces
// its steps; a second archive inside the first counts one level more.
TEST(PanePlace, StepsInAndOutOfArchivesRetraceThemselves)
{
    const PanePlace home = PanePlace::Directory("/home/u/");
    EXPECT_EQ(home.Child("docs"), PanePlace::Directory("/home/u/docs"));
    EXPECT_EQ(PanePlace::Directory("/home/u").Child("docs"), PanePlace::Directory("/home/u/docs"));

    PanePlace archive = PanePlace::Archive("/home/u/a.zip/");
    const PanePlace deep = archive.Child("x").Child("y");
    EXPECT_EQ(deep.ZipPath, "x/y/");
    EXPECT_EQ(deep.Path, "/home/u/a.zip/") << "folders inside an archive leave its path alone";
    EXPECT_EQ(deep.Text(), "/home/u/a.zip/x/y/");
    EXPECT_EQ(deep.Key(), "/home/u/a.zip/x/y/");
    EXPECT_EQ(deep.Parent().ZipPath, "x/");
    EXPECT_EQ(deep.Parent().Parent(), PanePlace::Archive("/home/u/a.zip"));
    EXPECT_EQ(deep.Parent().Parent().Parent(), PanePlace::Directory("/home/u")) << "out of the archive";
    EXPECT_EQ(archive.ArchiveFile(), "/home/u/a.zip");
    // Each step up knows the row it came from, for the cursor to stand on.
    EXPECT_EQ(deep.NameInParent(), "y");
    EXPECT_EQ(deep.Parent().NameInParent(), "x");
    EXPECT_EQ(archive.NameInParent(), "a.zip");
    EXPECT_EQ(home.NameInParent(), "u");
    EXPECT_EQ(PanePlace::Directory("/").NameInParent(), "");

    PanePlace nested = PanePlace::Archive("/home/u/a.zip/in.zip/", "z/");
    nested.ZipMode = 2;
    EXPECT_EQ(nested.Parent().ZipMode, 2);
    EXPECT_EQ(nested.Parent().Parent().ZipMode, 1) << "an archive in an archive steps out one level";

    EXPECT_EQ(PanePlace::Directory("/").Parent(), PanePlace::Directory("/"));
    EXPECT_EQ(PanePlace::Directory("/tmp").Parent(), PanePlace::Directory("/"));
    EXPECT_FALSE(home.InArchive());
    EXPECT_EQ(home.Text(), "/home/u/");
}

TEST(PanePlace, ByNameAloneAPathIsReadWithoutLookingAtAnyFile)
{
    // None of these exist: the names alone decide.
    PanePlace tar = PanePlace::FromPathByName("/nowhere/a.tar.gz/docs");
    EXPECT_EQ(tar.ArchiveFile(), "/nowhere/a.tar.gz");
    EXPECT_EQ(tar.ZipPath, "docs/");
    EXPECT_STREQ(tar.Source(), kArchiveSourceName);
    EXPECT_STREQ(PanePlace::FromPathByName("/nowhere/b.ZIP").Source(), kZipSourceName);
    EXPECT_EQ(PanePlace::FromPathByName("/nowhere/plain"), PanePlace::Directory("/nowhere/plain"));
    EXPECT_EQ(PanePlace::FromPath("/nowhere/a.tar.gz/docs"), PanePlace::Directory("/nowhere/a.tar.gz/docs"))
        << "looking at the disk finds no such file";
}

TEST(PanePlace, TheHistoryFormMatchesWithOrWithoutTheDelimiter)
{
    EXPECT_EQ(PanePlace::Directory("/a").WithDelimiter(), PanePlace::Directory("/a/").WithDelimiter());
    EXPECT_NE(PanePlace::Directory("/a/"), PanePlace::Archive("/a/"));
    EXPECT_NE(PanePlace::Archive("/a/", "x/"), PanePlace::Archive("/a/", "y/"));
    EXPECT_EQ(PanePlace::Directory("").WithDelimiter().Path, "/");
}

} // namespace
} // namespace tarnel
