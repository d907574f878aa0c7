#include "viewer/EnhWaveOut.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>
#include <QTimer>

#include <algorithm>

namespace tarnel {

namespace {

constexpr int kFeedMilliseconds = 20;
// A sink that never drains (a stalled server) still closes.
constexpr int kDrainLimitTicks = 3000 / kFeedMilliseconds;

QAudioDevice ChosenDevice(int device)
{
    // The FFmpeg back end of this Qt crashes without an audio device.
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "gstreamer");
    if (device < 0)
        return QMediaDevices::defaultAudioOutput();
    const QList<QAudioDevice> outputs = QMediaDevices::audioOutputs();
    return device < outputs.size() ? outputs[device] : QAudioDevice();
}

} // namespace

TEnhWaveOut::TEnhWaveOut(QObject* parent) : QObject(parent), feed_(new QTimer(this))
{
    feed_->setInterval(kFeedMilliseconds);
    connect(feed_, &QTimer::timeout, this, &TEnhWaveOut::Feed);
}

TEnhWaveOut::~TEnhWaveOut()
{
    OnDone = nullptr;
    OnClose = nullptr;
    Reset();
    FinishClose();
}

unsigned TEnhWaveOut::capabilities() const
{
    const QAudioDevice d = ChosenDevice(device);
    if (d.isNull())
        return 0;
    return ocVolume | (d.maximumChannelCount() >= 2 ? ocStereo : 0u);
}

void TEnhWaveOut::setVolume(int value)
{
    volume_ = std::clamp(value, 0, 65535);
    if (sink_)
        sink_->setVolume(volume_ / 65535.0);
}

bool TEnhWaveOut::Open()
{
    if (open_)
        return true;
    openError_.clear();
    const QAudioDevice d = ChosenDevice(device);
    if (d.isNull()) {
        openError_ = "No audio output device";
        return false;
    }
    QAudioFormat format;
    format.setSampleFormat(SampleBits == 16 ? QAudioFormat::Int16 : QAudioFormat::UInt8);
    format.setChannelCount(channels);
    format.setSampleRate(samples_);
    if (!d.isFormatSupported(format)) {
        openError_ = QString("The audio device cannot play %1 Hz").arg(samples_);
        return false;
    }
    sink_ = new QAudioSink(d, format, this);
    sink_->setVolume(volume_ / 65535.0);
    io_ = sink_->start();
    if (!io_ || sink_->error() != QAudio::NoError) {
        openError_ = "The audio device cannot be opened";
        delete sink_;
        sink_ = nullptr;
        io_ = nullptr;
        return false;
    }
    open_ = true;
    if (OnOpen)
        OnOpen();
    return true;
}

bool TEnhWaveOut::Write(const uint8_t* data, size_t size)
{
    if (!open_)
        return false; // no device: nothing would ever take the block
    Block block;
    block.bytes.assign(data, data + size);
    queue_.push_back(std::move(block));
    playing_ = true;
    closing_ = false;
    if (!feed_->isActive()) {
        feed_->start();
        // The first sound goes out as soon as the event loop runs, not a tick later.
        QTimer::singleShot(0, this, &TEnhWaveOut::Feed);
    }
    return true;
}

void TEnhWaveOut::Feed()
{
    if (closing_) {
        // Close waits for what the sink holds to be heard, within a limit.
        if (!SinkHoldsSound() || ++drainTicks_ > kDrainLimitTicks)
            FinishClose();
        return;
    }
    int done = 0;
    while (!queue_.empty() && sink_ && io_) {
        Block& front = queue_.front();
        const qsizetype room = sink_->bytesFree();
        const size_t left = front.bytes.size() - front.sent;
        if (left > 0) {
            if (room <= 0)
                break;
            const qint64 n = io_->write(reinterpret_cast<const char*>(front.bytes.data() + front.sent),
                                        std::min<qint64>(qint64(left), room));
            if (n <= 0)
                break;
            front.sent += size_t(n);
            if (front.sent < front.bytes.size())
                break;
        }
        queue_.pop_front();
        ++done;
    }
    if (queue_.empty()) {
        playing_ = false;
        feed_->stop();
    }
    // Last: a done handler may close the output.
    for (int i = 0; i < done && OnDone; ++i)
        OnDone();
}

void TEnhWaveOut::ReleaseAll(bool notify)
{
    const size_t count = queue_.size();
    queue_.clear();
    playing_ = false;
    if (!closing_)
        feed_->stop();
    for (size_t i = 0; notify && i < count && OnDone; ++i)
        OnDone();
}

bool TEnhWaveOut::SinkHoldsSound() const
{
    return sink_ && sink_->state() == QAudio::ActiveState && sink_->bytesFree() < sink_->bufferSize();
}

void TEnhWaveOut::Reset()
{
    if (sink_ && open_) {
        sink_->reset(); // what the sink holds stops too
        io_ = sink_->start();
    }
    ReleaseAll(true);
    if (closing_)
        FinishClose(); // nothing is left to play out
}

void TEnhWaveOut::Close()
{
    if (playing_)
        Reset();
    if (!open_ || closing_)
        return;
    if (!SinkHoldsSound()) {
        FinishClose();
        return;
    }
    closing_ = true;
    drainTicks_ = 0;
    feed_->start();
}

void TEnhWaveOut::FinishClose()
{
    feed_->stop();
    closing_ = false;
    ReleaseAll(false);
    if (sink_) {
        sink_->stop();
        delete sink_;
        sink_ = nullptr;
        io_ = nullptr;
    }
    const bool wasOpen = open_;
    open_ = false;
    if (wasOpen && OnClose)
        OnClose();
}

} // namespace tarnel
