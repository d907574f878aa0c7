#pragma once
// The "music" page: sound and video through Qt Multimedia (GStreamer). Whatever the
// media back end reports (no audio device, a broken file, a missing codec)
// is ignored: the page shows with nothing playing.
#include "viewer/ViewerPage.h"

#include <QWidget>

#include <functional>

class QAudioOutput;
class QBuffer;
class QMediaPlayer;
class QSlider;
class QTimer;
class QToolButton;
class QVideoWidget;

namespace tarnel {

class MediaPage : public QWidget, public ViewerPage {
    Q_OBJECT
public:
    // Files up to this size are read on the worker and played from memory.
    static constexpr int64_t kMaxBytesInMemory = int64_t(64) << 20;

    explicit MediaPage(QWidget* parent = nullptr);
    ~MediaPage() override;

    QWidget* PageWidget() override { return this; }
    Reading ReadFile(const std::string& path) override;
    void ClearPage() override;

    // Where the one error this page reports goes ("No MCI device open").
    void SetErrorSink(std::function<void(const QString&)> sink) { errorSink_ = std::move(sink); }

    void SBPlayClick();
    void SBPauseClick();
    void SBStopClick();
    void VWTimerTimer();

    bool IsOpen() const { return open_; }
    QTimer* Timer() const { return timer_; }
    QSlider* Slider() const { return slider_; }
    QMediaPlayer* Player() const { return player_; }

private:
    void EnsurePlayer();
    // bytes: the file's contents, played from memory; null: by name.
    void Play(const std::string& path, const QByteArray* bytes);

    QWidget* screen_ = nullptr;
    QVideoWidget* television_ = nullptr;
    QToolButton* play_ = nullptr;
    QToolButton* pause_ = nullptr;
    QToolButton* stop_ = nullptr;
    QSlider* slider_ = nullptr;
    QTimer* timer_ = nullptr;
    QMediaPlayer* player_ = nullptr; // made when the first file plays
    QAudioOutput* audio_ = nullptr;
    QBuffer* source_ = nullptr; // the file's bytes, while the player has them
    bool open_ = false;
    std::function<void(const QString&)> errorSink_;
};

} // namespace tarnel
