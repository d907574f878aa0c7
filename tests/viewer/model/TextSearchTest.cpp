#include "viewer/model/TextFile.h"
#include "viewer/model/TextSearch.h"

#include "viewer/model/LineTestFile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <random>

#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace tarnel {
namespace {

using test::LineTestFile;

// Every match as the search window finds them: on from each match + 1.
std::vector<int64_t> AllMatches(const std::string& content, const std::string& text, bool ignoreCase)
{
    LineTestFile file(content);
    TextFile opened;
    EXPECT_TRUE(opened.Open(file.Path()));
    TextSearcher searcher(opened, text, ignoreCase);
    searcher.Restart(0);
    std::vector<int64_t> found;
    int64_t match = -1;
    for (;;) {
        const auto result = searcher.Next(int64_t(1) << 16, match);
        if (result == TextSearcher::Result::NotFound)
            break;
        if (result == TextSearcher::Result::Found)
            found.push_back(match);
    }
    // FindFrom from any start agrees with the running search.
    for (size_t i = 0; i < found.size(); i += 1 + found.size() / 5)
        EXPECT_EQ(FindFrom(opened, text, found[i] - (i ? 0 : found[i]), ignoreCase), found[i]);
    if (!found.empty()) {
        EXPECT_EQ(FindFrom(opened, text, found.back() + 1, ignoreCase), -1);
    }
    return found;
}

std::vector<int64_t> Naive(const std::string& content, std::string text, bool ignoreCase)
{
    auto fold = [&](char c) { return ignoreCase && c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
    std::vector<int64_t> found;
    for (size_t i = 0; !text.empty() && i + text.size() <= content.size(); ++i) {
        size_t k = 0;
        while (k < text.size() && fold(content[i + k]) == fold(text[k]))
            ++k;
        if (k == text.size())
            found.push_back(int64_t(i));
    }
    return found;
}

TEST(TextSearchTest, MatchesOverlap)
{
    EXPECT_EQ(AllMatches("aaaa", "aa", false), (std::vector<int64_t>{0, 1, 2}));
    EXPECT_EQ(AllMatches("abababa", "aba", false), (std::vector<int64_t>{0, 2, 4}));
}

TEST(TextSearchTest, EmptyTextAndNoMatch)
{
    EXPECT_TRUE(AllMatches("anything", "", false).empty());
    EXPECT_TRUE(AllMatches("", "x", false).empty());
    EXPECT_TRUE(AllMatches("abc", "abcd", false).empty());
}

TEST(TextSearchTest, IgnoreCaseFoldsPlainLettersOnly)
{
    EXPECT_EQ(AllMatches("Hello HELLO hello", "hELLo", true), (std::vector<int64_t>{0, 6, 12}));
    EXPECT_TRUE(AllMatches("Hello", "hello", false).empty());
    EXPECT_TRUE(AllMatches("\xc9t\xc9", "\xe9t\xe9", true).empty());
}

TEST(TextSearchTest, LongTextWithManyPartialMatchesAtOnce)
{
    // 300 letters a against 1000: hundreds of candidates are alive together.
    const std::vector<int64_t> found = AllMatches(std::string(1000, 'a'), std::string(300, 'a'), false);
    ASSERT_EQ(found.size(), 701u);
    EXPECT_EQ(found.back(), 700);
}

TEST(TextSearchTest, MatchesAcrossBlockBoundaries)
{
    std::string content(3 << 20, '.');
    std::vector<int64_t> expected;
    for (int64_t at : {int64_t(256 << 10) - 5, int64_t(512 << 10) - 1, int64_t(1 << 20) - 11, int64_t(3 << 20) - 12}) {
        content.replace(size_t(at), 12, "needle_12byt");
        expected.push_back(at);
    }
    EXPECT_EQ(AllMatches(content, "needle_12byt", false), expected);
}

TEST(TextSearchTest, AgreesWithAPlainScanOnRandomFiles)
{
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        std::string content(random() % 300000, 'a');
        for (char& c : content)
            c = "abAB\n"[random() % 5];
        std::string text(1 + random() % 6, 'a');
        for (char& c : text)
            c = "abAB"[random() % 4];
        const bool ignoreCase = round % 2;
        ASSERT_EQ(AllMatches(content, text, ignoreCase), Naive(content, text, ignoreCase)) << "round " << round;
    }
}

TEST(TextSearchTest, SearcherStepsWithinItsBudget)
{
    std::string content(2 << 20, 'x');
    content += "end";
    LineTestFile file(content);
    TextFile opened;
    ASSERT_TRUE(opened.Open(file.Path()));
    TextSearcher searcher(opened, "end", false);
    searcher.Restart(0);
    int64_t match = 0;
    int steps = 0;
    TextSearcher::Result result;
    while ((result = searcher.Next(300 << 10, match)) == TextSearcher::Result::MoreToRead)
        ++steps;
    EXPECT_EQ(result, TextSearcher::Result::Found);
    EXPECT_EQ(match, 2 << 20);
    EXPECT_GE(steps, 3); // 2 MiB in steps of about 300 KiB
    EXPECT_EQ(searcher.Next(1 << 20, match), TextSearcher::Result::NotFound);
}

// The viewer is handed whatever is under the cursor. A fifo must not even be
// opened (that alone would hand a waiting writer's data to the wrong
// reader), and a device is no file to show.
TEST(TextFileTest, OnlyRegularFilesAreOpened)
{
    LineTestFile scratch("text\n");
    TextFile file;
    ASSERT_TRUE(file.Open(scratch.Path()));
    EXPECT_EQ(file.Size(), 5);

    const std::string fifo = scratch.Dir() + "/pipe.txt";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, fifo.c_str(), IN_OPEN), 0);
    EXPECT_FALSE(file.Open(fifo));
    EXPECT_FALSE(file.IsOpen());
    char events[4096];
    EXPECT_LT(::read(watch, events, sizeof events), 0) << "the fifo was opened";
    ::close(watch);
    ::unlink(fifo.c_str());

    EXPECT_FALSE(file.Open("/dev/zero"));
    EXPECT_FALSE(file.Open(scratch.Dir()));
    EXPECT_FALSE(file.Open(scratch.Dir() + "/missing"));
}

TEST(TextFileTest, SaveReplacesTheFileWholeAndKeepsItsMode)
{
    LineTestFile file("old text");
    ::chmod(file.Path().c_str(), 0640);
    EXPECT_EQ(SaveFileAtomically(file.Path(), "new text"), "");
    TextFile opened;
    ASSERT_TRUE(opened.Open(file.Path()));
    std::string back(size_t(opened.Size()), '\0');
    opened.ReadAt(0, back.data(), back.size());
    EXPECT_EQ(back, "new text");
    struct stat st;
    ::stat(file.Path().c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    // Nothing is left beside it.
    EXPECT_EQ(std::system(("test $(ls -A '" + file.Dir() + "' | wc -l) -eq 1").c_str()), 0);
}

TEST(TextFileTest, AFailedSaveLeavesTheOldFileWhole)
{
    LineTestFile file("old text");
    // A disk that fills up during the write: the file size limit makes
    // write(2) fail part way, as ENOSPC would.
    struct rlimit old;
    ::getrlimit(RLIMIT_FSIZE, &old);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const std::string error = SaveFileAtomically(file.Path(), std::string(1 << 20, 'n'));
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_NE(error, "");
    TextFile opened;
    ASSERT_TRUE(opened.Open(file.Path()));
    std::string back(size_t(opened.Size()), '\0');
    opened.ReadAt(0, back.data(), back.size());
    EXPECT_EQ(back, "old text");
    EXPECT_EQ(std::system(("test $(ls -A '" + file.Dir() + "' | wc -l) -eq 1").c_str()), 0);

    EXPECT_NE(SaveFileAtomically("/nonexistent-dir/x.txt", "data"), "");
    EXPECT_FALSE(opened.Open("/dev/null")); // not a regular file
}

TEST(TextFileTest, SaveThroughALinkReplacesItsTargetAndNewFilesFollowTheUmask)
{
    LineTestFile file("target text");
    const std::string link = file.Dir() + "/link.txt";
    ASSERT_EQ(::symlink("file.txt", link.c_str()), 0);
    EXPECT_EQ(SaveFileAtomically(link, "through the link"), "");
    struct stat st;
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)); // still a link
    std::string data;
    int64_t size = 0;
    EXPECT_EQ(ReadFileForEditing(file.Path(), 1 << 20, data, size), WholeRead::Read);
    EXPECT_EQ(data, "through the link");

    const mode_t previous = ::umask(027);
    const std::string fresh = file.Dir() + "/" + std::string(250, 'n'); // room for no long temporary name
    EXPECT_EQ(SaveFileAtomically(fresh, "new"), "");
    ::umask(previous);
    ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(TextFileTest, WholeReadsRefuseWhatTheEditorCannotHold)
{
    LineTestFile file(std::string(100, 'x'));
    std::string data;
    int64_t size = 0;
    EXPECT_EQ(ReadFileForEditing(file.Path(), 99, data, size), WholeRead::TooLarge);
    EXPECT_EQ(size, 100);
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(ReadFileForEditing(file.Path(), 100, data, size), WholeRead::Read);
    EXPECT_EQ(data.size(), 100u);
    EXPECT_EQ(ReadFileForEditing(file.Dir() + "/missing", 100, data, size), WholeRead::Missing);
    EXPECT_EQ(ReadFileForEditing("/dev/zero", 100, data, size), WholeRead::Missing); // never read endlessly
}

} // namespace
} // namespace tarnel
