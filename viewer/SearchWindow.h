#pragma once
// The search window of a text view: lists every match as "line,column" and
// goes to the one chosen. At most one per view; it stays on top.
#include <QPointer>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace tarnel {

class TTextView;

class TSearchwin : public QWidget {
    Q_OBJECT
public:
    // More matches than this are counted but not listed: each list line
    // costs memory, and a one-letter search in a large file finds billions.
    static constexpr int kMaxListed = 100000;

    explicit TSearchwin(TTextView* view);
    // Puts text in the edit and searches when it is not empty.
    void Start(const QString& text, bool caseFlag);
    // BitBtn1Click: lists every match from the start of the file.
    void Search();
    bool Searching() const { return searching_; }

    QListWidget* ListBox1;
    QLabel* Label1;
    QLineEdit* Edit1;
    QCheckBox* CheckBox1;
    QLabel* Label2;
    QPushButton* BitBtn1;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void GoToItem(int row);
    // One pass over the file, on a worker, while events run here; false
    // when the window went meanwhile.
    bool RunSearch();

    QPointer<TTextView> view_;
    bool searching_ = false;
    bool calledOff_ = false; // the text changed, or a new search was asked for
    bool again_ = false;     // a search asked for while one ran
    qsizetype searchedLength_ = 0;
};

// The bytes a typed text stands for in the view's 8-bit display; false when
// a character has no such byte (the file cannot hold it).
bool DisplayBytes(const QString& text, std::string& bytes);

} // namespace tarnel
