#include "platform/ShellFileOperation.h"
#include "platform/FaultyFileSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace tarnel;
using tarnel::test::FaultyFileSystem;
using tarnel::test::FsCall;
using Status = OperationResult::Status;

namespace {

// ---- files ----

void WriteFile(const std::string& path, const std::string& content, mode_t mode = 0644)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
    ASSERT_GE(fd, 0) << path << ": " << strerror(errno);
    ASSERT_EQ(ssize_t(content.size()), ::write(fd, content.data(), content.size()));
    ::fchmod(fd, mode);
    ::close(fd);
}

std::optional<std::string> ReadFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW);
    if (fd < 0)
        return std::nullopt;
    std::string content;
    char buffer[65536];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        content.append(buffer, size_t(n));
    ::close(fd);
    return content;
}

bool Exists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

struct stat StatOf(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(0, ::lstat(path.c_str(), &st)) << path;
    return st;
}

std::vector<std::string> Names(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d))
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                names.emplace_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void MakeDir(const std::string& path, mode_t mode = 0755)
{
    ASSERT_EQ(0, ::mkdir(path.c_str(), mode)) << path << ": " << strerror(errno);
    ::chmod(path.c_str(), mode);
}

void SetTimes(const std::string& path, time_t atime, long atimeNs, time_t mtime, long mtimeNs)
{
    const struct timespec times[2] = {{atime, atimeNs}, {mtime, mtimeNs}};
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW)) << path;
}

std::string Pattern(size_t size, unsigned seed = 1)
{
    std::string data(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char& c : data) {
        x = x * 1664525u + 1013904223u;
        c = char(x >> 24);
    }
    return data;
}

class TempDir {
public:
    TempDir()
    {
        char pattern[] = "/tmp/tarnel-fo-XXXXXX";
        path_ = ::mkdtemp(pattern);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value)
        : name_(name)
    {
        if (const char* old = getenv(name))
            old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// ---- the questions, answered from a script ----

class ScriptedUi : public OperationUi {
public:
    std::deque<ReplaceAnswer> replaceAnswers;
    std::vector<std::string> replaceAsked;

    struct ErrorAsked {
        std::string what, path;
        int error;
    };
    std::deque<ErrorAnswer> errorAnswers;
    std::vector<ErrorAsked> errorsAsked;
    std::function<void()> onError;

    bool confirmTrash = true;
    std::vector<size_t> trashConfirmations;

    std::deque<DeleteAnswer> deleteAnswers;
    std::vector<std::string> deleteAsked;
    std::function<void(const std::string&)> onAskDelete;

    std::vector<std::string> refusals;

    std::function<bool(uint64_t bytesDone)> keepGoing;
    uint64_t lastItemsTotal = 0, lastBytesTotal = 0, maxBytesDone = 0;
    bool bytesWithinTotal = true;

    std::vector<ReplaceFacts> factsShown;
    std::deque<bool> createAnswers;
    std::vector<std::string> createAsked;

    ReplaceAnswer AskReplaceKnown(const std::string& path, const ReplaceFacts& facts) override
    {
        factsShown.push_back(facts);
        return AskReplace(path);
    }
    bool ConfirmCreateFolder(const std::string& path) override
    {
        createAsked.push_back(path);
        if (createAnswers.empty()) {
            ADD_FAILURE() << "unexpected question whether to create " << path;
            return false;
        }
        const bool answer = createAnswers.front();
        createAnswers.pop_front();
        return answer;
    }
    ReplaceAnswer AskReplace(const std::string& path) override
    {
        replaceAsked.push_back(path);
        if (replaceAnswers.empty()) {
            ADD_FAILURE() << "unexpected replace question for " << path;
            return ReplaceAnswer::Cancel;
        }
        const ReplaceAnswer answer = replaceAnswers.front();
        replaceAnswers.pop_front();
        return answer;
    }
    ErrorAnswer AskError(const std::string& what, const std::string& path, int error) override
    {
        errorsAsked.push_back({what, path, error});
        if (onError)
            onError();
        if (errorAnswers.empty()) {
            ADD_FAILURE() << "unexpected error: " << what << " " << path << ": " << strerror(error);
            return ErrorAnswer::Cancel;
        }
        const ErrorAnswer answer = errorAnswers.front();
        errorAnswers.pop_front();
        return answer;
    }
    bool ConfirmTrash(size_t count) override
    {
        trashConfirmations.push_back(count);
        return confirmTrash;
    }
    DeleteAnswer AskDeletePermanently(const std::string& path) override
    {
        deleteAsked.push_back(path);
        if (onAskDelete)
            onAskDelete(path);
        if (deleteAnswers.empty()) {
            ADD_FAILURE() << "unexpected permanent delete question for " << path;
            return DeleteAnswer::Cancel;
        }
        const DeleteAnswer answer = deleteAnswers.front();
        deleteAnswers.pop_front();
        return answer;
    }
    void Refused(const std::string& text) override { refusals.push_back(text); }
    bool Progress(uint64_t, uint64_t itemsTotal, uint64_t bytesDone, uint64_t bytesTotal, const std::string&) override
    {
        lastItemsTotal = itemsTotal;
        lastBytesTotal = bytesTotal;
        maxBytesDone = std::max(maxBytesDone, bytesDone);
        if (bytesDone > bytesTotal)
            bytesWithinTotal = false;
        return !keepGoing || keepGoing(bytesDone);
    }
};

class FileOperationTest : public ::testing::Test {
protected:
    TempDir tmp;
    std::string src = tmp.path() + "/src";
    std::string dst = tmp.path() + "/dst";
    ScriptedUi ui;
    FaultyFileSystem fs;

    void SetUp() override
    {
        MakeDir(src);
        MakeDir(dst);
    }

    OperationResult Run(int code, std::vector<std::string> sources, const std::string& target)
    {
        ShellFileOperation op(ui, fs);
        return op.Run(code, sources, target);
    }
    OperationResult Copy(std::vector<std::string> sources, const std::string& target)
    {
        return Run(FO_COPY, std::move(sources), target);
    }
    OperationResult Move(std::vector<std::string> sources, const std::string& target)
    {
        return Run(FO_MOVE, std::move(sources), target);
    }

    // No temporary or partial file anywhere below dir.
    void ExpectNoLeftovers(const std::string& dir)
    {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
            EXPECT_EQ(std::string::npos, entry.path().filename().string().find(".tarnel-")) << entry.path();
    }

    // A tree with every kind of entry and chosen modes and times.
    void MakeTree(const std::string& root)
    {
        MakeDir(root, 0750);
        WriteFile(root + "/a.txt", "alpha", 0640);
        WriteFile(root + "/run.sh", "#!/bin/sh\n", 0755);
        WriteFile(root + "/shared.txt", "s", 0666); // wider than the umask lets a new file be
        WriteFile(root + "/setid", "id", 04755);
        MakeDir(root + "/sub", 0700);
        WriteFile(root + "/sub/deep.bin", Pattern(3 * 1024 * 1024 + 17), 0600);
        ASSERT_EQ(0, ::symlink("a.txt", (root + "/link").c_str()));
        ASSERT_EQ(0, ::symlink("/nonexistent/elsewhere", (root + "/dangling").c_str()));
        ASSERT_EQ(0, ::symlink("sub", (root + "/dirlink").c_str()));
        ASSERT_EQ(0, ::mkfifo((root + "/fifo").c_str(), 0620));
        ::chmod((root + "/fifo").c_str(), 0620);
        SetTimes(root + "/a.txt", 1500000000, 111, 1000000000, 123456789);
        SetTimes(root + "/sub/deep.bin", 1500000001, 0, 1000000001, 987654321);
        SetTimes(root + "/link", 1500000002, 0, 1000000002, 5);
        SetTimes(root + "/fifo", 1500000003, 0, 1000000003, 6);
        SetTimes(root + "/sub", 1500000004, 0, 1000000004, 7);
        SetTimes(root, 1500000005, 0, 1000000005, 8);
    }

    void ExpectSameTree(const std::string& from, const std::string& to)
    {
        const struct stat a = StatOf(from), b = StatOf(to);
        EXPECT_EQ(a.st_mode, b.st_mode) << to;
        EXPECT_EQ(a.st_mtim.tv_sec, b.st_mtim.tv_sec) << to;
        EXPECT_EQ(a.st_mtim.tv_nsec, b.st_mtim.tv_nsec) << to;
        if (S_ISREG(a.st_mode)) {
            EXPECT_EQ(ReadFile(from), ReadFile(to)) << to;
        } else if (S_ISLNK(a.st_mode)) {
            EXPECT_EQ(std::filesystem::read_symlink(from), std::filesystem::read_symlink(to)) << to;
        } else if (S_ISDIR(a.st_mode)) {
            ASSERT_EQ(Names(from), Names(to)) << to;
            for (const std::string& name : Names(from))
                ExpectSameTree(from + "/" + name, to + "/" + name);
        }
    }
};

// ---- copy ----

TEST_F(FileOperationTest, CopyKeepsTreeModesTimesAndLinks)
{
    MakeTree(src + "/tree");
    WriteFile(src + "/single.txt", "one");
    const OperationResult r = Copy({src + "/tree", src + "/single.txt"}, dst);
    EXPECT_EQ(Status::Done, r.status);
    EXPECT_EQ(2u, r.done);
    EXPECT_TRUE(ui.refusals.empty());
    // The access time as it was before the copy read the file (checked before
    // anything reads the copy).
    EXPECT_EQ(1500000000, StatOf(dst + "/tree/a.txt").st_atim.tv_sec);
    EXPECT_EQ(111, StatOf(dst + "/tree/a.txt").st_atim.tv_nsec);
    ExpectSameTree(src + "/tree", dst + "/tree");
    EXPECT_TRUE(S_ISLNK(StatOf(dst + "/tree/dirlink").st_mode)); // not followed
    EXPECT_TRUE(S_ISFIFO(StatOf(dst + "/tree/fifo").st_mode));   // recreated, never opened
    EXPECT_EQ("one", ReadFile(dst + "/single.txt"));
    EXPECT_EQ(Names(src), Names(dst));
    ExpectNoLeftovers(dst);
    EXPECT_EQ(12u, ui.lastItemsTotal); // tree, 10 entries below, single.txt
    EXPECT_EQ(5u + 10 + 1 + 2 + 3 * 1024 * 1024 + 17 + 3, ui.lastBytesTotal);
    EXPECT_TRUE(ui.bytesWithinTotal);
}

TEST_F(FileOperationTest, CopyWithoutCopyFileRangeGivesTheSameTree)
{
    MakeTree(src + "/tree");
    fs.FailAlways(FsCall::CopyFileRange, "", ENOSYS);
    EXPECT_EQ(Status::Done, Copy({src + "/tree"}, dst).status);
    ExpectSameTree(src + "/tree", dst + "/tree");
    EXPECT_GT(fs.Calls(FsCall::Write), 3); // the 3 MiB file went in 1 MiB writes
}

TEST_F(FileOperationTest, CopyKeepsExtendedAttributes)
{
    WriteFile(src + "/hidden.txt", "x");
    if (::setxattr((src + "/hidden.txt").c_str(), "user.DOSATTRIB", "0x22", 4, 0) != 0)
        GTEST_SKIP() << "no user extended attributes here";
    EXPECT_EQ(Status::Done, Copy({src + "/hidden.txt"}, dst).status);
    char value[16] = {};
    EXPECT_EQ(4, ::getxattr((dst + "/hidden.txt").c_str(), "user.DOSATTRIB", value, sizeof value));
    EXPECT_STREQ("0x22", value);
}

TEST_F(FileOperationTest, NamesWithBlanksQuotesNewlinesAndInvalidUtf8)
{
    const std::vector<std::string> names = {"with blank", "quote\"s and 'single'", "new\nline", "bad\xff\xfe utf8",
                                            "-leading dash", "tab\there", "percent%20"};
    std::vector<std::string> sources;
    for (const std::string& name : names) {
        WriteFile(src + "/" + name, "content of " + name);
        sources.push_back(src + "/" + name);
    }
    MakeDir(src + "/dir \"\n\x80");
    WriteFile(src + "/dir \"\n\x80/inner \xc3(", "inner");
    sources.push_back(src + "/dir \"\n\x80");

    EXPECT_EQ(Status::Done, Copy(sources, dst).status);
    for (const std::string& name : names)
        EXPECT_EQ("content of " + name, ReadFile(dst + "/" + name)) << name;
    EXPECT_EQ("inner", ReadFile(dst + "/dir \"\n\x80/inner \xc3("));

    const std::string renamed = dst + "/renamed \n\xff \"x\"";
    EXPECT_EQ(Status::Done, Run(FO_RENAME, {dst + "/new\nline"}, renamed).status);
    EXPECT_EQ("content of new\nline", ReadFile(renamed));

    const std::string moved = tmp.path() + "/moved";
    MakeDir(moved);
    EXPECT_EQ(Status::Done, Move(sources, moved).status);
    EXPECT_TRUE(Names(src).empty());
    EXPECT_EQ("inner", ReadFile(moved + "/dir \"\n\x80/inner \xc3("));

    ScopedEnv dataHome("XDG_DATA_HOME", (tmp.path() + "/data").c_str());
    EXPECT_EQ(Status::Done, Run(FO_DELETE, {moved + "/bad\xff\xfe utf8", moved + "/-leading dash"}, {}).status);
    EXPECT_EQ("content of bad\xff\xfe utf8", ReadFile(tmp.path() + "/data/Trash/files/bad\xff\xfe utf8"));
    const auto info = ReadFile(tmp.path() + "/data/Trash/info/bad\xff\xfe utf8.trashinfo");
    ASSERT_TRUE(info);
    EXPECT_NE(std::string::npos, info->find("Path=" + TrashInfoEscape(moved) + "/bad%FF%FE%20utf8\n")) << *info;
    EXPECT_TRUE(Exists(tmp.path() + "/data/Trash/files/-leading dash"));
}

TEST_F(FileOperationTest, ReplaceQuestionYesNoYesToAllCancel)
{
    for (const char* name : {"a", "b", "c"}) {
        WriteFile(src + "/" + name, std::string("new ") + name);
        WriteFile(dst + "/" + name, std::string("old ") + name);
    }
    const std::vector<std::string> all = {src + "/a", src + "/b", src + "/c"};

    ui.replaceAnswers = {ReplaceAnswer::Yes, ReplaceAnswer::No, ReplaceAnswer::Yes};
    OperationResult r = Copy(all, dst);
    EXPECT_EQ(Status::Done, r.status);
    EXPECT_EQ(2u, r.done);
    EXPECT_EQ(1u, r.skipped);
    EXPECT_EQ((std::vector<std::string> {dst + "/a", dst + "/b", dst + "/c"}), ui.replaceAsked);
    EXPECT_EQ("new a", ReadFile(dst + "/a"));
    EXPECT_EQ("old b", ReadFile(dst + "/b"));
    EXPECT_EQ("new c", ReadFile(dst + "/c"));
    ExpectNoLeftovers(dst);

    for (const char* name : {"a", "b", "c"})
        WriteFile(dst + "/" + name, std::string("old ") + name);
    ui.replaceAsked.clear();
    ui.replaceAnswers = {ReplaceAnswer::YesToAll};
    EXPECT_EQ(Status::Done, Copy(all, dst).status);
    EXPECT_EQ(1u, ui.replaceAsked.size());
    for (const char* name : {"a", "b", "c"})
        EXPECT_EQ(std::string("new ") + name, ReadFile(dst + "/" + name));

    for (const char* name : {"a", "b", "c"})
        WriteFile(dst + "/" + name, std::string("old ") + name);
    ::unlink((dst + "/c").c_str());
    ui.replaceAnswers = {ReplaceAnswer::No, ReplaceAnswer::Cancel};
    r = Copy(all, dst);
    EXPECT_EQ(Status::Cancelled, r.status);
    EXPECT_EQ("old a", ReadFile(dst + "/a"));
    EXPECT_EQ("old b", ReadFile(dst + "/b"));
    EXPECT_FALSE(Exists(dst + "/c")); // never reached

    // Skip all: the first conflict and every later one are left unasked;
    // what does not conflict is still copied.
    WriteFile(dst + "/c", "old c");
    MakeDir(src + "/d");
    WriteFile(src + "/d/e", "new e");
    MakeDir(dst + "/d");
    WriteFile(dst + "/d/e", "old e");
    WriteFile(src + "/f", "new f");
    ui.replaceAsked.clear();
    ui.replaceAnswers = {ReplaceAnswer::SkipAll};
    r = Copy({src + "/a", src + "/b", src + "/c", src + "/d", src + "/f"}, dst);
    EXPECT_EQ(Status::Done, r.status);
    EXPECT_EQ((std::vector<std::string> {dst + "/a"}), ui.replaceAsked);
    EXPECT_EQ(4u, r.skipped);
    EXPECT_EQ(1u, r.done);
    for (const char* name : {"a", "b", "c", "d/e"})
        EXPECT_EQ(std::string("old ") + (name[0] == 'd' ? "e" : name), ReadFile(dst + "/" + name));
    EXPECT_EQ("new f", ReadFile(dst + "/f"));
    ExpectNoLeftovers(dst);

    // Moves honour it too: the skipped sources stay where they were.
    ui.replaceAsked.clear();
    ui.replaceAnswers = {ReplaceAnswer::SkipAll};
    EXPECT_EQ(Status::Done, Run(FO_MOVE, {src + "/a", src + "/b"}, dst).status);
    EXPECT_EQ(1u, ui.replaceAsked.size());
    EXPECT_EQ("new a", ReadFile(src + "/a"));
    EXPECT_EQ("new b", ReadFile(src + "/b"));
    EXPECT_EQ("old b", ReadFile(dst + "/b"));
}

TEST_F(FileOperationTest, ReplaceQuestionKnowsBothFilesSizesAndTimes)
{
    WriteFile(src + "/a", "twelve bytes");
    WriteFile(dst + "/a", "old");
    struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, (dst + "/a").c_str(), times, 0));
    struct stat st;
    ASSERT_EQ(0, ::stat((src + "/a").c_str(), &st));
    for (int code : {FO_COPY, FO_MOVE}) {
        ui.factsShown.clear();
        ui.replaceAnswers = {ReplaceAnswer::No};
        EXPECT_EQ(Status::Done, Run(code, {src + "/a"}, dst).status);
        ASSERT_EQ(1u, ui.factsShown.size());
        EXPECT_EQ(12u, ui.factsShown[0].incomingSize);
        EXPECT_EQ(int64_t(st.st_mtime), ui.factsShown[0].incomingTime);
        EXPECT_EQ(3u, ui.factsShown[0].existingSize);
        EXPECT_EQ(1000000000, ui.factsShown[0].existingTime);
    }
}

TEST_F(FileOperationTest, MissingTargetFolderIsMadeOnlyWhenTheUserSaysSo)
{
    WriteFile(src + "/a", "a");
    const std::string typed = dst + "/new/deeper";
    for (int code : {FO_COPY, FO_MOVE}) {
        ui.createAsked.clear();
        ui.createAnswers = {false};
        EXPECT_EQ(Status::Cancelled, ShellFileOperation(ui, fs).Run(code, {src + "/a"}, typed, FOF_ALLOWUNDO).status);
        EXPECT_EQ((std::vector<std::string> {typed}), ui.createAsked);
        EXPECT_FALSE(Exists(dst + "/new"));
        EXPECT_TRUE(Exists(src + "/a"));
    }
    ui.createAnswers = {true};
    EXPECT_EQ(Status::Done, ShellFileOperation(ui, fs).Run(FO_MOVE, {src + "/a"}, typed, FOF_ALLOWUNDO).status);
    EXPECT_EQ("a", ReadFile(typed + "/a"));
    EXPECT_FALSE(Exists(src + "/a"));

    // A file is no folder to copy into, and nothing is asked about it.
    WriteFile(src + "/b", "b");
    ui.refusals.clear();
    EXPECT_EQ(Status::Failed, ShellFileOperation(ui, fs).Run(FO_COPY, {src + "/b"}, typed + "/a", FOF_ALLOWUNDO).status);
    ASSERT_EQ(1u, ui.refusals.size());
    EXPECT_NE(std::string::npos, ui.refusals[0].find("not a folder"));
    EXPECT_EQ("a", ReadFile(typed + "/a"));
}

TEST_F(FileOperationTest, ExistingFolderIsMergedAfterYes)
{
    MakeDir(src + "/d");
    WriteFile(src + "/d/new.txt", "new");
    WriteFile(src + "/d/both.txt", "from source");
    MakeDir(dst + "/d");
    WriteFile(dst + "/d/kept.txt", "kept");
    WriteFile(dst + "/d/both.txt", "from target");
    ui.replaceAnswers = {ReplaceAnswer::Yes, ReplaceAnswer::No};
    EXPECT_EQ(Status::Done, Copy({src + "/d"}, dst).status);
    EXPECT_EQ((std::vector<std::string> {dst + "/d", dst + "/d/both.txt"}), ui.replaceAsked);
    EXPECT_EQ((std::vector<std::string> {"both.txt", "kept.txt", "new.txt"}), Names(dst + "/d"));
    EXPECT_EQ("from target", ReadFile(dst + "/d/both.txt"));

    // A file never replaces a folder, nor the other way round.
    MakeDir(src + "/other");
    MakeDir(src + "/other/kept.txt");
    WriteFile(src + "/other/sub", "file");
    MakeDir(dst + "/d/sub");
    for (int code : {FO_COPY, FO_MOVE})
        EXPECT_EQ(Status::Failed, Run(code, {src + "/other/kept.txt", src + "/other/sub"}, dst + "/d").status);
    EXPECT_EQ(4u, ui.refusals.size());
    EXPECT_EQ("kept", ReadFile(dst + "/d/kept.txt"));
    EXPECT_TRUE(Names(dst + "/d/sub").empty());
    EXPECT_EQ((std::vector<std::string> {"kept.txt", "sub"}), Names(src + "/other"));
}

TEST_F(FileOperationTest, IntoItselfAndOntoItselfAreRefused)
{
    MakeDir(src + "/d");
    MakeDir(src + "/d/sub");
    WriteFile(src + "/d/sub/f", "f");
    WriteFile(src + "/file", "file");
    ASSERT_EQ(0, ::symlink((src + "/d/sub").c_str(), (tmp.path() + "/via-link").c_str()));
    const auto before = Names(src + "/d/sub");

    for (int code : {FO_COPY, FO_MOVE}) {
        ui.refusals.clear();
        EXPECT_EQ(Status::Failed, Run(code, {src + "/d"}, src + "/d").status);
        EXPECT_EQ(Status::Failed, Run(code, {src + "/d"}, src + "/d/sub").status);
        EXPECT_EQ(Status::Failed, Run(code, {src + "/d"}, tmp.path() + "/via-link").status);
        EXPECT_EQ(Status::Failed, Run(code, {src + "/file"}, src).status);
        EXPECT_EQ(Status::Failed, Run(code, {src + "/d"}, src).status);
        EXPECT_EQ(5u, ui.refusals.size()) << code;
        EXPECT_EQ(before, Names(src + "/d/sub"));
        EXPECT_EQ("file", ReadFile(src + "/file"));
        EXPECT_EQ("f", ReadFile(src + "/d/sub/f"));
    }
}

TEST_F(FileOperationTest, MissingTargetFolderIsCreatedAndRemovedAgainOnCancel)
{
    WriteFile(src + "/a", "a");
    EXPECT_EQ(Status::Done, Copy({src + "/a"}, dst + "/new/deeper").status);
    EXPECT_EQ("a", ReadFile(dst + "/new/deeper/a"));

    ui.keepGoing = [](uint64_t) { return false; };
    EXPECT_EQ(Status::Cancelled, Copy({src + "/a"}, dst + "/other/deeper").status);
    EXPECT_FALSE(Exists(dst + "/other"));
}

// ---- faults during a copy ----

TEST_F(FileOperationTest, WriteFailingHalfWayLeavesNoPartialTarget)
{
    const std::string big = Pattern(4 * 1024 * 1024 + 3);
    WriteFile(src + "/big.bin", big);
    WriteFile(src + "/before.txt", "before");
    WriteFile(src + "/after.txt", "after");
    for (bool useRange : {true, false}) {
        SCOPED_TRACE(useRange ? "copy_file_range" : "read and write");
        fs.Clear();
        if (!useRange)
            fs.FailAlways(FsCall::CopyFileRange, "", EOPNOTSUPP);
        fs.FailWritesAfter("dst/.tarnel-", 2 * 1024 * 1024, ENOSPC);
        ui.errorsAsked.clear();
        ui.errorAnswers = {ErrorAnswer::Skip};
        const OperationResult r = Copy({src + "/before.txt", src + "/big.bin", src + "/after.txt"}, dst);
        EXPECT_EQ(Status::Failed, r.status);
        EXPECT_EQ(2u, r.done);
        EXPECT_EQ(1u, r.failed);
        ASSERT_EQ(1u, ui.errorsAsked.size());
        EXPECT_EQ("Cannot write", ui.errorsAsked[0].what);
        EXPECT_EQ(dst + "/big.bin", ui.errorsAsked[0].path);
        EXPECT_EQ(ENOSPC, ui.errorsAsked[0].error);
        EXPECT_EQ((std::vector<std::string> {"after.txt", "before.txt"}), Names(dst));
        EXPECT_EQ(big, ReadFile(src + "/big.bin"));
        for (const char* name : {"after.txt", "before.txt"})
            ::unlink((dst + "/" + name).c_str());
    }

    // Retry after space was made: the copy starts over and completes.
    fs.Clear();
    fs.FailWritesAfter("dst/.tarnel-", 1024 * 1024, ENOSPC);
    ui.onError = [&] { fs.Clear(); };
    ui.errorAnswers = {ErrorAnswer::Retry};
    EXPECT_EQ(Status::Done, Copy({src + "/big.bin"}, dst).status);
    EXPECT_EQ(big, ReadFile(dst + "/big.bin"));
    EXPECT_TRUE(ui.bytesWithinTotal);
}

TEST_F(FileOperationTest, FailedReplacementKeepsTheOldTarget)
{
    WriteFile(src + "/big.bin", Pattern(3 * 1024 * 1024));
    WriteFile(dst + "/big.bin", "the old one");
    fs.FailWritesAfter(".tarnel-", 1024 * 1024 + 1, ENOSPC);
    ui.replaceAnswers = {ReplaceAnswer::Yes};
    ui.errorAnswers = {ErrorAnswer::Skip};
    EXPECT_EQ(Status::Failed, Copy({src + "/big.bin"}, dst).status);
    EXPECT_EQ("the old one", ReadFile(dst + "/big.bin"));
    EXPECT_EQ(std::vector<std::string> {"big.bin"}, Names(dst));

    // Nor does a failure to sync the replacement touch it.
    fs.Clear();
    fs.Fail(FsCall::Fsync, ".tarnel-", EIO);
    ui.replaceAnswers = {ReplaceAnswer::Yes};
    ui.errorAnswers = {ErrorAnswer::Cancel};
    EXPECT_EQ(Status::Cancelled, Copy({src + "/big.bin"}, dst).status);
    EXPECT_EQ("the old one", ReadFile(dst + "/big.bin"));
    EXPECT_EQ(std::vector<std::string> {"big.bin"}, Names(dst));
}

TEST_F(FileOperationTest, SourceVanishingDuringTheCopy)
{
    const std::string data = Pattern(3 * 1024 * 1024);
    WriteFile(src + "/big.bin", data);
    fs.VanishAfter("src/big.bin", 1024 * 1024 + 5, ENOENT);
    ui.errorAnswers = {ErrorAnswer::Cancel};
    EXPECT_EQ(Status::Cancelled, Copy({src + "/big.bin"}, dst).status);
    ASSERT_EQ(1u, ui.errorsAsked.size());
    EXPECT_EQ("Cannot read", ui.errorsAsked[0].what);
    EXPECT_EQ(src + "/big.bin", ui.errorsAsked[0].path);
    EXPECT_TRUE(Names(dst).empty());

    // Gone for real between the listing and the copy: asked, then skipped.
    fs.Clear();
    MakeDir(src + "/d");
    WriteFile(src + "/d/gone", "gone");
    WriteFile(src + "/d/stays", "stays");
    fs.beforeCall = [&](FsCall call, const std::string& path) {
        if (call == FsCall::Open && path == src + "/d/gone")
            ::unlink(path.c_str());
    };
    ui.errorsAsked.clear();
    ui.errorAnswers = {ErrorAnswer::Skip};
    EXPECT_EQ(Status::Failed, Copy({src + "/d"}, dst).status);
    ASSERT_EQ(1u, ui.errorsAsked.size());
    EXPECT_EQ(ENOENT, ui.errorsAsked[0].error);
    EXPECT_EQ(std::vector<std::string> {"stays"}, Names(dst + "/d"));
}

TEST_F(FileOperationTest, PermissionDeniedInTheMiddleSkipCancelRetry)
{
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        WriteFile(src + "/" + name, name);
    const std::vector<std::string> all = {src + "/a.txt", src + "/b.txt", src + "/c.txt"};
    const auto reset = [&] {
        for (const std::string& name : Names(dst))
            ::unlink((dst + "/" + name).c_str());
        fs.Clear();
        ui.errorsAsked.clear();
    };

    fs.FailAlways(FsCall::Open, "src/b.txt", EACCES);
    ui.errorAnswers = {ErrorAnswer::Skip};
    OperationResult r = Copy(all, dst);
    EXPECT_EQ(Status::Failed, r.status);
    EXPECT_EQ(2u, r.done);
    EXPECT_EQ(1u, r.failed);
    EXPECT_EQ((std::vector<std::string> {"a.txt", "c.txt"}), Names(dst));
    ASSERT_EQ(1u, ui.errorsAsked.size());
    EXPECT_EQ(EACCES, ui.errorsAsked[0].error);
    EXPECT_EQ(src + "/b.txt", ui.errorsAsked[0].path);

    reset();
    fs.FailAlways(FsCall::Open, "src/b.txt", EACCES);
    ui.errorAnswers = {ErrorAnswer::Cancel};
    r = Copy(all, dst);
    EXPECT_EQ(Status::Cancelled, r.status);
    EXPECT_EQ(std::vector<std::string> {"a.txt"}, Names(dst));

    reset();
    fs.Fail(FsCall::Open, "src/b.txt", EACCES, 1, 2);
    ui.errorAnswers = {ErrorAnswer::Retry, ErrorAnswer::Retry};
    r = Copy(all, dst);
    EXPECT_EQ(Status::Done, r.status);
    EXPECT_EQ(2u, ui.errorsAsked.size());
    EXPECT_EQ((std::vector<std::string> {"a.txt", "b.txt", "c.txt"}), Names(dst));
    EXPECT_EQ("b.txt", ReadFile(dst + "/b.txt"));

    // The same for a folder that cannot be listed: nothing of it is created.
    reset();
    MakeDir(src + "/locked");
    WriteFile(src + "/locked/x", "x");
    fs.FailAlways(FsCall::ListDirectory, "src/locked", EACCES);
    ui.errorAnswers = {ErrorAnswer::Skip};
    EXPECT_EQ(Status::Failed, Copy({src + "/locked", src + "/c.txt"}, dst).status);
    EXPECT_EQ(std::vector<std::string> {"c.txt"}, Names(dst));
}

TEST_F(FileOperationTest, CancelDuringALargeCopyLeavesNoPartialFile)
{
    MakeDir(src + "/d");
    WriteFile(src + "/d/large.bin", Pattern(16 * 1024 * 1024));
    ui.keepGoing = [](uint64_t bytesDone) { return bytesDone < 5 * 1024 * 1024; };
    const OperationResult r = Copy({src + "/d"}, dst);
    EXPECT_EQ(Status::Cancelled, r.status);
    EXPECT_TRUE(Names(dst).empty()); // neither the file nor the folder made for it
    EXPECT_EQ(16u * 1024 * 1024, ui.lastBytesTotal);
    EXPECT_EQ(2u, ui.lastItemsTotal);
    EXPECT_LT(ui.maxBytesDone, 7u * 1024 * 1024); // stopped soon after the answer
    EXPECT_EQ(16u * 1024 * 1024, StatOf(src + "/d/large.bin").st_size);
}

// ---- move ----

TEST_F(FileOperationTest, MoveWithinAVolumeIsOneRenamePerEntry)
{
    MakeDir(src + "/tree");
    for (int i = 0; i < 50; ++i)
        WriteFile(src + "/tree/f" + std::to_string(i), std::to_string(i));
    WriteFile(src + "/big.bin", Pattern(2 * 1024 * 1024));
    ASSERT_EQ(0, ::symlink("big.bin", (src + "/link").c_str()));
    const OperationResult r = Move({src + "/tree", src + "/big.bin", src + "/link"}, dst);
    EXPECT_EQ(Status::Done, r.status);
    EXPECT_EQ(3u, r.done);
    EXPECT_EQ(3, fs.Calls(FsCall::Rename));
    EXPECT_EQ(0, fs.Calls(FsCall::Read) + fs.Calls(FsCall::Write)); // no data copied
    EXPECT_TRUE(Names(src).empty());
    EXPECT_EQ(50u, Names(dst + "/tree").size());
    EXPECT_EQ(2u * 1024 * 1024, StatOf(dst + "/big.bin").st_size);
}

TEST_F(FileOperationTest, MoveOntoAnExistingNameAsks)
{
    WriteFile(src + "/a", "moved a");
    WriteFile(src + "/b", "moved b");
    WriteFile(dst + "/a", "old a");
    WriteFile(dst + "/b", "old b");
    ui.replaceAnswers = {ReplaceAnswer::Yes, ReplaceAnswer::No};
    const OperationResult r = Move({src + "/a", src + "/b"}, dst);
    EXPECT_EQ(Status::Done, r.status);
    EXPECT_EQ(1u, r.skipped);
    EXPECT_EQ("moved a", ReadFile(dst + "/a"));
    EXPECT_FALSE(Exists(src + "/a"));
    EXPECT_EQ("old b", ReadFile(dst + "/b"));
    EXPECT_EQ("moved b", ReadFile(src + "/b"));

    // Folders merge; what was declined stays in the source folder.
    MakeDir(src + "/d");
    WriteFile(src + "/d/x", "new x");
    WriteFile(src + "/d/y", "y");
    MakeDir(dst + "/d");
    WriteFile(dst + "/d/x", "old x");
    ui.replaceAnswers = {ReplaceAnswer::Yes, ReplaceAnswer::No};
    EXPECT_EQ(Status::Done, Move({src + "/d"}, dst).status);
    EXPECT_EQ("old x", ReadFile(dst + "/d/x"));
    EXPECT_EQ("y", ReadFile(dst + "/d/y"));
    EXPECT_EQ(std::vector<std::string> {"x"}, Names(src + "/d"));
}

TEST_F(FileOperationTest, MoveAcrossVolumesCopiesSyncsThenDeletesEachSource)
{
    MakeTree(src + "/tree");
    TempDir reference;
    ASSERT_EQ(0, std::system(("cp -a '" + src + "/tree' '" + reference.path() + "/tree'").c_str()));
    fs.FailAlways(FsCall::Rename, "/src/", EXDEV);
    std::vector<std::string> log;
    std::vector<std::string> incompleteAtDelete;
    fs.beforeCall = [&](FsCall call, const std::string& path) {
        if (call == FsCall::Fsync || call == FsCall::Unlink || call == FsCall::Rmdir)
            log.push_back((call == FsCall::Fsync ? "sync " : "delete ") + path);
        // A file's source goes only once its copy is whole under its own name.
        if (call == FsCall::Unlink && path.rfind(src, 0) == 0 && S_ISREG(StatOf(path).st_mode)) {
            const std::string rel = path.substr(src.size());
            if (ReadFile(path) != ReadFile(dst + rel))
                incompleteAtDelete.push_back(rel);
        }
    };
    const OperationResult r = Move({src + "/tree"}, dst);
    EXPECT_EQ(Status::Done, r.status);
    EXPECT_FALSE(Exists(src + "/tree"));
    ExpectSameTree(reference.path() + "/tree", dst + "/tree");
    EXPECT_TRUE(incompleteAtDelete.empty()) << incompleteAtDelete.front();

    // ... and after the folder holding the copy was synced.
    for (size_t i = 0; i < log.size(); ++i) {
        if (log[i].rfind("delete " + src, 0) != 0)
            continue;
        const std::string rel = log[i].substr(std::string("delete " + src).size());
        const std::string copy = dst + rel;
        const auto before = log.begin() + long(i);
        const bool isDir = rel == "/tree" || rel == "/tree/sub";
        if (!isDir) {
            EXPECT_NE(before, std::find(log.begin(), before, "sync " + copy.substr(0, copy.find_last_of('/')))) << rel;
        }
    }
}

TEST_F(FileOperationTest, MoveAcrossVolumesWhoseCopyFailsKeepsTheSource)
{
    MakeDir(src + "/tree");
    WriteFile(src + "/tree/a.txt", "a");
    const std::string b = Pattern(2 * 1024 * 1024);
    WriteFile(src + "/tree/b.bin", b);
    WriteFile(src + "/c.txt", "c");
    fs.FailAlways(FsCall::Rename, "/src/", EXDEV);
    fs.FailWritesAfter("dst/tree/.tarnel-", 1000, ENOSPC);
    ui.errorAnswers = {ErrorAnswer::Skip};
    const OperationResult r = Move({src + "/tree", src + "/c.txt"}, dst);
    EXPECT_EQ(Status::Failed, r.status);
    EXPECT_EQ(1u, r.done);
    EXPECT_EQ(1u, r.failed);
    EXPECT_EQ(b, ReadFile(src + "/tree/b.bin"));
    EXPECT_FALSE(Exists(dst + "/tree/b.bin"));
    EXPECT_EQ("a", ReadFile(dst + "/tree/a.txt"));
    EXPECT_FALSE(Exists(src + "/tree/a.txt"));
    EXPECT_EQ("c", ReadFile(dst + "/c.txt"));
    EXPECT_FALSE(Exists(src + "/c.txt"));

    // When the target folder cannot be synced, no source is deleted.
    fs.Clear();
    fs.FailAlways(FsCall::Rename, "/src/", EXDEV);
    fs.FailAlways(FsCall::Fsync, "other", EIO);
    const std::string other = tmp.path() + "/other";
    MakeDir(other);
    ui.errorsAsked.clear();
    ui.errorAnswers = {ErrorAnswer::Skip};
    EXPECT_EQ(Status::Failed, Move({src + "/tree/b.bin"}, other).status);
    EXPECT_EQ(b, ReadFile(src + "/tree/b.bin"));
    EXPECT_FALSE(Exists(other + "/b.bin"));

    // Cancelled half way: the file being copied stays at its source only.
    fs.Clear();
    fs.FailAlways(FsCall::Rename, "/src/", EXDEV);
    ui.keepGoing = [](uint64_t done) { return done < 1024 * 1024; };
    EXPECT_EQ(Status::Cancelled, Move({src + "/tree/b.bin"}, other).status);
    EXPECT_EQ(b, ReadFile(src + "/tree/b.bin"));
    EXPECT_TRUE(Names(other).empty());
}

// ---- a tree that changes under the walk ----

class SwappedTreeTest : public FileOperationTest {
protected:
    std::string outside = tmp.path() + "/outside";

    void SetUp() override
    {
        FileOperationTest::SetUp();
        MakeDir(outside);
        WriteFile(outside + "/precious", "keep me");
        MakeDir(src + "/tree");
        WriteFile(src + "/tree/a", "a");
        MakeDir(src + "/tree/sub");
        WriteFile(src + "/tree/sub/b", "b");
    }

    // What sub became may be copied as a link, never as the folder it points to.
    void ExpectNothingCarriedIn()
    {
        struct stat st;
        if (::lstat((dst + "/tree/sub").c_str(), &st) == 0) {
            EXPECT_FALSE(S_ISDIR(st.st_mode));
        }
        EXPECT_EQ("keep me", ReadFile(outside + "/precious"));
    }
};

TEST_F(SwappedTreeTest, PermanentDeleteNeverReachesThroughTheLink)
{
    fs.SwapForLinkWhenEntered(src + "/tree/sub", outside);
    ui.deleteAnswers = {DeleteAnswer::Yes};
    ShellFileOperation op(ui, fs);
    op.Run(FO_DELETE, {src + "/tree"}, {}, 0);
    EXPECT_EQ("keep me", ReadFile(outside + "/precious"));
}

// The count goes through the tree first; the swap comes as the copy walks it.
TEST_F(SwappedTreeTest, CopyStaysInsideTheSelection)
{
    fs.SwapForLinkWhenEntered(src + "/tree/sub", outside, 2);
    Copy({src + "/tree"}, dst);
    ExpectNothingCarriedIn();
    EXPECT_EQ("a", ReadFile(dst + "/tree/a"));
}

TEST_F(SwappedTreeTest, CrossVolumeMoveStaysInsideTheSelection)
{
    fs.SwapForLinkWhenEntered(src + "/tree/sub", outside, 2);
    fs.FailAlways(FsCall::Rename, "/src/", EXDEV);
    Move({src + "/tree"}, dst);
    ExpectNothingCarriedIn();
}

// ---- nothing half-made under a final name ----

TEST_F(FileOperationTest, NewFilesAppearUnderTheirNamesOnlyWhenComplete)
{
    WriteFile(src + "/big.bin", Pattern(3 * 1024 * 1024));
    bool seenEarly = false;
    fs.beforeCall = [&](FsCall call, const std::string&) {
        if (call == FsCall::Write || call == FsCall::CopyFileRange || call == FsCall::Fsync)
            seenEarly = seenEarly || Exists(dst + "/big.bin");
    };
    EXPECT_EQ(Status::Done, Copy({src + "/big.bin"}, dst).status);
    EXPECT_FALSE(seenEarly);
    EXPECT_EQ(ReadFile(src + "/big.bin"), ReadFile(dst + "/big.bin"));
    ExpectNoLeftovers(dst);
}

TEST_F(FileOperationTest, CrossVolumeMoveSyncsANewFolderBeforeDeletingBelowIt)
{
    MakeDir(src + "/tree");
    MakeDir(src + "/tree/sub");
    WriteFile(src + "/tree/sub/f", "f");
    fs.FailAlways(FsCall::Rename, "/src/", EXDEV);
    std::vector<std::string> log;
    fs.beforeCall = [&](FsCall call, const std::string& path) {
        if (call == FsCall::Fsync || call == FsCall::Unlink)
            log.push_back((call == FsCall::Fsync ? "sync " : "delete ") + path);
    };
    EXPECT_EQ(Status::Done, Move({src + "/tree"}, dst).status);
    const auto deleted = std::find(log.begin(), log.end(), "delete " + src + "/tree/sub/f");
    ASSERT_NE(log.end(), deleted);
    EXPECT_NE(deleted, std::find(log.begin(), deleted, "sync " + dst + "/tree")); // holds the new sub
    EXPECT_NE(deleted, std::find(log.begin(), deleted, "sync " + dst)); // holds the new tree
}

// ---- a move deletes only what it copied ----

TEST_F(FileOperationTest, CrossVolumeMoveKeepsASourceChangedAfterItsCopy)
{
    WriteFile(src + "/log.txt", "old");
    fs.FailAlways(FsCall::Rename, "/src/", EXDEV);
    fs.beforeCall = [&](FsCall call, const std::string& path) {
        if (call == FsCall::Fsync && path == dst) { // the copy is done, the delete is next
            const int fd = ::open((src + "/log.txt").c_str(), O_WRONLY | O_APPEND);
            ASSERT_EQ(4, ::write(fd, " new", 4));
            ::close(fd);
        }
    };
    EXPECT_EQ(Status::Failed, Move({src + "/log.txt"}, dst).status);
    EXPECT_EQ("old new", ReadFile(src + "/log.txt"));
    EXPECT_EQ(1u, ui.refusals.size());
}

TEST_F(FileOperationTest, NamesMeetingOnACaseBlindTargetKeepBothSources)
{
    WriteFile(src + "/Note.txt", "upper");
    WriteFile(src + "/note.txt", "lower");
    fs.FailAlways(FsCall::Rename, "/src/", EXDEV);
    // As vfat would: once Note.txt is there, note.txt names it too.
    fs.beforeCall = [&](FsCall call, const std::string& path) {
        if (call == FsCall::Lstat && path == dst + "/note.txt" && Exists(dst + "/Note.txt"))
            ::link((dst + "/Note.txt").c_str(), (dst + "/note.txt").c_str());
        if (call == FsCall::Lstat && path == dst + "/Note.txt" && Exists(dst + "/note.txt"))
            ::link((dst + "/note.txt").c_str(), (dst + "/Note.txt").c_str());
    };
    ui.replaceAnswers = {ReplaceAnswer::Yes};
    const OperationResult r = Move({src + "/Note.txt", src + "/note.txt"}, dst);
    EXPECT_EQ(Status::Failed, r.status);
    EXPECT_TRUE(ui.replaceAsked.empty());
    EXPECT_EQ(1u, r.done);
    EXPECT_EQ(1u, r.failed);
    EXPECT_EQ(1u, Names(src).size()); // the second one stays
}

TEST_F(FileOperationTest, MoveIntoAnotherViewOfItsOwnFolderIsOntoItself)
{
    WriteFile(src + "/f", "data");
    const std::string view = tmp.path() + "/view"; // the same folder, under other inode numbers
    ASSERT_EQ(0, ::symlink(src.c_str(), view.c_str()));
    fs.FailAlways(FsCall::Rename, "/src/", EXDEV);
    fs.FailAlways(FsCall::Lstat, "/view/f", ENOENT);
    ui.replaceAnswers = {ReplaceAnswer::Yes};
    EXPECT_EQ(Status::Failed, Move({src + "/f"}, view).status);
    EXPECT_EQ("data", ReadFile(src + "/f"));
    ExpectNoLeftovers(src);
}

TEST_F(FileOperationTest, CopyIntoAMountOfItsOwnSubFolderStops)
{
    MakeDir(src + "/a");
    MakeDir(src + "/a/sub");
    WriteFile(src + "/a/f", "f");
    // A bind mount's ".." leads out of the mount: the target's parents tell nothing.
    fs.FailAlways(FsCall::Stat, "/..", ENOENT);
    ui.errorAnswers = {ErrorAnswer::Cancel};
    EXPECT_EQ(Status::Failed, Copy({src + "/a"}, src + "/a/sub").status);
    EXPECT_FALSE(Exists(src + "/a/sub/a/sub/a"));
    EXPECT_FALSE(ui.refusals.empty());
}

// ---- delete ----

class TrashTest : public FileOperationTest {
protected:
    std::string data = tmp.path() + "/home/.local/share";
    std::string trash = data + "/Trash";
    ScopedEnv home {"HOME", (tmp.path() + "/home").c_str()};
    ScopedEnv dataHome {"XDG_DATA_HOME", nullptr};
    std::string uid = std::to_string(getuid());

    OperationResult Delete(std::vector<std::string> sources) { return Run(FO_DELETE, std::move(sources), dst); }

    static void ExpectTrashInfo(const std::string& infoPath, const std::string& escapedPath)
    {
        const time_t now = time(nullptr);
        const auto info = ReadFile(infoPath);
        ASSERT_TRUE(info) << infoPath;
        std::smatch m;
        ASSERT_TRUE(std::regex_match(*info, m,
                                     std::regex("\\[Trash Info\\]\nPath=([^\n]*)\nDeletionDate=("
                                                "\\d{4})-(\\d\\d)-(\\d\\d)T(\\d\\d):(\\d\\d):(\\d\\d)\n")))
            << *info;
        EXPECT_EQ(escapedPath, m[1]);
        struct tm tm {};
        tm.tm_year = std::stoi(m[2]) - 1900;
        tm.tm_mon = std::stoi(m[3]) - 1;
        tm.tm_mday = std::stoi(m[4]);
        tm.tm_hour = std::stoi(m[5]);
        tm.tm_min = std::stoi(m[6]);
        tm.tm_sec = std::stoi(m[7]);
        tm.tm_isdst = -1;
        EXPECT_LE(std::abs(double(mktime(&tm) - now)), 5.0) << "local time, now";
    }
};

// A part of the temporary directory that claims to be a volume of its own.
class OtherVolumeFileSystem : public FaultyFileSystem {
public:
    explicit OtherVolumeFileSystem(std::string root)
        : root_(std::move(root))
    {
    }
    int Stat(const std::string& path, struct stat& st) override
    {
        return Fake(path, FaultyFileSystem::Stat(path, st), st);
    }
    int Lstat(const std::string& path, struct stat& st) override
    {
        return Fake(path, FaultyFileSystem::Lstat(path, st), st);
    }
    int MountPointOf(const std::string& path, std::string& mountPoint) override
    {
        if (path.rfind(root_, 0) != 0)
            return FaultyFileSystem::MountPointOf(path, mountPoint);
        mountPoint = root_;
        return 0;
    }

private:
    int Fake(const std::string& path, int rc, struct stat& st) const
    {
        if (rc == 0 && path.rfind(root_, 0) == 0)
            st.st_dev ^= 0x5a5a;
        return rc;
    }
    std::string root_;
};

TEST_F(TrashTest, DeleteGoesToTheHomeTrashWithAMatchingTrashInfo)
{
    WriteFile(src + "/my file.txt", "first");
    MakeDir(src + "/folder");
    WriteFile(src + "/folder/inner", "inner");
    ASSERT_FALSE(Exists(tmp.path() + "/home")); // a fresh account: no data directory yet
    const OperationResult r = Delete({src + "/my file.txt", src + "/folder"});
    EXPECT_EQ(Status::Done, r.status);
    EXPECT_EQ(std::vector<size_t> {2}, ui.trashConfirmations);
    EXPECT_TRUE(Names(src).empty());
    EXPECT_EQ("first", ReadFile(trash + "/files/my file.txt"));
    EXPECT_EQ("inner", ReadFile(trash + "/files/folder/inner"));
    ExpectTrashInfo(trash + "/info/my file.txt.trashinfo", TrashInfoEscape(src) + "/my%20file.txt");
    ExpectTrashInfo(trash + "/info/folder.trashinfo", TrashInfoEscape(src) + "/folder");
    for (const char* dir : {"", "/files", "/info"})
        EXPECT_EQ(0700u, StatOf(trash + dir).st_mode & 07777) << dir;
    EXPECT_TRUE(ui.deleteAsked.empty());

    // The same name again gets the next free number; a relative path is made absolute.
    WriteFile(src + "/my file.txt", "second");
    ASSERT_EQ(0, ::chdir(src.c_str()));
    EXPECT_EQ(Status::Done, Delete({"my file.txt"}).status);
    ASSERT_EQ(0, ::chdir("/"));
    EXPECT_EQ("second", ReadFile(trash + "/files/my file.txt.2"));
    ExpectTrashInfo(trash + "/info/my file.txt.2.trashinfo", TrashInfoEscape(src) + "/my%20file.txt");

    // XDG_DATA_HOME decides where the home trash is.
    ScopedEnv xdg("XDG_DATA_HOME", (tmp.path() + "/xdg").c_str());
    WriteFile(src + "/x", "x");
    EXPECT_EQ(Status::Done, Delete({src + "/x"}).status);
    EXPECT_EQ("x", ReadFile(tmp.path() + "/xdg/Trash/files/x"));
}

TEST_F(TrashTest, DeclinedConfirmationDeletesNothing)
{
    WriteFile(src + "/a", "a");
    ui.confirmTrash = false;
    EXPECT_EQ(Status::Cancelled, Delete({src + "/a"}).status);
    EXPECT_EQ("a", ReadFile(src + "/a"));
    EXPECT_FALSE(Exists(trash));
}

TEST_F(TrashTest, OtherVolumesUseTheirTopDirectoryTrash)
{
    const std::string volume = tmp.path() + "/volume";
    MakeDir(volume);
    MakeDir(volume + "/dir");
    WriteFile(volume + "/dir/item", "item");
    OtherVolumeFileSystem other(volume);
    ShellFileOperation op(ui, other);
    EXPECT_EQ(Status::Done, op.Run(FO_DELETE, {volume + "/dir/item"}, {}).status);
    const std::string topTrash = volume + "/.Trash-" + uid;
    EXPECT_EQ("item", ReadFile(topTrash + "/files/item"));
    ExpectTrashInfo(topTrash + "/info/item.trashinfo", "dir/item"); // relative to the volume's top
    EXPECT_EQ(0700u, StatOf(topTrash).st_mode & 07777);
    EXPECT_FALSE(Exists(trash));

    // An administrator's sticky .Trash comes first; a plain one is not trusted.
    MakeDir(volume + "/.Trash", 01777);
    WriteFile(volume + "/dir/second", "second");
    EXPECT_EQ(Status::Done, op.Run(FO_DELETE, {volume + "/dir/second"}, {}).status);
    EXPECT_EQ("second", ReadFile(volume + "/.Trash/" + uid + "/files/second"));
    ::chmod((volume + "/.Trash").c_str(), 0777);
    WriteFile(volume + "/dir/third", "third");
    ShellFileOperation again(ui, other);
    EXPECT_EQ(Status::Done, again.Run(FO_DELETE, {volume + "/dir/third"}, {}).status);
    EXPECT_EQ("third", ReadFile(topTrash + "/files/third"));
}

TEST_F(TrashTest, WhatCannotBeTrashedIsDeletedOnlyAfterAsking)
{
    const std::string volume = tmp.path() + "/volume";
    MakeDir(volume);
    WriteFile(volume + "/file", "file");
    MakeDir(volume + "/folder");
    MakeDir(volume + "/folder/sub");
    WriteFile(volume + "/folder/sub/x", "x");
    WriteFile(volume + "/kept", "kept");
    WriteFile(volume + "/later", "later");
    OtherVolumeFileSystem other(volume);
    other.FailAlways(FsCall::Mkdir, "/volume/.Trash", EROFS); // no trash can be made there
    ui.onAskDelete = [](const std::string& path) { EXPECT_TRUE(Exists(path)) << "deleted before asking"; };
    ui.deleteAnswers = {DeleteAnswer::Yes, DeleteAnswer::Yes, DeleteAnswer::No, DeleteAnswer::Cancel};
    ShellFileOperation op(ui, other);
    const OperationResult r
        = op.Run(FO_DELETE, {volume + "/file", volume + "/folder", volume + "/kept", volume + "/later"}, {});
    EXPECT_EQ(Status::Cancelled, r.status);
    EXPECT_EQ((std::vector<std::string> {volume + "/file", volume + "/folder", volume + "/kept", volume + "/later"}),
              ui.deleteAsked);
    EXPECT_EQ((std::vector<std::string> {"kept", "later"}), Names(volume));
    EXPECT_FALSE(Exists(trash));

    // A trash on the same volume that refuses the rename (a bind mount: EXDEV) counts as none.
    WriteFile(src + "/bound", "bound");
    fs.FailAlways(FsCall::Rename, "/src/bound", EXDEV);
    ui.onAskDelete = nullptr;
    ui.deleteAsked.clear();
    ui.deleteAnswers = {DeleteAnswer::No};
    EXPECT_EQ(Status::Done, Delete({src + "/bound"}).status);
    EXPECT_EQ(std::vector<std::string> {src + "/bound"}, ui.deleteAsked);
    EXPECT_EQ("bound", ReadFile(src + "/bound"));
    EXPECT_TRUE(Names(trash + "/info").empty()); // no trash entry left without its file
}

TEST_F(TrashTest, ErrorMovingToTheTrashAsksAndLeavesNoOrphanInfo)
{
    WriteFile(src + "/a", "a");
    WriteFile(src + "/b", "b");
    fs.FailAlways(FsCall::Rename, "/src/a", EACCES);
    ui.errorAnswers = {ErrorAnswer::Skip};
    const OperationResult r = Delete({src + "/a", src + "/b"});
    EXPECT_EQ(Status::Failed, r.status);
    ASSERT_EQ(1u, ui.errorsAsked.size());
    EXPECT_EQ(EACCES, ui.errorsAsked[0].error);
    EXPECT_EQ("a", ReadFile(src + "/a"));
    EXPECT_EQ(std::vector<std::string> {"b.trashinfo"}, Names(trash + "/info"));
    EXPECT_TRUE(ui.deleteAsked.empty());
}

// ---- rename ----

TEST_F(FileOperationTest, RenameRefusesAnExistingTarget)
{
    WriteFile(src + "/a", "a");
    WriteFile(src + "/b", "b");
    OperationResult r = Run(FO_RENAME, {src + "/a"}, src + "/b");
    EXPECT_EQ(Status::Failed, r.status);
    EXPECT_EQ(1u, ui.refusals.size());
    EXPECT_EQ("a", ReadFile(src + "/a"));
    EXPECT_EQ("b", ReadFile(src + "/b"));

    // Without RENAME_NOREPLACE (EINVAL): checked first, still refused.
    fs.FailAlways(FsCall::Rename, "", EINVAL);
    EXPECT_EQ(Status::Failed, Run(FO_RENAME, {src + "/a"}, src + "/b").status);
    EXPECT_EQ("b", ReadFile(src + "/b"));
    fs.Clear();
    fs.Fail(FsCall::Rename, "", EINVAL);
    EXPECT_EQ(Status::Done, Run(FO_RENAME, {src + "/a"}, src + "/c").status);
    EXPECT_EQ("a", ReadFile(src + "/c"));

    // Folders too, and only one item at a time.
    MakeDir(src + "/d");
    EXPECT_EQ(Status::Failed, Run(FO_RENAME, {src + "/d"}, src + "/b").status);
    EXPECT_EQ(Status::Done, Run(FO_RENAME, {src + "/d"}, src + "/e").status);
    EXPECT_TRUE(S_ISDIR(StatOf(src + "/e").st_mode));
    EXPECT_EQ(Status::Failed, Run(FO_RENAME, {src + "/b", src + "/c"}, src + "/z").status);
    EXPECT_EQ((std::vector<std::string> {"b", "c", "e"}), Names(src));
}

// ---- the file system interface ----

TEST(FileSystem, ReadLinkLongTargetsAndRenameNoReplace)
{
    TempDir tmp;
    FileSystem& fs = RealFileSystem();
    const std::string target(1000, 'x');
    ASSERT_EQ(0, ::symlink(target.c_str(), (tmp.path() + "/long").c_str()));
    std::string read;
    EXPECT_EQ(0, fs.ReadLink(tmp.path() + "/long", read));
    EXPECT_EQ(target, read);

    WriteFile(tmp.path() + "/a", "a");
    WriteFile(tmp.path() + "/b", "b");
    EXPECT_EQ(-EEXIST, fs.Rename(tmp.path() + "/a", tmp.path() + "/b", RenameMode::NoReplace));
    EXPECT_EQ("b", ReadFile(tmp.path() + "/b"));
    struct stat st;
    EXPECT_EQ(-ENOENT, fs.Lstat(tmp.path() + "/none", st));
}

TEST(FileSystem, MountPointOfIsTheTopOfTheVolume)
{
    TempDir tmp;
    std::string top;
    ASSERT_EQ(0, RealFileSystem().MountPointOf(tmp.path(), top));
    struct stat here, atTop, above;
    ASSERT_EQ(0, ::stat(tmp.path().c_str(), &here));
    ASSERT_EQ(0, ::stat(top.c_str(), &atTop));
    EXPECT_EQ(here.st_dev, atTop.st_dev);
    if (top != "/") {
        ASSERT_EQ(0, ::stat((top + "/..").c_str(), &above));
        EXPECT_TRUE(above.st_dev != atTop.st_dev || above.st_ino == atTop.st_ino) << top;
    }
    struct stat shm;
    if (::stat("/dev/shm", &shm) == 0 && shm.st_dev != here.st_dev) {
        ASSERT_EQ(0, RealFileSystem().MountPointOf("/dev/shm", top));
        EXPECT_EQ("/dev/shm", top);
    }
}

} // namespace
