#pragma once
// One properties dialog for the whole selection: names, type, location, total
// size and counts (summed up in the background), owner, permissions, times.
#include <QDialog>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

class QLabel;

namespace tarnel {

class BackgroundWork;

class PropertiesDialog : public QDialog {
    Q_OBJECT
public:
    // The totals are summed on a thread of owner (the window's background
    // work, so that quitting waits for it); without one the dialog keeps its own.
    PropertiesDialog(const std::vector<std::string>& paths, QWidget* parent = nullptr,
                     BackgroundWork* owner = nullptr);
    ~PropertiesDialog() override;
    QString TotalsText() const;
    bool TotalsDone() const { return done_; }

private:
    void AddRow(const QString& label, const QString& value);
    void StartTotals();

    std::vector<std::string> paths_;
    QLabel* totals_ = nullptr;
    std::unique_ptr<BackgroundWork> ownWork_;
    BackgroundWork* work_ = nullptr;
    std::shared_ptr<std::atomic<bool>> stop_;
    bool done_ = false;
};

} // namespace tarnel
