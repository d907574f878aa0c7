#pragma once
// Dialogic (OKI) 4-bit ADPCM as telephony VOX files hold it, and the guess
// between that and raw 8-bit PCM. Plain C++: the player and the benchmark share it.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnel {

enum class VoxType { Adpcm = 0, Pcm = 1, Euristic = 2 };

// 12-bit predictor (0..4095, 2048 is silence) and step index (0..48). The
// state runs on from one block to the next, so one decoder serves one file.
class VoxAdpcmDecoder {
public:
    // Two unsigned 8-bit samples per input byte, high nibble first; out must
    // hold 2 * size bytes.
    void Decode(const uint8_t* in, size_t size, uint8_t* out);
    std::vector<uint8_t> Decode(const uint8_t* in, size_t size);

    int Predictor() const { return predictor_; }
    int StepIndex() const { return index_; }
    void Reset() { predictor_ = 2048; index_ = 0; }

private:
    uint8_t DecodeNibble(unsigned nibble);

    int predictor_ = 2048;
    int index_ = 0;
};

// What the guess makes of a file's first block (up to 1024 bytes).
enum class VoxGuess { Adpcm, Pcm, NotVox };

// "RIFF" is a WAV file and no VOX; a full block whose neighbouring bytes differ
// by 40000 or less in sum is smooth 8-bit audio; anything else is ADPCM.
VoxGuess GuessVoxCoding(const uint8_t* block, size_t size);

constexpr size_t kVoxBlockSize = 1024;

} // namespace tarnel
