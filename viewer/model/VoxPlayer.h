#pragma once
// TVoxPlayer: decides a VOX file's coding, decodes it in 1024-byte blocks and
// queues every block on a wave output, which closes once the last is done.
// The blocks are read and decoded a few ahead of the sound, as earlier ones
// finish: an hour-long file starts as fast as a short one.
#include "viewer/model/VoxDecoder.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tarnel {

// What the player needs of TEnhWaveOut; tests fake it.
class WaveOutput {
public:
    virtual ~WaveOutput() = default;
    virtual bool Open() = 0;
    // Queues a copy of the bytes; false when nothing was queued.
    virtual bool Write(const uint8_t* data, size_t size) = 0;
    // Stops and returns every block as done, OnDone running before it returns.
    virtual void Reset() = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    virtual bool IsPlaying() const = 0;
    // Every block is done but the device still sounds what it was handed.
    virtual bool IsDraining() const { return false; }
    // Takes effect at the next Open.
    virtual void SetSamplesPerSecond(int samples) = 0;
    virtual int SamplesPerSecond() const = 0;
    // Runs on the main thread once per finished block.
    std::function<void()> OnDone;
};

class TVoxPlayer {
public:
    // Blocks queued ahead of the one sounding: 1.4 to 5.5 seconds of sound.
    static constexpr int kBlocksAhead = 16;

    TVoxPlayer() = default;
    ~TVoxPlayer();
    TVoxPlayer(const TVoxPlayer&) = delete;
    TVoxPlayer& operator=(const TVoxPlayer&) = delete;

    VoxType voxType = VoxType::Euristic;
    int samples = 8000; // handed to the output before it opens
    WaveOutput* waveOut = nullptr;

    // True when the file was queued: false for a missing or unreadable file,
    // and in guess mode for a "RIFF" file.
    bool Play(const std::string& path);
    // As Play, from the file's bytes read before (on a worker): nothing is
    // read from a file system. name is what LastFile tells.
    bool PlayBytes(std::shared_ptr<const std::string> bytes, const std::string& name);
    void Stop();

    // The coding the last Play used (the guess resolved).
    VoxType PlayedAs() const { return playedAs_; }
    int QueuedBlocks() const { return queued_; }
    const std::string& LastFile() const { return lastFile_; }

private:
    void BlockDone();
    // Reads, decodes and queues the next block; false once the file is done.
    bool QueueNext();
    void CloseSource();
    // Opens the output and resets the count for a new file.
    void Restart(const std::string& name);
    // The coding for a file that starts with first; false when it is no VOX file.
    bool ChooseCoding(const uint8_t* first, size_t got);
    size_t ReadSource(uint8_t* buffer, size_t size);

    std::string lastFile_;
    int queued_ = 0;
    VoxType playedAs_ = VoxType::Adpcm;
    int source_ = -1; // the file, while blocks of it are still to be queued
    std::shared_ptr<const std::string> memory_; // or its bytes
    size_t memoryAt_ = 0;
    VoxAdpcmDecoder decoder_; // its state runs on across blocks
};

// A VOX file's bytes, for PlayBytes; null when it is no readable regular
// file or larger than maxBytes.
std::shared_ptr<const std::string> ReadVoxFile(const std::string& path, int64_t maxBytes = int64_t(256) << 20);

} // namespace tarnel
