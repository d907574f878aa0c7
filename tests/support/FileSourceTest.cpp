#include "support/CompressStream.h"
#include "support/EmptyZip.h"
#include "support/FileSource.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <sys/wait.h>
#include <vector>

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const Bytes& data)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

Bytes PlainForm(const Bytes& data)
{
    Bytes form = {uint8_t(data.size()), uint8_t(data.size() >> 8), uint8_t(data.size() >> 16),
                  uint8_t(data.size() >> 24)};
    form.insert(form.end(), data.begin(), data.end());
    return form;
}

Bytes PackedForm(const Bytes& data)
{
    Bytes packed;
    std::string error;
    EXPECT_TRUE(PackData(data, packed, error)) << error;
    return packed;
}

Bytes Sample(size_t n)
{
    std::mt19937 rng(5);
    Bytes out(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = i % 1000 < 100 ? uint8_t(rng()) : uint8_t("stored file data "[i % 17]);
    return out;
}

size_t FilesIn(const std::string& dir)
{
    return size_t(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

// Sets or clears an environment variable for one test.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv()
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

class FileSourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string templ = testing::TempDir() + "filesource-XXXXXX";
        ASSERT_NE(nullptr, ::mkdtemp(templ.data()));
        dir_ = templ;
        temp_ = dir_ + "/tmp";
        fs::create_directory(temp_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string dir_;
    std::string temp_; // where the components put their temporary files
};

TEST_F(FileSourceTest, TempFileNamesTakeTheNextFreeSuffix)
{
    std::string error;
    EXPECT_EQ(temp_ + "/~fs370.zip", CreateFsTempFile(temp_ + "/", 37, ".zip", error));
    EXPECT_EQ(temp_ + "/~fs371.zip", CreateFsTempFile(temp_, 37, ".zip", error));
    EXPECT_EQ(0u, fs::file_size(temp_ + "/~fs370.zip"));

    WriteFile(temp_ + "/~fs50.txt", {'x'}); // someone else's
    EXPECT_EQ(temp_ + "/~fs51.txt", CreateFsTempFile(temp_, 5, ".txt", error));
    EXPECT_EQ(Bytes{'x'}, ReadFile(temp_ + "/~fs50.txt"));

    EXPECT_EQ("", CreateFsTempFile(dir_ + "/missing", 5, ".txt", error));
    EXPECT_NE(std::string::npos, error.find(dir_ + "/missing"));
}

TEST_F(FileSourceTest, PlainAndPackedFormsMaterialiseTheSameFile)
{
    const Bytes data = Sample(100000);
    TFileSource plain("SFPlain");
    TFileSource packed("SFPacked");
    for (TFileSource* source : {&plain, &packed}) {
        source->SetTempDirectory(temp_);
        source->SetExtension(".bin");
    }
    packed.SetCompress(true);
    EXPECT_TRUE(packed.Store());

    std::string error;
    ASSERT_TRUE(plain.LoadFileData(PlainForm(data), error)) << error;
    ASSERT_TRUE(packed.LoadFileData(PackedForm(data), error)) << error;
    EXPECT_TRUE(plain.OwnsFile());
    EXPECT_EQ(data, ReadFile(plain.FileName()));
    EXPECT_EQ(data, ReadFile(packed.FileName()));

    // Loaded within the same second (or the next): distinct names by the rule.
    EXPECT_NE(plain.FileName(), packed.FileName());
    for (const TFileSource* source : {&plain, &packed}) {
        const fs::path path = source->FileName();
        EXPECT_EQ(temp_, path.parent_path().string());
        const std::string stem = path.stem().string();
        EXPECT_EQ("~fs", stem.substr(0, 3));
        EXPECT_EQ(".bin", path.extension().string());
        EXPECT_GE(stem.size(), 5u) << stem; // seconds, then the suffix
        EXPECT_EQ(std::string::npos, stem.find_first_not_of("0123456789", 3)) << stem;
    }
}

TEST_F(FileSourceTest, ComponentsDeleteOnlyTheFilesTheyMade)
{
    std::string made;
    {
        TFileSource source("SFTest");
        source.SetTempDirectory(temp_);
        std::string error;
        ASSERT_TRUE(source.LoadFileData(PlainForm({'a'}), error)) << error;
        made = source.FileName();
        ASSERT_TRUE(fs::exists(made));
    }
    EXPECT_FALSE(fs::exists(made));

    const std::string mine = dir_ + "/report.txt";
    {
        TFileSource source("SFTest");
        source.SetTempDirectory(temp_);
        std::string error;
        ASSERT_TRUE(source.LoadFileData(PlainForm({'a'}), error)) << error;
        made = source.FileName();
        source.SetFileName(mine); // not there yet
        EXPECT_FALSE(fs::exists(made));
        EXPECT_FALSE(source.OwnsFile());
        EXPECT_EQ(".txt", source.Extension());
        EXPECT_EQ("", source.FileName());
        WriteFile(mine, {'b'});
        EXPECT_EQ(mine, source.FileName());
    }
    EXPECT_TRUE(fs::exists(mine));
}

TEST_F(FileSourceTest, ReloadingReplacesTheOwnedFile)
{
    TFileSource source("SFTest");
    source.SetTempDirectory(temp_);
    std::string error;
    ASSERT_TRUE(source.LoadFileData(PlainForm({'1'}), error));
    const std::string first = source.FileName();
    ASSERT_TRUE(source.LoadFileData(PlainForm({'2'}), error));
    EXPECT_NE(first, source.FileName());
    EXPECT_EQ(1u, FilesIn(temp_));
    EXPECT_EQ(Bytes{'2'}, ReadFile(source.FileName()));
}

TEST_F(FileSourceTest, SavingGivesBackTheFormData)
{
    const Bytes data = Sample(70000);
    for (bool compress : {false, true}) {
        SCOPED_TRACE(compress ? "packed" : "plain");
        const Bytes form = compress ? PackedForm(data) : PlainForm(data);
        TFileSource source("SFTest");
        source.SetTempDirectory(temp_);
        source.SetCompress(compress);
        std::string error;
        ASSERT_TRUE(source.LoadFileData(form, error)) << error;
        Bytes saved;
        ASSERT_TRUE(source.SaveFileData(saved, error)) << error;
        EXPECT_EQ(form, saved);
    }

    // A named source file, saved plain.
    const std::string named = dir_ + "/notes.txt";
    WriteFile(named, data);
    TFileSource source("SFTest");
    source.SetFileName(named);
    source.SetStore(true);
    Bytes saved;
    std::string error;
    ASSERT_TRUE(source.SaveFileData(saved, error)) << error;
    EXPECT_EQ(PlainForm(data), saved);
}

TEST_F(FileSourceTest, SavingAMissingFileNamesComponentAndFile)
{
    TFileSource source("SFEmptyZip");
    source.SetFileName(dir_ + "/gone.zip");
    Bytes saved;
    std::string error;
    EXPECT_FALSE(source.SaveFileData(saved, error));
    EXPECT_EQ("SFEmptyZip cannot store file: " + dir_ + "/gone.zip (file is missing)", error);
}

TEST_F(FileSourceTest, DamagedFormDataLeavesNoFileAndKeepsTheOldOne)
{
    TFileSource source("SFTest");
    source.SetTempDirectory(temp_);
    std::string error;
    ASSERT_TRUE(source.LoadFileData(PlainForm({'o', 'k'}), error));
    const std::string kept = source.FileName();

    EXPECT_FALSE(source.LoadFileData(Bytes{5, 0, 0, 0, 'a', 'b'}, error)); // says 5, holds 2
    EXPECT_FALSE(source.LoadFileData(Bytes{1, 0}, error));

    source.SetCompress(true);
    EXPECT_FALSE(source.LoadFileData(PlainForm({'a', 'b'}), error));
    EXPECT_EQ(kWrongFileType, error);
    Bytes truncated = PackedForm(Sample(50000));
    truncated.resize(truncated.size() - 1);
    EXPECT_FALSE(source.LoadFileData(truncated, error));
    EXPECT_NE(std::string::npos, error.find("Damaged"));

    EXPECT_EQ(kept, source.FileName());
    EXPECT_EQ(1u, FilesIn(temp_));
}

TEST_F(FileSourceTest, DefaultsToThePrivateTemporaryDirectory)
{
    ScopedEnv runtime("XDG_RUNTIME_DIR", dir_.c_str());
    TFileSource source("SFTest");
    std::string error;
    ASSERT_TRUE(source.LoadFileData(PlainForm({'a'}), error)) << error;
    EXPECT_EQ(dir_ + "/tarnel", fs::path(source.FileName()).parent_path().string());
}

// Runs a command; its exit status, or -1 when it could not run.
int RunCommand(const std::string& command, std::string& output)
{
    output.clear();
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[256];
    while (size_t got = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, got);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveCommand(const std::string& name)
{
    std::string output;
    return RunCommand("command -v " + name, output) == 0;
}

TEST_F(FileSourceTest, EmptyZipIsAnArchiveZipReadersAccept)
{
    ScopedEnv runtime("XDG_RUNTIME_DIR", dir_.c_str());
    const std::string target = dir_ + "/NEW.ZIP";
    std::string error;
    ASSERT_TRUE(WriteEmptyZip(target, error)) << error;
    const Bytes eocd = {'P', 'K', 5, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(eocd, ReadFile(target));
    EXPECT_EQ(0u, FilesIn(dir_ + "/tarnel")); // the template went with its component

    // An existing archive is never overwritten.
    WriteFile(dir_ + "/OLD.ZIP", {'k', 'e', 'e', 'p'});
    EXPECT_FALSE(WriteEmptyZip(dir_ + "/OLD.ZIP", error));
    EXPECT_EQ((Bytes{'k', 'e', 'e', 'p'}), ReadFile(dir_ + "/OLD.ZIP"));

    bool checked = false;
    std::string output;
    if (HaveCommand("unzip")) {
        // unzip warns (status 1) about an empty archive; a broken one is status 9.
        EXPECT_LE(RunCommand("unzip -l '" + target + "'", output), 1) << output;
        EXPECT_NE(std::string::npos, output.find("zipfile is empty")) << output;
        EXPECT_EQ(9, RunCommand("unzip -l '" + dir_ + "/OLD.ZIP'", output)) << output;
        checked = true;
    }
    if (HaveCommand("bsdtar")) {
        EXPECT_EQ(0, RunCommand("bsdtar -tf '" + target + "'", output)) << output;
        EXPECT_EQ("", output);
        checked = true;
    }
    if (!checked)
        GTEST_SKIP() << "neither unzip nor bsdtar is installed";
}

TEST_F(FileSourceTest, EmptyZipComponentMaterialisesTwentyTwoBytes)
{
    TFileSource source("SFEmptyZip");
    source.SetTempDirectory(temp_);
    std::string error;
    ASSERT_TRUE(LoadEmptyZip(source, error)) << error;
    EXPECT_EQ(".zip", fs::path(source.FileName()).extension().string());
    EXPECT_EQ(22u, fs::file_size(source.FileName()));
    Bytes saved;
    ASSERT_TRUE(source.SaveFileData(saved, error)) << error;
    EXPECT_EQ(Bytes(kEmptyZipFormData.begin(), kEmptyZipFormData.end()), saved);
}

} // namespace
