#pragma once
// One properties dialog for the whole selection: names, type, location, total
// size and counts (summed up in the background), owner, permissions, times.
#include <QDialog>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

class QLabel;

namespace tarnel {

class PropertiesDialog : public QDialog {
    Q_OBJECT
public:
    PropertiesDialog(const std::vector<std::string>& paths, QWidget* parent = nullptr);
    ~PropertiesDialog() override;
    QString TotalsText() const;
    bool TotalsDone() const { return done_; }

private:
    void AddRow(const QString& label, const QString& value);
    void StartTotals();

    std::vector<std::string> paths_;
    QLabel* totals_ = nullptr;
    std::atomic<bool> stop_{false};
    bool done_ = false;
    std::thread walker_;
};

} // namespace tarnel
