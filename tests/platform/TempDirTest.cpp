#include "platform/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

class EnvVar {
public:
    EnvVar(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~EnvVar()
    {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

mode_t ModeOf(const std::string& path)
{
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string templ = testing::TempDir() + "tempdir-XXXXXX";
        ASSERT_NE(nullptr, ::mkdtemp(templ.data()));
        dir_ = templ;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string dir_;
};

TEST_F(TempDirTest, PathFollowsTheEnvironment)
{
    const std::string mine = "tarnel-" + std::to_string(::geteuid());
    {
        EnvVar runtime("XDG_RUNTIME_DIR", "/run/user/77/");
        EXPECT_EQ("/run/user/77/tarnel", PrivateTempDirPath());
    }
    EnvVar noRuntime("XDG_RUNTIME_DIR", nullptr);
    {
        EnvVar tmp("TMPDIR", "/var/tmp");
        EXPECT_EQ("/var/tmp/" + mine, PrivateTempDirPath());
    }
    {
        EnvVar tmp("TMPDIR", nullptr);
        EXPECT_EQ("/tmp/" + mine, PrivateTempDirPath());
    }
    EnvVar relativeRuntime("XDG_RUNTIME_DIR", "run");
    EnvVar relativeTmp("TMPDIR", "tmp");
    EXPECT_EQ("/tmp/" + mine, PrivateTempDirPath());
}

TEST_F(TempDirTest, CreatesAPrivateDirectoryWhateverTheUmask)
{
    const mode_t old = ::umask(0277);
    std::string error;
    const std::string made = EnsurePrivateDir(dir_ + "/new", error);
    ::umask(old);
    EXPECT_EQ(dir_ + "/new", made) << error;
    EXPECT_EQ(mode_t(0700), ModeOf(dir_ + "/new"));
    // And accepts it the next time.
    EXPECT_EQ(dir_ + "/new", EnsurePrivateDir(dir_ + "/new", error));

    EnvVar runtime("XDG_RUNTIME_DIR", dir_.c_str());
    EXPECT_EQ(dir_ + "/tarnel", PrivateTempDir(error)) << error;
}

TEST_F(TempDirTest, RefusesLinksOpenDirectoriesAndFiles)
{
    std::string error;
    ASSERT_EQ(0, ::mkdir((dir_ + "/good").c_str(), 0700));
    ASSERT_EQ(0, ::symlink((dir_ + "/good").c_str(), (dir_ + "/link").c_str()));
    EXPECT_EQ("", EnsurePrivateDir(dir_ + "/link", error));
    EXPECT_NE(std::string::npos, error.find("link")) << error;

    ASSERT_EQ(0, ::mkdir((dir_ + "/open").c_str(), 0700));
    ASSERT_EQ(0, ::chmod((dir_ + "/open").c_str(), 0755));
    error.clear();
    EXPECT_EQ("", EnsurePrivateDir(dir_ + "/open", error));
    EXPECT_NE(std::string::npos, error.find("0700")) << error;
    EXPECT_EQ(mode_t(0755), ModeOf(dir_ + "/open")); // not silently repaired

    const std::string file = MakeTempFileIn(dir_, "f");
    error.clear();
    EXPECT_EQ("", EnsurePrivateDir(file, error));
    EXPECT_FALSE(error.empty());

    error.clear();
    EXPECT_EQ("", EnsurePrivateDir(dir_ + "/no/such", error));
    EXPECT_FALSE(error.empty());

    // The XDG directory's own "tarnel" planted as a link is refused too:
    // the home folder's stands in.
    ASSERT_EQ(0, ::symlink((dir_ + "/good").c_str(), (dir_ + "/tarnel").c_str()));
    EnvVar runtime("XDG_RUNTIME_DIR", dir_.c_str());
    EnvVar cache("XDG_CACHE_HOME", (dir_ + "/cache").c_str());
    EXPECT_EQ(HomePrivateDirPath(), PrivateTempDir(error)) << error;
    EnvVar noCache("XDG_CACHE_HOME", "/proc/no-such-cache");
    EXPECT_EQ("", PrivateTempDir(error));
    EXPECT_NE(std::string::npos, error.find(dir_ + "/tarnel")) << error;
}

// Without XDG_RUNTIME_DIR the folder's name lies in the shared temporary
// folder, where anyone can make it first.
TEST_F(TempDirTest, SharedNameTakenByAnotherUserFallsBackToTheHomeFolder)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to make a folder of another user";
    ASSERT_EQ(0, ::chmod(dir_.c_str(), 01777));
    const std::string squatted = dir_ + "/tarnel-" + std::to_string(::geteuid());
    ASSERT_EQ(0, ::mkdir(squatted.c_str(), 0700));
    ASSERT_EQ(0, ::chown(squatted.c_str(), 65534, 65534));
    EnvVar noRuntime("XDG_RUNTIME_DIR", nullptr);
    EnvVar tmp("TMPDIR", dir_.c_str());
    EnvVar cache("XDG_CACHE_HOME", (dir_ + "/home/.cache").c_str());
    ASSERT_EQ(0, ::mkdir((dir_ + "/home").c_str(), 0700));

    char host[256] = {};
    ASSERT_EQ(0, ::gethostname(host, sizeof host - 1));
    const std::string home = dir_ + "/home/.cache/tarnel-" + host;
    EXPECT_EQ(home, HomePrivateDirPath());
    std::string error;
    EXPECT_EQ(home, PrivateTempDir(error)) << error;
    EXPECT_EQ(mode_t(0700), ModeOf(home));
    EXPECT_EQ(mode_t(0700), ModeOf(dir_ + "/home/.cache"));
    EXPECT_EQ(home, SharedTmpPrivateDir(error)) << error;

    // Free again: the shared name is ours once more.
    ASSERT_EQ(0, ::rmdir(squatted.c_str()));
    EXPECT_EQ(squatted, PrivateTempDir(error)) << error;
}

TEST_F(TempDirTest, MakeTempFileInCreatesDistinctFilesWithThePrefix)
{
    const std::string a = MakeTempFileIn(dir_ + "/", "orv");
    const std::string b = MakeTempFileIn(dir_, "orv");
    ASSERT_NE("", a);
    ASSERT_NE("", b);
    EXPECT_NE(a, b);
    for (const std::string& path : {a, b}) {
        EXPECT_EQ(dir_, fs::path(path).parent_path().string());
        EXPECT_EQ("orv", fs::path(path).filename().string().substr(0, 3));
        EXPECT_TRUE(fs::is_regular_file(path));
        EXPECT_EQ(0u, fs::file_size(path));
    }
    EXPECT_EQ("", MakeTempFileIn(dir_ + "/missing", "orv"));
}

} // namespace
