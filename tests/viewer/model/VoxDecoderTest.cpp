#include "viewer/model/VoxDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace tarnel {
namespace {

// Runs one nibble (as the high half of a byte) through a decoder brought to
// the given step index.
struct Probe {
    VoxAdpcmDecoder decoder;
    void RaiseIndexTo(int index)
    {
        while (decoder.StepIndex() < index) { // nibble 4 adds 2 to the index
            const uint8_t up = 0x4C; // 4 then C: up and back down nearly where we were
            uint8_t out[2];
            decoder.Decode(&up, 1, out);
        }
    }
};

TEST(VoxAdpcmDecoder, StepsAndClampingFollowTheDialogicRules)
{
    VoxAdpcmDecoder d;
    uint8_t out[2];
    const uint8_t zero = 0x00;
    d.Decode(&zero, 1, out);
    EXPECT_EQ(d.StepIndex(), 0) << "the index never falls below 0";
    EXPECT_EQ(d.Predictor(), 2048 + 2 + 2) << "nibble 0 at step 16 adds 16 div 8";
    EXPECT_EQ(out[0], (2048 + 2) / 16);

    Probe p;
    p.RaiseIndexTo(48);
    ASSERT_EQ(p.decoder.StepIndex(), 48);
    const int before = p.decoder.Predictor();
    const uint8_t seven = 0x70; // 7 then 0
    p.decoder.Decode(&seven, 1, out);
    // 1552 div 8 + 1552 + 776 + 388 = 2910, clamped to 4095; nibble 7 keeps index 48.
    EXPECT_EQ(out[0], std::min(before + 2910, 4095) / 16);
    EXPECT_EQ(p.decoder.StepIndex(), 47) << "only the second nibble, 0, lowers it";

    VoxAdpcmDecoder down;
    const std::vector<uint8_t> falling(200, 0xFF);
    const std::vector<uint8_t> samples = down.Decode(falling.data(), falling.size());
    EXPECT_EQ(down.Predictor(), 0) << "clamped at the bottom";
    EXPECT_EQ(down.StepIndex(), 48);
    EXPECT_EQ(samples.back(), 0);
}

TEST(VoxAdpcmDecoder, HighNibbleFirstAndStateCarriesAcrossBlocks)
{
    const uint8_t data[] = {0x70, 0x07, 0x35, 0x9A, 0x12, 0xF0, 0x44, 0x8B};
    VoxAdpcmDecoder whole;
    const std::vector<uint8_t> all = whole.Decode(data, sizeof data);
    ASSERT_EQ(all.size(), 2 * sizeof data);

    VoxAdpcmDecoder split;
    std::vector<uint8_t> parts = split.Decode(data, 3);
    const std::vector<uint8_t> rest = split.Decode(data + 3, sizeof data - 3);
    parts.insert(parts.end(), rest.begin(), rest.end());
    EXPECT_EQ(parts, all);

    VoxAdpcmDecoder swapped;
    const uint8_t reversed[] = {0x07};
    const std::vector<uint8_t> other = swapped.Decode(reversed, 1);
    EXPECT_EQ(other[0], (2048 + 2) / 16) << "the high nibble, 0, comes first";
    EXPECT_NE(other[0], all[0]);
}

TEST(VoxGuess, TellsWavPcmAndAdpcmApart)
{
    std::vector<uint8_t> block(1024, 128);
    std::memcpy(block.data(), "RIFF", 4);
    EXPECT_EQ(GuessVoxCoding(block.data(), block.size()), VoxGuess::NotVox);
    EXPECT_EQ(GuessVoxCoding(block.data(), 4), VoxGuess::NotVox);

    for (size_t i = 0; i < block.size(); ++i) block[i] = uint8_t(128 + (i % 40 < 20 ? i % 20 : 20 - i % 20));
    EXPECT_EQ(GuessVoxCoding(block.data(), block.size()), VoxGuess::Pcm);
    EXPECT_EQ(GuessVoxCoding(block.data(), 1023), VoxGuess::Adpcm) << "a short file is ADPCM";

    // 1023 differences of 39 sum to 39897: still smooth; of 40 to 40920: not.
    for (size_t i = 0; i < block.size(); ++i) block[i] = i % 2 ? 100 + 39 : 100;
    EXPECT_EQ(GuessVoxCoding(block.data(), block.size()), VoxGuess::Pcm);
    for (size_t i = 0; i < block.size(); ++i) block[i] = i % 2 ? 100 + 40 : 100;
    EXPECT_EQ(GuessVoxCoding(block.data(), block.size()), VoxGuess::Adpcm);
}

} // namespace
} // namespace tarnel
