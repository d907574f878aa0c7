#include "viewer/model/VoxPlayer.h"

#include "platform/RegularFile.h"
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

TVoxPlayer::~TVoxPlayer() { CloseSource(); }

void TVoxPlayer::CloseSource()
{
    if (source_ >= 0)
        ::close(source_);
    source_ = -1;
}

bool TVoxPlayer::Play(const std::string& path)
{
    if (!waveOut)
        return false;
    CloseSource();
    // The blocks a reset hands back belong to the previous file: counted
    // against this one they would close the output under its first blocks.
    waveOut->OnDone = nullptr;
    if (waveOut->IsPlaying() || waveOut->IsDraining())
        waveOut->Reset(); // the previous file stops here, its tail too
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
    VoxType coding = voxType;
    if (coding == VoxType::Euristic) {
        uint8_t first[kVoxBlockSize];
        const size_t got = ReadBlock(fd, first, sizeof first);
        const VoxGuess guess = GuessVoxCoding(first, got);
        if (guess == VoxGuess::NotVox) {
            ::close(fd);
            return false;
        }
        coding = guess == VoxGuess::Pcm ? VoxType::Pcm : VoxType::Adpcm;
        ::lseek(fd, 0, SEEK_SET); // the first block is queued like the rest
    }
    playedAs_ = coding;
    decoder_ = VoxAdpcmDecoder(); // predictor 2048, index 0
    source_ = fd;
    for (int i = 0; i < kBlocksAhead && QueueNext(); ++i) {
    }
    return true;
}

bool TVoxPlayer::QueueNext()
{
    if (source_ < 0)
        return false;
    uint8_t block[kVoxBlockSize];
    const size_t got = ReadBlock(source_, block, sizeof block);
    bool queued;
    if (playedAs_ == VoxType::Pcm) {
        queued = waveOut->Write(block, got);
    } else {
        uint8_t decoded[2 * kVoxBlockSize];
        decoder_.Decode(block, got, decoded);
        queued = waveOut->Write(decoded, 2 * got);
    }
    queued_ += queued;
    // The last, maybe empty, block went out; or no output takes blocks.
    if (got < kVoxBlockSize || !queued)
        CloseSource();
    return source_ >= 0;
}

void TVoxPlayer::Stop()
{
    CloseSource();
    if (waveOut && waveOut->IsPlaying())
        waveOut->Reset();
}

void TVoxPlayer::BlockDone()
{
    --queued_;
    if (QueueNext())
        return;
    if (queued_ <= 0 && waveOut && waveOut->IsOpen())
        waveOut->Close();
}

} // namespace tarnel
