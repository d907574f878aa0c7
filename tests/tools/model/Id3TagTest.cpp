// ID3 version 1 tags: genres, parsing, and writing in place without ever
// shortening the audio.
#include "tools/model/Id3Tag.h"

#include "panes/TempTree.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarnel;

namespace {

std::string Content(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void Put(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string TagBlock(const std::string& title, uint8_t genre)
{
    std::string block(128, '\0');
    block.replace(0, 3, "TAG");
    block.replace(3, title.size(), title);
    block[127] = char(genre);
    return block;
}

// Fails the n-th write after writing part of it.
struct FailingIo : Id3FileIo {
    int failAfterBytes = 10;
    int truncations = 0;
    bool failed = false;
    ssize_t Pwrite(int fd, const void* data, size_t size, off_t offset) override
    {
        if (failed)
            return Id3FileIo::Pwrite(fd, data, size, offset);
        failed = true;
        Id3FileIo::Pwrite(fd, data, size_t(failAfterBytes), offset);
        return -ENOSPC;
    }
    int Ftruncate(int fd, off_t size) override
    {
        ++truncations;
        return Id3FileIo::Ftruncate(fd, size);
    }
};

} // namespace

TEST(Id3Tag, GenreNamesAndNumbers)
{
    EXPECT_EQ(Id3GenreNames().size(), 142u);
    EXPECT_EQ(Id3GenreName(0), "Blues");
    EXPECT_EQ(Id3GenreName(67), "Psychadelic");
    EXPECT_EQ(Id3GenreName(118), "Rhytmic Soul");
    EXPECT_EQ(Id3GenreName(141), "Christian Rock");
    EXPECT_EQ(Id3GenreName(142), "");
    EXPECT_EQ(Id3GenreName(-1), "");
    EXPECT_EQ(Id3GenreNumber("hard ROCK"), 79);
    EXPECT_EQ(Id3GenreNumber(""), 255);
    EXPECT_EQ(Id3GenreNumber("Polka "), 255);
}

TEST(Id3Tag, ParseTrimsAndFormatPadsWithBlanks)
{
    std::string block = TagBlock("\x01 Song\0\0", 200);
    block.replace(93, 4, "1999");
    const auto tag = ParseId3Tag(block);
    ASSERT_TRUE(tag);
    EXPECT_EQ(tag->title, "Song");
    EXPECT_EQ(tag->artist, "");
    EXPECT_EQ(tag->year, "1999");
    EXPECT_EQ(tag->genre, 200);
    EXPECT_FALSE(ParseId3Tag(std::string(128, 'x')));
    EXPECT_FALSE(ParseId3Tag("TAG"));

    Id3Tag t;
    t.title = std::string(40, 'T'); // never more than the field's bytes
    t.year = "20245";
    t.genre = 7;
    const auto out = FormatId3Tag(t);
    const std::string s(out.data(), out.size());
    EXPECT_EQ(s.substr(0, 3), "TAG");
    EXPECT_EQ(s.substr(3, 30), std::string(30, 'T'));
    EXPECT_EQ(s.substr(33, 60), std::string(60, ' '));
    EXPECT_EQ(s.substr(93, 4), "2024");
    EXPECT_EQ(s.substr(97, 30), std::string(30, ' '));
    EXPECT_EQ(s[127], 7);
}

TEST(Id3Tag, ControlBytesInsideAFieldSurviveARoundTrip)
{
    std::string block = TagBlock("a\x07\x1b" "b", 1);
    const auto tag = ParseId3Tag(block);
    ASSERT_TRUE(tag);
    EXPECT_EQ(tag->title, "a\x07\x1b" "b");
    const auto again = ParseId3Tag(std::string(FormatId3Tag(*tag).data(), 128));
    EXPECT_EQ(again->title, tag->title);
}

TEST(Id3Tag, TrackNumbersOfVersion11SurviveARoundTrip)
{
    for (const uint8_t track : {uint8_t(1), uint8_t(7), uint8_t(31), uint8_t(65), uint8_t(255)}) {
        std::string block = TagBlock("Song", 3);
        block.replace(97, 5, "notes");
        block[126] = char(track);
        const auto tag = ParseId3Tag(block);
        ASSERT_TRUE(tag);
        EXPECT_EQ(tag->track, track);
        EXPECT_EQ(tag->comment, "notes") << "the track byte is no part of the comment";
        const auto out = FormatId3Tag(*tag);
        EXPECT_EQ(out[125], '\0');
        EXPECT_EQ(uint8_t(out[126]), track);
        EXPECT_EQ(std::string(out.data() + 97, 28), "notes" + std::string(23, ' '));
    }
    // A comment that fills all 30 bytes is no version 1.1 tag.
    std::string block = TagBlock("Song", 3);
    block.replace(97, 30, std::string(29, 'c') + "A");
    EXPECT_EQ(ParseId3Tag(block)->track, 0);
    EXPECT_EQ(ParseId3Tag(block)->comment, std::string(29, 'c') + "A");
    // With a track number a long comment gives way to it.
    Id3Tag t;
    t.comment = std::string(30, 'x');
    t.track = 9;
    const auto out = FormatId3Tag(t);
    EXPECT_EQ(std::string(out.data() + 97, 30), std::string(28, 'x') + '\0' + '\x09');
}

TEST(Id3Tag, ReadAndWriteFilesOfEverySize)
{
    test::TempTree dir;
    Id3Tag tag;
    tag.title = "New";
    tag.genre = 3;
    for (size_t size : {0u, 127u}) {
        const std::string path = dir.Path() + std::to_string(size) + ".mp3";
        Put(path, std::string(size, 'a'));
        EXPECT_FALSE(ReadId3Tag(path));
        EXPECT_EQ(WriteId3Tag(path, tag).status, Id3WriteResult::Status::TooShort);
        EXPECT_EQ(Content(path), std::string(size, 'a')); // left unchanged
    }
    // 128 bytes without a tag: one is appended.
    const std::string plain = dir.Path() + "plain.mp3";
    Put(plain, std::string(128, 'a'));
    EXPECT_TRUE(WriteId3Tag(plain, tag).Ok());
    EXPECT_EQ(Content(plain).size(), 256u);
    EXPECT_EQ(Content(plain).substr(0, 128), std::string(128, 'a'));
    EXPECT_EQ(ReadId3Tag(plain)->title, "New");
    // A file with a tag keeps its size.
    tag.title = "Newer";
    EXPECT_TRUE(WriteId3Tag(plain, tag).Ok());
    EXPECT_EQ(Content(plain).size(), 256u);
    EXPECT_EQ(ReadId3Tag(plain)->title, "Newer");
    // A 128-byte file that is all tag is replaced in place.
    const std::string only = dir.Path() + "only.mp3";
    Put(only, TagBlock("Old", 1));
    EXPECT_TRUE(WriteId3Tag(only, tag).Ok());
    EXPECT_EQ(Content(only).size(), 128u);
    EXPECT_EQ(ReadId3Tag(only)->title, "Newer");
}

TEST(Id3Tag, UnwritableAndOddFilesAreRefusedUntouched)
{
    test::TempTree dir;
    Id3Tag tag;
    const std::string locked = dir.Path() + "locked.mp3";
    Put(locked, std::string(300, 'a'));
    chmod(locked.c_str(), 0444);
    if (geteuid() != 0) {
        EXPECT_EQ(WriteId3Tag(locked, tag).status, Id3WriteResult::Status::OpenFailed);
        EXPECT_EQ(Content(locked), std::string(300, 'a'));
    }
    EXPECT_EQ(WriteId3Tag(dir.Path() + "missing.mp3", tag).status, Id3WriteResult::Status::OpenFailed);

    const std::string fifo = dir.Path() + "pipe.mp3";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_FALSE(ReadId3Tag(fifo)); // returns at once instead of waiting for a writer
    EXPECT_EQ(WriteId3Tag(fifo, tag).status, Id3WriteResult::Status::NotRegular);
    dir.Dir("folder.mp3");
    EXPECT_FALSE(ReadId3Tag(dir.Path() + "folder.mp3"));
}

TEST(Id3Tag, AFailedWriteNeverShortensTheAudio)
{
    test::TempTree dir;
    Id3Tag tag;
    tag.title = "T";
    const std::string audio(1000, 'a');

    const std::string plain = dir.Path() + "plain.mp3";
    Put(plain, audio);
    FailingIo appendFails;
    const Id3WriteResult r = WriteId3Tag(plain, tag, &appendFails);
    EXPECT_EQ(r.status, Id3WriteResult::Status::WriteFailed);
    EXPECT_EQ(r.error, ENOSPC);
    EXPECT_EQ(Content(plain), audio); // the partial tag was cut off again, nothing more

    const std::string tagged = dir.Path() + "tagged.mp3";
    Put(tagged, audio + TagBlock("Old", 2));
    FailingIo replaceFails;
    EXPECT_FALSE(WriteId3Tag(tagged, tag, &replaceFails).Ok());
    EXPECT_EQ(replaceFails.truncations, 0); // a replacement never truncates
    EXPECT_EQ(Content(tagged), audio + TagBlock("Old", 2));
}

TEST(Id3Tag, Latin1KeepsWhatItCanHoldAndMarksTheRest)
{
    EXPECT_EQ(EncodeLatin1(U"Caf\u00e9 \u00ff"), "Caf\xe9 \xff");
    EXPECT_EQ(EncodeLatin1(U"\u20ac5 \U0001F600!"), "?5 ?!"); // one "?" per character
}
