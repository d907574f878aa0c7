// The ID3 version 1 tag: fields by offset, trimming, and the summary lines.
#include "panes/TempTree.h"
#include "viewer/model/Id3v1Summary.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

using namespace tarnel;
using tarnel::test::TempTree;

namespace {

std::string Tag(const std::string& title, const std::string& artist = "", const std::string& album = "",
                const std::string& year = "", const std::string& comment = "")
{
    std::string tag(128, '\0');
    std::memcpy(tag.data(), "TAG", 3);
    auto put = [&tag](size_t at, const std::string& value, size_t width) {
        tag.replace(at, std::min(value.size(), width), value.substr(0, width));
    };
    put(3, title, 30);
    put(33, artist, 30);
    put(63, album, 30);
    put(93, year, 4);
    put(97, comment, 30);
    tag[127] = char(17);
    return tag;
}

std::string WriteFile(const TempTree& tree, const std::string& name, const std::string& bytes)
{
    std::ofstream(tree.Path() + name, std::ios::binary) << bytes;
    return tree.Path() + name;
}

} // namespace

TEST(Id3v1Summary, OnlyTitleGivesExactlyTheTitleLine)
{
    TempTree tree;
    const std::string path = WriteFile(tree, "a.mp3", std::string(1000, 'x') + Tag("Blue Moon"));
    EXPECT_EQ(ReadId3v1Summary(path), "\nTitle : Blue Moon");
}

TEST(Id3v1Summary, AllFieldsInOrderTrimmedOfBlanksAndZeros)
{
    TempTree tree;
    const std::string path = WriteFile(
        tree, "b.mp3", Tag("  Song  ", "Artist\x01", std::string("Al\0bum", 6), "1999", std::string(30, 'c')));
    Id3v1Fields fields;
    ASSERT_TRUE(ReadId3v1(path, fields));
    EXPECT_EQ(fields.artist, "Artist");
    EXPECT_EQ(fields.genre, 17);
    // A zero inside a field is kept; only the ends are trimmed.
    EXPECT_EQ(fields.album, std::string("Al\0bum", 6));
    EXPECT_EQ(ReadId3v1Summary(path), "\nTitle : Song\nArtist : Artist\nAlbum : " + std::string("Al\0bum", 6) +
                                          "\nYear : 1999\nComment : " + std::string(30, 'c'));
}

TEST(Id3v1Summary, NoTagShortFileOrSpecialFileGivesNothing)
{
    TempTree tree;
    EXPECT_EQ(ReadId3v1Summary(WriteFile(tree, "plain.mp3", std::string(500, 'x'))), "");
    // Exactly 128 bytes is enough; 127 is not.
    EXPECT_EQ(ReadId3v1Summary(WriteFile(tree, "bare.mp3", Tag("T"))), "\nTitle : T");
    EXPECT_EQ(ReadId3v1Summary(WriteFile(tree, "short.mp3", Tag("T").substr(0, 127))), "");
    EXPECT_EQ(ReadId3v1Summary(WriteFile(tree, "blank.mp3", Tag(""))), "");
    EXPECT_EQ(ReadId3v1Summary(tree.Path() + "missing.mp3"), "");
    ASSERT_EQ(mkfifo((tree.Path() + "fifo.mp3").c_str(), 0600), 0);
    EXPECT_EQ(ReadId3v1Summary(tree.Path() + "fifo.mp3"), "");
}
