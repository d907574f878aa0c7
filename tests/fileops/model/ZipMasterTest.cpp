// The driver together with the two real libraries, on real archives.
#include "fileops/model/ZipMaster.h"
#include "fileops/model/ZipBuilder.h"
#include "panes/TempTree.h"
#include "platform/zipdll/ZipDllApi.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <future>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {
namespace {

namespace fs = std::filesystem;
using test::BuiltMember;
using test::TempTree;
using test::ZipBuilder;

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void Spit(const std::string& path, const std::string& bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

bool UnzipAccepts(const std::string& archive)
{
    return std::system(("unzip -tqq '" + archive + "' >/dev/null 2>&1").c_str()) == 0;
}

// The member names as zipinfo reads them from the written archive, sorted.
std::vector<std::string> ZipinfoNames(const std::string& archive)
{
    std::vector<std::string> names;
    FILE* pipe = ::popen(("zipinfo -1 '" + archive + "' 2>/dev/null").c_str(), "r");
    if (!pipe)
        return names;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe)) {
        std::string name(line);
        while (!name.empty() && (name.back() == '\n' || name.back() == '\r'))
            name.pop_back();
        names.push_back(name);
    }
    ::pclose(pipe);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> Names(const TZipMaster& zip)
{
    std::vector<std::string> names;
    for (const ZipDirEntry& e : zip.ZipContents())
        names.push_back(e.FileName);
    std::sort(names.begin(), names.end());
    return names;
}

// The names of everything below dir, relative to it, sorted.
std::vector<std::string> Tree(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        names.push_back(e.path().lexically_relative(dir).string() + (e.is_directory() && !e.is_symlink() ? "/" : ""));
    std::sort(names.begin(), names.end());
    return names;
}

bool Contains(const std::vector<std::string>& texts, const std::string& part)
{
    return std::any_of(texts.begin(), texts.end(), [&](const std::string& t) { return t.find(part) != std::string::npos; });
}

class ZipMasterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        zip.OwnLibraryDirectory = TARNEL_ZIP_LIBRARY_DIR;
        zip.ShowMessage = [this](const std::string& text) { boxes.push_back(text); };
        zip.OnMessage = [this](int code, const std::string& text) { messages.push_back(std::to_string(code) + ":" + text); };
        tree.Dir("src");
        tree.Dir("out");
    }

    // Adds selectors, named relative to src/, to archive.
    void AddFromSource(const std::string& archive, std::vector<std::string> selectors, AddOpts options)
    {
        const std::string cwd = fs::current_path();
        fs::current_path(tree.Path() + "src");
        zip.SetZipFilename(archive);
        zip.AddOptions = options;
        zip.FSpecArgs = std::move(selectors);
        zip.AddFiles();
        fs::current_path(cwd);
    }

    void Extract(const std::string& archive, std::vector<std::string> selectors, ExtrOpts options)
    {
        zip.SetZipFilename(archive);
        zip.ExtrOptions = options;
        zip.ExtrBaseDir = tree.Path() + "out";
        zip.FSpecArgs = std::move(selectors);
        zip.ExtractFiles();
    }

    std::string Src(const std::string& name) const { return tree.Path() + "src/" + name; }
    std::string Out(const std::string& name) const { return tree.Path() + "out/" + name; }

    TempTree tree;
    TZipMaster zip;
    std::vector<std::string> boxes, messages;
};

TEST_F(ZipMasterTest, ChecksRefuseBeforeAnyLibraryIsLoaded)
{
    zip.OwnLibraryDirectory = tree.Path(); // holds no library: a load would report "not found"
    zip.AddFiles();
    zip.SetZipFilename(tree.Path() + "a.zip");
    zip.AddFiles();
    zip.DeleteFiles();
    zip.FSpecArgs = {"x"};
    zip.DeleteFiles();
    zip.FSpecArgs = {"x"};
    zip.ExtractFiles();
    zip.SetZipFilename("");
    zip.FSpecArgs = {"x"};
    zip.AddFiles();
    EXPECT_EQ(boxes, (std::vector<std::string>{"Error - no files to zip", "Error - no files to zip",
                                               "Error - no files selected for deletion", "Error - no zip file specified",
                                               "Error - no zip file specified", "Error - no zip file specified"}));
    EXPECT_EQ(zip.SuccessCount(), 0);
}

TEST_F(ZipMasterTest, MissingLibrariesAndEntryPointsNameTheLinuxFiles)
{
    Spit(tree.Path() + "a.zip", ZipBuilder().Bytes());
    zip.OwnLibraryDirectory = tree.Path() + "none";
    zip.SetZipFilename(tree.Path() + "a.zip");
    boxes.clear();
    // Files of those names that do not load; DLLDirectory is the second
    // place looked in.
    tree.Dir("fake");
    Spit(tree.Path() + "fake/libzipdll.so", "not a library");
    Spit(tree.Path() + "fake/libunzdll.so", "not a library");
    zip.DLLDirectory = tree.Path() + "fake";
    zip.FSpecArgs = {"x"};
    zip.AddFiles();
    zip.FSpecArgs = {"x"};
    zip.ExtractFiles();
    EXPECT_EQ(boxes, (std::vector<std::string>{"libzipdll.so not found", "libunzdll.so not found"}));
    EXPECT_TRUE(zip.FSpecArgs.empty());

    // Libraries of those names without the entry points.
    boxes.clear();
    fs::remove_all(tree.Path() + "fake");
    tree.Dir("fake");
    const std::string built = TARNEL_ZIP_LIBRARY_DIR;
    fs::copy_file(built + "/libunzdll.so", tree.Path() + "fake/libzipdll.so");
    fs::copy_file(built + "/libzipdll.so", tree.Path() + "fake/libunzdll.so");
    zip.DLLDirectory = tree.Path() + "fake";
    zip.FSpecArgs = {"x"};
    zip.AddFiles();
    zip.FSpecArgs = {"x"};
    zip.ExtractFiles();
    EXPECT_EQ(boxes, (std::vector<std::string>{"ZipDllExec function not found in libzipdll.so",
                                               "GetZipDllVersion function not found in libzipdll.so",
                                               "UnzDllExec function not found in libunzdll.so",
                                               "GetUnzDllVersion function not found in libunzdll.so"}));
    EXPECT_EQ(zip.SuccessCount(), 0);
}

// The base folder may go between the checks and the call (here while the
// trace message is shown): the members then go nowhere, with a message,
// rather than into the program's current directory.
TEST_F(ZipMasterTest, ABaseFolderGoneAtTheCallIsReported)
{
    ZipBuilder b;
    b.Add({"f.txt", "f"});
    const std::string archive = tree.Path() + "a.zip";
    Spit(archive, b.Bytes());
    tree.Dir("cwd");
    const std::string cwd = fs::current_path();
    fs::current_path(tree.Path() + "cwd");
    zip.Trace = true;
    zip.ShowMessage = [this](const std::string& text) {
        boxes.push_back(text);
        fs::remove_all(Out(""));
    };
    Extract(archive, {"f.txt"}, {ExtrOpt::ExtrDirNames});
    fs::current_path(cwd);
    EXPECT_EQ(zip.SuccessCount(), 0);
    EXPECT_TRUE(fs::is_empty(tree.Path() + "cwd"));
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], "UNZ DLL Loaded");
    EXPECT_EQ(boxes[1], "Error - cannot enter the folder " + tree.Path() + "out: No such file or directory");
}

TEST_F(ZipMasterTest, OversizedRequestsAreRefusedWithAMessage)
{
    const std::string archive = tree.Path() + "a.zip";
    Spit(archive, ZipBuilder().Bytes());
    zip.SetZipFilename(archive);
    zip.FSpecArgs = {std::string(256, 'n')};
    zip.ExtractFiles();
    zip.FSpecArgs.assign(4098, "x");
    zip.DeleteFiles();
    zip.Password = std::string(81, 'p');
    zip.FSpecArgs = {"x"};
    zip.ExtractFiles();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_NE(boxes[0].find("255"), std::string::npos);
    EXPECT_NE(boxes[1].find("4097"), std::string::npos);
    EXPECT_NE(boxes[2].find("80"), std::string::npos);
    EXPECT_TRUE(zip.FSpecArgs.empty());

    // The largest request that fits goes through.
    zip.Password.clear();
    boxes.clear();
    zip.FSpecArgs.assign(4097, std::string(255, 'n'));
    zip.ExtractFiles();
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ZipMasterTest, AddsWithFolderNamesAndExtractsThemBack)
{
    Spit(Src("a/b/c.txt"), "hello");
    Spit(Src("a/.hidden"), "h");
    Spit(Src("d.txt"), std::string(10000, 'd'));
    Spit(Src("e.log"), "log");
    const std::string archive = tree.Path() + "new.zip";
    AddFromSource(archive, {"a/*.*", "*.txt"}, {AddOpt::AddDirNames, AddOpt::AddRecurseDirs});
    EXPECT_EQ(zip.SuccessCount(), 2);
    EXPECT_EQ(Names(zip), (std::vector<std::string>{"a/", "a/b/", "a/b/c.txt", "d.txt"}))
        << "hidden files stay out unless asked for; the table is read again after adding";
    EXPECT_TRUE(UnzipAccepts(archive));
    EXPECT_EQ(std::system(("zipinfo -1 '" + archive + "' | grep -qx 'a/b/c.txt'").c_str()), 0);
    EXPECT_TRUE(Contains(messages, "adding: d.txt"));

    AddFromSource(archive, {"a"}, {AddOpt::AddDirNames, AddOpt::AddRecurseDirs, AddOpt::AddHiddenFiles});
    EXPECT_EQ(zip.SuccessCount(), 2) << "c.txt again and .hidden";
    EXPECT_EQ(Names(zip), (std::vector<std::string>{"a/", "a/.hidden", "a/b/", "a/b/c.txt", "d.txt"}));

    Extract(archive, {"a/b/c.txt", "D.TXT"}, {ExtrOpt::ExtrDirNames});
    EXPECT_EQ(zip.SuccessCount(), 2);
    EXPECT_EQ(Slurp(Out("a/b/c.txt")), "hello");
    EXPECT_EQ(Slurp(Out("d.txt")), std::string(10000, 'd'));
    EXPECT_TRUE(zip.FSpecArgs.empty());

    // Without folder names every member lands in the base folder; no
    // temporary is left behind.
    fs::remove_all(Out(""));
    fs::create_directory(Out(""));
    Extract(archive, {"a/*.*"}, {});
    EXPECT_EQ(Tree(Out("")), (std::vector<std::string>{".hidden", "c.txt"}));
}

TEST_F(ZipMasterTest, AddingWithoutFolderNamesOrRecursion)
{
    Spit(Src("a/b/c.txt"), "c");
    Spit(Src("a/x.txt"), "x");
    const std::string archive = tree.Path() + "flat.zip";
    AddFromSource(archive, {"a/b/c.txt", "a"}, {});
    EXPECT_EQ(Names(zip), (std::vector<std::string>{"c.txt"})) << "a folder is not entered without recursion";
    AddFromSource(archive, {"a"}, {AddOpt::AddRecurseDirs});
    EXPECT_EQ(Names(zip), (std::vector<std::string>{"c.txt", "x.txt"}));
    EXPECT_TRUE(UnzipAccepts(archive));
}

TEST_F(ZipMasterTest, OverwriteUpdateAndFreshenOnExtraction)
{
    Spit(Src("f.txt"), "archived");
    Spit(Src("g.txt"), "g");
    const std::string archive = tree.Path() + "a.zip";
    AddFromSource(archive, {"*.txt"}, {});
    Spit(Out("f.txt"), "on disk");

    Extract(archive, {"f.txt"}, {});
    EXPECT_EQ(Slurp(Out("f.txt")), "on disk") << "kept without ExtrOverWrite";
    EXPECT_EQ(zip.SuccessCount(), 0);

    // The file on disk is not older than the member: update and freshen keep
    // it; only update makes files that are missing.
    Extract(archive, {"*"}, {ExtrOpt::ExtrFreshen, ExtrOpt::ExtrOverWrite});
    EXPECT_EQ(Tree(Out("")), (std::vector<std::string>{"f.txt"}));
    Extract(archive, {"*"}, {ExtrOpt::ExtrUpdate, ExtrOpt::ExtrOverWrite});
    EXPECT_EQ(zip.SuccessCount(), 1);
    EXPECT_EQ(Slurp(Out("f.txt")), "on disk");
    EXPECT_EQ(Slurp(Out("g.txt")), "g");

    Extract(archive, {"f.txt"}, {ExtrOpt::ExtrOverWrite});
    EXPECT_EQ(Slurp(Out("f.txt")), "archived");
    EXPECT_EQ(zip.SuccessCount(), 1);

    Extract(archive, {"*"}, {ExtrOpt::ExtrTest});
    EXPECT_EQ(zip.SuccessCount(), 2);
}

TEST_F(ZipMasterTest, DeletesMembersByWildcardAndTheLastOneLeavesAnEmptyArchive)
{
    Spit(Src("a/1.txt"), "1");
    Spit(Src("a/2.log"), "2");
    Spit(Src("b.txt"), "b");
    const std::string archive = tree.Path() + "d.zip";
    AddFromSource(archive, {"a", "b.txt"}, {AddOpt::AddDirNames, AddOpt::AddRecurseDirs});
    ASSERT_EQ(Names(zip).size(), 4u);

    zip.FSpecArgs = {"a/*.LOG"};
    zip.DeleteFiles();
    EXPECT_EQ(zip.SuccessCount(), 1);
    EXPECT_EQ(Names(zip), (std::vector<std::string>{"a/", "a/1.txt", "b.txt"}));
    EXPECT_TRUE(UnzipAccepts(archive));

    zip.FSpecArgs = {"nothing"};
    zip.DeleteFiles();
    EXPECT_EQ(zip.SuccessCount(), 0);

    zip.FSpecArgs = {"a/*.*", "b.txt"};
    zip.DeleteFiles();
    EXPECT_EQ(zip.SuccessCount(), 3);
    EXPECT_TRUE(Names(zip).empty());
    EXPECT_EQ(fs::file_size(archive), 22u) << "an archive with no members, not a missing file";
    for (const auto& e : fs::directory_iterator(tree.Path()))
        EXPECT_EQ(e.path().filename().string().find(".tarnel-"), std::string::npos) << "temporary left: " << e.path();
}

// Linux names may hold "*" and "?" and differ only in case: the exact name
// of a member selects it alone.
TEST_F(ZipMasterTest, AnExactMemberNameIsNoPattern)
{
    ZipBuilder b;
    for (const char* name : {"a*.txt", "ab.txt", "README", "readme", "x/a*.txt"})
        b.Add({name, name});
    const std::string archive = tree.Path() + "names.zip";
    Spit(archive, b.Bytes());
    Extract(archive, {"a*.txt", "readme"}, {ExtrOpt::ExtrDirNames});
    EXPECT_EQ(Tree(Out("")), (std::vector<std::string>{"a*.txt", "readme"}));
    zip.FSpecArgs = {"a*.txt", "readme"};
    zip.DeleteFiles();
    EXPECT_EQ(Names(zip), (std::vector<std::string>{"README", "ab.txt", "x/a*.txt"}));
    zip.FSpecArgs = {"AB.TXT", "x/*"};
    zip.DeleteFiles();
    EXPECT_EQ(Names(zip), (std::vector<std::string>{"README"})) << "other names still match without regard to case";

    Spit(Src("q?.txt"), "q");
    Spit(Src("q1.txt"), "1");
    AddFromSource(archive, {"q?.txt"}, {});
    EXPECT_EQ(Names(zip), (std::vector<std::string>{"README", "q?.txt"}));
}

// A member may try to leave the folder it is extracted to, by its name or as
// a link; the links a folder already holds are not followed either.
TEST_F(ZipMasterTest, ExtractionNeverWritesOutsideTheBaseFolder)
{
    ZipBuilder b;
    b.Add({"../up.txt", "x"});
    b.Add({"/abs.txt", "x"});
    b.Add({"in/../../up2.txt", "x"});
    b.Add({"link", tree.Path(), 0x5A215C00, false, false, 0120777});
    b.Add({"link/through.txt", "x"});
    b.Add({"planted/through.txt", "x"});
    b.Add({"ok/fine.txt", "fine"});
    const std::string archive = tree.Path() + "evil.zip";
    Spit(archive, b.Bytes());
    tree.Dir("elsewhere");
    fs::create_directory_symlink(tree.Path() + "elsewhere", Out("planted"));

    Extract(archive, {"*"}, {ExtrOpt::ExtrDirNames, ExtrOpt::ExtrOverWrite});
    EXPECT_EQ(zip.SuccessCount(), 2);
    EXPECT_EQ(Slurp(Out("ok/fine.txt")), "fine");
    EXPECT_EQ(Tree(Out("")), (std::vector<std::string>{"link/", "link/through.txt", "ok/", "ok/fine.txt", "planted"}))
        << "the link member is not made, so link/ is a real folder";
    EXPECT_TRUE(fs::is_empty(tree.Path() + "elsewhere"));
    EXPECT_FALSE(fs::exists(tree.Path() + "up.txt"));
    EXPECT_FALSE(fs::exists(tree.Path() + "up2.txt"));
    EXPECT_FALSE(fs::exists("/abs.txt"));
    for (const char* name : {"../up.txt", "/abs.txt", "in/../../up2.txt", "link"})
        EXPECT_TRUE(Contains(messages, std::string("Error - ") + name + " refused")) << name;
    EXPECT_TRUE(Contains(messages, "planted/through.txt"));
}

// The member's name appears only for complete, checked data: a damaged
// member leaves the old file as it was and no temporary beside it.
TEST_F(ZipMasterTest, DamagedMemberLeavesNoPartialFile)
{
    ZipBuilder b;
    b.Add({"good.txt", "good"});
    b.Add({"bad.txt", "original"});
    b.Add({"new.txt", "original"});
    std::string bytes = b.Bytes();
    for (size_t at = bytes.find("original"); at != std::string::npos; at = bytes.find("original", at + 1))
        bytes[at] = 'O'; // the stored CRC no longer fits
    const std::string archive = tree.Path() + "bad.zip";
    Spit(archive, bytes);
    Spit(Out("bad.txt"), "keep me");

    Extract(archive, {"*"}, {ExtrOpt::ExtrDirNames, ExtrOpt::ExtrOverWrite});
    EXPECT_EQ(zip.SuccessCount(), 1);
    EXPECT_EQ(Slurp(Out("bad.txt")), "keep me");
    EXPECT_EQ(Tree(Out("")), (std::vector<std::string>{"bad.txt", "good.txt"}));
    EXPECT_TRUE(Contains(messages, "bad.txt"));
    EXPECT_TRUE(Contains(messages, "new.txt"));

    // A method the library cannot unpack is named, not tried (trying it
    // leaked inside libzip).
    ZipBuilder odd;
    odd.Add({"odd.bin", "data"});
    std::string oddBytes = odd.Bytes();
    oddBytes[8] = 98;
    oddBytes[oddBytes.find("PK\1\2") + 10] = 98;
    Spit(archive, oddBytes);
    Extract(archive, {"*"}, {ExtrOpt::ExtrDirNames});
    EXPECT_EQ(zip.SuccessCount(), 0);
    EXPECT_TRUE(Contains(messages, "odd.bin: unsupported compression method 98"));
    EXPECT_FALSE(fs::exists(Out("odd.bin")));
}

// A member's data must be as long as the archive says: a deflated member
// may unpack to far more, with a checksum made to fit. Nothing is left
// under its name, and a test reports it too.
TEST_F(ZipMasterTest, AMemberLongerOrShorterThanStatedLeavesNoFile)
{
    Spit(Src("big.txt"), std::string(100000, 'a'));
    Spit(Src("ok.txt"), "fine");
    const std::string archive = tree.Path() + "lie.zip";
    ASSERT_EQ(std::system(("cd '" + Src("") + "' && zip -q '" + archive + "' big.txt ok.txt").c_str()), 0);
    std::string bytes = Slurp(archive);
    std::string stated;
    ZipBuilder::Put32(stated, 10);
    bytes.replace(22, 4, stated); // the local header's uncompressed size
    bytes.replace(bytes.find("PK\1\2") + 24, 4, stated);
    Spit(archive, bytes);
    Extract(archive, {"*"}, {ExtrOpt::ExtrDirNames});
    EXPECT_EQ(zip.SuccessCount(), 1);
    EXPECT_EQ(Tree(Out("")), (std::vector<std::string>{"ok.txt"}));
    EXPECT_TRUE(Contains(messages, "big.txt: more data than its stated size of 10 bytes"));
    Extract(archive, {"*"}, {ExtrOpt::ExtrTest});
    EXPECT_EQ(zip.SuccessCount(), 1);

    // A stored member whose stated size is larger than its data.
    ZipBuilder b;
    b.Add({"short.txt", "0123456789"});
    bytes = b.Bytes();
    stated.clear();
    ZipBuilder::Put32(stated, 30);
    bytes.replace(22, 4, stated);
    bytes.replace(bytes.find("PK\1\2") + 24, 4, stated);
    Spit(archive, bytes);
    messages.clear();
    Extract(archive, {"*"}, {ExtrOpt::ExtrDirNames});
    EXPECT_EQ(zip.SuccessCount(), 0);
    EXPECT_FALSE(fs::exists(Out("short.txt")));
    EXPECT_TRUE(Contains(messages, "short.txt: "));
}

TEST_F(ZipMasterTest, EncryptedMemberNeedsItsPassword)
{
    Spit(Src("secret.txt"), "secret");
    const std::string archive = tree.Path() + "enc.zip";
    ASSERT_EQ(std::system(("cd '" + Src("") + "' && zip -q -P pw '" + archive + "' secret.txt").c_str()), 0);
    Extract(archive, {"secret.txt"}, {ExtrOpt::ExtrDirNames});
    EXPECT_EQ(zip.SuccessCount(), 0);
    EXPECT_TRUE(Contains(messages, "secret.txt is encrypted"));
    EXPECT_FALSE(fs::exists(Out("secret.txt")));

    zip.Password = "wrong";
    Extract(archive, {"secret.txt"}, {ExtrOpt::ExtrDirNames});
    EXPECT_FALSE(fs::exists(Out("secret.txt")));
    zip.Password = "pw";
    Extract(archive, {"secret.txt"}, {ExtrOpt::ExtrDirNames});
    EXPECT_EQ(Slurp(Out("secret.txt")), "secret");
}

// A move deletes the sources only once the archive holding them is written.
TEST_F(ZipMasterTest, AddMoveRemovesSourcesOnlyAfterTheArchiveIsWritten)
{
    Spit(Src("m/1.txt"), "1");
    Spit(Src("m/2.txt"), "2");
    const std::string garbage = tree.Path() + "garbage.zip";
    Spit(garbage, std::string(5000, 'g'));
    AddFromSource(garbage, {"m"}, {AddOpt::AddDirNames, AddOpt::AddRecurseDirs, AddOpt::AddMove});
    EXPECT_EQ(zip.SuccessCount(), 0);
    EXPECT_TRUE(fs::exists(Src("m/1.txt")));
    EXPECT_EQ(Slurp(garbage), std::string(5000, 'g')) << "a file that is no archive stays as it was";

    const std::string archive = tree.Path() + "moved.zip";
    AddFromSource(archive, {"m"}, {AddOpt::AddDirNames, AddOpt::AddRecurseDirs, AddOpt::AddMove});
    EXPECT_EQ(zip.SuccessCount(), 2);
    EXPECT_FALSE(fs::exists(Src("m")));
    EXPECT_TRUE(UnzipAccepts(archive));
}

// A folder being added may hold the archive itself, and while it is being
// rewritten its temporary copy beside it: neither goes into the archive, and
// a move never deletes them.
TEST_F(ZipMasterTest, AddingAFolderThatHoldsTheArchiveLeavesTheArchiveOut)
{
    Spit(Src("m/1.txt"), "1");
    Spit(Src("m/2.txt"), "2");
    const std::string archive = Src("m/arc.zip");
    AddFromSource(archive, {"m/1.txt"}, {AddOpt::AddDirNames});
    ASSERT_EQ(Names(zip), (std::vector<std::string>{"m/1.txt"}));
    fs::create_symlink("arc.zip", Src("m/link.zip"));
    messages.clear();

    AddFromSource(archive, {"m"},
                  {AddOpt::AddDirNames, AddOpt::AddRecurseDirs, AddOpt::AddHiddenFiles, AddOpt::AddMove});
    EXPECT_EQ(zip.SuccessCount(), 2);
    ASSERT_TRUE(fs::exists(archive)) << "the move deleted the archive it had just written";
    EXPECT_TRUE(UnzipAccepts(archive));
    EXPECT_EQ(ZipinfoNames(archive), (std::vector<std::string>{"m/", "m/1.txt", "m/2.txt"}));
    EXPECT_EQ(Tree(Src("m")), (std::vector<std::string>{"arc.zip", "link.zip"}));
    EXPECT_TRUE(Contains(messages, "skipped: m/arc.zip"));
    EXPECT_TRUE(Contains(messages, "skipped: m/link.zip"));
}

// A move deletes a source only when the written archive holds what was
// read from it: not a file changed after it was queued, nor one whose
// member a later file of the same name replaced (folder names dropped).
TEST_F(ZipMasterTest, AddMoveKeepsSourcesWhoseDataIsNotInTheArchive)
{
    Spit(Src("a/x.txt"), "from a");
    Spit(Src("b/x.txt"), "from b");
    Spit(Src("c/grows.txt"), "before");
    Spit(Src("c/same.txt"), "same");
    zip.OnMessage = [this](int code, const std::string& text) {
        messages.push_back(std::to_string(code) + ":" + text);
        if (text.find("adding: grows.txt") != std::string::npos)
            std::ofstream(Src("c/grows.txt"), std::ios::app) << " and after";
    };
    const std::string archive = tree.Path() + "flat.zip";
    AddFromSource(archive, {"a", "b", "c"}, {AddOpt::AddRecurseDirs, AddOpt::AddMove});
    EXPECT_TRUE(UnzipAccepts(archive));
    EXPECT_EQ(ZipinfoNames(archive), (std::vector<std::string>{"grows.txt", "same.txt", "x.txt"}));
    Extract(archive, {"x.txt"}, {});
    EXPECT_EQ(Slurp(Out("x.txt")), "from b");

    EXPECT_EQ(Slurp(Src("a/x.txt")), "from a") << "its member was replaced: deleting it lost its data";
    EXPECT_FALSE(fs::exists(Src("b/x.txt")));
    EXPECT_EQ(Slurp(Src("c/grows.txt")), "before and after") << "changed after it was queued";
    EXPECT_FALSE(fs::exists(Src("c/same.txt")));
    EXPECT_TRUE(Contains(messages, "Kept a/x.txt"));
    EXPECT_TRUE(Contains(messages, "Kept c/grows.txt"));
    EXPECT_FALSE(fs::exists(Src("b"))) << "an emptied folder still goes";
}

// The new archive replaces the old one as the same kind of file: its
// mode and owner, behind the same link; a new archive gets a new file's
// mode. The temporary's name leaves room for a 255-byte archive name.
TEST_F(ZipMasterTest, RewrittenArchivesKeepModeOwnerAndLinks)
{
    Spit(Src("f.txt"), "f");
    Spit(Src("g.txt"), "g");
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const std::string fresh = tree.Path() + "fresh.zip";
    AddFromSource(fresh, {"f.txt"}, {});
    EXPECT_EQ(fs::status(fresh).permissions(), fs::perms(0666 & ~mask));

    tree.Dir("real");
    const std::string real = tree.Path() + "real/arc.zip";
    fs::copy_file(fresh, real);
    ::chmod(real.c_str(), 0640);
    const bool root = ::geteuid() == 0;
    if (root)
        ASSERT_EQ(::chown(real.c_str(), 1234, 4321), 0);
    const std::string link = tree.Path() + "link.zip";
    fs::create_symlink("real/arc.zip", link);
    auto expectKept = [&](const char* step) {
        struct stat st {};
        ASSERT_EQ(::stat(real.c_str(), &st), 0) << step;
        EXPECT_EQ(st.st_mode & 07777, 0640u) << step;
        if (root) {
            EXPECT_EQ(st.st_uid, 1234u) << step;
            EXPECT_EQ(st.st_gid, 4321u) << step;
        }
        EXPECT_TRUE(fs::is_symlink(link)) << step;
        EXPECT_TRUE(UnzipAccepts(real) || fs::file_size(real) == 22) << step;
    };
    AddFromSource(real, {"g.txt"}, {});
    expectKept("add");
    EXPECT_EQ(ZipinfoNames(real), (std::vector<std::string>{"f.txt", "g.txt"}));
    zip.SetZipFilename(link);
    zip.FSpecArgs = {"f.txt"};
    zip.DeleteFiles();
    expectKept("delete");
    EXPECT_EQ(ZipinfoNames(real), (std::vector<std::string>{"g.txt"}));
    zip.FSpecArgs = {"g.txt"};
    zip.DeleteFiles();
    expectKept("delete the last member");
    EXPECT_EQ(fs::file_size(real), 22u);

    const std::string longName = std::string(251, 'n') + ".zip";
    AddFromSource(longName, {"f.txt"}, {}); // relative to src/
    EXPECT_EQ(zip.SuccessCount(), 1) << (messages.empty() ? "" : messages.back());
    EXPECT_TRUE(UnzipAccepts(Src(longName)));
    for (const auto& e : fs::directory_iterator(Src("")))
        EXPECT_EQ(e.path().filename().string().find(".tarnel-"), std::string::npos) << "temporary left: " << e.path();
}

// Archives that real writers make, read by the library as the table lists them.
TEST_F(ZipMasterTest, StreamedAndZip64ArchivesExtract)
{
    ZipBuilder b;
    b.Add({"s.txt", "streamed data", 0x5A215C00, true});
    b.Add({"z.txt", "zip64 data", 0x5A215C00, false, true});
    const std::string archive = tree.Path() + "shapes.zip";
    Spit(archive, b.Bytes());
    zip.SetZipFilename(archive);
    ASSERT_EQ(zip.Count(), 2);
    EXPECT_EQ(zip.ZipContents()[0].UncompressedSize, 13u);
    Extract(archive, {"*"}, {ExtrOpt::ExtrDirNames});
    EXPECT_EQ(zip.SuccessCount(), 2);
    EXPECT_EQ(Slurp(Out("s.txt")), "streamed data");
    EXPECT_EQ(Slurp(Out("z.txt")), "zip64 data");
}

TEST_F(ZipMasterTest, CallbackPassesMessagesAndProgress)
{
    std::vector<std::string> progress;
    zip.OnProgress = [&](int type, const std::string& name, int64_t size) {
        progress.push_back(std::to_string(type) + name + std::to_string(size));
    };
    TZipCallbackInfo info{};
    info.caller = &zip;
    auto send = [&](int action, const char* text, int error = 0) {
        info.actionCode = action;
        info.errorCode = error;
        info.fileSize = 12;
        std::strncpy(info.text, text, sizeof info.text - 1);
        return TZipMaster::Callback(&info);
    };
    EXPECT_EQ(send(ZIPDLL_ACTION_MESSAGE, "disk full\r\n", 5), ZIPDLL_FALSE);
    send(ZIPDLL_ACTION_MESSAGE + 3, "two\n\n\n");
    send(ZIPDLL_ACTION_FILE_START, "f.txt");
    send(ZIPDLL_ACTION_PROGRESS, "ignored");
    send(ZIPDLL_ACTION_FILE_END, "ignored");
    send(ZIPDLL_ACTION_FILE_END, "done.txt");
    send(ZIPDLL_ACTION_FILE_END, "failed.txt", 1);
    EXPECT_EQ(messages, (std::vector<std::string>{"5:disk full", "0:two\n"}));
    EXPECT_EQ(progress, (std::vector<std::string>{"0f.txt12", "1 0", "2 0", "2 0", "2 0"}));
    EXPECT_EQ(zip.DoneMembers(), (std::vector<std::string>{"ignored", "done.txt"})) << "ends with error code 0 only";
    EXPECT_EQ(zip.ErrorCount(), 1);

    std::memset(info.text, 'x', sizeof info.text); // not terminated by the library
    info.actionCode = ZIPDLL_ACTION_MESSAGE;
    TZipMaster::Callback(&info);
    EXPECT_EQ(messages.back().size(), 2 + sizeof info.text - 1);
}

// The driver is shared: a second call of the same kind from inside a
// library message returns at once instead of running inside the first.
TEST_F(ZipMasterTest, BusyFlagKeepsASecondCallOut)
{
    Spit(Src("f.txt"), "f");
    const std::string archive = tree.Path() + "a.zip";
    AddFromSource(archive, {"f.txt"}, {});
    int nested = -1;
    zip.OnMessage = [&](int, const std::string&) {
        if (nested != -1)
            return;
        zip.FSpecArgs = {"f.txt"};
        zip.ExtractFiles();
        nested = zip.SuccessCount();
    };
    Extract(archive, {"f.txt"}, {ExtrOpt::ExtrOverWrite});
    EXPECT_EQ(nested, 0);
    EXPECT_TRUE(fs::exists(Out("f.txt")));
}

// Opening a fifo for reading blocks until a writer comes, and takes its
// data from whoever else reads: the table and both libraries refuse it unopened.
TEST_F(ZipMasterTest, AFifoNamedAsAnArchiveIsRefusedWithoutBlocking)
{
    const std::string fifo = tree.Path() + "pipe.zip";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto run = std::async(std::launch::async, [&] {
        std::string error;
        try {
            zip.SetZipFilename(fifo);
        } catch (const ZipReadError& e) {
            error = e.what();
        }
        zip.ExtrBaseDir = Out("");
        zip.ExtractFiles();
        return error;
    });
    bool blocked = false;
    for (int i = 0; i < 100 && run.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready; ++i) {
        if (i >= 50) { // a reader is stuck in open(): a writer lets it go
            blocked = true;
            const int w = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (w >= 0)
                ::close(w);
        }
    }
    ASSERT_EQ(run.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(blocked) << "opening the fifo blocked";
    EXPECT_NE(run.get().find("not a regular file"), std::string::npos);
    EXPECT_TRUE(Contains(messages, "not a regular file"));
    EXPECT_TRUE(Tree(Out("")).empty());
}

// A queued file is read only when the archive is written, and only while it
// is still the regular file that was queued: one swapped meanwhile for a fifo
// or for another file is left out with a message (an older member of its name
// stays), nothing blocks, and the other files are written all the same.
TEST_F(ZipMasterTest, AFileSwappedAfterItWasQueuedIsLeftOutWithoutBlocking)
{
    Spit(Src("keep.txt"), "keep");
    Spit(Src("piped.txt"), "old piped");
    Spit(Src("other.txt"), "old other");
    const std::string archive = tree.Path() + "swap.zip";
    AddFromSource(archive, {"piped.txt", "other.txt"}, {});
    ASSERT_EQ(zip.SuccessCount(), 2);
    Spit(Src("fresh.txt"), "fresh");
    Spit(Src("piped.txt"), "new piped");
    Spit(Src("other.txt"), "new other");
    zip.OnMessage = [this](int code, const std::string& text) {
        messages.push_back(std::to_string(code) + ":" + text);
        if (text.find("adding: piped.txt") != std::string::npos) {
            fs::remove(Src("piped.txt"));
            ::mkfifo(Src("piped.txt").c_str(), 0600);
        } else if (text.find("adding: other.txt") != std::string::npos) {
            fs::remove(Src("other.txt"));
            Spit(Src("other.txt"), "swapped");
        } else if (text.find("adding: fresh.txt") != std::string::npos) {
            fs::remove(Src("fresh.txt"));
            ::mkfifo(Src("fresh.txt").c_str(), 0600);
        }
    };
    auto run = std::async(std::launch::async, [&] {
        AddFromSource(archive, {"keep.txt", "piped.txt", "other.txt", "fresh.txt"}, {AddOpt::AddMove});
    });
    bool blocked = false;
    for (int i = 0; i < 100 && run.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready; ++i) {
        if (i >= 50) { // a reader is stuck in open(): a writer lets it go
            blocked = true;
            for (const char* name : {"piped.txt", "fresh.txt"}) {
                const int w = ::open(Src(name).c_str(), O_WRONLY | O_NONBLOCK);
                if (w >= 0)
                    ::close(w);
            }
        }
    }
    ASSERT_EQ(run.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(blocked) << "opening the fifo blocked";
    EXPECT_TRUE(UnzipAccepts(archive));
    EXPECT_EQ(ZipinfoNames(archive), (std::vector<std::string>{"keep.txt", "other.txt", "piped.txt"}));
    zip.OnMessage = nullptr;
    Extract(archive, {}, {ExtrOpt::ExtrOverWrite});
    EXPECT_EQ(Slurp(Out("keep.txt")), "keep");
    EXPECT_EQ(Slurp(Out("piped.txt")), "old piped");
    EXPECT_EQ(Slurp(Out("other.txt")), "old other");
    EXPECT_FALSE(fs::exists(Src("keep.txt"))) << "moved";
    EXPECT_EQ(Slurp(Src("other.txt")), "swapped");
    EXPECT_EQ(fs::status(Src("piped.txt")).type(), fs::file_type::fifo);
    EXPECT_TRUE(Contains(messages, "piped.txt was left out: it is no regular file"));
    EXPECT_TRUE(Contains(messages, "fresh.txt was left out: it is no regular file"));
    EXPECT_TRUE(Contains(messages, "other.txt was left out: another file took its place"));
}

// libzip refuses a whole archive for one name flagged UTF-8 that is none,
// and for a self-extractor whose offsets were not adjusted; every member
// that can be read is extracted all the same, and a bad one is reported.
TEST_F(ZipMasterTest, ExtractsEveryReadableMemberOfArchivesLibzipRefuses)
{
    const std::string badName = "\xFF\xFE.txt";
    ZipBuilder flagged;
    flagged.Add({"good.txt", "good"});
    BuiltMember bad{badName, "bad name"};
    bad.flags = 0x800;
    flagged.Add(bad);
    flagged.Add({"dir/deep.txt", "deep", 0x5A215C00, false, false, 0100640});
    const std::string path = tree.Path() + "flagged.zip";
    std::ofstream(path, std::ios::binary) << flagged.Bytes();
    Extract(path, {}, {ExtrOpt::ExtrDirNames});
    std::vector<std::string> expected{"dir/", "dir/deep.txt", "good.txt", badName};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Tree(Out("")), expected);
    EXPECT_EQ(Slurp(Out(badName)), "bad name");
    EXPECT_EQ(fs::status(Out("dir/deep.txt")).permissions(), fs::perms(0640));
    EXPECT_EQ(zip.SuccessCount(), 3);

    fs::remove_all(Out(""));
    tree.Dir("out");
    ZipBuilder sfx;
    sfx.prefix = "MZ" + std::string(3000, '\x90');
    sfx.Add({"a.txt", "aaa"});
    sfx.Add({"b/broken.txt", "original"});
    sfx.Add({"b/c.txt", "ccc"});
    std::string bytes = sfx.Bytes();
    bytes[bytes.find("original")] = 'O'; // its checksum no longer fits
    const std::string exe = tree.Path() + "setup.zip";
    std::ofstream(exe, std::ios::binary) << bytes;
    messages.clear();
    Extract(exe, {}, {ExtrOpt::ExtrDirNames});
    EXPECT_EQ(Tree(Out("")), (std::vector<std::string>{"a.txt", "b/", "b/c.txt"}));
    EXPECT_EQ(Slurp(Out("b/c.txt")), "ccc");
    EXPECT_TRUE(Contains(messages, "b/broken.txt: CRC error"));

    // Deflated data, read without libzip.
    const std::string text = std::string(5000, 'z') + "end";
    std::ofstream(Src("long.txt")) << text;
    ASSERT_EQ(std::system(("cd '" + tree.Path() + "src' && zip -q9 ../deflated.zip long.txt").c_str()), 0);
    std::ofstream(tree.Path() + "prefixed.zip", std::ios::binary) << "MZ" + std::string(700, '\x90') + Slurp(tree.Path() + "deflated.zip");
    Extract(tree.Path() + "prefixed.zip", {}, {ExtrOpt::ExtrDirNames, ExtrOpt::ExtrOverWrite});
    EXPECT_EQ(Slurp(Out("long.txt")), text);
}

// Changing an archive that has a prefix would drop it: refused, unchanged.
TEST_F(ZipMasterTest, AddingOrDeletingKeepsASelfExtractorsPrefix)
{
    std::ofstream(Src("new.txt")) << "new";
    for (const bool adjusted : {false, true}) {
        ZipBuilder sfx;
        sfx.prefix = "MZ" + std::string(3000, '\x90');
        sfx.adjusted = adjusted;
        sfx.Add({"a.txt", "aaa"});
        sfx.Add({"b.txt", "bbb"});
        const std::string path = tree.Path() + "setup.zip";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << sfx.Bytes();
        messages.clear();
        AddFromSource(path, {"new.txt"}, {});
        zip.SetZipFilename(path);
        zip.FSpecArgs = {"a.txt"};
        zip.DeleteFiles();
        EXPECT_EQ(Slurp(path), sfx.Bytes()) << "adjusted " << adjusted;
        EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                                [](const std::string& m) { return m.find("self-extractor") != std::string::npos; }),
                  2);
    }
}

// Listing one folder after another reads the table once while the archive
// stays the same file, of the same size and time.
TEST_F(ZipMasterTest, TheTableOfAnUnchangedArchiveIsNotReadAgain)
{
    ZipBuilder one, two;
    one.Add({"aaaa.txt", "1"});
    two.Add({"bbbb.txt", "2"});
    ASSERT_EQ(one.Bytes().size(), two.Bytes().size());
    const std::string path = tree.Path() + "t.zip";
    std::ofstream(path, std::ios::binary) << one.Bytes();
    zip.SetZipFilename(path);
    EXPECT_EQ(Names(zip), (std::vector<std::string>{"aaaa.txt"}));
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    // Other bytes in the same file, its time put back: the table is kept.
    std::fstream(path, std::ios::binary | std::ios::in | std::ios::out) << two.Bytes();
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    zip.SetZipFilename(path);
    EXPECT_EQ(Names(zip), (std::vector<std::string>{"aaaa.txt"}));
    // A new time: read again.
    const timespec later[2] = {st.st_atim, {st.st_mtim.tv_sec + 5, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), later, 0), 0);
    zip.SetZipFilename(path);
    EXPECT_EQ(Names(zip), (std::vector<std::string>{"bbbb.txt"}));
    // Another file of the same size and time in its place: read again.
    std::ofstream(path + ".new", std::ios::binary) << one.Bytes();
    ASSERT_EQ(::utimensat(AT_FDCWD, (path + ".new").c_str(), later, 0), 0);
    fs::rename(path + ".new", path);
    zip.SetZipFilename(path);
    EXPECT_EQ(Names(zip), (std::vector<std::string>{"aaaa.txt"}));
    // A damaged archive keeps telling so, its table read or kept.
    ZipBuilder damaged;
    damaged.Add({"x", "x"});
    BuiltMember odd{"y", "y"};
    odd.centralName = "z";
    damaged.Add(odd);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << damaged.Bytes();
    for (int i = 0; i < 2; ++i) {
        EXPECT_THROW(zip.SetZipFilename(path), ZipReadError);
        EXPECT_EQ(Names(zip), (std::vector<std::string>{"x"}));
    }
}

} // namespace
} // namespace tarnel
