// Writing tar and 7z archives: what goes in comes out as it was, changes
// ask before replacing, and nothing but a complete new archive ever takes
// the old one's place.
#include "sources/archive/ArchiveRewrite.h"
#include "sources/archive/ArchiveWriteOperations.h"
#include "fileops/model/OperationRunner.h"
#include "fileops/model/SourceOperations.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void Put(const std::string& path, const std::string& data) { std::ofstream(path, std::ios::binary) << data; }

std::string Output(const std::string& command)
{
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

// Member names as bsdtar lists them, sorted, without a folder's "/".
std::vector<std::string> Members(const std::string& archive)
{
    std::istringstream lines(Output("bsdtar -tf '" + archive + "' 2>/dev/null"));
    std::vector<std::string> names;
    for (std::string line; std::getline(lines, line);) {
        while (!line.empty() && line.back() == '/')
            line.pop_back();
        names.push_back(line);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> Names(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class ArchiveRewriteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-archwrite-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        root = std::string(tmpl) + "/";
        fs::create_directories(root + "src/tree/sub");
        fs::create_directories(root + "out");
        fs::create_directories(root + "arch");
        Put(root + "src/tree/a.txt", "alpha");
        Put(root + "src/tree/sub/b.bin", std::string(200000, 'b'));
        fs::create_symlink("a.txt", root + "src/tree/link");
        fs::create_hard_link(root + "src/tree/a.txt", root + "src/tree/hard");
    }
    void TearDown() override { fs::remove_all(root); }

    std::string Make(ArchiveKind kind, const std::vector<std::string>& paths)
    {
        const std::string path = root + "arch/made" + ArchiveKindExtension(kind);
        const ArchiveWriteResult r = CreateArchive(path, kind, paths, {});
        EXPECT_TRUE(r.Written()) << r.error;
        return path;
    }

    std::string root;
};

TEST_F(ArchiveRewriteTest, EachKindKeepsContentsModesTimesOwnersAndLinks)
{
    ::chmod((root + "src/tree/a.txt").c_str(), 0640);
    const struct timespec times[2] = {{1000000000, 0}, {1200000000, 0}};
    ::utimensat(AT_FDCWD, (root + "src/tree/sub/b.bin").c_str(), times, 0);
    const bool root_user = ::geteuid() == 0;
    if (root_user) {
        ASSERT_EQ(::chown((root + "src/tree/sub/b.bin").c_str(), 1234, 2345), 0);
    }
    // A fifo is never opened: opening one with no writer would hang here.
    ASSERT_EQ(::mkfifo((root + "src/tree/pipe").c_str(), 0644), 0);

    for (const ArchiveKind kind : kWritableArchiveKinds) {
        SCOPED_TRACE(ArchiveKindName(kind));
        const std::string path = root + "arch/made" + ArchiveKindExtension(kind);
        const ArchiveWriteResult r = CreateArchive(path, kind, {root + "src/tree"}, {});
        ASSERT_TRUE(r.Written()) << r.error;
        ASSERT_EQ(r.skipped.size(), 1u);
        EXPECT_NE(r.skipped[0].find("pipe"), std::string::npos);
        EXPECT_EQ(Members(path), (std::vector<std::string>{"tree", "tree/a.txt", "tree/hard", "tree/link", "tree/sub",
                                                            "tree/sub/b.bin"}));
        EXPECT_TRUE(ArchiveFormatWritable(path));
        for (const std::string& name : Names(root + "arch"))
            EXPECT_NE(name[0], '.') << "no temporary file is left";

        const std::string out = root + "out/" + ArchiveKindName(kind);
        fs::create_directories(out);
        ASSERT_EQ(std::system(("bsdtar -xpf '" + path + "' -C '" + out + "'").c_str()), 0);
        EXPECT_EQ(Slurp(out + "/tree/a.txt"), "alpha");
        EXPECT_EQ(Slurp(out + "/tree/hard"), "alpha");
        EXPECT_EQ(Slurp(out + "/tree/sub/b.bin"), std::string(200000, 'b'));
        EXPECT_TRUE(fs::is_symlink(out + "/tree/link"));
        EXPECT_EQ(fs::read_symlink(out + "/tree/link"), "a.txt");
        struct stat a, hard, b;
        ASSERT_EQ(::stat((out + "/tree/a.txt").c_str(), &a), 0);
        ASSERT_EQ(::stat((out + "/tree/hard").c_str(), &hard), 0);
        ASSERT_EQ(::stat((out + "/tree/sub/b.bin").c_str(), &b), 0);
        EXPECT_EQ(b.st_mtime, 1200000000);
        if (kind != ArchiveKind::SevenZip) { // 7z keeps neither links nor owners
            EXPECT_EQ(a.st_mode & 0777, 0640u);
            EXPECT_EQ(a.st_ino, hard.st_ino) << "a hard link stays a link";
            if (root_user) {
                EXPECT_EQ(b.st_uid, 1234u);
                EXPECT_EQ(b.st_gid, 2345u);
            }
        }
    }

    // An existing name is never written over.
    const std::string taken = root + "arch/made.tar";
    const std::string before = Slurp(taken);
    const ArchiveWriteResult again = CreateArchive(taken, ArchiveKind::Tar, {root + "src/tree/a.txt"}, {});
    EXPECT_EQ(again.status, ArchiveWriteResult::Status::Failed);
    EXPECT_EQ(Slurp(taken), before);
}

TEST_F(ArchiveRewriteTest, ReadOnlyFormatsSaySoAndAreLeftAlone)
{
    const std::string src = root + "src/tree";
    ASSERT_EQ(std::system(("cd '" + src + "' && zip -qr ../../arch/a.zip a.txt && "
                           "bsdtar --format cpio -cf ../../arch/a.cpio a.txt && "
                           "bsdtar --format iso9660 -cf ../../arch/a.iso a.txt && "
                           "bsdtar -cjf ../../arch/a.tar.bz2 a.txt && gzip -c a.txt > ../../arch/a.txt.gz")
                              .c_str()),
              0);
    for (const char* name : {"a.zip", "a.cpio", "a.iso", "a.tar.bz2", "a.txt.gz"}) {
        SCOPED_TRACE(name);
        const std::string path = root + "arch/" + name;
        const std::string before = Slurp(path);
        EXPECT_FALSE(ArchiveFormatWritable(path));
        const ArchiveWriteResult r = AddToArchive(path, "", {root + "src/tree/sub"}, {});
        EXPECT_EQ(r.status, ArchiveWriteResult::Status::Failed);
        EXPECT_EQ(r.error, kArchiveReadOnlyText);
        EXPECT_EQ(Slurp(path), before);
    }
    // Not an archive at all is another matter.
    EXPECT_FALSE(ArchiveFormatWritable(root + "src/tree/a.txt"));
    const ArchiveWriteResult r = DeleteFromArchive(root + "src/tree/a.txt", {"x"}, {});
    EXPECT_EQ(r.status, ArchiveWriteResult::Status::Failed);
    EXPECT_NE(r.error, kArchiveReadOnlyText);
    EXPECT_EQ(Slurp(root + "src/tree/a.txt"), "alpha");
}

TEST_F(ArchiveRewriteTest, AddingAsksBeforeReplacingAndKeepsTheArchivesOwnerModeAndAttributes)
{
    for (const ArchiveKind kind : {ArchiveKind::TarGz, ArchiveKind::SevenZip}) {
        SCOPED_TRACE(ArchiveKindName(kind));
        fs::remove_all(root + "arch");
        fs::create_directories(root + "arch");
        const std::string path = Make(kind, {root + "src/tree/a.txt", root + "src/tree/sub"});
        ::chmod(path.c_str(), 0640);
        if (::geteuid() == 0) {
            ASSERT_EQ(::chown(path.c_str(), 1234, 2345), 0);
        }
        const bool xattrs = ::setxattr(path.c_str(), "user.tag", "kept", 4, 0) == 0;

        fs::create_directories(root + "new");
        Put(root + "new/a.txt", "changed");
        Put(root + "new/c.txt", "gamma");
        std::vector<std::string> asked;
        ReplaceAnswer answer = ReplaceAnswer::No;
        ArchiveWriteHooks hooks;
        hooks.askReplace = [&](const std::string& member, const ArchiveFacts& old, const ArchiveFacts& incoming) {
            asked.push_back(member);
            if (member == "a.txt") {
                EXPECT_EQ(old.size, 5);
                EXPECT_EQ(incoming.size, 7);
            }
            return answer;
        };

        ArchiveWriteResult r = AddToArchive(path, "", {root + "new/a.txt", root + "new/c.txt"}, hooks);
        ASSERT_TRUE(r.Written()) << r.error;
        EXPECT_EQ(asked, std::vector<std::string>{"a.txt"});
        EXPECT_EQ(Members(path), (std::vector<std::string>{"a.txt", "c.txt", "sub", "sub/b.bin"}));
        EXPECT_EQ(Output("bsdtar -xOf '" + path + "' a.txt"), "alpha") << "not replaced";
        ASSERT_EQ(r.archived.size(), 1u) << "only what went in may be moved away";
        EXPECT_EQ(r.archived[0].path, root + "new/c.txt");

        answer = ReplaceAnswer::Yes;
        r = AddToArchive(path, "sub/", {root + "new/a.txt", root + "new"}, hooks);
        ASSERT_TRUE(r.Written()) << r.error;
        EXPECT_EQ(Members(path), (std::vector<std::string>{"a.txt", "c.txt", "sub", "sub/a.txt", "sub/b.bin", "sub/new",
                                                            "sub/new/a.txt", "sub/new/c.txt"}));
        answer = ReplaceAnswer::Yes;
        r = AddToArchive(path, "", {root + "new/a.txt"}, hooks);
        ASSERT_TRUE(r.Written()) << r.error;
        EXPECT_EQ(Output("bsdtar -xOf '" + path + "' a.txt"), "changed");
        EXPECT_EQ(Members(path).size(), 8u) << "replaced, not doubled";

        // Cancel at the question: nothing changes.
        const std::string before = Slurp(path);
        answer = ReplaceAnswer::Cancel;
        r = AddToArchive(path, "", {root + "new/c.txt"}, hooks);
        EXPECT_EQ(r.status, ArchiveWriteResult::Status::Cancelled);
        EXPECT_EQ(Slurp(path), before);
        EXPECT_EQ(Names(root + "arch"), std::vector<std::string>{fs::path(path).filename().string()});

        struct stat st;
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0640u);
        if (::geteuid() == 0) {
            EXPECT_EQ(st.st_uid, 1234u);
            EXPECT_EQ(st.st_gid, 2345u);
        }
        if (xattrs) {
            char value[16] = {};
            EXPECT_EQ(::getxattr(path.c_str(), "user.tag", value, sizeof value), 4);
            EXPECT_STREQ(value, "kept");
        }
        fs::remove_all(root + "new");
    }
}

TEST_F(ArchiveRewriteTest, DeletingAFolderTakesAllBelowItAndHardLinksKeepTheirContents)
{
    const std::string path = Make(ArchiveKind::TarXz, {root + "src/tree"});
    // tree/a.txt carries the data; tree/hard is a link to it.
    ArchiveWriteResult r = DeleteFromArchive(path, {"tree/a.txt"}, {});
    ASSERT_TRUE(r.Written()) << r.error;
    EXPECT_EQ(r.membersRemoved, 1u);
    EXPECT_EQ(Members(path), (std::vector<std::string>{"tree", "tree/hard", "tree/link", "tree/sub", "tree/sub/b.bin"}));
    EXPECT_EQ(Output("bsdtar -xOf '" + path + "' tree/hard"), "alpha");

    r = DeleteFromArchive(path, {"tree/sub/"}, {});
    ASSERT_TRUE(r.Written()) << r.error;
    EXPECT_EQ(r.membersRemoved, 2u);
    EXPECT_EQ(Members(path), (std::vector<std::string>{"tree", "tree/hard", "tree/link"}));

    // A name below no member, or one that merely starts like one, deletes nothing.
    const std::string before = Slurp(path);
    r = DeleteFromArchive(path, {"tree/har", "nothing"}, {});
    EXPECT_EQ(r.status, ArchiveWriteResult::Status::NothingDone);
    EXPECT_EQ(Slurp(path), before);

    // Everything: an empty archive is still one.
    r = DeleteFromArchive(path, {"tree"}, {});
    ASSERT_TRUE(r.Written()) << r.error;
    EXPECT_TRUE(Members(path).empty());
    EXPECT_TRUE(ArchiveFormatWritable(path));

    const std::string seven = Make(ArchiveKind::SevenZip, {root + "src/tree"});
    r = DeleteFromArchive(seven, {"tree/sub"}, {});
    ASSERT_TRUE(r.Written()) << r.error;
    EXPECT_EQ(Members(seven), (std::vector<std::string>{"tree", "tree/a.txt", "tree/hard", "tree/link"}));
    EXPECT_EQ(Output("bsdtar -xOf '" + seven + "' tree/hard"), "alpha");
}

// An archive with a second name: the rewrite goes into its own inode, so
// both names show the new archive.
TEST_F(ArchiveRewriteTest, AHardLinkedArchiveStaysOneFile)
{
    const std::string path = Make(ArchiveKind::Tar, {root + "src/tree/sub"});
    const std::string other = root + "out/other.tar";
    fs::create_hard_link(path, other);
    struct stat before;
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    const ArchiveWriteResult r = AddToArchive(path, "", {root + "src/tree/a.txt"}, {});
    ASSERT_TRUE(r.Written()) << r.error;
    struct stat after;
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_nlink, 2u);
    EXPECT_EQ(Slurp(other), Slurp(path));
    EXPECT_EQ(Members(other), (std::vector<std::string>{"a.txt", "sub", "sub/b.bin"}));
    EXPECT_EQ(Names(root + "arch"), std::vector<std::string>{"made.tar"});
}

TEST_F(ArchiveRewriteTest, DamageOrCancelLeavesTheOldArchiveAsItWas)
{
    const std::string path = Make(ArchiveKind::TarGz, {root + "src/tree"});
    // Damaged in the middle: the gzip stream ends early.
    const std::string whole = Slurp(path);
    Put(path, whole.substr(0, whole.size() / 2));
    const std::string damaged = Slurp(path);
    ArchiveWriteResult r = AddToArchive(path, "", {root + "src/tree/a.txt"}, {});
    EXPECT_EQ(r.status, ArchiveWriteResult::Status::Failed);
    EXPECT_NE(r.error.find("damaged"), std::string::npos) << r.error;
    EXPECT_EQ(Slurp(path), damaged);
    EXPECT_EQ(Names(root + "arch"), std::vector<std::string>{"made.tar.gz"});

    Put(path, whole);
    int calls = 0;
    ArchiveWriteHooks hooks;
    hooks.progress = [&](uint64_t done, uint64_t total, const std::string&) {
        EXPECT_LE(done, total == 0 ? done : total);
        return ++calls < 6;
    };
    r = AddToArchive(path, "", {root + "src/tree/sub"}, hooks);
    EXPECT_EQ(r.status, ArchiveWriteResult::Status::Cancelled);
    EXPECT_TRUE(r.archived.empty());
    EXPECT_EQ(Slurp(path), whole);
    EXPECT_EQ(Names(root + "arch"), std::vector<std::string>{"made.tar.gz"});

    calls = -1000;
    r = CreateArchive(root + "arch/new.7z", ArchiveKind::SevenZip, {root + "src/tree"}, hooks);
    EXPECT_TRUE(r.Written());
    calls = 0;
    r = CreateArchive(root + "arch/cancelled.tar", ArchiveKind::Tar, {root + "src/tree"}, hooks);
    EXPECT_EQ(r.status, ArchiveWriteResult::Status::Cancelled);
    EXPECT_EQ(Names(root + "arch"), (std::vector<std::string>{"made.tar.gz", "new.7z"}));
}

// A small memory-backed volume that fills up while the new archive is written.
TEST_F(ArchiveRewriteTest, AFullDiskLeavesTheOldArchiveByteIdentical)
{
    const std::string volume = root + "small";
    fs::create_directories(volume);
    if (::mount("tarnel-test", volume.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{volume};

    std::mt19937 random(7);
    std::string noise(600 * 1024, '\0');
    for (char& c : noise)
        c = char(random());
    Put(root + "src/noise1", noise);
    for (char& c : noise)
        c = char(random());
    Put(root + "src/noise2", noise.substr(0, 300 * 1024));

    for (const ArchiveKind kind : {ArchiveKind::Tar, ArchiveKind::TarZst}) {
        SCOPED_TRACE(ArchiveKindName(kind));
        const std::string path = volume + "/full" + ArchiveKindExtension(kind);
        ArchiveWriteResult r = CreateArchive(path, kind, {root + "src/noise1"}, {});
        ASSERT_TRUE(r.Written()) << r.error;
        const std::string before = Slurp(path);
        r = AddToArchive(path, "", {root + "src/noise2"}, {});
        EXPECT_EQ(r.status, ArchiveWriteResult::Status::Failed);
        EXPECT_NE(r.error.find("The disk is full"), std::string::npos) << r.error;
        EXPECT_EQ(Slurp(path), before);
        EXPECT_EQ(Names(volume), std::vector<std::string>{fs::path(path).filename().string()});
        fs::remove(path);
    }
}

// The window's side of an operation, answering as told and keeping what it was told.
class RecordingUi : public SourceOperationUi {
public:
    void Inform(const std::string& text) override { informed.push_back(text); }
    void Error(const std::string& text) override { errors.push_back(text); }
    bool Confirm(const std::string&) override { return true; }
    ReplaceAnswer AskReplace(const std::string& path, const FileFacts&, const FileFacts&) override
    {
        asked.push_back(path);
        return answer;
    }
    bool Progress(uint64_t, uint64_t, const std::string& name) override { return onProgress ? onProgress(name) : true; }

    ReplaceAnswer answer = ReplaceAnswer::No;
    std::function<bool(const std::string&)> onProgress;
    std::vector<std::string> informed, errors, asked;
};

std::vector<SourceRow> Rows(const std::vector<std::string>& names)
{
    std::vector<SourceRow> rows;
    for (const std::string& n : names)
        rows.push_back({n, false, -1});
    return rows;
}

// A move takes a file off the disk only once the new archive is in place,
// and only while the file is still the one that went in.
TEST_F(ArchiveRewriteTest, MovingIntoAnArchiveRemovesOnlyWhatWentInUnchanged)
{
    const std::string path = Make(ArchiveKind::TarZst, {root + "src/tree/sub"});
    const std::string disk = root + "src/tree";
    Put(disk + "/b.bin", "not this one"); // "sub/b.bin" is taken: answered No below
    fs::create_directories(disk + "/sub2");
    Put(disk + "/sub2/late.txt", "late");
    RecordingUi ui;
    // The old members are met twice: when their names are read, and when
    // they are copied after the disk files. One file changes at the copy.
    int met = 0;
    ui.onProgress = [&](const std::string& name) {
        if (name == "sub/b.bin" && ++met == 2)
            Put(disk + "/sub2/late.txt", "later, and longer");
        return true;
    };
    const PanePlace place = PanePlace::Archive(path, "sub/");
    auto move = MakeArchiveAdd(place, disk + "/", true, ui, {});
    const SourceOperationResult r = move->Run(Rows({"a.txt", "b.bin", "sub2"}));
    EXPECT_TRUE(r.sourceChanged);
    EXPECT_TRUE(r.targetChanged);
    EXPECT_EQ(ui.asked, std::vector<std::string>{"sub/b.bin"});
    EXPECT_EQ(Members(path), (std::vector<std::string>{"sub", "sub/a.txt", "sub/b.bin", "sub/sub2", "sub/sub2/late.txt"}));
    EXPECT_EQ(Output("bsdtar -xOf '" + path + "' sub/sub2/late.txt"), "late");
    EXPECT_FALSE(fs::exists(disk + "/a.txt"));
    EXPECT_TRUE(fs::exists(disk + "/hard")) << "a name of the moved file that was not selected stays";
    EXPECT_EQ(Slurp(disk + "/b.bin"), "not this one") << "left out: stays";
    EXPECT_EQ(Slurp(disk + "/sub2/late.txt"), "later, and longer") << "changed since: stays, and so does its folder";
    ASSERT_EQ(ui.errors.size(), 2u);
    EXPECT_NE(ui.errors[0].find("b.bin: not replaced"), std::string::npos) << ui.errors[0];
    EXPECT_EQ(ui.errors[1], std::string(kNotMovedAwayText) + "\n" + disk + "/sub2/late.txt");

    // Stopped: the archive and the disk stay as they were.
    const std::string before = Slurp(path);
    ui.onProgress = [](const std::string&) { return false; };
    ui.errors.clear();
    auto again = MakeArchiveAdd(place, disk, true, ui, {});
    EXPECT_FALSE(again->Run(Rows({"link"})).targetChanged);
    EXPECT_EQ(Slurp(path), before);
    EXPECT_TRUE(fs::is_symlink(disk + "/link"));
    EXPECT_TRUE(ui.errors.empty());
}

TEST_F(ArchiveRewriteTest, DeletingRowsAndReadOnlyArchives)
{
    const std::string path = Make(ArchiveKind::SevenZip, {root + "src/tree"});
    RecordingUi ui;
    std::vector<SourceRow> rows = {{"sub", true, -1}, {"a.txt", false, -1}};
    EXPECT_TRUE(MakeArchiveDelete(PanePlace::Archive(path, "tree/"), ui)->Run(rows).sourceChanged);
    EXPECT_EQ(Members(path), (std::vector<std::string>{"tree", "tree/hard", "tree/link"}));
    EXPECT_TRUE(ui.errors.empty());
    EXPECT_TRUE(ui.informed.empty());

    ASSERT_EQ(std::system(("cd '" + root + "src/tree' && bsdtar --format cpio -cf ../../arch/a.cpio a.txt").c_str()), 0);
    const std::string cpio = root + "arch/a.cpio";
    MakeArchiveDelete(PanePlace::Archive(cpio), ui)->Run(Rows({"a.txt"}));
    MakeArchiveAdd(PanePlace::Archive(cpio), root + "src/tree", false, ui, {})->Run(Rows({"hard"}));
    EXPECT_EQ(ui.informed, (std::vector<std::string>{kArchiveReadOnlyText, kArchiveReadOnlyText}));
    EXPECT_EQ(Members(cpio), std::vector<std::string>{"a.txt"});
}

// Through the runner: the question names the disk's file as the incoming
// one, and a cancel from the Operations window stops the rewrite.
TEST_F(ArchiveRewriteTest, OnTheRunnerTheQuestionAndTheCancelReachTheRewrite)
{
    struct Delegate : OperationQuestions {
        std::mutex mutex;
        std::vector<OperationQuestion> asked;
        bool cancel = false; // the user presses Cancel while the question is open
        void Ask(const std::shared_ptr<Operation>& op, const OperationQuestion& q,
                 std::function<void(int)> reply) override
        {
            {
                std::lock_guard lock(mutex);
                asked.push_back(q);
            }
            if (cancel)
                op->Cancel();
            reply(q.type == OperationQuestion::Type::Replace ? int(ReplaceAnswer::Yes) : 0);
        }
    };
    const std::string path = Make(ArchiveKind::Tar, {root + "src/tree/a.txt"});
    Put(root + "src/a.txt", "from the disk");
    OperationRunner runner;
    auto delegate = std::make_shared<Delegate>();
    auto result = std::make_shared<SourceOperationResult>();
    auto op = MakeSourceOperation(
        OperationKind::ZipAdd, "add",
        [&](SourceOperationUi& ui) { return MakeArchiveAdd(PanePlace::Archive(path), root + "src", false, ui, {}); },
        Rows({"a.txt"}), result);
    op->SetQuestions(delegate);
    ASSERT_TRUE(runner.Start(op, RunMode::Background));
    ASSERT_TRUE(runner.WaitAll(std::chrono::seconds(30)));
    ASSERT_EQ(delegate->asked.size(), 1u);
    EXPECT_STREQ(delegate->asked[0].incomingLabel, "From the disk");
    EXPECT_EQ(delegate->asked[0].facts.incomingSize, 13u);
    EXPECT_EQ(Output("bsdtar -xOf '" + path + "' a.txt"), "from the disk");

    const std::string before = Slurp(path);
    auto cancelled = MakeSourceOperation(
        OperationKind::ZipAdd, "add",
        [&](SourceOperationUi& ui) { return MakeArchiveAdd(PanePlace::Archive(path), root + "src", false, ui, {}); },
        Rows({"tree", "a.txt"}), result);
    delegate->cancel = true;
    cancelled->SetQuestions(delegate);
    ASSERT_TRUE(runner.Start(cancelled, RunMode::Background));
    ASSERT_TRUE(runner.WaitAll(std::chrono::seconds(30)));
    EXPECT_EQ(cancelled->State(), OperationState::Cancelled);
    EXPECT_EQ(delegate->asked.size(), 2u);
    EXPECT_EQ(Slurp(path), before);
    EXPECT_EQ(Names(root + "arch"), std::vector<std::string>{"made.tar"});
}

TEST(ArchiveKindNames, ExtensionsNameTheirKind)
{
    for (const ArchiveKind kind : kWritableArchiveKinds)
        EXPECT_EQ(ArchiveKindOfName(std::string("x") + ArchiveKindExtension(kind)), kind);
    EXPECT_EQ(ArchiveKindOfName("A.TGZ"), ArchiveKind::TarGz);
    EXPECT_EQ(ArchiveKindOfName("a.zip"), std::nullopt);
    EXPECT_EQ(ArchiveKindOfName(".tar"), std::nullopt);
}

} // namespace
