#pragma once
// File-information hints over the pane lists and the drive buttons. A hint
// is built only when it is about to show, and stays while the pointer stays
// in the row (or, over a drive button, within 2 pixels).
#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>

#include <functional>
#include <map>
#include <memory>
#include <string>

class QLabel;
class QToolButton;

namespace tarnel {

class PaneView;
struct DisplayLocale;

class EntryHints : public QObject {
    Q_OBJECT
public:
    static constexpr int kShowMs = 999999;

    EntryHints(PaneView* left, PaneView* right, QList<QToolButton*> driveButtons, const DisplayLocale& locale,
               QObject* parent = nullptr);
    ~EntryHints() override;

    // The hint of the row under viewportPos; "" over no row. row gets the
    // row's rectangle.
    QString ListHint(PaneView* pane, QPoint viewportPos, QRect* row = nullptr) const;
    // The space hint of drive button index; "" when that drive keeps its
    // normal hint (a removable volume no pane shows, or no volume).
    QString DriveHint(int index) const;

    // The hint window while one shows, else null.
    QLabel* ShownHint() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct TagLooks;

    PaneView* PaneOfViewport(QObject* watched) const;
    void Show(const QString& text, QPoint globalPos, QWidget* over, QRect keep, int maxWidth);
    void Hide();
    // The MP3 tag a worker read: the hint still showing over that row gets it.
    void TagAnswered(const std::string& key, const std::string& summary);

    PaneView* left_;
    PaneView* right_;
    QList<QToolButton*> driveButtons_;
    const DisplayLocale& locale_;
    QPointer<QLabel> hint_;
    QPointer<QWidget> over_; // the widget whose rectangle keep lies in
    QRect keep_;
    // The list hint showing: where it was asked for, to be built again.
    QPointer<PaneView> hintPane_;
    QPoint hintPos_, hintGlobalPos_;
    int hintMaxWidth_ = 0;
    // MP3 tag summaries by file, size and time; read on a worker, never here.
    mutable std::map<std::string, std::string> summaries_;
    std::shared_ptr<TagLooks> tags_;
};

} // namespace tarnel
