#pragma once
// "Find files": where, what names, what text, which limits; the search runs
// on the find's own threads and its hits stream into the list. The dialog
// stays beside the window, which never waits on it.
#include "tools/model/FindQuery.h"

#include <QDialog>

#include <functional>
#include <optional>
#include <memory>
#include <vector>

class QCheckBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTreeWidget;

namespace tarnel {

class TDlgFind : public QDialog {
    Q_OBJECT
public:
    using HitAction = std::function<void(const FindHit& hit)>;
    using Feed = std::function<void(const FindQuery& query, std::vector<FindHit> hits)>;

    explicit TDlgFind(QWidget* parent = nullptr);
    ~TDlgFind() override;

    // The start folders ("; " between several); kept while a search runs.
    void SetStartFolders(const std::string& folders);
    // What the buttons do with a hit; the window sets them. "Feed to pane"
    // is off while feed is unset.
    void SetGoTo(HitAction goTo)
    {
        goTo_ = std::move(goTo);
        UpdateButtons();
    }
    void SetView(HitAction view)
    {
        view_ = std::move(view);
        UpdateButtons();
    }
    void SetFeed(Feed feed);

    // The query the fields describe; problem says why it cannot run.
    FindQuery Query(std::string* problem = nullptr) const;
    void Start();
    void Stop();
    bool Running() const { return running_; }
    const std::vector<FindHit>& Hits() const { return hits_; }
    // The hit on the list's current row, or null.
    const FindHit* CurrentHit() const;

    QLineEdit* FoldersEdit() const { return folders_; }
    QLineEdit* NamesEdit() const { return names_; }
    QLineEdit* TextEdit() const { return text_; }
    QCheckBox* CaseBox() const { return case_; }
    QCheckBox* WordsBox() const { return words_; }
    QCheckBox* RegexBox() const { return regex_; }
    QCheckBox* ArchivesBox() const { return archives_; }
    QLineEdit* MinSizeEdit() const { return minSize_; }
    QLineEdit* MaxSizeEdit() const { return maxSize_; }
    QTreeWidget* Results() const { return results_; }
    QListWidget* Notes() const { return notes_; }
    QLabel* Status() const { return status_; }
    QPushButton* StartButton() const { return start_; }
    QPushButton* StopButton() const { return stop_; }
    QPushButton* GoToButton() const { return goToButton_; }
    QPushButton* ViewButton() const { return viewButton_; }
    QPushButton* FeedButton() const { return feedButton_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct Relay;
    class Sink;
    void Found(uint64_t run, std::vector<FindHit> hits);
    void Noted(uint64_t run, const QString& text);
    void Counted(uint64_t run, FindCounts counts);
    void Ended(uint64_t run, bool stopped);
    void ShowCounts();
    void UpdateButtons();
    void ViewCurrent();
    void GoToCurrent();

    QLineEdit* folders_;
    QLineEdit* names_;
    QLineEdit* text_;
    QCheckBox* case_;
    QCheckBox* words_;
    QCheckBox* regex_;
    QCheckBox* binary_;
    QLineEdit* minSize_;
    QLineEdit* maxSize_;
    QCheckBox* afterOn_;
    QDateTimeEdit* after_;
    QCheckBox* beforeOn_;
    QDateTimeEdit* before_;
    QCheckBox* followLinks_;
    QCheckBox* oneFileSystem_;
    QCheckBox* archives_;
    QCheckBox* skipHidden_;
    QTreeWidget* results_;
    QListWidget* notes_;
    QLabel* status_;
    QPushButton* start_;
    QPushButton* stop_;
    QPushButton* goToButton_;
    QPushButton* viewButton_;
    QPushButton* feedButton_;

    std::shared_ptr<Relay> relay_;
    std::shared_ptr<FindJob> job_;
    uint64_t run_ = 0; // answers of an earlier search are dropped
    bool running_ = false;
    FindQuery query_;  // the search the list shows
    std::vector<FindHit> hits_;
    FindCounts counts_;
    HitAction goTo_, view_;
    Feed feed_;
};

// "12", "4K", "1.5 MB" in bytes; nothing for text that is no size.
std::optional<int64_t> ParseSizeText(const std::string& text);

} // namespace tarnel
