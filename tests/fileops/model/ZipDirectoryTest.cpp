#include "fileops/model/ZipDirectory.h"
#include "fileops/model/ZipBuilder.h"
#include "panes/TempTree.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>

namespace tarnel {
namespace {

using test::BuiltMember;
using test::ZipBuilder;

std::vector<ZipDirEntry> Read(const std::string& bytes, bool exe = false)
{
    std::vector<ZipDirEntry> contents;
    ReadArchiveDirectoryFrom(bytes, exe, contents);
    return contents;
}

std::string ReadError(const std::string& bytes, std::vector<ZipDirEntry>& contents)
{
    try {
        ReadArchiveDirectoryFrom(bytes, false, contents);
    } catch (const ZipReadError& e) {
        return e.what();
    }
    return {};
}

std::string ThreeMembers()
{
    ZipBuilder b;
    b.Add({"a/b/c.txt", "hello", 0x12345678});
    b.Add({"a/", ""});
    b.Add({"d.txt", std::string(300, 'd')});
    return b.Bytes();
}

TEST(ZipDirectoryTest, ReadsLocalHeadersInFileOrderAndStopsAtTheCentralDirectory)
{
    const auto contents = Read(ThreeMembers());
    ASSERT_EQ(contents.size(), 3u);
    EXPECT_EQ(contents[0].FileName, "a/b/c.txt");
    EXPECT_EQ(contents[0].UncompressedSize, 5u);
    EXPECT_EQ(contents[0].DateTime, 0x12345678u);
    EXPECT_EQ(contents[0].CRC32, ZipBuilder::Crc("hello"));
    EXPECT_TRUE(contents[1].IsDirectory());
    EXPECT_EQ(contents[2].UncompressedSize, 300u);
}

// A streaming writer leaves the sizes out of the local header: without the
// central directory the reader skipped nothing and lost members or sizes.
TEST(ZipDirectoryTest, StreamedAndZip64MembersGetTheirTrueSizesAndAllMembersList)
{
    ZipBuilder b;
    std::string looksLikeHeaders;
    while (looksLikeHeaders.size() < 1000)
        looksLikeHeaders += "PK\3\4";
    b.Add({"first.bin", looksLikeHeaders.substr(0, 1000), 0, true});
    b.Add({"plain.txt", "abc"});
    BuiltMember big{"zip64.bin", std::string(70000, 'z')};
    big.zip64 = true;
    b.Add(big);
    b.Add({"last.txt", "PK\3\4 inside data", 0, true});
    const auto contents = Read(b.Bytes());
    ASSERT_EQ(contents.size(), 4u);
    EXPECT_EQ(contents[0].UncompressedSize, 1000u);
    EXPECT_EQ(contents[0].CompressedSize, 1000u);
    EXPECT_EQ(contents[1].FileName, "plain.txt");
    EXPECT_EQ(contents[2].UncompressedSize, 70000u);
    EXPECT_EQ(contents[3].FileName, "last.txt");
    EXPECT_EQ(contents[3].UncompressedSize, 16u);
}

// Zip64 sizes stand in the local header's own extra field: an archive whose
// central directory is lost (a cut download) still lists its members.
TEST(ZipDirectoryTest, Zip64SizesComeFromTheLocalHeaderFirst)
{
    ZipBuilder b;
    BuiltMember first{"one.bin", std::string(300, '1')};
    first.zip64 = true;
    BuiltMember second{"two.bin", "22"};
    second.zip64 = true;
    b.Add(first);
    b.Add(second);
    std::string bytes = b.Bytes();
    bytes.erase(bytes.find("PK\1\2"));
    bytes += "PK\5\6" + std::string(18, '\0');
    const auto contents = Read(bytes);
    ASSERT_EQ(contents.size(), 2u);
    EXPECT_EQ(contents[0].UncompressedSize, 300u);
    EXPECT_EQ(contents[0].CompressedSize, 300u);
    EXPECT_EQ(contents[1].FileName, "two.bin");
    EXPECT_EQ(contents[1].UncompressedSize, 2u);

    // Only the compressed size overflowed: the local field still holds both
    // sizes, the original first (here it claims 999 bytes unpacked).
    ZipBuilder one;
    one.Add(first);
    one.Add({"next.txt", "n"});
    std::string patched = one.Bytes();
    patched.erase(patched.find("PK\1\2"));
    patched += "PK\5\6" + std::string(18, '\0');
    patched.replace(22, 4, "\xE7\x03\0\0", 4);                          // unpacked: 999, in 32 bits
    patched.replace(30 + 7 + 4, 8, "\xE7\x03\0\0\0\0\0\0", 8);          // and first in the field
    const auto local = Read(patched);
    ASSERT_EQ(local.size(), 2u);
    EXPECT_EQ(local[0].UncompressedSize, 999u);
    EXPECT_EQ(local[0].CompressedSize, 300u);
    EXPECT_EQ(local[1].FileName, "next.txt");
}

TEST(ZipDirectoryTest, SearchBudgetAndSelfExtractorStart)
{
    ZipBuilder b;
    b.Add({"x.txt", "x"});
    b.prefix = std::string(59000, 'P'); // P never followed by K: every byte is tested
    EXPECT_EQ(Read(b.Bytes()).size(), 1u);
    b.prefix = std::string(60001, '.');
    EXPECT_TRUE(Read(b.Bytes()).empty()) << "no header within 60000 tested bytes: empty, no error";

    // A self-extractor: headers before byte 14000 are code, not archive.
    ZipBuilder early;
    early.Add({"code.txt", "c"});
    std::string exe = early.Bytes();
    exe.resize(14500, '\0');
    ZipBuilder sfx;
    sfx.Add({"inside.txt", "i"});
    exe += sfx.Bytes();
    const auto asExe = Read(exe, true);
    ASSERT_EQ(asExe.size(), 1u);
    EXPECT_EQ(asExe[0].FileName, "inside.txt");
    // Read from its start, the code's own little archive is not the one
    // the central directory at the end describes.
    std::vector<ZipDirEntry> fromStart;
    EXPECT_NE(ReadError(exe, fromStart).find("Damaged archive: 1 member(s)"), std::string::npos);
    EXPECT_TRUE(fromStart.empty());
}

TEST(ZipDirectoryTest, PartialSignatureByteIsNotRetestedAsNewStart)
{
    ZipBuilder b;
    b.Add({"x.txt", "x"});
    const std::string archive = b.Bytes();
    EXPECT_TRUE(Read("P" + archive).empty());   // P P K 3 4: the second P breaks the match
    EXPECT_EQ(Read("PQ" + archive).size(), 1u);  // the byte after the break is tested
}

TEST(ZipDirectoryTest, DamagedArchivesKeepTheEntriesReadBeforeTheError)
{
    const std::string whole = ThreeMembers();
    ZipBuilder liar;
    liar.Add({"ok.txt", "fine"});
    BuiltMember lie{"lie.bin", "tiny"};
    lie.statedSize = 1'000'000; // more than the file holds
    liar.Add(lie);
    std::vector<ZipDirEntry> contents;
    EXPECT_EQ(ReadError(liar.Bytes(), contents), "Error 3 reading Zip file");
    ASSERT_EQ(contents.size(), 1u);
    EXPECT_EQ(contents[0].FileName, "ok.txt");

    // Cut inside the second member's name (its 26 header bytes are there).
    const size_t second = whole.find("PK\3\4", 4);
    contents.clear();
    EXPECT_EQ(ReadError(whole.substr(0, second + 31), contents), "Error 2 reading Zip file");
    EXPECT_EQ(contents.size(), 1u);

    // No signature follows the first member, only padding: read four bytes
    // at a time until fewer than four are left.
    contents.clear();
    EXPECT_EQ(ReadError(whole.substr(0, second) + std::string(22, '\0'), contents), "Error reading Zip File");
    EXPECT_EQ(contents.size(), 1u);

    // The only header claims too much: no entries, back to searching, no error.
    ZipBuilder only;
    BuiltMember alone{"a.bin", "a"};
    alone.statedSize = 5000;
    only.Add(alone);
    contents.clear();
    EXPECT_EQ(ReadError(only.Bytes(), contents), "");
    EXPECT_TRUE(contents.empty());
}

// A Zip64 compressed size close to 2^64 made the end of the member wrap
// round to its own header: the reader went back there for ever, appending
// the same entry until memory ran out.
TEST(ZipDirectoryTest, ASizeThatWrapsRoundEndsTheListing)
{
    ZipBuilder b;
    b.Add({"ok.txt", "fine"});
    BuiltMember big{"wrap.bin", "x"};
    big.zip64 = true;
    b.Add(big);
    std::string bytes = b.Bytes();
    const size_t header = bytes.find("PK\3\4", 4);
    const uint64_t afterExtra = header + 30 + big.name.size() + 20;
    std::string wrapping; // header position minus afterExtra, modulo 2^64
    ZipBuilder::Put64(wrapping, uint64_t(header) - afterExtra);
    // The size in the Zip64 fields of the local header and of the central
    // directory, each after the uncompressed size.
    bytes.replace(header + 30 + big.name.size() + 4 + 8, 8, wrapping);
    const size_t central = bytes.find("PK\1\2");
    const size_t secondCentral = bytes.find("PK\1\2", central + 4);
    bytes.replace(secondCentral + 46 + big.name.size() + 4 + 8, 8, wrapping);

    std::vector<ZipDirEntry> contents;
    EXPECT_EQ(ReadError(bytes, contents), "Error 3 reading Zip file");
    ASSERT_EQ(contents.size(), 1u);
    EXPECT_EQ(contents[0].FileName, "ok.txt");

    // Alone, the member is no entry, and the search goes on past it.
    ZipBuilder alone;
    alone.Add(big);
    std::string only = alone.Bytes();
    std::string wrapsToZero;
    ZipBuilder::Put64(wrapsToZero, 0 - uint64_t(30 + big.name.size() + 20));
    only.replace(30 + big.name.size() + 4 + 8, 8, wrapsToZero);
    only.replace(only.find("PK\1\2") + 46 + big.name.size() + 4 + 8, 8, wrapsToZero);
    contents.clear();
    EXPECT_EQ(ReadError(only, contents), "");
    EXPECT_TRUE(contents.empty());
}

TEST(ZipDirectoryTest, OddInputListsCleanly)
{
    EXPECT_TRUE(Read("").empty());
    EXPECT_TRUE(Read("PK\5\6" + std::string(18, '\0')).empty()); // the empty archive
    EXPECT_TRUE(Read(std::string(5000, '\xff')).empty());
    ZipBuilder b;
    b.Add({"dup.txt", "1"});
    b.Add({"dup.txt", "22"});
    b.Add({"back\\slash.txt", "b"});
    b.Add({"bad\xff\xfe.txt", "u"});
    const auto contents = Read(b.Bytes());
    ASSERT_EQ(contents.size(), 4u);
    EXPECT_EQ(contents[1].UncompressedSize, 2u);
    EXPECT_EQ(contents[2].FileName, "back\\slash.txt");
    EXPECT_EQ(contents[3].FileName, "bad\xff\xfe.txt");
}

// A Zip64 end record whose directory offset is near 2^64 (found by fuzzing):
// working out the self-extractor shift overflowed. Now the directory is
// ignored and the reader goes on with the local headers (the sanitizers of
// the test build stop at any overflow).
TEST(ZipDirectoryTest, AZip64RecordWithAnAbsurdOffsetIsIgnored)
{
    const std::string bytes(
        "\x50\x4b\x03\x04\x2d\x00\x8a\x00\x00\x00\xf5\x43\x89\x5d\x20\x30\x3a\x36\xff\xff\xff\xff\xff\xff\xff\xff\x01\x00\x14\x00\x2d\x01\x00\x10\x00\x06\x00\x00\x00\x00\x00\x00\x00\x06\x00\x00\x00\x00\x00\x00\x68\x6c\x00\x6c\x65\x6f\x0a\x50\x4b\x01\x02\x1e\x03\x2d"
        "\x00\x00\x00\x00\x00\xf5\x43\x89\x5d\x20\x30\x3a\x36\x06\x00\x00\x00\x06\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x80\x11\x00\x00\x00\x00\x2d\x50\x4b\x06\x06\x2c\x00\x00\x00\x00\x00\x00\x00\x1e\x03\x2d\x00\x00\x00\x00\x00\x00\x00\x00\x00"
        "\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x2f\x00\x00\x00\x00\x00\x00\x00\x39\x00\x00\x00\x00\x00\x00\x80\x50\x4b\x06\x07\x00\x00\x00\x00\x68\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x50\x4b\x05\x06\x30\x00\x00\x00\x00\x01\x00\x01"
        "\x00\x2f\xc2\x00\x07\x05\x4b\x50\x00\x00",
        202);
    std::vector<ZipDirEntry> contents;
    ReadError(bytes, contents);
    for (const ZipDirEntry& entry : contents)
        EXPECT_LE(entry.FileName.size(), bytes.size());
}

TEST(ZipDirectoryTest, FilesOnDisk)
{
    test::TempTree tree;
    std::vector<ZipDirEntry> contents{ZipDirEntry{}};
    ReadArchiveDirectory(tree.Path() + "missing.zip", contents);
    EXPECT_EQ(contents.size(), 1u) << "appends nothing for a missing file";

    // A member of more than 4 GiB: a sparse file, its data a hole.
    const std::string path = tree.Path() + "big.zip";
    const uint64_t size = (uint64_t(1) << 32) + 4096;
    std::string head, tail;
    ZipBuilder::Put32(head, 0x04034B50);
    ZipBuilder::Put16(head, 45), ZipBuilder::Put16(head, 0), ZipBuilder::Put16(head, 0);
    ZipBuilder::Put32(head, 0), ZipBuilder::Put32(head, 0);
    ZipBuilder::Put32(head, 0xFFFFFFFF), ZipBuilder::Put32(head, 0xFFFFFFFF);
    ZipBuilder::Put16(head, 7), ZipBuilder::Put16(head, 20);
    head += "big.bin";
    ZipBuilder::Put16(head, 1), ZipBuilder::Put16(head, 16), ZipBuilder::Put64(head, size), ZipBuilder::Put64(head, size);
    const uint64_t cdOffset = head.size() + size;
    ZipBuilder::Put32(tail, 0x02014B50);
    ZipBuilder::Put16(tail, 45), ZipBuilder::Put16(tail, 45), ZipBuilder::Put16(tail, 0), ZipBuilder::Put16(tail, 0);
    ZipBuilder::Put32(tail, 0), ZipBuilder::Put32(tail, 0);
    ZipBuilder::Put32(tail, 0xFFFFFFFF), ZipBuilder::Put32(tail, 0xFFFFFFFF);
    ZipBuilder::Put16(tail, 7), ZipBuilder::Put16(tail, 20);
    ZipBuilder::Put16(tail, 0), ZipBuilder::Put16(tail, 0), ZipBuilder::Put16(tail, 0);
    ZipBuilder::Put32(tail, 0), ZipBuilder::Put32(tail, 0);
    tail += "big.bin";
    ZipBuilder::Put16(tail, 1), ZipBuilder::Put16(tail, 16), ZipBuilder::Put64(tail, size), ZipBuilder::Put64(tail, size);
    const uint64_t cdSize = tail.size();
    const uint64_t zip64End = cdOffset + cdSize;
    ZipBuilder::Put32(tail, 0x06064B50), ZipBuilder::Put64(tail, 44);
    ZipBuilder::Put16(tail, 45), ZipBuilder::Put16(tail, 45), ZipBuilder::Put32(tail, 0), ZipBuilder::Put32(tail, 0);
    ZipBuilder::Put64(tail, 1), ZipBuilder::Put64(tail, 1), ZipBuilder::Put64(tail, cdSize), ZipBuilder::Put64(tail, cdOffset);
    ZipBuilder::Put32(tail, 0x07064B50), ZipBuilder::Put32(tail, 0), ZipBuilder::Put64(tail, zip64End), ZipBuilder::Put32(tail, 1);
    ZipBuilder::Put32(tail, 0x06054B50), ZipBuilder::Put32(tail, 0);
    ZipBuilder::Put16(tail, 0xFFFF), ZipBuilder::Put16(tail, 0xFFFF);
    ZipBuilder::Put32(tail, 0xFFFFFFFF), ZipBuilder::Put32(tail, 0xFFFFFFFF), ZipBuilder::Put16(tail, 0);
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, head.data(), head.size(), 0), ssize_t(head.size()));
    ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), off_t(cdOffset)), ssize_t(tail.size()));
    ::close(fd);
    contents.clear();
    ReadArchiveDirectory(path, contents);
    ASSERT_EQ(contents.size(), 1u);
    EXPECT_EQ(contents[0].UncompressedSize, size);

    // A real streaming writer: zip writing to a pipe.
    if (std::system("command -v zip >/dev/null") == 0) {
        tree.File("s1.txt", 5000);
        tree.File("s2.txt", 7);
        const std::string cmd = "cd " + tree.Path() + " && zip -q - s1.txt s2.txt | cat > streamed.zip";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        contents.clear();
        ReadArchiveDirectory(tree.Path() + "streamed.zip", contents);
        ASSERT_EQ(contents.size(), 2u);
        EXPECT_TRUE(contents[0].Flag & 8);
        EXPECT_EQ(contents[0].UncompressedSize, 5000u);
        EXPECT_EQ(contents[1].UncompressedSize, 7u);
    }
}

// The libraries act on the central directory's records: a local header that
// names something else is damage, never a row that could name a member.
TEST(ZipDirectoryTest, LocalHeadersMustAgreeWithTheCentralDirectory)
{
    ZipBuilder b;
    b.Add({"a.txt", "a"});
    BuiltMember star{"*", "x"};
    star.centralName = std::string("*\0", 2);
    b.Add(star);
    BuiltMember longer{std::string("a\0evil.txt", 10), "e"};
    longer.centralName = "a";
    b.Add(longer);
    b.Add({std::string("n\0ul", 4), "n"});
    b.Add({"c.txt", "c"});
    std::vector<ZipDirEntry> contents;
    EXPECT_EQ(ReadError(b.Bytes(), contents),
              "Damaged archive: 2 member(s) whose local header does not agree with the central directory are not "
              "listed");
    ASSERT_EQ(contents.size(), 3u);
    EXPECT_EQ(contents[0].FileName, "a.txt");
    EXPECT_EQ(contents[0].CentralIndex, 0);
    EXPECT_EQ(contents[1].FileName, std::string("n\0ul", 4)) << "a NUL is kept where both headers hold it";
    EXPECT_EQ(contents[1].CentralIndex, 3);
    EXPECT_EQ(contents[2].CentralIndex, 4);

    // A self-extractor's prefix, its offsets adjusted or not, shifts nothing.
    for (const bool adjusted : {false, true}) {
        ZipBuilder sfx;
        sfx.prefix = std::string(500, 'M');
        sfx.adjusted = adjusted;
        sfx.Add({"x", "1"});
        sfx.Add({"y", "2"});
        const std::vector<ZipDirEntry> listed = Read(sfx.Bytes());
        ASSERT_EQ(listed.size(), 2u);
        EXPECT_EQ(listed[1].CentralIndex, 1);
    }
}

} // namespace
} // namespace tarnel
