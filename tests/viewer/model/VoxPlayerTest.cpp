#include "viewer/model/VoxPlayer.h"

#include "panes/TempTree.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <sys/stat.h>

namespace tarnel {
namespace {

// Blocks are done only when the test says so, as a device would later.
class FakeOutput : public WaveOutput {
public:
    std::vector<std::vector<uint8_t>> queued;
    int opens = 0, closes = 0, resets = 0;
    bool open = false;
    bool refuseOpen = false;
    bool drainOnClose = false; // Close lets what the device holds sound out first
    bool draining = false;
    int rate = 0;

    bool Open() override
    {
        ++opens;
        open = !refuseOpen;
        return open;
    }
    bool Write(const uint8_t* data, size_t size) override
    {
        if (!open)
            return false;
        queued.emplace_back(data, data + size);
        return true;
    }
    void Reset() override
    {
        ++resets;
        if (draining)
            FinishDraining();
        const size_t n = queued.size();
        queued.clear();
        for (size_t i = 0; i < n && OnDone; ++i)
            OnDone();
    }
    void Close() override
    {
        if (drainOnClose && open)
            draining = true;
        else
            FinishDraining();
    }
    void FinishDraining()
    {
        ++closes;
        open = false;
        draining = false;
    }
    bool IsOpen() const override { return open; }
    bool IsPlaying() const override { return !queued.empty(); }
    bool IsDraining() const override { return draining; }
    void SetSamplesPerSecond(int samples) override { rate = samples; }
    int SamplesPerSecond() const override { return rate; }

    void FinishAll()
    {
        while (!queued.empty()) {
            queued.erase(queued.begin());
            if (OnDone)
                OnDone();
        }
    }
};

class VoxPlayerTest : public ::testing::Test {
protected:
    test::TempTree tree;
    FakeOutput out;
    TVoxPlayer player;

    void SetUp() override { player.waveOut = &out; }
    std::string File(const std::string& name, const std::string& bytes)
    {
        const std::string path = tree.Path() + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
};

TEST_F(VoxPlayerTest, BlocksOfTwoSamplesPerByteAndTheOutputClosesAfterTheLast)
{
    std::string noise(1500, '\0');
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 73) & 0xFF); // rough: guessed as ADPCM
    ASSERT_TRUE(player.Play(File("a.vox", noise)));
    EXPECT_EQ(player.PlayedAs(), VoxType::Adpcm);
    ASSERT_EQ(out.queued.size(), 2u);
    EXPECT_EQ(out.queued[0].size(), 2048u);
    EXPECT_EQ(out.queued[1].size(), 952u) << "476 bytes left: 3000 samples in all";
    EXPECT_EQ(out.rate, 8000);

    // The decoder's state runs on across blocks: the second block decodes as
    // the tail of one stream would.
    VoxAdpcmDecoder whole;
    const std::vector<uint8_t> all = whole.Decode(reinterpret_cast<const uint8_t*>(noise.data()), noise.size());
    EXPECT_TRUE(std::equal(out.queued[1].begin(), out.queued[1].end(), all.begin() + 2048));

    out.queued.erase(out.queued.begin());
    out.OnDone();
    EXPECT_EQ(out.closes, 0) << "one block still plays";
    out.FinishAll();
    EXPECT_EQ(out.closes, 1);

    ASSERT_TRUE(player.Play(File("empty.vox", "")));
    ASSERT_EQ(out.queued.size(), 1u) << "an empty file queues one empty block";
    EXPECT_TRUE(out.queued[0].empty());
    out.FinishAll();
    EXPECT_EQ(out.closes, 2);

    ASSERT_TRUE(player.Play(File("exact.vox", std::string(1024, '\x11'))));
    EXPECT_EQ(out.queued.size(), 2u) << "a full last block is followed by an empty one";
}

TEST_F(VoxPlayerTest, TheGuessAndTheChosenCoding)
{
    const std::string smooth(4096, '\x80');
    ASSERT_TRUE(player.Play(File("pcm.vox", smooth)));
    EXPECT_EQ(player.PlayedAs(), VoxType::Pcm);
    ASSERT_EQ(out.queued.size(), 5u);
    EXPECT_EQ(out.queued[0], std::vector<uint8_t>(1024, 0x80)) << "PCM goes out as it is";

    EXPECT_FALSE(player.Play(File("wave.vox", "RIFF....WAVEfmt ")));
    EXPECT_TRUE(out.queued.empty());
    EXPECT_FALSE(player.Play(tree.Path() + "missing.vox"));

    player.voxType = VoxType::Adpcm;
    ASSERT_TRUE(player.Play(File("pcm2.vox", smooth)));
    EXPECT_EQ(player.PlayedAs(), VoxType::Adpcm);
    EXPECT_EQ(out.queued[0].size(), 2048u);
    player.voxType = VoxType::Pcm;
    ASSERT_TRUE(player.Play(File("riff.vox", "RIFF")));
    EXPECT_EQ(player.PlayedAs(), VoxType::Pcm) << "only the guess refuses RIFF";
    EXPECT_FALSE(player.Play(tree.Path()));
}

TEST_F(VoxPlayerTest, ANewFileStopsThePreviousAndItsBlocksDoNotCountAgainstTheNew)
{
    ASSERT_TRUE(player.Play(File("long.vox", std::string(10 * 1024, '\x37'))));
    ASSERT_EQ(out.queued.size(), 11u);
    ASSERT_TRUE(player.Play(File("short.vox", std::string(2000, '\x37'))));
    EXPECT_EQ(out.resets, 1);
    EXPECT_EQ(out.closes, 0) << "the old blocks handed back must not close the output";
    ASSERT_EQ(out.queued.size(), 2u);
    EXPECT_EQ(player.QueuedBlocks(), 2);

    player.samples = 12000;
    ASSERT_TRUE(player.Play(File("fast.vox", std::string(100, '\x37'))));
    EXPECT_EQ(out.rate, 12000) << "a new rate reopens the output";
    EXPECT_EQ(out.closes, 1);
    EXPECT_TRUE(out.open);

    player.Stop();
    EXPECT_TRUE(out.queued.empty());
    EXPECT_EQ(out.closes, 2) << "stopping hands back the blocks; the last closes the output";
}

// The last blocks of a file are done once the device holds them, which then
// sounds them out: a new file must not start after that tail.
TEST_F(VoxPlayerTest, ANewFileAlsoStopsThePreviousTail)
{
    out.drainOnClose = true;
    ASSERT_TRUE(player.Play(File("first.vox", std::string(1500, '\x37'))));
    out.FinishAll();
    ASSERT_TRUE(out.draining) << "every block done, the tail still sounding";
    ASSERT_TRUE(out.open);
    ASSERT_TRUE(player.Play(File("second.vox", std::string(1500, '\x37'))));
    EXPECT_EQ(out.resets, 1) << "the tail is cut";
    EXPECT_FALSE(out.draining);
    EXPECT_TRUE(out.open);
    EXPECT_EQ(out.opens, 2);
    EXPECT_EQ(out.queued.size(), 2u);
    EXPECT_EQ(player.QueuedBlocks(), 2);
}

// A long recording is read a few blocks ahead of the sound: what comes out,
// block by block, is the whole file decoded as one stream, the output closes
// once after the last block, and stopping half way reads no further.
TEST_F(VoxPlayerTest, ALongFileIsQueuedAFewBlocksAheadAndSoundsWhole)
{
    const int blocks = 3 * TVoxPlayer::kBlocksAhead + 5;
    std::string noise(size_t(blocks) * 1024 + 300, '\0');
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 2654435761u) >> 13);
    const std::string path = File("hour.vox", noise);
    ASSERT_TRUE(player.Play(path));
    EXPECT_EQ(int(out.queued.size()), TVoxPlayer::kBlocksAhead) << "the start reads only what it queues";
    VoxAdpcmDecoder whole;
    const std::vector<uint8_t> all = whole.Decode(reinterpret_cast<const uint8_t*>(noise.data()), noise.size());
    std::vector<uint8_t> heard;
    while (!out.queued.empty()) {
        EXPECT_LE(int(out.queued.size()), TVoxPlayer::kBlocksAhead);
        heard.insert(heard.end(), out.queued.front().begin(), out.queued.front().end());
        out.queued.erase(out.queued.begin());
        EXPECT_EQ(out.closes, 0);
        out.OnDone();
    }
    EXPECT_EQ(heard, all);
    EXPECT_EQ(out.closes, 1);
    EXPECT_EQ(player.QueuedBlocks(), 0);

    ASSERT_TRUE(player.Play(path));
    for (int i = 0; i < 3; ++i) {
        out.queued.erase(out.queued.begin());
        out.OnDone();
    }
    player.Stop();
    EXPECT_TRUE(out.queued.empty()) << "nothing is read after a stop";
    EXPECT_EQ(out.closes, 2);
    out.FinishAll();
    EXPECT_TRUE(out.queued.empty());
}

// The viewer reads the file on a worker and plays its bytes: the sound is the
// file's, and the file is never looked at again.
TEST_F(VoxPlayerTest, BytesReadBeforehandSoundAsTheFileWithoutIt)
{
    std::string noise(size_t(2 * TVoxPlayer::kBlocksAhead) * 1024 + 300, '\0');
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 2654435761u) >> 13);
    const std::string path = File("call.vox", noise);
    std::shared_ptr<const std::string> bytes = ReadVoxFile(path);
    ASSERT_NE(bytes, nullptr);
    std::filesystem::remove(path);
    ASSERT_TRUE(player.PlayBytes(bytes, path));
    EXPECT_EQ(player.LastFile(), path);
    EXPECT_EQ(player.PlayedAs(), VoxType::Adpcm);
    VoxAdpcmDecoder whole;
    const std::vector<uint8_t> all = whole.Decode(reinterpret_cast<const uint8_t*>(noise.data()), noise.size());
    std::vector<uint8_t> heard;
    while (!out.queued.empty()) {
        EXPECT_LE(int(out.queued.size()), TVoxPlayer::kBlocksAhead);
        heard.insert(heard.end(), out.queued.front().begin(), out.queued.front().end());
        out.queued.erase(out.queued.begin());
        out.OnDone();
    }
    EXPECT_EQ(heard, all);
    EXPECT_EQ(out.closes, 1);

    // The guess refuses a RIFF file from memory too; no bytes, no sound.
    EXPECT_FALSE(player.PlayBytes(std::make_shared<const std::string>("RIFF\x24\0\0\0WAVEfmt ", 16), "w.vox"));
    EXPECT_FALSE(player.PlayBytes(nullptr, "gone.vox"));
    // Too large, missing, or no regular file: nothing is read.
    EXPECT_EQ(ReadVoxFile(File("big.vox", std::string(100, 'a')), 99), nullptr);
    EXPECT_EQ(ReadVoxFile(tree.Path() + "missing.vox"), nullptr);
    ASSERT_EQ(mkfifo((tree.Path() + "pipe.vox").c_str(), 0600), 0);
    EXPECT_EQ(ReadVoxFile(tree.Path() + "pipe.vox"), nullptr);
}

TEST_F(VoxPlayerTest, AnOutputThatCannotOpenQueuesNothingAndNeverWaits)
{
    out.refuseOpen = true;
    EXPECT_TRUE(player.Play(File("a.vox", std::string(5000, '\x21'))));
    EXPECT_TRUE(out.queued.empty());
    EXPECT_FALSE(out.IsOpen());
    EXPECT_TRUE(player.Play(File("b.vox", std::string(10, '\x21'))));
    EXPECT_EQ(out.opens, 2) << "each file tries the device again";
}

} // namespace
} // namespace tarnel
