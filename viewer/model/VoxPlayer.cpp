#include "viewer/model/VoxPlayer.h"

#include "viewer/model/ViewerDispatch.h"

#include <cerrno>
#include <unistd.h>

namespace tarnel {
namespace {

// Reads up to size bytes; short only at the end of the file or on an error.
size_t ReadBlock(int fd, uint8_t* buffer, size_t size)
{
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, buffer + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += size_t(n);
    }
    return got;
}

} // namespace

bool TVoxPlayer::Play(const std::string& path)
{
    if (!waveOut)
        return false;
    // The blocks a reset hands back belong to the previous file: counted
    // against this one they would close the output under its first blocks.
    waveOut->OnDone = nullptr;
    if (waveOut->IsPlaying())
        waveOut->Reset(); // the previous file stops here
    if (waveOut->IsOpen() && waveOut->SamplesPerSecond() != samples) {
        waveOut->Reset(); // a rate is fixed while open: what still sounds stops
        waveOut->Close();
    }
    if (!waveOut->IsOpen()) {
        waveOut->SetSamplesPerSecond(samples);
        waveOut->Open();
    }
    waveOut->OnDone = [this] { BlockDone(); };
    queued_ = 0;
    lastFile_ = path;
    // Read-only and never a device or a pipe: a viewer must not block on a file.
    const int fd = OpenRegularFileForReading(path);
    if (fd < 0)
        return false;
    uint8_t block[kVoxBlockSize];
    size_t got = ReadBlock(fd, block, sizeof block);
    VoxType coding = voxType;
    if (coding == VoxType::Euristic) {
        const VoxGuess guess = GuessVoxCoding(block, got);
        if (guess == VoxGuess::NotVox) {
            ::close(fd);
            return false;
        }
        coding = guess == VoxGuess::Pcm ? VoxType::Pcm : VoxType::Adpcm;
    }
    playedAs_ = coding;
    VoxAdpcmDecoder decoder; // predictor 2048, index 0; carried across blocks
    uint8_t decoded[2 * kVoxBlockSize];
    for (;;) {
        ++queued_;
        if (coding == VoxType::Pcm) {
            waveOut->Write(block, got);
        } else {
            decoder.Decode(block, got, decoded);
            waveOut->Write(decoded, 2 * got);
        }
        if (got < kVoxBlockSize)
            break; // the last, maybe empty, block went out too
        got = ReadBlock(fd, block, sizeof block);
    }
    ::close(fd);
    return true;
}

void TVoxPlayer::Stop()
{
    if (waveOut && waveOut->IsPlaying())
        waveOut->Reset();
}

void TVoxPlayer::BlockDone()
{
    --queued_;
    if (queued_ <= 0 && waveOut && waveOut->IsOpen())
        waveOut->Close();
}

} // namespace tarnel
