#include "viewer/model/VoxPlayer.h"

#include "platform/RegularFile.h"
#include "viewer/model/ViewerDispatch.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/stat.h>
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
    memory_.reset();
    memoryAt_ = 0;
}

size_t TVoxPlayer::ReadSource(uint8_t* buffer, size_t size)
{
    if (memory_) {
        const size_t got = std::min(size, memory_->size() - memoryAt_);
        std::memcpy(buffer, memory_->data() + memoryAt_, got);
        memoryAt_ += got;
        return got;
    }
    return ReadBlock(source_, buffer, size);
}

void TVoxPlayer::Restart(const std::string& name)
{
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
    lastFile_ = name;
}

bool TVoxPlayer::ChooseCoding(const uint8_t* first, size_t got)
{
    VoxType coding = voxType;
    if (coding == VoxType::Euristic) {
        const VoxGuess guess = GuessVoxCoding(first, got);
        if (guess == VoxGuess::NotVox)
            return false;
        coding = guess == VoxGuess::Pcm ? VoxType::Pcm : VoxType::Adpcm;
    }
    playedAs_ = coding;
    decoder_ = VoxAdpcmDecoder(); // predictor 2048, index 0
    return true;
}

bool TVoxPlayer::Play(const std::string& path)
{
    if (!waveOut)
        return false;
    Restart(path);
    // Read-only and never a device or a pipe: a viewer must not block on a file.
    const int fd = OpenRegularFileForReading(path);
    if (fd < 0)
        return false;
    uint8_t first[kVoxBlockSize];
    const size_t got = voxType == VoxType::Euristic ? ReadBlock(fd, first, sizeof first) : 0;
    if (!ChooseCoding(first, got)) {
        ::close(fd);
        return false;
    }
    ::lseek(fd, 0, SEEK_SET); // the first block is queued like the rest
    source_ = fd;
    for (int i = 0; i < kBlocksAhead && QueueNext(); ++i) {
    }
    return true;
}

bool TVoxPlayer::PlayBytes(std::shared_ptr<const std::string> bytes, const std::string& name)
{
    if (!waveOut)
        return false;
    Restart(name);
    if (!bytes)
        return false;
    const auto* first = reinterpret_cast<const uint8_t*>(bytes->data());
    if (!ChooseCoding(first, std::min<size_t>(bytes->size(), kVoxBlockSize)))
        return false;
    memory_ = std::move(bytes);
    memoryAt_ = 0;
    for (int i = 0; i < kBlocksAhead && QueueNext(); ++i) {
    }
    return true;
}

std::shared_ptr<const std::string> ReadVoxFile(const std::string& path, int64_t maxBytes)
{
    const int fd = OpenRegularFileForReading(path);
    if (fd < 0)
        return nullptr;
    struct stat st;
    std::shared_ptr<std::string> bytes;
    if (::fstat(fd, &st) == 0 && st.st_size <= maxBytes) {
        bytes = std::make_shared<std::string>(size_t(st.st_size), '\0');
        bytes->resize(ReadBlock(fd, reinterpret_cast<uint8_t*>(bytes->data()), bytes->size()));
    }
    ::close(fd);
    return bytes;
}

bool TVoxPlayer::QueueNext()
{
    if (source_ < 0 && !memory_)
        return false;
    uint8_t block[kVoxBlockSize];
    const size_t got = ReadSource(block, sizeof block);
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
    return source_ >= 0 || memory_;
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
