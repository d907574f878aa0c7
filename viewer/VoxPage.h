#pragma once
// The "vox" page: the coding and rate choices, "Play" and "Stop". The file
// starts playing when the page is handed it and goes on while the user
// browses; a choice made here applies from the next "Play".
#include "viewer/ViewerPage.h"
#include "viewer/model/VoxPlayer.h"

#include <QWidget>

class QLabel;
class QPushButton;
class QRadioButton;

namespace tarnel {

class TEnhWaveOut;

class VoxPage : public QWidget, public ViewerPage {
    Q_OBJECT
public:
    explicit VoxPage(QWidget* parent = nullptr);
    ~VoxPage() override;

    QWidget* PageWidget() override { return this; }
    Reading ReadFile(const std::string& path) override;
    // Empties the page; the sound goes on.
    void ClearPage() override;

    void BTNPlayVoxClick();
    void BTNStopVoxClick();

    TVoxPlayer& Player() { return player_; }   // VWVox
    TEnhWaveOut* WaveOut() const { return waveOut_; } // EnhWaveOut1
    QLabel* State() const { return state_; }
    QPushButton* PlayButton() const { return play_; }
    QPushButton* StopButton() const { return stop_; }
    QRadioButton* CodingButton(VoxType type) const { return coding_[int(type)]; }
    QRadioButton* RateButton(int index) const { return rates_[index]; }

private:
    void ReadChoices();
    void ShowState();

    TEnhWaveOut* waveOut_;
    TVoxPlayer player_;
    std::string file_;
    std::shared_ptr<const std::string> sound_; // the file's bytes, read on a worker
    QRadioButton* coding_[3];
    QRadioButton* rates_[3];
    QLabel* name_;
    QLabel* state_;
    QPushButton* play_;
    QPushButton* stop_;
    bool queued_ = false; // the last Play queued its file
};

} // namespace tarnel
