#include "viewer/TextView.h"

#include "app/UserMessages.h"
#include "viewer/EditorForm.h"
#include "viewer/SearchWindow.h"
#include "viewer/TextFont.h"
#include "viewer/model/FileBlocks.h"
#include "viewer/model/TextLines.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <cmath>

namespace tarnel {

namespace {

constexpr int64_t kSliceBytes = TTextView::kFirstScreenBytes;
constexpr int kSliceMilliseconds = 10;
// How long the index waits for the first screen to be painted before it
// goes on anyway (a view that is not shown is never painted).
constexpr int kFirstPaintWait = 100;
// How long a paint waits for a block it asked for: on a healthy disk it
// comes in time and the screen never flickers; on a file system that does
// not answer the paint goes on without it.
constexpr auto kPaintWait = std::chrono::milliseconds(20);
// Read ahead of the index, and around the screen.
constexpr int64_t kIndexAhead = int64_t(1) << 20;
constexpr int64_t kScreenAhead = int64_t(256) << 10;
// How far past the screen's top a remote file is indexed before the view
// gets there.
constexpr int64_t kRemoteIndexAhead = int64_t(4) << 20;
// The most a copy or a print waits for the selection's blocks.
constexpr qint64 kSelectionWaitMs = 200;
constexpr const char* kSample = "The quick brown fox jumps over the lazy dogTHE QUICK BROWN FOX JUMPS OVER THE LAZY DOG_";

// A scroll bar holds an int, and the lines of a hex dump of 32 GiB do not
// fit one. Past this many a bar step stands for several lines; the view
// keeps the exact line, and the bar's end is the last line.
constexpr int64_t kBarLimit = int64_t(1) << 30;

int BarMaximum(int64_t max) { return int(std::clamp<int64_t>(max, 0, kBarLimit)); }

int ToBar(int64_t v, int64_t max)
{
    v = std::clamp<int64_t>(v, 0, std::max<int64_t>(0, max));
    if (max <= kBarLimit)
        return int(v);
    return int(static_cast<__int128>(v) * kBarLimit / max);
}

int64_t FromBar(int value, int64_t max)
{
    if (max <= kBarLimit)
        return value;
    if (value >= kBarLimit)
        return max;
    return int64_t(static_cast<__int128>(std::max(0, value)) * max / kBarLimit);
}

// A page of lines in bar steps: at least one.
int BarStep(int lines, int64_t max) { return std::max(1, max <= kBarLimit ? lines : ToBar(lines, max)); }

} // namespace

QString TTextView::LineText(const std::string& line) const
{
    return utf8_ && mode_ != VM_HEX ? QString::fromUtf8(line.data(), qsizetype(line.size())) : DisplayText(line);
}

qsizetype CellCount(const QString& text)
{
    qsizetype cells = text.size();
    for (qsizetype i = 0; i + 1 < text.size(); ++i)
        if (text[i].isHighSurrogate() && text[i + 1].isLowSurrogate())
            --cells;
    return cells;
}

QString Cells(const QString& text, int64_t from, int64_t to)
{
    qsizetype begin = -1, i = 0;
    int64_t column = 0;
    for (; i < text.size() && column < to; ++column) {
        if (column == from)
            begin = i;
        i += text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
    }
    if (begin < 0)
        return {};
    return text.mid(begin, i - begin);
}

QString DisplayText(const std::string& bytes)
{
    QString text(qsizetype(bytes.size()), Qt::Uninitialized);
    QChar* out = text.data();
    for (unsigned char b : bytes)
        *out++ = QChar(DisplayChar(b));
    return text;
}

// The surface the lines are drawn on; events go to the view.
class TextPaintBox : public QWidget {
public:
    explicit TextPaintBox(TTextView* view) : QWidget(view), view_(view)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setMouseTracking(false);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        view_->Paint(painter);
    }
    void mousePressEvent(QMouseEvent* e) override { view_->MousePress(e); }
    void mouseMoveEvent(QMouseEvent* e) override { view_->MouseMove(e); }
    void mouseReleaseEvent(QMouseEvent* e) override { view_->MouseRelease(e); }
    void wheelEvent(QWheelEvent* e) override
    {
        // A scaled bar would move thousands of lines a notch: three lines.
        if (view_->LineCount() > kBarLimit && e->angleDelta().y() != 0) {
            const int64_t lines = -int64_t(e->angleDelta().y()) * 3 / 120;
            view_->Setlineaora(std::clamp<int64_t>(view_->lineaora() + (lines ? lines : e->angleDelta().y() > 0 ? -1 : 1),
                                                   0, view_->LineCount()));
            e->accept();
            return;
        }
        QApplication::sendEvent(view_->VerticalBar(), e);
    }

private:
    TTextView* view_;
};

TTextView::TTextView(QWidget* parent) : QWidget(parent)
{
    paintBox_ = new TextPaintBox(this);
    vbar_ = new QScrollBar(Qt::Vertical, this);
    hbar_ = new QScrollBar(Qt::Horizontal, this);
    autoScroll_ = new QTimer(this);
    autoScroll_->setInterval(5000);
    indexTimer_ = new QTimer(this);
    indexTimer_->setSingleShot(true);
    indexTimer_->setInterval(0);
    connect(autoScroll_, &QTimer::timeout, this, &TTextView::AutoScrollTick);
    connect(indexTimer_, &QTimer::timeout, this, &TTextView::IndexSlice);
    connect(vbar_, &QScrollBar::valueChanged, this, [this](int value) {
        followEnd_ = false;
        lineaora_ = FromBar(value, LineCount());
        NotifyScroll();
        if (capturing_ && !rightDrag_)
            ExtendSelection(lastPointer_);
        paintBox_->update();
    });
    connect(hbar_, &QScrollBar::valueChanged, this, [this](int value) {
        lineaorax_ = FromBar(value, MaxWidth());
        NotifyScroll();
        paintBox_->update();
    });
    setFocusPolicy(Qt::StrongFocus);
    backColor_ = palette().color(QPalette::Button);
    font_ = TextViewFont({}, 10, logicalDpiY());
    MeasureFont();
    UpdateRanges();
}

TTextView::~TTextView()
{
    if (blocks_)
        blocks_->Cancel();
    delete search_;
    delete editor_;
}

TSearchwin* TTextView::SearchWindow() const { return search_; }

Teditorform* TTextView::EditorWindow() const { return editor_; }

// ---- properties ----

void TTextView::SetTextFont(const QFont& font)
{
    font_ = font;
    MeasureFont();
    Relayout();
}

void TTextView::MeasureFont()
{
    const QFontMetrics metrics(font_);
    lineHeight_ = std::max(1, metrics.boundingRect(kSample).height());
    lineHeight_ = std::max(lineHeight_, metrics.height());
    // Whole pixels a column, rounded up: glyphs are placed on this grid, so
    // the text, the selection and the mouse agree however long the line.
    charWidth_ = std::max(1, int(std::ceil(QFontMetricsF(font_).horizontalAdvance('X') - 0.01)));
    rawFont_ = QRawFont::fromFont(font_);
}

void TTextView::SetBackColor(const QColor& color)
{
    backColor_ = color;
    paintBox_->update();
}

void TTextView::SetTextColor(const QColor& color)
{
    textColor_ = color;
    paintBox_->update();
}

bool TTextView::SetTab(int tab)
{
    if (tab < 1 || tab > 20) {
        Warn("Invalid tab value");
        return false;
    }
    if (tab == tab_)
        return true;
    tab_ = tab;
    // Columns move: the widths and the wrapped lines change with them.
    if (active_ && mode_ != VM_HEX) {
        BuildLineIndex();
        Relayout();
    }
    return true;
}

void TTextView::SetViewMode(Mymodes mode)
{
    if (!active_) {
        mode_ = mode;
        return;
    }
    selStart_ = selEnd_; // collapse to the end point
    if (mode == mode_)
        return;
    mode_ = mode;
    BuildLineIndex();
    Relayout();
}

void TTextView::SetFilename(const std::string& path)
{
    filename_ = path;
    if (active_) {
        CloseFile();
        if (OpenFile())
            Relayout();
    }
}

void TTextView::SetActive(bool active)
{
    if (!active)
        unopened_.clear();
    if (active == active_) {
        paintBox_->update();
        return;
    }
    if (active) {
        if (!OpenFile())
            return; // stays inactive
        Relayout();
        NotifyScroll();
    } else {
        delete search_;
        delete editor_;
        CloseFile();
        UpdateRanges();
        NotifyScroll();
    }
    paintBox_->update();
}

void TTextView::Setlineaora(int64_t line)
{
    followEnd_ = false;
    lineaora_ = std::max<int64_t>(0, line);
    const QSignalBlocker block(vbar_);
    vbar_->setValue(ToBar(lineaora_, LineCount()));
    NotifyScroll();
    paintBox_->update();
}

void TTextView::Setlineaorax(int64_t column)
{
    lineaorax_ = std::max<int64_t>(0, column);
    const QSignalBlocker block(hbar_);
    hbar_->setValue(ToBar(lineaorax_, MaxWidth()));
    NotifyScroll();
    paintBox_->update();
}

void TTextView::SetFrozen(bool frozen)
{
    frozen_ = frozen;
    if (!frozen_)
        Relayout();
    paintBox_->update();
}

void TTextView::SetSelection(TextCell start, TextCell end)
{
    selStart_ = start;
    selEnd_ = end;
    paintBox_->update();
}

int64_t TTextView::LineCount() const { return active_ ? index_.LineCount() : 0; }

int64_t TTextView::MaxWidth() const { return active_ ? index_.MaxWidth() : 0; }

void TTextView::Warn(const QString& text) const
{
    if (messages_)
        messages_->Warning(text);
    else
        ShowPlainMessage(const_cast<TTextView*>(this), QMessageBox::Warning, text);
}

Answer TTextView::Ask(const QString& text) const
{
    if (ask_)
        return ask_(text);
    const int button = ShowPlainMessage(const_cast<TTextView*>(this), QMessageBox::Warning, text,
                                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    return button == QMessageBox::Yes ? Answer::Yes : button == QMessageBox::No ? Answer::No : Answer::Cancel;
}

// ---- file and index ----

bool TTextView::OpenFile()
{
    if (filename_.empty() || !file_.Open(filename_))
        return false;
    StartOnOpenFile();
    return true;
}

void TTextView::ShowOpenedFile(const std::string& path, TextFile& opened, const std::string& failure)
{
    SetActive(false);
    filename_ = path;
    unopened_ = opened.IsOpen() ? QString() : QString::fromUtf8(failure.c_str());
    if (!opened.IsOpen()) {
        paintBox_->update();
        return; // stays inactive
    }
    file_.TakeFrom(opened);
    // Past what was read with it, the file is read on a worker.
    if (file_.Size() > file_.HeadBytes()) {
        blocks_ = std::make_shared<FileBlocks>(file_);
        file_.ReadThrough(blocks_);
        blocks_->OnArrival([this, ticket = ticket_] {
            // On the worker; never called once the view let go of the blocks.
            QMetaObject::invokeMethod(this, [this, ticket] { BlockArrived(ticket); }, Qt::QueuedConnection);
        });
    }
    StartOnOpenFile();
    Relayout();
    NotifyScroll();
    paintBox_->update();
}

void TTextView::StartOnOpenFile()
{
    utf8_ = LooksLikeUtf8(file_);
    active_ = true;
    ++generation_;
    BuildLineIndex();
}

void TTextView::CloseFile()
{
    indexTimer_->stop();
    awaitingFirstPaint_ = false;
    followEnd_ = false;
    index_.Reset();
    // Its reads still asked for are dropped; one stuck on the file system is
    // left to end on its own.
    if (blocks_)
        blocks_->Cancel();
    blocks_.reset();
    ++ticket_;
    file_.Close();
    active_ = false;
    ++generation_;
    lineaora_ = lineaorax_ = 0;
    selStart_ = selEnd_ = anchor_ = {};
}

void TTextView::BuildLineIndex()
{
    indexTimer_->stop();
    ++generation_; // lines and columns found before mean something else now
    index_.Start(file_, {mode_, tab_, visibleCols_, utf8_});
    marks_.Clear();
    selStart_ = selEnd_ = {};
    lineaora_ = lineaorax_ = 0;
    // The first screen now; the rest from the event loop.
    index_.Step(kSliceBytes);
    UpdateRanges();
    {
        const QSignalBlocker v(vbar_), h(hbar_);
        vbar_->setValue(0);
        hbar_->setValue(0);
    }
    NotifyScroll();
    // The rest is indexed once the first screen is on show: slices that
    // come first could keep the paint waiting in a busy event loop.
    awaitingFirstPaint_ = !index_.Done();
    if (awaitingFirstPaint_)
        indexTimer_->start(kFirstPaintWait);
    paintBox_->update();
}

// A remote file is indexed only a little past the screen: the rest crosses
// the network when the view gets there, or when End asks for it.
bool TTextView::IndexFarEnough() const
{
    if (!file_.Remote() || followEnd_ || !active_ || index_.Done() || LineCount() == 0)
        return false;
    return index_.ScannedOffset() >= index_.LineBegin(std::min(lineaora_, LineCount() - 1)) + kRemoteIndexAhead;
}

void TTextView::IndexSlice()
{
    awaitingFirstPaint_ = false;
    if (!active_ || index_.Done() || IndexFarEnough())
        return;
    const int64_t before = index_.LineCount();
    QElapsedTimer clock;
    clock.start();
    do
        index_.Step(kSliceBytes);
    while (!index_.Done() && !index_.Waiting() && !IndexFarEnough() && clock.elapsed() < kSliceMilliseconds);
    if (followEnd_)
        lineaora_ = std::max<int64_t>(0, LineCount() - visibleRows_);
    const bool hadBar = hbar_->isVisible();
    UpdateRanges();
    NotifyScroll();
    if (hadBar != (MaxWidth() >= visibleCols_))
        Relayout();
    // Only new lines on screen need a repaint.
    if (lineaora_ + visibleRows_ + 1 >= before)
        paintBox_->update();
    if (IndexFarEnough())
        return; // painting a screen nearer the end goes on
    if (index_.Waiting())
        blocks_->Prefetch(index_.ScannedOffset(), kIndexAhead); // a block's arrival goes on
    else if (!index_.Done())
        indexTimer_->start(0);
    else
        followEnd_ = false;
}

void TTextView::BlockArrived(uint64_t ticket)
{
    if (ticket != ticket_ || !active_)
        return; // for a file no longer shown
    if (index_.Waiting() && !indexTimer_->isActive() && !awaitingFirstPaint_)
        indexTimer_->start(0);
    paintBox_->update();
}

// The blocks just before and after the screen, so that scrolling on a
// healthy disk finds them in memory.
void TTextView::ReadAroundScreen()
{
    if (!blocks_ || LineCount() == 0)
        return;
    if (file_.Remote() && !index_.Done() && !index_.Waiting() && !indexTimer_->isActive() && !awaitingFirstPaint_ &&
        !IndexFarEnough())
        indexTimer_->start(0); // the screen has come near where the index stopped
    const int64_t first = std::min(lineaora_, LineCount() - 1);
    const int64_t last = std::min(lineaora_ + visibleRows_, LineCount() - 1);
    const int64_t misses = file_.Misses();
    int64_t begin = 0, end = 0;
    if (mode_ == VM_HEX) {
        begin = first * 16;
        end = (last + 1) * 16;
    } else {
        begin = index_.LineBegin(first);
        end = index_.LineEnd(last);
    }
    if (file_.Misses() != misses)
        return; // where the lines are is still being read
    blocks_->Prefetch(end, kScreenAhead);
    blocks_->Prefetch(begin - FileBlocks::kBlockBytes, FileBlocks::kBlockBytes);
}

void TTextView::FinishIndex()
{
    if (!active_ || index_.Done())
        return;
    indexTimer_->stop();
    while (!index_.Step(int64_t(1) << 30))
        if (index_.Waiting())
            blocks_->WaitFor(index_.ScannedOffset(), std::chrono::seconds(1));
    UpdateRanges();
    Relayout();
    NotifyScroll();
}

void TTextView::UpdateRanges()
{
    const QSignalBlocker v(vbar_), h(hbar_);
    vbar_->setRange(0, BarMaximum(LineCount()));
    hbar_->setRange(0, BarMaximum(MaxWidth()));
    vbar_->setPageStep(BarStep(visibleRows_, LineCount()));
    hbar_->setPageStep(BarStep(visibleCols_, MaxWidth()));
    vbar_->setValue(ToBar(lineaora_, LineCount()));
    hbar_->setValue(ToBar(lineaorax_, MaxWidth()));
}

void TTextView::Relayout()
{
    if (frozen_)
        return;
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    const int width = std::max(0, this->width() - bar);
    const int oldCols = visibleCols_;
    visibleCols_ = width / charWidth_;
    const bool horizontal = MaxWidth() >= visibleCols_;
    const int height = std::max(0, this->height() - (horizontal ? bar : 0));
    vbar_->setGeometry(width, 0, bar, height);
    hbar_->setGeometry(0, height, width, bar);
    hbar_->setVisible(horizontal);
    paintBox_->setGeometry(0, 0, width, height);
    visibleRows_ = height / lineHeight_;
    UpdateRanges();
    if (mode_ == VM_WORDWRAP && active_ && visibleCols_ != oldCols)
        BuildLineIndex();
    paintBox_->update();
}

void TTextView::resizeEvent(QResizeEvent*) { Relayout(); }

void TTextView::NotifyScroll() { emit ScrollXY(lineaora_, lineaorax_, LineCount(), MaxWidth()); }

bool TTextView::GetLines(int64_t first, int64_t count, bool clip, std::vector<std::string>& out,
                         int64_t& failedLine) const
{
    out.clear();
    failedLine = 0;
    linesWaiting_ = false;
    if (!active_)
        return true;
    LineClip cut;
    if (mode_ == VM_HEX)
        cut = {lineaorax_, 80};
    else
        cut = {lineaorax_, 2 * int64_t(visibleCols_)};
    cut.marks = &marks_;
    const int64_t misses = file_.Misses();
    const bool read = tarnel::GetLines(file_, index_, first, count, clip ? &cut : nullptr, out, failedLine);
    linesWaiting_ = file_.Misses() != misses;
    return read;
}

// ---- painting ----

// One glyph a column at x + column * charWidth_, whatever the font's own
// advances (fractional ones, zero-width characters such as the soft hyphen);
// characters the font lacks are drawn alone in their cells from a fallback.
void TTextView::DrawCells(QPainter& painter, int x, int baseline, const QString& text) const
{
    if (text.isEmpty())
        return;
    QList<quint32> shown;
    QList<QPointF> positions;
    int column = 0;
    for (qsizetype i = 0; i < text.size(); ++column) {
        // A character beyond the 16-bit plane is two QChars and one column.
        const qsizetype length = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const int cell = x + column * charWidth_;
        quint32 glyph = 0;
        int glyphs = 1;
        if (rawFont_.isValid() && !rawFont_.glyphIndexesForChars(text.constData() + i, int(length), &glyph, &glyphs))
            glyph = 0;
        if (glyph != 0) {
            shown.push_back(glyph);
            positions.push_back(QPointF(cell, 0));
        } else if (!text[i].isSpace()) {
            painter.drawText(cell, baseline, text.mid(i, length));
        }
        i += length;
    }
    if (shown.isEmpty())
        return;
    QGlyphRun run;
    run.setRawFont(rawFont_);
    run.setGlyphIndexes(shown);
    run.setPositions(positions);
    painter.drawGlyphRun(QPointF(0, baseline), run);
}

void TTextView::Paint(QPainter& painter)
{
    const QRect area = paintBox_->rect();
    if (!active_ || frozen_) {
        painter.fillRect(area, palette().color(QPalette::Button));
        if (!active_ && !frozen_ && !unopened_.isEmpty()) {
            painter.setPen(palette().color(QPalette::ButtonText));
            painter.drawText(area.adjusted(4, 4, -4, -4), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, unopened_);
        }
        return;
    }
    painter.fillRect(area, backColor_);
    painter.setFont(font_);
    const int ascent = QFontMetrics(font_).ascent();
    const int64_t rows = std::clamp<int64_t>(LineCount() - lineaora_, 0, visibleRows_ + 1);
    std::vector<std::string> lines;
    int64_t failed = 0;
    if (!GetLines(lineaora_ + 1, rows, true, lines, failed) && linesWaiting_ &&
        blocks_->WaitFor(blocks_->LastMiss(), kPaintWait))
        GetLines(lineaora_ + 1, rows, true, lines, failed);
    const bool reading = linesWaiting_;
    ReadAroundScreen();
    const QColor highlight = palette().color(QPalette::Highlight);
    const QColor highlightText = palette().color(QPalette::HighlightedText);
    const bool selected = !SelectionEmpty();
    for (size_t i = 0; i < lines.size(); ++i) {
        const int y = int(i) * lineHeight_;
        const int64_t line = lineaora_ + int64_t(i);
        const QString text = LineText(lines[i]);
        const qsizetype cells = CellCount(text);
        int64_t from = 0, to = 0;
        const bool inSelection = selected && line >= selStart_.line && line <= selEnd_.line;
        if (inSelection) {
            from = std::clamp<int64_t>((line == selStart_.line ? selStart_.col : 0) - lineaorax_, 0, cells);
            to = std::clamp<int64_t>((line == selEnd_.line ? selEnd_.col : INT64_MAX / 2) - lineaorax_, 0, cells);
        }
        if (to > from)
            painter.fillRect(QRect(int(from) * charWidth_, y, int(to - from) * charWidth_, lineHeight_), highlight);
        painter.setPen(textColor_);
        DrawCells(painter, 0, y + ascent, Cells(text, 0, from));
        DrawCells(painter, int(to > from ? to : from) * charWidth_, y + ascent,
                  Cells(text, to > from ? to : from, cells));
        if (to > from) {
            painter.setPen(highlightText);
            DrawCells(painter, int(from) * charWidth_, y + ascent, Cells(text, from, to));
        }
        if (inSelection && line < selEnd_.line) {
            const int end = int(cells) * charWidth_;
            painter.fillRect(QRect(end, y, std::max(0, area.width() - end), lineHeight_), highlight);
        }
    }
    // Why the text ends here, when it ends early.
    QString notice;
    if (reading)
        notice = "Reading...";
    else if (failed > 0)
        notice = "error while reading line #" + QString::number(failed) +
                 (blocks_ && !blocks_->Failure().empty() ? ": " + QString::fromStdString(blocks_->Failure()) : QString());
    else if (lineaora_ + int64_t(lines.size()) >= LineCount() && index_.Done() && mode_ != VM_HEX) {
        if (index_.FileChanged())
            notice = "error while reading line #" + QString::number(LineCount() + 1);
    }
    if (!notice.isEmpty()) {
        QColor pen = textColor_;
        if (reading)
            pen.setAlphaF(0.5f); // light: the lines come by themselves
        painter.setPen(pen);
        painter.drawText(0, int(lines.size()) * lineHeight_ + ascent, notice);
    }
    if (awaitingFirstPaint_) {
        awaitingFirstPaint_ = false;
        indexTimer_->start(0);
    }
}

// ---- mouse ----

TextCell TTextView::CellAt(const QPoint& pos) const
{
    return {std::max(0, pos.x()) / charWidth_ + lineaorax_, std::max(0, pos.y()) / lineHeight_ + lineaora_};
}

void TTextView::MousePress(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    lastPointer_ = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        capturing_ = true;
        rightDrag_ = false;
        anchor_ = CellAt(lastPointer_);
        selStart_ = selEnd_ = anchor_;
    } else if (event->button() == Qt::RightButton) {
        capturing_ = true;
        rightDrag_ = true;
        paintBox_->setCursor(Qt::OpenHandCursor);
    } else {
        return;
    }
    autoScroll_->start(50);
    paintBox_->update();
}

void TTextView::MouseMove(QMouseEvent* event)
{
    if (!capturing_)
        return;
    lastPointer_ = event->position().toPoint();
    if (!rightDrag_)
        ExtendSelection(lastPointer_);
}

void TTextView::ExtendSelection(const QPoint& pos)
{
    const TextCell cell = CellAt(pos);
    TextCell start = anchor_, end = cell;
    if (end.Before(start))
        std::swap(start, end);
    if (end.line >= LineCount())
        end = {MaxWidth(), std::max<int64_t>(0, LineCount() - 1)};
    selStart_ = start;
    selEnd_ = end;
    paintBox_->update();
}

void TTextView::MouseRelease(QMouseEvent*)
{
    if (!capturing_)
        return;
    capturing_ = false;
    rightDrag_ = false;
    autoScroll_->stop();
    autoScroll_->setInterval(5000);
    paintBox_->unsetCursor();
    paintBox_->update();
}

void TTextView::AutoScrollTick()
{
    if (!capturing_ || mode_ == VM_HEX)
        return;
    auto step = [](int d) { return int64_t(1 + (10 - d) / 15); };
    const int x = lastPointer_.x(), y = lastPointer_.y();
    const int right = paintBox_->width() - x, bottom = paintBox_->height() - y;
    const int64_t maxX = std::max<int64_t>(0, MaxWidth() - visibleCols_);
    const int64_t maxY = std::max<int64_t>(0, LineCount() - visibleRows_ + 1);
    bool moved = false;
    if (x < 10 && lineaorax_ > 0) {
        Setlineaorax(std::max<int64_t>(0, lineaorax_ - step(x)));
        moved = true;
    }
    if (right < 10 && lineaorax_ != maxX) {
        Setlineaorax(std::min(lineaorax_ + step(right), maxX));
        moved = true;
    }
    if (y < 20 && lineaora_ > 0) {
        Setlineaora(std::max<int64_t>(0, lineaora_ - step(y)));
        moved = true;
    } else if (bottom < 10 && lineaora_ != maxY) {
        Setlineaora(std::min(lineaora_ + step(bottom), maxY));
        moved = true;
    }
    if (moved && !rightDrag_)
        ExtendSelection(lastPointer_);
}

// ---- keys ----

void TTextView::ScrollKey(int key)
{
    followEnd_ = false;
    switch (key) {
    case Qt::Key_PageUp:
        Setlineaora(std::clamp<int64_t>(lineaora_ - std::max(1, visibleRows_), 0, LineCount()));
        break;
    case Qt::Key_PageDown:
        Setlineaora(std::clamp<int64_t>(lineaora_ + std::max(1, visibleRows_), 0, LineCount()));
        break;
    case Qt::Key_Home:
        Setlineaora(0);
        break;
    case Qt::Key_End:
        Setlineaora(std::max<int64_t>(0, LineCount() - visibleRows_));
        // The lines not indexed yet are coming: the end is where they go.
        followEnd_ = Indexing();
        return;
    case Qt::Key_Up:
        Setlineaora(std::clamp<int64_t>(lineaora_ - 1, 0, LineCount()));
        break;
    case Qt::Key_Down:
        Setlineaora(std::clamp<int64_t>(lineaora_ + 1, 0, LineCount()));
        break;
    case Qt::Key_Left:
        Setlineaorax(std::clamp<int64_t>(lineaorax_ - 1, 0, MaxWidth()));
        break;
    case Qt::Key_Right:
        Setlineaorax(std::clamp<int64_t>(lineaorax_ + 1, 0, MaxWidth()));
        break;
    default:
        break;
    }
}

void TTextView::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (mods == Qt::ControlModifier && event->key() == Qt::Key_C) {
        CopySelection();
        return;
    }
    switch (event->key()) {
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (mods == Qt::NoModifier ||
            (mods == Qt::ControlModifier && (event->key() == Qt::Key_Home || event->key() == Qt::Key_End))) {
            ScrollKey(event->key());
            return;
        }
        break;
    default:
        break;
    }
    QWidget::keyPressEvent(event);
}

bool TTextView::event(QEvent* event)
{
    if (event->type() == QEvent::Type(kSearchClosedEvent)) {
        if (search_)
            search_->deleteLater();
        return true;
    }
    return QWidget::event(event);
}

// ---- copy and print ----

// Waits a little for the blocks the selection needs, never long: the file
// system may not answer. False while some of its lines are still being read.
bool TTextView::SelectedLines(std::vector<std::string>& lines) const
{
    int64_t failed = 0;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        GetLines(selStart_.line + 1, selEnd_.line - selStart_.line + 1, false, lines, failed);
        if (!linesWaiting_)
            return true;
        if (clock.elapsed() >= kSelectionWaitMs || !blocks_->WaitFor(blocks_->LastMiss(), kPaintWait))
            return false;
    }
}

void TTextView::WarnStillReading() const
{
    Warn("The selected lines are still being read from the file: try again in a moment.");
}

QString TTextView::SelectedText(const std::vector<std::string>& lines) const
{
    if (lines.empty())
        return {};
    QStringList shown;
    for (const std::string& line : lines)
        shown << LineText(line);
    // The columns are characters: cut the last line first, so that the
    // first line's start column still counts from its beginning.
    if (int64_t(lines.size()) - 1 == selEnd_.line - selStart_.line)
        shown.back() = Cells(shown.back(), 0, selEnd_.col);
    shown.front() = Cells(shown.front(), selStart_.col, INT64_MAX);
    return shown.join("\r\n");
}

void TTextView::CopySelection()
{
    if (SelectionEmpty()) {
        QApplication::beep();
        return;
    }
    std::vector<std::string> lines;
    if (!SelectedLines(lines)) {
        WarnStillReading();
        return;
    }
    QApplication::clipboard()->setText(SelectedText(lines));
}

void TTextView::PrintSelection()
{
    if (SelectionEmpty()) {
        QApplication::beep();
        return;
    }
    QPrinter printer;
    printer.setDocName("Text File");
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() == QDialog::Accepted)
        PrintSelectionTo(printer);
}

bool TTextView::PrintSelectionTo(QPrinter& printer)
{
    if (SelectionEmpty()) {
        QApplication::beep();
        return false;
    }
    std::vector<std::string> lines;
    if (!SelectedLines(lines)) {
        WarnStillReading();
        return false;
    }
    printer.setDocName("Text File");
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    QFont body("Courier New");
    if (!QFontDatabase::hasFamily("Courier New"))
        body = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    body.setPointSize(10);
    QFont small = body;
    small.setPointSize(8);
    painter.setFont(body);
    const int h = std::max(1, painter.fontMetrics().height());
    const int ascent = painter.fontMetrics().ascent();
    const int pageHeight = painter.viewport().height();
    const int pageWidth = painter.viewport().width();
    const int perPage = std::max(1, pageHeight / h - 4);
    int page = 1;
    auto pageNumber = [&] {
        if (!printPageNum_)
            return;
        painter.setFont(small);
        const int x = pageWidth - painter.fontMetrics().horizontalAdvance(QString(11, ' '));
        painter.drawText(x, h / 2 + painter.fontMetrics().ascent(), "Page : " + QString::number(page));
        painter.setFont(body);
    };
    for (size_t i = 0; i < lines.size(); ++i) {
        const int row = int(i % size_t(perPage));
        if (i > 0 && row == 0) {
            pageNumber();
            printer.newPage();
            ++page;
        }
        painter.drawText(10, 2 * h + row * h + ascent, LineText(lines[i]));
    }
    pageNumber();
    return painter.end();
}

// ---- search ----

void TTextView::ShowSearch(const QString& text, bool caseFlag)
{
    if (search_) {
        QApplication::beep();
        return;
    }
    search_ = new TSearchwin(this);
    search_->show();
    search_->Start(text, caseFlag);
}

void TTextView::GoToMatch(int64_t line, int64_t column, int64_t length)
{
    Setlineaora(line);
    if (mode_ == VM_HEX) {
        const int64_t start = HexTextColumn(file_.Size()) - 1 + column;
        SetSelection({start, line}, {start + 1, line});
    } else {
        const int64_t start = column - 1;
        SetSelection({start, line}, {start + length, line});
        Setlineaorax(visibleCols_ < start ? start - 20 : 0);
    }
    paintBox_->update();
}

} // namespace tarnel
