#include "viewer/MediaPage.h"

#include "platform/RegularFile.h"
#include "viewer/model/ViewerDispatch.h"

#include <QAudioOutput>
#include <QFile>
#include <QHBoxLayout>
#include <QMediaPlayer>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QVideoWidget>

#include <unistd.h>

namespace tarnel {

MediaPage::MediaPage(QWidget* parent) : QWidget(parent)
{
    setObjectName("MusicPage");
    auto* column = new QVBoxLayout(this);
    // The video output starts the media back end: it is made with the player.
    screen_ = new QWidget(this);
    screen_->setObjectName("VWScreen");
    auto* screenLayout = new QVBoxLayout(screen_);
    screenLayout->setContentsMargins(0, 0, 0, 0);
    column->addWidget(screen_, 1);
    auto* row = new QHBoxLayout;
    auto makeButton = [this, row](const char* name, const QString& text) {
        auto* button = new QToolButton(this);
        button->setObjectName(name);
        button->setText(text);
        row->addWidget(button);
        return button;
    };
    play_ = makeButton("SBPlay", "Play");
    pause_ = makeButton("SBPause", "Pause");
    stop_ = makeButton("SBStop", "Stop");
    slider_ = new QSlider(Qt::Horizontal, this);
    slider_->setObjectName("MMSlider");
    slider_->setRange(0, 100);
    slider_->setEnabled(false); // shows the position only
    row->addWidget(slider_, 1);
    column->addLayout(row);
    timer_ = new QTimer(this);
    timer_->setObjectName("VWTimer");
    timer_->setInterval(100);
    connect(timer_, &QTimer::timeout, this, &MediaPage::VWTimerTimer);
    connect(play_, &QToolButton::clicked, this, &MediaPage::SBPlayClick);
    connect(pause_, &QToolButton::clicked, this, &MediaPage::SBPauseClick);
    connect(stop_, &QToolButton::clicked, this, &MediaPage::SBStopClick);
}

MediaPage::~MediaPage() { ClearPage(); }

void MediaPage::EnsurePlayer()
{
    if (player_)
        return;
    // The FFmpeg back end crashes when no audio device exists.
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "gstreamer");
    television_ = new QVideoWidget(screen_);
    television_->setObjectName("VWTelevision");
    screen_->layout()->addWidget(television_);
    player_ = new QMediaPlayer(this);
    audio_ = new QAudioOutput(this);
    player_->setAudioOutput(audio_);
    player_->setVideoOutput(television_);
    // Errors are ignored: the page stays, nothing plays.
    connect(player_, &QMediaPlayer::errorOccurred, this, [this] { timer_->stop(); });
}

ViewerPage::Reading MediaPage::ReadFile(const std::string& path)
{
    return [this, path] {
        // Only a regular file is handed on: a FIFO or a device must never be
        // opened. It must answer too: the player opens it on this thread.
        const int fd = OpenRegularFileForReading(path);
        char first = 0;
        const bool answers = fd >= 0 && ::pread(fd, &first, 1, 0) >= 0;
        if (fd >= 0)
            ::close(fd);
        return Showing([this, path, answers] {
            ClearPage();
            if (answers)
                Play(path);
        });
    };
}

void MediaPage::Play(const std::string& path)
{
    EnsurePlayer();
    player_->setSource(QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(path))));
    open_ = true;
    player_->play();
    timer_->start();
}

void MediaPage::ClearPage()
{
    timer_->stop();
    if (player_ && open_) {
        player_->stop();
        player_->setSource(QUrl()); // closes the file and the device
    }
    open_ = false;
    slider_->setValue(0);
}

void MediaPage::SBPlayClick()
{
    if (!open_)
        return;
    player_->play();
    timer_->start();
}

void MediaPage::SBPauseClick()
{
    if (!open_) {
        if (errorSink_)
            errorSink_("No MCI device open");
        return;
    }
    if (player_->playbackState() == QMediaPlayer::PlayingState)
        player_->pause();
    else if (player_->playbackState() == QMediaPlayer::PausedState)
        player_->play();
}

void MediaPage::SBStopClick()
{
    timer_->stop();
    if (open_)
        player_->stop();
}

void MediaPage::VWTimerTimer()
{
    // A length of 0 (not known yet, or a broken file) shows the start.
    const qint64 length = player_ ? player_->duration() : 0;
    slider_->setValue(length > 0 ? int(player_->position() * 100 / length) : 0);
}

} // namespace tarnel
