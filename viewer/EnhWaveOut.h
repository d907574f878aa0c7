#pragma once
// TEnhWaveOut: unsigned 8-bit PCM through QAudioSink. Blocks queue on the
// main thread; a timer hands them to the sink as it has room, and a block is
// done once the sink has taken all of it. With no audio device Open fails at
// once and nothing is queued.
#include "viewer/model/VoxPlayer.h"

#include <QObject>
#include <QString>

#include <deque>
#include <vector>

class QAudioSink;
class QIODevice;
class QTimer;

namespace tarnel {

enum TEWOutCap : unsigned {
    ocStereo = 1, ocLRVolume = 2, ocPitch = 4, ocPlaybackRate = 8, ocSync = 16, ocVolume = 32, ocSampleAccurate = 64
};

class TEnhWaveOut : public QObject, public WaveOutput {
    Q_OBJECT
public:
    static constexpr int wvMapper = -1; // the system's default output; 0 to 9 pick a device

    explicit TEnhWaveOut(QObject* parent = nullptr);
    ~TEnhWaveOut() override;

    bool Open() override;
    bool Write(const uint8_t* data, size_t size) override;
    void Reset() override;
    void Close() override;
    bool IsOpen() const override { return open_; }
    bool IsPlaying() const override { return playing_; }
    bool IsDraining() const override { return open_ && (closing_ || SinkHoldsSound()); }
    void SetSamplesPerSecond(int samples) override { samples_ = samples; }
    int SamplesPerSecond() const override { return samples_; }

    int channels = 1;
    int SampleBits = 8;
    int device = wvMapper;
    unsigned capabilities() const;
    int volume() const { return volume_; }
    void setVolume(int value);
    // Why the last Open failed, for the page to show.
    const QString& OpenError() const { return openError_; }

    std::function<void()> OnOpen;
    std::function<void()> OnClose;

private:
    struct Block {
        std::vector<uint8_t> bytes;
        size_t sent = 0;
    };
    void Feed();
    void FinishClose();
    bool SinkHoldsSound() const;
    void ReleaseAll(bool notify);

    QAudioSink* sink_ = nullptr;
    QIODevice* io_ = nullptr;
    QTimer* feed_;
    std::deque<Block> queue_;
    int samples_ = 8000;
    int volume_ = 65535;
    bool open_ = false;
    bool playing_ = false;
    bool closing_ = false; // the sink plays out what it holds, then closes
    int drainTicks_ = 0;
    QString openError_;
};

} // namespace tarnel
