// Blocks of a shown file read on a worker: the caller copies what is in
// memory, asks for the rest, and is told when it lands.
#include "viewer/model/FileBlocks.h"
#include "viewer/model/LineIndex.h"
#include "viewer/model/TextFile.h"
#include "viewer/model/TextLines.h"

#include "viewer/model/LineTestFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace tarnel {
namespace {

using test::LineTestFile;
using namespace std::chrono_literals;

std::string Numbered(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "line " + std::to_string(i) + "\n";
    return text;
}

template <class Condition>
bool Eventually(Condition condition)
{
    for (auto end = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < end;) {
        if (condition())
            return true;
        std::this_thread::sleep_for(1ms);
    }
    return condition();
}

constexpr int64_t kBlock = FileBlocks::kBlockBytes;

// A copy of bytes not in memory asks for them and comes back without them;
// they land on the worker, the caller is told, and the next copy has them.
// Blocks after the missing one are read ahead; memory stays within its bound
// however much of the file is asked for.
TEST(FileBlocksTest, MissingBlocksArriveAndMemoryStaysBounded)
{
    const std::string content = Numbered(200000); // about 2.3 MB
    LineTestFile file(content);
    TextFile text;
    ASSERT_TRUE(text.Open(file.Path(), kBlock));
    FileBlocks blocks(text, 8);
    std::atomic<int> arrived{0};
    blocks.OnArrival([&] { ++arrived; });

    char buffer[100];
    const int64_t at = 5 * kBlock + 17;
    FileBlocks::Copied copied = blocks.Copy(at, buffer, sizeof buffer);
    EXPECT_TRUE(copied.missing);
    EXPECT_EQ(copied.bytes, 0u);
    EXPECT_EQ(blocks.LastMiss(), at);
    ASSERT_TRUE(blocks.WaitFor(at, 10s));
    copied = blocks.Copy(at, buffer, sizeof buffer);
    EXPECT_FALSE(copied.missing);
    ASSERT_EQ(copied.bytes, sizeof buffer);
    EXPECT_EQ(std::string(buffer, sizeof buffer), content.substr(size_t(at), sizeof buffer));
    ASSERT_TRUE(Eventually([&] { return blocks.Waiting() == 0; }));
    EXPECT_GE(arrived.load(), 2) << "the next block is read ahead";
    copied = blocks.Copy(6 * kBlock, buffer, sizeof buffer);
    EXPECT_FALSE(copied.missing);

    // A copy across two blocks, one of them missing, keeps what it has.
    const int64_t seam = 10 * kBlock - 40;
    blocks.Prefetch(seam, 1);
    ASSERT_TRUE(blocks.WaitFor(seam, 10s));
    copied = blocks.Copy(seam, buffer, sizeof buffer);
    if (copied.missing) {
        EXPECT_EQ(copied.bytes, 40u);
        ASSERT_TRUE(blocks.WaitFor(seam + 40, 10s));
        copied = blocks.Copy(seam, buffer, sizeof buffer);
    }
    ASSERT_EQ(copied.bytes, sizeof buffer);
    EXPECT_EQ(std::string(buffer, sizeof buffer), content.substr(size_t(seam), sizeof buffer));

    blocks.Prefetch(0, int64_t(content.size()));
    ASSERT_TRUE(Eventually([&] { return blocks.Waiting() == 0; }));
    EXPECT_LE(blocks.HeldBlocks(), 8u);
    EXPECT_GE(arrived.load(), 30);
}

// Once cancelled (the view moved on), nothing more lands or is told, and a
// wait ends at once.
TEST(FileBlocksTest, CancelledBlocksTellNothing)
{
    LineTestFile file(Numbered(100000));
    TextFile text;
    ASSERT_TRUE(text.Open(file.Path()));
    auto blocks = std::make_unique<FileBlocks>(text);
    std::atomic<int> arrived{0};
    blocks->OnArrival([&] { ++arrived; });
    blocks->Cancel();
    char buffer[10];
    EXPECT_TRUE(blocks->Copy(3 * kBlock, buffer, sizeof buffer).missing);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(blocks->WaitFor(3 * kBlock, 5s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(arrived.load(), 0);
    EXPECT_EQ(blocks->HeldBlocks(), 0u);
    // The view's own handle may go first: the file stays open for the worker.
    text.Close();
    blocks.reset();
}

// A file that shrank after it was opened: the block reads short, and the
// copy is a clean short read, as a direct read would be.
TEST(FileBlocksTest, AFileThatShrankReadsShort)
{
    LineTestFile file(std::string(size_t(4 * kBlock), 'x'));
    TextFile text;
    ASSERT_TRUE(text.Open(file.Path()));
    file.Truncate(off_t(kBlock + 100));
    FileBlocks blocks(text);
    char buffer[300];
    EXPECT_TRUE(blocks.Copy(kBlock, buffer, sizeof buffer).missing);
    ASSERT_TRUE(blocks.WaitFor(kBlock, 10s));
    FileBlocks::Copied copied = blocks.Copy(kBlock, buffer, sizeof buffer);
    EXPECT_FALSE(copied.missing);
    EXPECT_EQ(copied.bytes, 100u);
    // Past the new end: read ahead with the block before, or asked now.
    blocks.Copy(3 * kBlock, buffer, sizeof buffer);
    ASSERT_TRUE(blocks.WaitFor(3 * kBlock, 10s));
    copied = blocks.Copy(3 * kBlock, buffer, sizeof buffer);
    EXPECT_FALSE(copied.missing);
    EXPECT_EQ(copied.bytes, 0u);
}

// The index and the lines of a file read through blocks: they stop where
// the bytes are not in memory, without taking that for the file's end or an
// error, and go on once the bytes are in.
TEST(FileBlocksTest, TheIndexAndLinesWaitForBlocksAndNeverTakeThemForAnError)
{
    const int count = 300000;
    LineTestFile file(Numbered(count));
    TextFile text;
    ASSERT_TRUE(text.Open(file.Path(), kBlock));
    auto blocks = std::make_shared<FileBlocks>(text);
    text.ReadThrough(blocks);
    LineIndex index;
    index.Start(text, {VM_STANDARD, 8, 80});
    int waits = 0;
    while (!index.Step(int64_t(1) << 20)) {
        ASSERT_TRUE(index.Waiting());
        ++waits;
        ASSERT_TRUE(blocks->WaitFor(index.ScannedOffset(), 10s));
    }
    EXPECT_GT(waits, 0);
    EXPECT_FALSE(index.FileChanged());
    EXPECT_EQ(index.LineCount(), count);

    std::vector<std::string> out;
    int64_t failed = 0;
    const int64_t far = count - 10;
    bool read = false;
    for (int attempt = 0; attempt < 20 && !read; ++attempt) {
        const int64_t misses = text.Misses();
        read = GetLines(text, index, far, 3, nullptr, out, failed);
        if (!read) {
            ASSERT_NE(text.Misses(), misses) << "a line not in memory is no error";
            ASSERT_TRUE(blocks->WaitFor(blocks->LastMiss(), 10s));
        }
    }
    ASSERT_TRUE(read);
    EXPECT_EQ(out, (std::vector<std::string>{"line 299989", "line 299990", "line 299991"}));

    // Hex lines too.
    index.Start(text, {VM_HEX, 8, 80});
    const int64_t last = index.LineCount();
    read = GetLines(text, index, last - 1, 1, nullptr, out, failed);
    if (!read) {
        ASSERT_TRUE(blocks->WaitFor(blocks->LastMiss(), 10s));
        read = GetLines(text, index, last - 1, 1, nullptr, out, failed);
    }
    ASSERT_TRUE(read);
    EXPECT_EQ(out.size(), 1u);
}

} // namespace
} // namespace tarnel
