// Arbitrary bytes through the VOX guess and the ADPCM decoder, in blocks as
// the player feeds it: the state stays in range and every byte gives two
// samples matching the predictor.
#include "viewer/model/VoxDecoder.h"

#include <cstdlib>
#include <vector>

using namespace tarnel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    GuessVoxCoding(data, size < kVoxBlockSize ? size : kVoxBlockSize);
    VoxAdpcmDecoder blocks;
    std::vector<uint8_t> out(2 * kVoxBlockSize);
    for (size_t at = 0; at < size; at += kVoxBlockSize) {
        const size_t n = size - at < kVoxBlockSize ? size - at : kVoxBlockSize;
        blocks.Decode(data + at, n, out.data());
        if (blocks.Predictor() < 0 || blocks.Predictor() > 4095 || blocks.StepIndex() < 0 || blocks.StepIndex() > 48)
            std::abort();
        if (n && out[2 * n - 1] != blocks.Predictor() / 16)
            std::abort();
    }
    VoxAdpcmDecoder whole;
    const std::vector<uint8_t> all = whole.Decode(data, size);
    if (all.size() != 2 * size || whole.Predictor() != blocks.Predictor())
        std::abort();
    return 0;
}
