#include "viewer/model/VoxDecoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tarnel {
namespace {

constexpr int16_t kStepSizes[49] = {
    16,  17,  19,  21,  23,  25,  28,  31,  34,  37,  41,  45,  50,  55,  60,  66,  73,
    80,  88,  97,  107, 118, 130, 143, 157, 173, 190, 209, 230, 253, 279, 307, 337, 371,
    408, 449, 494, 544, 598, 658, 724, 796, 876, 963, 1060, 1166, 1282, 1411, 1552};

constexpr int kIndexAdjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

} // namespace

uint8_t VoxAdpcmDecoder::DecodeNibble(unsigned nibble)
{
    const int step = kStepSizes[index_];
    int diff = step / 8;
    if (nibble & 4) diff += step;
    if (nibble & 2) diff += step / 2;
    if (nibble & 1) diff += step / 4;
    index_ = std::clamp(index_ + kIndexAdjust[nibble & 7], 0, 48);
    if (nibble & 8) diff = -diff;
    predictor_ = std::clamp(predictor_ + diff, 0, 4095);
    return static_cast<uint8_t>(predictor_ / 16);
}

void VoxAdpcmDecoder::Decode(const uint8_t* in, size_t size, uint8_t* out)
{
    for (size_t i = 0; i < size; ++i) {
        *out++ = DecodeNibble(in[i] >> 4);
        *out++ = DecodeNibble(in[i] & 0x0F);
    }
}

std::vector<uint8_t> VoxAdpcmDecoder::Decode(const uint8_t* in, size_t size)
{
    std::vector<uint8_t> out(size * 2);
    Decode(in, size, out.data());
    return out;
}

VoxGuess GuessVoxCoding(const uint8_t* block, size_t size)
{
    if (size >= 4 && std::memcmp(block, "RIFF", 4) == 0) return VoxGuess::NotVox;
    if (size < kVoxBlockSize) return VoxGuess::Adpcm;
    long sum = 0;
    for (size_t i = 1; i < kVoxBlockSize; ++i) sum += std::abs(int(block[i]) - int(block[i - 1]));
    return sum <= 40000 ? VoxGuess::Pcm : VoxGuess::Adpcm;
}

} // namespace tarnel
