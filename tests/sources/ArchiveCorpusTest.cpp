// One small archive of every kind the archive source reads, made here by the
// kind's own tool: each lists its members, gives a member to the viewer and
// copies out byte for byte what bsdtar's own extraction writes.
#include "panes/FileData.h"
#include "panes/TempTree.h"
#include "sources/ArchiveSource.h"
#include "sources/archive/ArchiveExtract.h"
#include "sources/archive/ArchiveTable.h"
#include "viewer/model/RarTestArchives.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace tarnel {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Have(const std::string& tool) { return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0; }

int Shell(const std::string& command) { return std::system(command.c_str()); }

// Relative path -> content of every regular file below dir.
std::map<std::string, std::string> FilesBelow(const std::string& dir)
{
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file() && !e.is_symlink())
            files[fs::relative(e.path(), dir).string()] = Slurp(e.path().string());
    return files;
}

struct Collect : ListSink {
    std::vector<SourceEntry> entries;
    std::vector<std::string> problems;
    void Chunk(std::vector<SourceEntry>&& chunk) override
    {
        for (SourceEntry& e : chunk)
            entries.push_back(std::move(e));
    }
    void Problem(const std::string& text) override { problems.push_back(text); }
};

class ArchiveCorpusTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        tree.Dir("src/docs/deep");
        std::ofstream(tree.Path() + "src/docs/a.txt") << "alpha text\n";
        std::string binary;
        for (int i = 0; i < 70000; ++i)
            binary += char((i * 131) ^ (i >> 7));
        std::ofstream(tree.Path() + "src/docs/deep/b.bin", std::ios::binary) << binary;
        std::ofstream(tree.Path() + "src/top.txt") << "top\n";
    }

    // Lists, views and extracts file, comparing with bsdtar -x of the same.
    void Check(const std::string& file, size_t atLeastFiles = 1)
    {
        SCOPED_TRACE(file);
        const std::string ref = tree.Path() + "ref-" + std::to_string(++made) + "/";
        const std::string ours = tree.Path() + "ours-" + std::to_string(made) + "/";
        fs::create_directories(ref);
        fs::create_directories(ours);
        ASSERT_EQ(Shell("bsdtar -xf '" + file + "' -C '" + ref + "' 2>/dev/null"), 0);
        const std::map<std::string, std::string> expected = FilesBelow(ref);
        ASSERT_GE(expected.size(), atLeastFiles);

        ArchiveSource source;
        PanePlace place = PanePlace::Archive(file);
        place.SourceName = kArchiveSourceName;
        Collect top;
        source.List(place, top, CancelToken());
        EXPECT_TRUE(top.problems.empty()) << top.problems.front();
        EXPECT_GT(top.entries.size(), 1u) << "more than \"..\"";

        // Everything at the top, copied out as the pane's copy does it.
        std::vector<SourceRow> rows;
        for (const SourceEntry& e : top.entries)
            if (e.name != "..")
                rows.push_back({e.name, e.kind == fkDirectory, e.memberIndex});
        struct Quiet : SourceOperationUi {
            std::vector<std::string> said;
            void Inform(const std::string& t) override { said.push_back(t); }
            void Error(const std::string& t) override { said.push_back(t); }
            bool Confirm(const std::string&) override { return true; }
            ReplaceAnswer AskReplace(const std::string&, const FileFacts&, const FileFacts&) override
            {
                return ReplaceAnswer::Cancel;
            }
        } ui;
        auto op = source.OperationFor(FO_COPY, place, PanePlace::Directory(ours), ui, {});
        ASSERT_TRUE(op);
        op->Run(rows);
        EXPECT_TRUE(ui.said.empty()) << ui.said.front();
        EXPECT_EQ(FilesBelow(ours), expected);

        // The viewer's copy of each file.
        const std::string view = tree.Path() + "view-" + std::to_string(made) + "/";
        fs::create_directories(view);
        for (const auto& [path, content] : expected) {
            ASSERT_TRUE(source.ExtractMember(file, path, view)) << path;
            EXPECT_EQ(Slurp(view + fs::path(path).filename().string()), content) << path;
        }
    }

    std::string Bsdtar(const std::string& name, const std::string& flags)
    {
        const std::string file = tree.Path() + name;
        EXPECT_EQ(Shell("cd '" + tree.Path() + "src' && bsdtar " + flags + " -cf '" + file + "' docs top.txt"), 0);
        return file;
    }

    test::TempTree tree;
    int made = 0;
};

TEST_F(ArchiveCorpusTest, TarsCpioXarArAndSingleFilesMadeByBsdtar)
{
    if (!Have("bsdtar"))
        GTEST_SKIP() << "bsdtar is not installed";
    for (const char* flags : {"", "-z", "-j", "-J", "--zstd", "--lz4", "--lzma", "--format ustar",
                              "--format cpio", "--format newc", "--format xar", "--format 7zip"})
        Check(Bsdtar(std::string("t") + std::to_string(made) + ".arc", flags), 3);
    const std::string ar = tree.Path() + "t.ar";
    ASSERT_EQ(Shell("cd '" + tree.Path() + "src/docs' && bsdtar --format ar -cf '" + ar + "' a.txt"), 0);
    Check(ar);
    ASSERT_EQ(Shell("cd '" + tree.Path() + "' && cp src/docs/deep/b.bin b.bin && xz -k b.bin && zstd -q b.bin"), 0);
    for (const char* single : {"b.bin.xz", "b.bin.zst"}) {
        // bsdtar writes a lone compressed file under the name "data".
        SCOPED_TRACE(single);
        ArchiveSource source;
        ASSERT_TRUE(source.ExtractMember(tree.Path() + single, "b.bin", tree.Path() + "src"));
        EXPECT_EQ(Slurp(tree.Path() + "src/b.bin"), Slurp(tree.Path() + "b.bin"));
    }
}

TEST_F(ArchiveCorpusTest, SevenZipFromItsOwnTool)
{
    if (!Have("7zz"))
        GTEST_SKIP() << "7zz is not installed";
    const std::string file = tree.Path() + "t.7z";
    ASSERT_EQ(Shell("cd '" + tree.Path() + "src' && 7zz a -bd -bso0 '" + file + "' docs top.txt"), 0);
    Check(file, 3);

    // Encrypted members are listed and said to be; encrypted names cannot be read at all.
    const std::string locked = tree.Path() + "locked.7z";
    ASSERT_EQ(Shell("cd '" + tree.Path() + "src' && 7zz a -bd -bso0 -psecret '" + locked + "' top.txt"), 0);
    const std::shared_ptr<const ArchiveTable> table = ReadArchiveTable(locked, CancelToken());
    ASSERT_EQ(table->members.size(), 1u);
    EXPECT_TRUE(table->members[0].encrypted);
    EXPECT_NE(table->problem.find("encrypted"), std::string::npos) << table->problem;
    const std::string hidden = tree.Path() + "hidden.7z";
    ASSERT_EQ(Shell("cd '" + tree.Path() + "src' && 7zz a -bd -bso0 -psecret -mhe=on '" + hidden + "' top.txt"), 0);
    EXPECT_FALSE(ReadArchiveTable(hidden, CancelToken())->problem.empty());
}

TEST_F(ArchiveCorpusTest, IsoImagesWithAndWithoutUdf)
{
    if (!Have("genisoimage"))
        GTEST_SKIP() << "genisoimage is not installed";
    for (const char* flags : {"-R -J", "-udf"}) {
        const std::string file = tree.Path() + "t" + std::to_string(made) + ".iso";
        ASSERT_EQ(Shell("genisoimage -quiet " + std::string(flags) + " -o '" + file + "' '" + tree.Path() + "src'"), 0);
        Check(file, 3);
    }
}

TEST_F(ArchiveCorpusTest, DebianAndRpmPackages)
{
    if (!Have("dpkg-deb") || !Have("rpmbuild"))
        GTEST_SKIP() << "dpkg-deb or rpmbuild is not installed";
    const std::string pkg = tree.Path() + "pkg/";
    fs::create_directories(pkg + "DEBIAN");
    fs::create_directories(pkg + "opt/t");
    std::ofstream(pkg + "DEBIAN/control") << "Package: t\nVersion: 1\nArchitecture: all\nMaintainer: T <t@t>\n"
                                             "Description: t\n";
    std::ofstream(pkg + "opt/t/a.txt") << "in the package\n";
    const std::string deb = tree.Path() + "t.deb";
    ASSERT_EQ(Shell("dpkg-deb --root-owner-group -b '" + pkg + "' '" + deb + "' >/dev/null"), 0);
    Check(deb, 3);

    const std::string top = tree.Path() + "rpm/";
    fs::create_directories(top + "recipe");
    std::ofstream(top + "recipe/t.rpmrecipe") << "Name: t\nVersion: 1\nRelease: 1\nSummary: t\nLicense: MIT\n"
                                           "BuildArch: noarch\n%description\nt\n%install\n"
                                           "mkdir -p %{buildroot}/opt/t\necho in the rpm > %{buildroot}/opt/t/a.txt\n"
                                           "%files\n/opt/t/a.txt\n";
    ASSERT_EQ(Shell("rpmbuild --quiet -bb --define '_topdir " + top + "' '" + top + "recipe/t.rpmrecipe' >/dev/null 2>&1"),
              0);
    std::string rpm;
    for (const auto& e : fs::recursive_directory_iterator(top + "RPMS"))
        if (e.path().extension() == ".rpm")
            rpm = e.path().string();
    ASSERT_FALSE(rpm.empty());
    Check(rpm);
}

TEST_F(ArchiveCorpusTest, CabinetFromGcab)
{
    if (!Have("gcab"))
        GTEST_SKIP() << "gcab is not installed";
    const std::string file = tree.Path() + "t.cab";
    ASSERT_EQ(Shell("cd '" + tree.Path() + "src' && gcab -c -z '" + file + "' docs/a.txt docs/deep/b.bin top.txt"), 0);
    Check(file, 3);
}

// A stored (-lh0-) level 0 LHA archive, byte by byte: no LHA writer is at hand.
std::string LhaStored(const std::vector<std::pair<std::string, std::string>>& members)
{
    auto crc16 = [](const std::string& data) {
        uint16_t crc = 0;
        for (const unsigned char c : data) {
            crc ^= c;
            for (int k = 0; k < 8; ++k)
                crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
        }
        return crc;
    };
    auto le = [](std::string& out, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out += char((v >> (8 * i)) & 0xff);
    };
    std::string out;
    for (const auto& [name, data] : members) {
        std::string h = "-lh0-";
        le(h, uint32_t(data.size()), 4);
        le(h, uint32_t(data.size()), 4);
        le(h, (uint32_t(0x5121) << 16) | 0x6000, 4); // 2020-09-01 12:00
        h += char(0x20);                             // attribute
        h += char(0);                                // level
        h += char(name.size());
        h += name;
        le(h, crc16(data), 2);
        uint8_t sum = 0;
        for (const unsigned char c : h)
            sum = uint8_t(sum + c);
        out += char(h.size());
        out += char(sum);
        out += h + data;
    }
    out += '\0';
    return out;
}

TEST_F(ArchiveCorpusTest, LhaAndRarWrittenByHand)
{
    const std::string lha = tree.Path() + "t.lzh";
    std::ofstream(lha, std::ios::binary) << LhaStored({{"a.txt", "alpha text\n"}, {"b.txt", "second\n"}});
    Check(lha, 2);

    const std::string rar4 = tree.Path() + "t4.rar";
    std::ofstream(rar4, std::ios::binary)
        << test::Rar4Builder().Directory("docs").File("docs/a.txt", "alpha text\n").File("top.txt", "top\n").Bytes();
    Check(rar4, 2);
    const std::string rar5 = tree.Path() + "t5.rar";
    test::Rar5Builder().Directory("docs").File("docs/a.txt", "alpha text\n").File("top.txt", "top\n").Write(rar5);
    Check(rar5, 2);
}

} // namespace
} // namespace tarnel
