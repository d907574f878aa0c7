#include "viewer/VoxPage.h"

#include "tools/ToolText.h"
#include "viewer/EnhWaveOut.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace tarnel {

namespace {

constexpr int kRates[3] = {6000, 8000, 12000};

std::string NameOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

const char* CodingName(VoxType type) { return type == VoxType::Pcm ? "8-bit PCM" : "AD PCM"; }

} // namespace

VoxPage::VoxPage(QWidget* parent) : QWidget(parent), waveOut_(new TEnhWaveOut(this))
{
    setObjectName("VoxPage");
    player_.waveOut = waveOut_;
    auto* column = new QVBoxLayout(this);
    name_ = new QLabel(this);
    name_->setTextFormat(Qt::PlainText);
    column->addWidget(name_);

    auto* choices = new QHBoxLayout;
    auto* codingBox = new QGroupBox("Coding", this);
    auto* codingColumn = new QVBoxLayout(codingBox);
    const char* codingCaptions[3] = {"AD PCM", "PCM", "Guess"};
    for (int i = 0; i < 3; ++i) {
        coding_[i] = new QRadioButton(codingCaptions[i], codingBox);
        codingColumn->addWidget(coding_[i]);
    }
    auto* rateBox = new QGroupBox("Rate", this);
    auto* rateColumn = new QVBoxLayout(rateBox);
    for (int i = 0; i < 3; ++i) {
        rates_[i] = new QRadioButton(QString("%1 Hz").arg(kRates[i]), rateBox);
        rateColumn->addWidget(rates_[i]);
    }
    // The choices start on what the player plays by default.
    coding_[int(player_.voxType)]->setChecked(true);
    rates_[1]->setChecked(true);
    choices->addWidget(codingBox);
    choices->addWidget(rateBox);
    choices->addStretch(1);
    column->addLayout(choices);

    auto* buttons = new QHBoxLayout;
    play_ = new QPushButton("Play", this);
    play_->setObjectName("BTNPlayVox");
    stop_ = new QPushButton("Stop", this);
    stop_->setObjectName("BTNStopVox");
    buttons->addWidget(play_);
    buttons->addWidget(stop_);
    buttons->addStretch(1);
    column->addLayout(buttons);
    state_ = new QLabel(this);
    state_->setObjectName("VoxState");
    state_->setTextFormat(Qt::PlainText);
    state_->setWordWrap(true);
    column->addWidget(state_);
    column->addStretch(1);

    connect(play_, &QPushButton::clicked, this, &VoxPage::BTNPlayVoxClick);
    connect(stop_, &QPushButton::clicked, this, &VoxPage::BTNStopVoxClick);
    waveOut_->OnClose = [this] { ShowState(); };
    ShowState();
}

VoxPage::~VoxPage()
{
    waveOut_->OnClose = nullptr;
    player_.Stop();
}

ViewerPage::Reading VoxPage::ReadFile(const std::string& path)
{
    return [this, path] {
        std::shared_ptr<const std::string> sound = ReadVoxFile(path);
        return Showing([this, path, sound] {
            file_ = path;
            sound_ = sound;
            name_->setText(DisplayName(NameOf(path)));
            BTNPlayVoxClick();
        });
    };
}

void VoxPage::ClearPage()
{
    file_.clear();
    sound_.reset();
    name_->clear();
    queued_ = false;
    ShowState();
}

void VoxPage::ReadChoices()
{
    for (int i = 0; i < 3; ++i) {
        if (coding_[i]->isChecked())
            player_.voxType = VoxType(i);
        if (rates_[i]->isChecked())
            player_.samples = kRates[i];
    }
}

void VoxPage::BTNPlayVoxClick()
{
    if (file_.empty())
        return;
    ReadChoices();
    queued_ = sound_ && player_.PlayBytes(sound_, file_);
    ShowState();
}

void VoxPage::BTNStopVoxClick()
{
    player_.Stop();
    ShowState();
}

void VoxPage::ShowState()
{
    play_->setEnabled(!file_.empty());
    stop_->setEnabled(waveOut_->IsPlaying());
    if (file_.empty()) {
        state_->clear();
        return;
    }
    if (!queued_) {
        state_->setText("Not played: the file cannot be read, or it is a RIFF (WAV) file.");
        return;
    }
    const QString coding = QString("%1, %2 Hz").arg(CodingName(player_.PlayedAs())).arg(player_.samples);
    if (!waveOut_->IsOpen() && !waveOut_->OpenError().isEmpty())
        state_->setText(coding + " - " + waveOut_->OpenError() + ": nothing can be heard.");
    else if (waveOut_->IsPlaying())
        state_->setText(coding + " - playing");
    else
        state_->setText(coding + " - stopped");
}

} // namespace tarnel
