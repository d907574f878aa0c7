#include "viewer/MediaPage.h"

#include "platform/RegularFile.h"
#include "viewer/model/ViewerDispatch.h"

#include <QAudioOutput>
#include <QBuffer>
#include <QFile>
#include <QHBoxLayout>
#include <QMediaPlayer>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QVideoWidget>

#include <cerrno>
#include <memory>

#include <sys/stat.h>
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
        // opened. The player opens what it is given on the window's thread,
        // and looks at it many times: a file of a usual size is read here and
        // played from memory; a larger one is given by name once it answered.
        const int fd = OpenRegularFileForReading(path);
        struct stat st;
        bool answers = false;
        QByteArray bytes;
        if (fd >= 0 && ::fstat(fd, &st) == 0) {
            if (st.st_size <= kMaxBytesInMemory) {
                bytes.resize(qsizetype(st.st_size));
                qsizetype got = 0;
                while (got < bytes.size()) {
                    const ssize_t n = ::pread(fd, bytes.data() + got, size_t(bytes.size() - got), got);
                    if (n < 0 && errno == EINTR)
                        continue;
                    if (n <= 0)
                        break;
                    got += n;
                }
                bytes.resize(got);
                answers = true;
            } else {
                char first = 0;
                answers = ::pread(fd, &first, 1, 0) >= 0;
            }
        }
        if (fd >= 0)
            ::close(fd);
        auto read = std::make_shared<QByteArray>(std::move(bytes));
        const bool inMemory = answers && fd >= 0 && st.st_size <= kMaxBytesInMemory;
        return Showing([this, path, answers, inMemory, read] {
            ClearPage();
            if (answers)
                Play(path, inMemory ? read.get() : nullptr);
        });
    };
}

void MediaPage::Play(const std::string& path, const QByteArray* bytes)
{
    EnsurePlayer();
    if (bytes) {
        delete source_;
        source_ = new QBuffer(this);
        source_->setData(*bytes);
        source_->open(QIODevice::ReadOnly);
        // No name with it: the player would look at the file by it. The
        // type is found from the bytes.
        player_->setSourceDevice(source_);
    } else {
        player_->setSource(QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(path))));
    }
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
    delete source_;
    source_ = nullptr;
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
