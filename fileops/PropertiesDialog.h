#pragma once
// One properties dialog for the whole selection: names, type, location, total
// size and counts (summed up in the background), owner, permissions, times.
#include <QDialog>

#include <memory>
#include <string>
#include <vector>

class QLabel;

namespace tarnel {

class BackgroundWork;
class Operation;
class WorkerAnswers;

class PropertiesDialog : public QDialog {
    Q_OBJECT
public:
    // Opens at once with what the names tell; what the file system tells
    // (type, owner, times, totals) is asked on workers and filled in as it
    // comes. Nothing waits for them: a walk held by a mount that does not
    // answer is left behind when the dialog goes.
    // The totals are an operation of work (the window's), or of an owner of
    // the dialog's own when none is given.
    explicit PropertiesDialog(const std::vector<std::string>& paths, QWidget* parent = nullptr,
                              BackgroundWork* work = nullptr);
    ~PropertiesDialog() override;
    QString TotalsText() const;
    bool TotalsDone() const { return done_; }
    // The facts of a single entry have come (always true for several).
    bool FactsDone() const { return factsDone_; }
    // The text of a row ("Type:", "Owner:", ...); empty when it has none.
    QString RowText(const QString& label) const;

    struct Facts; // one entry, as a worker found it

private:
    QLabel* AddRow(const QString& label, const QString& value);
    void AskFacts();
    void ShowFacts(const Facts& facts);
    void StartTotals();

    std::vector<std::string> paths_;
    QLabel* totals_ = nullptr;
    std::vector<QLabel*> rows_;
    WorkerAnswers* answers_ = nullptr;
    BackgroundWork* work_ = nullptr;
    std::shared_ptr<Operation> totalsOp_;
    bool done_ = false;
    bool factsDone_ = true;
};

} // namespace tarnel
