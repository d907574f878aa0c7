#pragma once
// The text view: shows a file as text, wrapped text or a hex dump without
// loading it; reads only the lines on screen. The line index is built in
// slices from the event loop, so the first screen shows at once and the
// window never waits for a large file. A file shown from a worker's read is
// read past its start by blocks on a worker: lines not in memory yet show
// as "Reading..." and are painted when they come, so a file system that
// stops answering never freezes the window.
#include "viewer/model/LineIndex.h"
#include "viewer/model/TextFile.h"
#include "viewer/model/TextLines.h"

#include <QColor>
#include <QFont>
#include <QPointer>
#include <QRawFont>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class QPainter;
class QPrinter;
class QScrollBar;
class QTimer;

namespace tarnel {

class FileBlocks;
class TSearchwin;
class Teditorform;
class UserMessages;

// A (column, line) cell of the text, both from 0.
struct TextCell {
    int64_t col = 0;
    int64_t line = 0;
    bool operator==(const TextCell&) const = default;
    bool Before(const TextCell& o) const { return line < o.line || (line == o.line && col < o.col); }
};

// Yes / No / Cancel questions, answered by tests without a modal box.
enum class Answer { Yes, No, Cancel };
using AskFunction = std::function<Answer(const QString& text)>;

class TTextView : public QWidget {
    Q_OBJECT
public:
    explicit TTextView(QWidget* parent = nullptr);

    // What the first screen and the first part of the line index read.
    static constexpr int64_t kFirstScreenBytes = int64_t(1) << 20;
    // What the viewer reads with the file when it opens it on a worker: a
    // file up to this size is never read again, however it is scrolled,
    // indexed or searched.
    static constexpr int64_t kReadWithOpenBytes = int64_t(4) << 20;
    ~TTextView() override;

    // ---- properties ----
    void SetTextFont(const QFont& font);
    const QFont& TextFont() const { return font_; }
    void SetBackColor(const QColor& color);
    QColor BackColor() const { return backColor_; }
    void SetTextColor(const QColor& color);
    QColor TextColor() const { return textColor_; }
    // 1 to 20; any other value shows "Invalid tab value" and is not taken.
    bool SetTab(int tab);
    int Tab() const { return tab_; }
    void SetViewMode(Mymodes mode);
    Mymodes ViewMode() const { return mode_; }
    void SetFilename(const std::string& path);
    // Shows a file opened elsewhere (a worker): the view takes it from
    // opened and reads nothing before its first screen. An unopened one
    // leaves the view inactive on path, saying failure when one is given.
    void ShowOpenedFile(const std::string& path, TextFile& opened, const std::string& failure = {});
    const std::string& Filename() const { return filename_; }
    // Why the file on show could not be opened ("" when it was, or none is).
    const QString& OpenFailure() const { return unopened_; }
    void SetActive(bool active);
    bool Active() const { return active_; }
    void Setlineaora(int64_t line);
    int64_t lineaora() const { return lineaora_; }
    void Setlineaorax(int64_t column);
    int64_t lineaorax() const { return lineaorax_; }
    void SetPrintPageNum(bool on) { printPageNum_ = on; }
    bool PrintPageNum() const { return printPageNum_; }
    // Painting and layout wait while frozen (switching to full screen).
    void SetFrozen(bool frozen);
    bool Frozen() const { return frozen_; }

    void SetMessages(UserMessages* messages) { messages_ = messages; }
    void SetAsk(AskFunction ask) { ask_ = std::move(ask); }
    // Where the editor's "Save a copy.." goes; tests answer it.
    void SetCopyNameChooser(std::function<QString()> chooser) { copyNameChooser_ = std::move(chooser); }

    // ---- state ----
    int64_t LineCount() const;
    int64_t MaxWidth() const;
    bool PureAscii() const { return index_.PureAscii(); }
    bool Indexing() const { return active_ && !index_.Done(); }
    // The file's text is UTF-8 (its start is): the text modes show one
    // character a column and a search looks for the text in UTF-8.
    bool TextIsUtf8() const { return active_ && utf8_; }
    int VisibleCols() const { return visibleCols_; }
    int VisibleRows() const { return visibleRows_; }
    int LineHeight() const { return lineHeight_; }
    int CharWidth() const { return charWidth_; }
    QWidget* PaintBox() const { return paintBox_; }
    QScrollBar* VerticalBar() const { return vbar_; }
    QScrollBar* HorizontalBar() const { return hbar_; }
    TextCell SelStart() const { return selStart_; }
    TextCell SelEnd() const { return selEnd_; }
    void SetSelection(TextCell start, TextCell end);
    bool SelectionEmpty() const { return selStart_ == selEnd_; }
    // Changes on every open, close and new index: a search that let events
    // run checks it.
    int Generation() const { return generation_; }

    std::string LastSearchText;

    // ---- operations ----
    // Runs the index to its end, waiting for the file as long as it takes
    // (tests).
    void FinishIndex();
    // Display lines from first (from 1); clip keeps twice the visible width
    // from lineaorax. False when a line reads short: failedLine names it;
    // LinesWaiting() then tells a line that is being read from one that
    // failed.
    bool GetLines(int64_t first, int64_t count, bool clip, std::vector<std::string>& out, int64_t& failedLine) const;
    bool LinesWaiting() const { return linesWaiting_; }
    // A file shown from a worker's read is read further by blocks on a
    // worker of the view's: this thread never waits on its file system.
    bool ReadsByBlocks() const { return blocks_ != nullptr; }
    const FileBlocks* Blocks() const { return blocks_.get(); }
    // A copy of the open file for a worker, and the index's options: a
    // search finds lines and columns as the view's own index would.
    void ShareFile(TextFile& out) const { file_.Share(out); }
    const ScanOptions& IndexOptions() const { return index_.Options(); }
    const TextFile& File() const { return file_; }
    // A line from GetLines as characters, one a column.
    QString LineText(const std::string& line) const;

    void ScrollKey(int key);
    void CopySelection();
    // The print dialog, then the selected lines.
    void PrintSelection();
    // The selected lines on printer (a PDF file in tests); false when empty.
    bool PrintSelectionTo(QPrinter& printer);
    // caseFlag: match case; the window's ignore-case box is its opposite.
    void ShowSearch(const QString& text, bool caseFlag);
    TSearchwin* SearchWindow() const;
    // The search window's "go to": line from 0, column from 1.
    void GoToMatch(int64_t line, int64_t column, int64_t length);
    bool EditFile();
    Teditorform* EditorWindow() const;

signals:
    // X = lineaora, Y = lineaorax, MaxX = LineCount, MaxY = MaxWidth.
    void ScrollXY(qint64 x, qint64 y, qint64 maxX, qint64 maxY);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;

private:
    friend class TextPaintBox;
    void Paint(QPainter& painter);
    void DrawCells(QPainter& painter, int x, int baseline, const QString& text) const;
    void MousePress(QMouseEvent* event);
    void MouseMove(QMouseEvent* event);
    void MouseRelease(QMouseEvent* event);
    void AutoScrollTick();

    bool OpenFile();
    void StartOnOpenFile();
    void CloseFile();
    void BuildLineIndex();
    void IndexSlice();
    void BlockArrived(uint64_t ticket);
    bool IndexFarEnough() const;
    void ReadAroundScreen();
    void UpdateRanges();
    void Relayout();
    void MeasureFont();
    void NotifyScroll();
    TextCell CellAt(const QPoint& pos) const;
    void ExtendSelection(const QPoint& pos);
    void Warn(const QString& text) const;
    Answer Ask(const QString& text) const;
    QString SelectedText(const std::vector<std::string>& lines) const;
    bool SelectedLines(std::vector<std::string>& lines) const;
    void WarnStillReading() const;

    TextFile file_;
    LineIndex index_;
    std::shared_ptr<FileBlocks> blocks_;
    uint64_t ticket_ = 0; // of the open file: answers for an earlier one are dropped
    mutable bool linesWaiting_ = false;
    bool followEnd_ = false; // End while indexing: the view stays at the end as it grows
    mutable ColumnMarks marks_; // filled by painting
    QFont font_;
    QRawFont rawFont_;
    QColor backColor_;
    QColor textColor_ = Qt::black;
    int tab_ = 8;
    Mymodes mode_ = VM_STANDARD;
    std::string filename_;
    QString unopened_; // why the file on show could not be opened
    bool active_ = false;
    bool utf8_ = false;
    bool frozen_ = false;
    bool printPageNum_ = true;
    int64_t lineaora_ = 0;
    int64_t lineaorax_ = 0;
    int lineHeight_ = 2;
    int charWidth_ = 8;
    int visibleCols_ = 0;
    int visibleRows_ = 0;
    int generation_ = 0;
    TextCell selStart_, selEnd_, anchor_;
    QPoint lastPointer_;
    bool capturing_ = false;
    bool awaitingFirstPaint_ = false;
    bool rightDrag_ = false;

    QWidget* paintBox_;
    QScrollBar* vbar_;
    QScrollBar* hbar_;
    QTimer* autoScroll_;
    QTimer* indexTimer_;
    QPointer<TSearchwin> search_;
    QPointer<Teditorform> editor_;
    UserMessages* messages_ = nullptr;
    AskFunction ask_;
    std::function<QString()> copyNameChooser_;
};

// The event the search window posts to its view when it closes.
constexpr int kSearchClosedEvent = 1000 + 1; // QEvent::User + 1

// Display text of 8-bit line bytes.
QString DisplayText(const std::string& bytes);
// Columns of a display line: characters, a pair of surrogates being one.
qsizetype CellCount(const QString& text);
// The columns [from, to) of text.
QString Cells(const QString& text, int64_t from, int64_t to);

} // namespace tarnel
