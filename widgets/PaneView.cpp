#include "sources/SourceTable.h"
#include "widgets/PaneView.h"

#include "widgets/HeaderPainter.h"
#include "widgets/PaneRowDelegate.h"

#include "sources/SearchSource.h"
#include "panes/PathUtil.h"
#include "panes/ReadDirectory.h"
#include "platform/UriList.h"
#include "tools/ToolText.h"

#include <QApplication>
#include <QComboBox>
#include <QDrag>
#include <QDropEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

namespace tarnel {

namespace {

const char* const kSortCaptions[] = {"by name", "by size", "by type", "by time", "by desc"};
const char* const kSectionCaptions[] = {"Name", "Size", "Time", "Description"};
const int kSectionWidths[] = {100, 50, 80, 5000};
const int kNameMinimum = 30;
const int kDescriptionInView = 40;
const char* const kUriListType = "text/uri-list";

QString Decode(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

void SetHint(QWidget* w, const QString& hint)
{
    w->setToolTip(hint);
    w->setStatusTip(hint);
}

} // namespace

void PaneRowModel::SetRows(int rows)
{
    beginResetModel();
    rows_ = rows;
    endResetModel();
}

PaneHeader::PaneHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent)
{
    auto* model = new QStandardItemModel(0, 4, this);
    for (int i = 0; i < 4; ++i)
        model->setHorizontalHeaderItem(i, new QStandardItem(kSectionCaptions[i]));
    setModel(model);
    setSectionsClickable(true);
    setHighlightSections(false);
    setStretchLastSection(false);
    setMinimumSectionSize(2);
    for (int i = 0; i < 4; ++i)
        resizeSection(i, kSectionWidths[i]);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setFixedHeight(fontMetrics().height() + 6);
}

QString PaneHeader::Caption(int section) const
{
    return (section >= 0 && section < 4) ? QString(kSectionCaptions[section]) : QString();
}

void PaneHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const
{
    QStyleOptionHeader option;
    initStyleOption(&option);
    option.rect = rect;
    option.section = logicalIndex;
    option.state |= logicalIndex == pressedSection_ ? QStyle::State_Sunken : QStyle::State_Raised;
    style()->drawControl(QStyle::CE_HeaderSection, &option, painter, this);
    PaintHeaderSection(*painter, rect, Caption(logicalIndex), sortKey ? sortKey() : 0, ascending ? ascending() : true,
                       logicalIndex == pressedSection_, leftDown_, palette());
}

void PaneHeader::mousePressEvent(QMouseEvent* event)
{
    pressedSection_ = logicalIndexAt(event->position().toPoint());
    leftDown_ = event->button() == Qt::LeftButton;
    viewport()->update();
    QHeaderView::mousePressEvent(event);
}

void PaneHeader::mouseReleaseEvent(QMouseEvent* event)
{
    pressedSection_ = -1;
    leftDown_ = false;
    viewport()->update();
    QHeaderView::mouseReleaseEvent(event);
}

void PaneList::mousePressEvent(QMouseEvent* event)
{
    emit pressed(event->button());
    ++userMoving_;
    QListView::mousePressEvent(event);
    --userMoving_;
}

void PaneList::mouseMoveEvent(QMouseEvent* event)
{
    ++userMoving_;
    QListView::mouseMoveEvent(event);
    --userMoving_;
}

void PaneList::mouseReleaseEvent(QMouseEvent* event)
{
    QListView::mouseReleaseEvent(event);
    emit released(event->button());
}

void PaneList::mouseDoubleClickEvent(QMouseEvent* event)
{
    QListView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton && indexAt(event->position().toPoint()).isValid())
        emit doubleClickedRow();
}

PaneList::PaneList(QWidget* parent) : QListView(parent), searchPause_(new QTimer(this))
{
    searchPause_->setSingleShot(true);
    connect(searchPause_, &QTimer::timeout, this, &PaneList::EndQuickSearch);
}

// Qt's own search matches the model's display text, which these rows do not
// have; this one matches the listing's names.
void PaneList::keyboardSearch(const QString& text)
{
    const int rows = model() ? model()->rowCount() : 0;
    if (text.isEmpty() || !searchName || rows == 0) {
        EndQuickSearch();
        return;
    }
    const QString wanted = search_ + text;
    // A new search looks past the current row, so the same letter again
    // walks through the names it starts; a longer one may stay where it is.
    const int current = currentIndex().isValid() ? currentIndex().row() : -1;
    const int first = search_.isEmpty() ? current + 1 : std::max(current, 0);
    for (int i = 0; i < rows; ++i) {
        const int row = (first + i) % rows;
        const QString name = searchName(row);
        if (name.isEmpty() || !name.startsWith(wanted, Qt::CaseInsensitive))
            continue;
        const QModelIndex index = model()->index(row, 0);
        ++userMoving_;
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate); // marks stay
        --userMoving_;
        scrollTo(index);
        break;
    }
    // A letter no name continues with is dropped, so a slip does not end the search.
    if (currentIndex().isValid() && searchName(currentIndex().row()).startsWith(wanted, Qt::CaseInsensitive)) {
        if (search_.isEmpty())
            QCoreApplication::instance()->installEventFilter(this); // ahead of the window's hot keys
        search_ = wanted;
    }
    if (!search_.isEmpty())
        searchPause_->start(QApplication::keyboardInputInterval());
}

void PaneList::EndQuickSearch()
{
    searchPause_->stop();
    if (search_.isEmpty())
        return;
    search_.clear();
    QCoreApplication::instance()->removeEventFilter(this);
}

// Esc during a search ends the search; the window's Esc hot key would
// otherwise take it first.
bool PaneList::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == this && (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress)) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
            event->accept();
            if (event->type() == QEvent::KeyPress)
                EndQuickSearch();
            return true;
        }
    }
    return QListView::eventFilter(watched, event);
}

void PaneList::keyPressEvent(QKeyEvent* event)
{
    // Only typed letters continue a search; any other key ends it.
    const QString text = event->text();
    if (text.isEmpty() || !text.at(0).isPrint() || text == QLatin1String(" ") ||
        (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
        EndQuickSearch();
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            emit enterPressed();
            return;
        }
        if (event->key() == Qt::Key_Delete) {
            emit deletePressed();
            return;
        }
        if (event->key() == Qt::Key_Insert || event->key() == Qt::Key_Space) {
            emit toggleSelectionPressed(event->key() == Qt::Key_Insert);
            return;
        }
        if (event->key() == Qt::Key_Backspace) {
            emit parentPressed();
            return;
        }
    }
    if (event->modifiers() == Qt::ControlModifier && event->key() == Qt::Key_R) {
        emit refreshPressed();
        return;
    }
    ++userMoving_;
    QListView::keyPressEvent(event);
    --userMoving_;
}

// Tab would walk the focus chain before keyPressEvent sees it.
bool PaneList::event(QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab && key->modifiers() == Qt::NoModifier) {
            emit tabPressed();
            return true;
        }
    }
    return QListView::event(event);
}

// The drag's own event loop runs inside exec(): whatever a drop there does
// to the listings, nothing here looks at a row afterwards.
void PaneList::startDrag(Qt::DropActions)
{
    const std::vector<std::string> paths = dragPaths ? dragPaths() : std::vector<std::string>();
    if (paths.empty())
        return;
    auto* drag = new QDrag(this); // Qt deletes it
    drag->setMimeData(NewFileDragData(paths));
    droppedOnAList_ = false;
    // Another program that took a move has taken the files away from here;
    // a move onto a list of ours re-reads the panes itself.
    if (drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction) == Qt::MoveAction && !droppedOnAList_)
        emit refreshPressed();
}

// Files are taken in as a whole list: the row under them decides at each
// move (a volume row takes nothing), so the entry itself never refuses
// them, or no later move would reach this list.
void PaneList::dragEnterEvent(QDragEnterEvent* event)
{
    const Qt::DropAction action =
        ChooseDropAction(event->possibleActions(), event->proposedAction(), event->modifiers());
    if (!dropHere || action == Qt::IgnoreAction || !event->mimeData()->hasFormat(kUriListType)) {
        event->ignore();
        return;
    }
    event->setDropAction(action);
    event->accept();
}

void PaneList::dragMoveEvent(QDragMoveEvent* event)
{
    if (!dropHere || !dropHere(event, false))
        event->ignore();
}

void PaneList::dropEvent(QDropEvent* event)
{
    if (!dropHere || !dropHere(event, true))
        event->ignore();
    else
        droppedOnAList_ = true;
}

QMimeData* NewFileDragData(const std::vector<std::string>& paths)
{
    auto* mime = new QMimeData;
    mime->setData(kUriListType, QByteArray::fromStdString(FileUriList(paths)));
    return mime;
}

Qt::DropAction ChooseDropAction(Qt::DropActions possible, Qt::DropAction proposed, Qt::KeyboardModifiers modifiers)
{
    Qt::DropAction wanted = proposed == Qt::MoveAction ? Qt::MoveAction : Qt::CopyAction;
    if (modifiers & Qt::ShiftModifier)
        wanted = Qt::MoveAction;
    else if (modifiers & Qt::ControlModifier)
        wanted = Qt::CopyAction;
    if (possible & wanted)
        return wanted;
    if (possible & Qt::CopyAction)
        return Qt::CopyAction;
    return possible & Qt::MoveAction ? Qt::MoveAction : Qt::IgnoreAction;
}

PaneView::PaneView(bool left, TDirData& data, const DisplayLocale& locale, QWidget* parent)
    : QFrame(parent), left_(left), data_(data), workerRetry_(new QTimer(this)), locale_(locale)
{
    // A stuck worker is looked at four times a second, not at every event.
    workerRetry_->setSingleShot(true);
    workerRetry_->setInterval(250);
    connect(workerRetry_, &QTimer::timeout, this, [this] { StartPaneWorkers(data_); });
    setObjectName(left ? "PanLeft" : "PanRight");
    setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(3, 3, 3, 3);
    layout->setSpacing(0);
    BuildTopPanel();
    BuildHeader();
    BuildList();
    BuildFilterPanel();
    viewerPanel_ = new QWidget(this);
    viewerPanel_->setObjectName(left ? "PanLViewer" : "PanRViewer");
    viewerPanel_->hide();
    layout->addWidget(topPanel_);
    layout->addWidget(header_);
    layout->addWidget(gauge_);
    layout->addWidget(list_, 1);
    layout->addWidget(viewerPanel_, 1);
    layout->addWidget(filterPanel_);
}

void PaneView::BuildTopPanel()
{
    topPanel_ = new QWidget(this);
    topPanel_->setObjectName(left_ ? "LTopPanel" : "RTopPanel");
    auto* row = new QHBoxLayout(topPanel_);
    row->setContentsMargins(2, 1, 2, 1);
    pathLabel_ = new QLabel(topPanel_);
    pathLabel_->setObjectName(left_ ? "PathLeft" : "PathRight");
    pathLabel_->setTextFormat(Qt::PlainText);
    pathLabel_->setMinimumWidth(10);
    pathLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    pathLabel_->installEventFilter(this);
    auto makeButton = [&](const char* name, const QString& text, const QString& hint) {
        auto* b = new QToolButton(topPanel_);
        b->setObjectName(QString(left_ ? "L" : "R") + name);
        b->setText(text);
        b->setAutoRaise(true);
        b->setFocusPolicy(Qt::NoFocus); // the keys stay with the list
        SetHint(b, hint);
        return b;
    };
    parentButton_ = makeButton("GoParent", "..", "Go to the parent directory");
    quickGoButton_ = makeButton("QuickGo", "\u25BE", "QuickGo to a directory in any drive");
    openButton_ = makeButton("Open", "\u2197", "Open this directory with explorer");
    row->addWidget(pathLabel_, 1);
    row->addWidget(parentButton_);
    row->addWidget(quickGoButton_);
    row->addWidget(openButton_);
}

void PaneView::BuildHeader()
{
    header_ = new PaneHeader(this);
    header_->setObjectName(left_ ? "LHeader" : "RHeader");
    header_->sortKey = [this] { return SortKey(); };
    header_->ascending = [this] { return data_.Ascending != 0; };
    connect(header_, &QHeaderView::sectionClicked, this,
            [this](int section) { emit headerClicked(this, header_->Caption(section)); });
    connect(header_, &QHeaderView::sectionResized, this, [this](int section, int, int size) {
        if (section == 0 && size < 30)
            header_->resizeSection(0, 30);
        list_->viewport()->update();
    });
    connect(header_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { emit headerPopupRequested(this, header_->mapToGlobal(pos)); });
    gauge_ = new QProgressBar(this);
    gauge_->setObjectName(left_ ? "LGauge" : "RGauge");
    gauge_->setMaximumHeight(8);
    gauge_->setTextVisible(false);
    gauge_->hide();
}

void PaneView::BuildList()
{
    list_ = new PaneList(this);
    list_->searchName = [this](int row) {
        if (row < 0 || row >= data_.Count)
            return QString();
        const TFileData& e = data_.Item(row);
        return e.Kind == fkDrive || e.IsParentEntry() ? QString() : DisplayName(e.Name);
    };
    list_->setObjectName(left_ ? "FilesLeft" : "FilesRight");
    rows_ = new PaneRowModel(list_);
    list_->setModel(rows_);
    list_->setUniformItemSizes(true);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setItemDelegate(new PaneRowDelegate(*this, locale_, list_));
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->setMouseTracking(true);
    list_->setDragEnabled(true);
    list_->setAcceptDrops(true);
    list_->setDragDropMode(QAbstractItemView::DragDrop);
    list_->viewport()->setAcceptDrops(true); // drops land on the rows' own widget
    list_->dragPaths = [this] { return DragPaths(); };
    list_->dropHere = [this](QDropEvent* event, bool drop) {
        const Qt::DropAction action =
            ChooseDropAction(event->possibleActions(), event->proposedAction(), event->modifiers());
        if (action == Qt::IgnoreAction || !event->mimeData()->hasFormat(kUriListType))
            return false;
        const std::optional<PanePlace> place = DropPlaceAt(event->position().toPoint());
        if (!place)
            return false;
        event->setDropAction(action);
        event->accept();
        if (drop) {
            size_t refused = 0;
            std::vector<std::string> paths =
                PathsFromUriList(event->mimeData()->data(kUriListType).toStdString(), &refused);
            // After the drag's event loop: the source may be this window.
            QTimer::singleShot(0, this, [this, paths = std::move(paths), target = *place, refused,
                                         move = action == Qt::MoveAction] {
                emit filesDropped(this, paths, target, move, refused);
            });
            // Drops go through the disk engine: a place without files of its
            // own (an archive) takes nothing; the window says why, and the
            // source learns that nothing was taken.
            if (!DefaultSources()->Can(*place).Has(Capability::DiskPaths))
                return false;
        }
        return true;
    };
    readNotice_ = new QLabel(list_->viewport());
    readNotice_->setObjectName("ReadNotice");
    readNotice_->setTextFormat(Qt::PlainText);
    readNotice_->setWordWrap(true);
    readNotice_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    readNotice_->setContentsMargins(6, 6, 6, 6);
    auto* noticeLayout = new QVBoxLayout(list_->viewport());
    noticeLayout->addWidget(readNotice_);
    noticeLayout->addStretch();
    readNotice_->hide();
    connect(list_, &PaneList::pressed, this, [this](Qt::MouseButton) { emit activated(this); });
    connect(list_, &PaneList::released, this, [this](Qt::MouseButton) { emit listReleased(this); });
    connect(list_, &PaneList::enterPressed, this, [this] { emit listEnterPressed(this); });
    connect(list_, &PaneList::doubleClickedRow, this, [this] { emit listDoubleClicked(this); });
    connect(list_, &PaneList::tabPressed, this, [this] { emit otherPaneRequested(this); });
    connect(list_, &PaneList::toggleSelectionPressed, this, &PaneView::ToggleCurrent);
    connect(list_, &PaneList::parentPressed, this, [this] { emit parentRequested(this); });
    connect(list_, &PaneList::refreshPressed, this, [this] { emit refreshRequested(this); });
    connect(list_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { emit listPopupRequested(this, list_->viewport()->mapToGlobal(pos)); });
    connect(list_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        if (list_->UserMoving())
            emit currentEntryChanged(this);
    });
}

std::vector<std::string> PaneView::DragPaths() const
{
    std::vector<std::string> paths;
    if (!data_.Can(Capability::DiskPaths))
        return paths;
    for (const int row : SelectedRows()) {
        if (row < 0 || row >= data_.Count)
            continue;
        const TFileData& e = data_.Item(row);
        // A member a find met inside an archive has no file to hand over.
        if (e.Kind != fkDrive && !e.IsParentEntry() && ArchiveHoldingEntry(data_, e).empty())
            paths.push_back(AddPathDelimiter(data_.DirOf(e)) + e.Name);
    }
    return paths;
}

std::optional<PanePlace> PaneView::DropPlaceAt(const QPoint& viewportPos) const
{
    const QModelIndex index = list_->indexAt(viewportPos);
    if (!index.isValid() || index.row() >= data_.Count)
        return data_.Place();
    const TFileData& e = data_.Item(index.row());
    if (e.Kind == fkDrive)
        return std::nullopt;
    if (e.IsParentEntry())
        return data_.Place().Parent();
    // A found folder lies on the disk, in a folder of its own.
    if (e.Kind == fkDirectory && &data_.DirOf(e) != &data_.Path)
        return ArchiveHoldingEntry(data_, e).empty() ? std::optional(PanePlace::Directory(data_.DirOf(e) + e.Name))
                                                     : std::nullopt;
    if (e.Kind == fkDirectory)
        return data_.Place().Child(e.Name);
    return data_.Place();
}

void PaneView::ToggleCurrent(bool moveDown)
{
    const int row = CurrentRow();
    if (row < 0)
        return;
    SetSelected(row, !IsSelected(row));
    if (moveDown && row + 1 < RowCount()) {
        SetCurrentRow(row + 1);
        list_->scrollTo(rows_->index(row + 1));
    }
    emit selectionKeyed(this);
}

void PaneView::BuildFilterPanel()
{
    filterPanel_ = new QWidget(this);
    filterPanel_->setObjectName(left_ ? "PanLFilter" : "PanRFilter");
    filterPanel_->installEventFilter(this);
    auto* row = new QHBoxLayout(filterPanel_);
    row->setContentsMargins(0, 2, 0, 0);
    filter_ = new QComboBox(filterPanel_);
    filter_->setObjectName(left_ ? "FilterLeft" : "FilterRight");
    filter_->setEditable(true);
    filter_->setInsertPolicy(QComboBox::NoInsert);
    filter_->setEditText("*");
    // Typed keys reach the combo box, which hands them to its line edit
    // without that edit's filters: Enter is caught on both.
    filter_->installEventFilter(this);
    filter_->lineEdit()->installEventFilter(this);
    connect(filter_, &QComboBox::activated, this, [this](int) { emit filterChosen(this); });
    sort_ = new QComboBox(filterPanel_);
    sort_->setObjectName(left_ ? "SortLeft" : "SortRight");
    for (const char* caption : kSortCaptions)
        sort_->addItem(caption);
    connect(sort_, &QComboBox::activated, this, [this](int) { emit sortBoxChanged(this); });
    row->addWidget(filter_, 1);
    row->addWidget(sort_);
}

bool PaneView::eventFilter(QObject* watched, QEvent* event)
{
    if (filter_ && (watched == filter_ || watched == filter_->lineEdit()) && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && !filter_->view()->isVisible()) {
            emit filterChosen(this);
            return true; // swallowed
        }
    }
    if (watched == pathLabel_ && event->type() == QEvent::Resize)
        ElidePathLabel();
    if ((watched == pathLabel_ || watched == filterPanel_) && event->type() == QEvent::MouseButtonPress)
        emit activated(this);
    return QFrame::eventFilter(watched, event);
}

void PaneView::SetActiveLook(bool active)
{
    active_ = active;
    QPalette p = palette();
    p.setColor(QPalette::Window, QApplication::palette().color(active ? QPalette::Highlight : QPalette::Button));
    setPalette(p);
}

std::array<int, 4> PaneView::SectionWidths() const
{
    return {header_->sectionSize(0), header_->sectionSize(1), header_->sectionSize(2), header_->sectionSize(3)};
}

// The list does not scroll sideways: a long name gives way so that size,
// time and the start of the description stay in view.
void PaneView::AutoSizeColumns()
{
    const int size = data_.BestWidths[1];
    const int time = data_.BestWidths[2];
    const int room = list_->viewport()->width() - size - time - kDescriptionInView;
    header_->resizeSection(0, std::max(kNameMinimum, std::min(data_.BestWidths[0], room)));
    header_->resizeSection(1, size);
    header_->resizeSection(2, time);
    list_->viewport()->update();
}

void PaneView::BeginUpdate() { list_->setUpdatesEnabled(false); }

void PaneView::EndUpdate()
{
    list_->setUpdatesEnabled(true);
    list_->viewport()->update();
}

void PaneView::SetRowCount(int rows)
{
    rows_->SetRows(rows);
    list_->LayoutNow();
}

int PaneView::RowCount() const { return rows_->rowCount(); }

int PaneView::TopRow() const { return list_->verticalScrollBar()->value(); }

void PaneView::SetTopRow(int row)
{
    list_->LayoutNow();
    list_->verticalScrollBar()->setValue(row);
}

int PaneView::CurrentRow() const
{
    const QModelIndex current = list_->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void PaneView::SetCurrentRow(int row)
{
    list_->selectionModel()->setCurrentIndex(rows_->index(row), QItemSelectionModel::NoUpdate);
}

bool PaneView::IsSelected(int row) const { return list_->selectionModel()->isSelected(rows_->index(row)); }

void PaneView::SetSelected(int row, bool selected)
{
    list_->selectionModel()->select(rows_->index(row),
                                    selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect);
}

void PaneView::SetRangeSelected(int first, int last, bool selected)
{
    if (first > last || RowCount() == 0)
        return;
    const QItemSelection range(rows_->index(std::max(first, 0)), rows_->index(std::min(last, RowCount() - 1)));
    list_->selectionModel()->select(range, selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect);
}

std::vector<int> PaneView::SelectedRows() const
{
    std::vector<int> rows;
    for (const QItemSelectionRange& range : list_->selectionModel()->selection())
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.push_back(row);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

// A read of the other pane (the target of a copy) leaves the keys where they are.
void PaneView::FocusList()
{
    if (active_)
        list_->setFocus();
}

std::string PaneView::FilterText() const { return QFile::encodeName(filter_->currentText()).toStdString(); }

void PaneView::SetFilterItems(const std::vector<std::string>& items)
{
    const QString text = filter_->currentText();
    filter_->blockSignals(true);
    filter_->clear();
    for (const std::string& item : items)
        filter_->addItem(Decode(item));
    filter_->setCurrentIndex(-1);
    filter_->setEditText(text);
    filter_->blockSignals(false);
}

void PaneView::SelectFilterItem(int index)
{
    filter_->blockSignals(true);
    filter_->setCurrentIndex(index);
    filter_->blockSignals(false);
}

int PaneView::SortKey() const { return sort_->currentIndex(); }

void PaneView::SetSortKey(int key)
{
    sort_->blockSignals(true);
    sort_->setCurrentIndex(key);
    sort_->blockSignals(false);
}

void PaneView::RepaintHeader() { header_->viewport()->update(); }

void PaneView::SetPathLabel(const std::string& caption)
{
    fullPath_ = DisplayName(caption); // a newline in a folder's name must not wrap the label
    SetHint(pathLabel_, fullPath_);
    ElidePathLabel();
}

// A narrow pane shows the end of its path, the part that tells places apart,
// behind "..."; the hint keeps the whole path.
void PaneView::ElidePathLabel()
{
    const int room = pathLabel_->contentsRect().width();
    pathLabel_->setText(room > 0 ? pathLabel_->fontMetrics().elidedText(fullPath_, Qt::ElideLeft, room) : fullPath_);
}

int PaneView::TextWidth(const std::string& text) const
{
    return list_->fontMetrics().horizontalAdvance(DisplayName(text)); // measured as the rows show it
}

// Measuring 100,000 names one by one costs more than reading the directory.
// Printable ASCII texts are first estimated from a table of character widths;
// only those whose estimate could still beat the widest so far are measured.
int PaneView::WidestText(const std::vector<const std::string*>& texts) const
{
    const QFontMetrics metrics = list_->fontMetrics();
    std::array<int, 128> advance{};
    for (int c = 32; c < 127; ++c)
        advance[size_t(c)] = metrics.horizontalAdvance(QChar(c));
    int widest = 0;
    std::vector<std::pair<int, const std::string*>> estimates;
    estimates.reserve(texts.size());
    for (const std::string* text : texts) {
        int estimate = 0;
        bool plain = true;
        for (const char c : *text) {
            const auto u = static_cast<unsigned char>(c);
            if (u < 32 || u > 126) {
                plain = false;
                break;
            }
            estimate += advance[u];
        }
        if (plain)
            estimates.emplace_back(estimate, text);
        else
            widest = std::max(widest, TextWidth(*text));
    }
    std::sort(estimates.begin(), estimates.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& [estimate, text] : estimates) {
        if (estimate + estimate / 8 + 4 < widest) // kerning never widens a text this much
            break;
        widest = std::max(widest, TextWidth(*text));
    }
    return widest;
}

void PaneView::BeginBusy()
{
    if (busyDepth_++ == 0)
        QApplication::setOverrideCursor(Qt::WaitCursor);
}

void PaneView::EndBusy()
{
    if (--busyDepth_ == 0)
        QApplication::restoreOverrideCursor();
}

void PaneView::RetryWorkersLater()
{
    if (!workerRetry_->isActive())
        workerRetry_->start();
}

// A listing always has a cursor, in view: the keys act from there, and the
// viewer shows that entry.
void PaneView::ListingRead()
{
    if (CurrentRow() < 0 && RowCount() > 0)
        SetCurrentRow(0);
    if (CurrentRow() >= 0)
        list_->scrollTo(rows_->index(CurrentRow()));
    emit listingRead(this);
}

std::function<void(std::function<void()>)> PaneView::ReadPoster()
{
    // The task is queued on the application, which outlives the panes; it
    // does nothing once this view is gone.
    return [view = QPointer<PaneView>(this)](std::function<void()> task) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [view, task = std::move(task)] {
                if (view)
                    task();
            },
            Qt::QueuedConnection);
    };
}

void PaneView::RunLater(int ms, std::function<void()> task) { QTimer::singleShot(ms, this, std::move(task)); }

void PaneView::ShowReadNotice(ReadNotice notice)
{
    switch (notice) {
    case ReadNotice::None: readNotice_->hide(); return;
    case ReadNotice::Reading: readNotice_->setText(tr("Reading...")); break;
    case ReadNotice::Slow:
        readNotice_->setText(tr("Reading... This place has not answered for 2 seconds. You can go elsewhere "
                                "meanwhile: Backspace, Back, a drive button or the other pane."));
        break;
    case ReadNotice::Queued:
        readNotice_->setText(tr("Waiting for earlier reads of this pane, which do not answer, to give up..."));
        break;
    }
    readNotice_->show();
}

void PaneView::SetGauge(int percent, bool visible)
{
    gauge_->setValue(percent);
    gauge_->setVisible(visible);
}

} // namespace tarnel
