#pragma once
// One pane of the main window: path bar, column header, gauge, row list and
// the filter and sort boxes. It shows a TDirData and implements the controls
// the listing model reaches.
#include "panes/DirData.h"
#include "panes/PaneControls.h"
#include "panes/RowText.h"

#include <QAbstractListModel>
#include <QFrame>
#include <QHeaderView>
#include <QListView>

#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QDropEvent;
class QMimeData;
class QLabel;
class QTimer;
class QProgressBar;
class QToolButton;

namespace tarnel {

// Placeholder rows: one per entry, painted from the listing.
class PaneRowModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;
    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : rows_; }
    QVariant data(const QModelIndex&, int) const override { return {}; }
    // Rows can be dragged; what a drag carries comes from the listing.
    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        return QAbstractListModel::flags(index) | Qt::ItemIsDragEnabled;
    }
    void SetRows(int rows);

private:
    int rows_ = 0;
};

// The four-section column header, painted with sort and pressed markers.
class PaneHeader : public QHeaderView {
    Q_OBJECT
public:
    explicit PaneHeader(QWidget* parent);
    std::function<int()> sortKey;
    std::function<bool()> ascending;
    QString Caption(int section) const;

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int pressedSection_ = -1;
    bool leftDown_ = false;
};

class PaneList : public QListView {
    Q_OBJECT
public:
    explicit PaneList(QWidget* parent);
    void LayoutNow() { executeDelayedItemsLayout(); }
    // True while a key or the mouse moves the cursor (not a re-read).
    bool UserMoving() const { return userMoving_ > 0; }
    // The name typed letters are matched against; empty for rows they skip.
    std::function<QString(int row)> searchName;
    bool QuickSearching() const { return !search_.isEmpty(); }
    void keyboardSearch(const QString& text) override;
    void EndQuickSearch();
    // Drag and drop of files, by path: what a drag from here carries (none
    // starts when it is empty), and what a drop here does (deferred until
    // the drag's own event loop has ended). A refused drop shows as such.
    std::function<std::vector<std::string>()> dragPaths;
    std::function<bool(QDropEvent* event, bool drop)> dropHere;

signals:
    void pressed(Qt::MouseButton button);
    void released(Qt::MouseButton button);
    void enterPressed();
    void deletePressed();
    void doubleClickedRow();
    void tabPressed();
    void toggleSelectionPressed(bool moveDown); // Insert moves down, Space stays
    void parentPressed();
    void refreshPressed();

protected:
    bool event(QEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    int userMoving_ = 0;
    static inline bool droppedOnAList_ = false; // during a drag from a list: a list took it
    QString search_;
    QTimer* searchPause_;
};

class PaneView : public QFrame, public PaneControls {
    Q_OBJECT
public:
    PaneView(bool left, TDirData& data, const DisplayLocale& locale, QWidget* parent);

    TDirData& Data() { return data_; }
    const TDirData& Data() const { return data_; }
    bool IsLeft() const { return left_; }
    void SetOther(PaneView* other) { other_ = other; }
    PaneView* Other() const { return other_; }
    void SetActiveLook(bool active);
    std::array<int, 4> SectionWidths() const;
    void AutoSizeColumns();

    PaneList* List() const { return list_; }
    PaneHeader* Header() const { return header_; }
    QLabel* PathLabel() const { return pathLabel_; }
    QComboBox* FilterBox() const { return filter_; }
    QComboBox* SortBox() const { return sort_; }
    QWidget* TopPanel() const { return topPanel_; }
    QWidget* FilterPanel() const { return filterPanel_; }
    QWidget* ViewerPanel() const { return viewerPanel_; }
    QToolButton* ParentButton() const { return parentButton_; }
    QToolButton* QuickGoButton() const { return quickGoButton_; }
    QToolButton* OpenButton() const { return openButton_; }

    // PaneControls
    void BeginUpdate() override;
    void EndUpdate() override;
    void SetRowCount(int rows) override;
    int RowCount() const override;
    int TopRow() const override;
    void SetTopRow(int row) override;
    int CurrentRow() const override;
    void SetCurrentRow(int row) override;
    bool IsSelected(int row) const override;
    void SetSelected(int row, bool selected) override;
    void SetRangeSelected(int first, int last, bool selected) override;
    std::vector<int> SelectedRows() const override;
    void FocusList() override;
    std::string FilterText() const override;
    void SetFilterItems(const std::vector<std::string>& items) override;
    void SelectFilterItem(int index) override;
    int SortKey() const override;
    void SetSortKey(int key) override;
    void RepaintHeader() override;
    void SetPathLabel(const std::string& caption) override;
    int TextWidth(const std::string& text) const override;
    int WidestText(const std::vector<const std::string*>& texts) const override;
    void BeginBusy() override;
    void EndBusy() override;
    void SetGauge(int percent, bool visible) override;
    void HistoryChanged() override { emit historyChanged(); }
    void RetryWorkersLater() override;
    void ListingRead() override;
    std::function<void(std::function<void()>)> ReadPoster() override;
    void RunLater(int ms, std::function<void()> task) override;
    void ShowReadNotice(ReadNotice notice) override;
    // The text over the list while a read is not whole.
    QLabel* ReadNoticeLabel() const { return readNotice_; }

    // The selected files and folders as a drag carries them; empty inside
    // an archive, whose members are not files another program could take.
    std::vector<std::string> DragPaths() const;
    // The place a drop at a point of the list goes to: a folder row's folder,
    // ".." the parent, anywhere else the pane's own place; nothing on a
    // volume row.
    std::optional<PanePlace> DropPlaceAt(const QPoint& viewportPos) const;

signals:
    void activated(PaneView* pane);          // a click made this pane the active one
    void filterChosen(PaneView* pane);       // Enter in the filter box or an item chosen
    void sortBoxChanged(PaneView* pane);     // the user changed the sort box
    void headerClicked(PaneView* pane, QString caption);
    void headerPopupRequested(PaneView* pane, QPoint globalPos);
    void listReleased(PaneView* pane);
    void listDoubleClicked(PaneView* pane);
    void listEnterPressed(PaneView* pane);
    void listPopupRequested(PaneView* pane, QPoint globalPos);
    void historyChanged();
    // Keys of two-pane file managers, from the list.
    void otherPaneRequested(PaneView* pane); // Tab
    void selectionKeyed(PaneView* pane);     // Insert or Space changed the selection
    void parentRequested(PaneView* pane);    // Backspace
    void refreshRequested(PaneView* pane);   // Ctrl+R
    // The current row changed by the user's key or mouse.
    void currentEntryChanged(PaneView* pane);
    // A read replaced the listing; the cursor stands on its new row.
    void listingRead(PaneView* pane);
    // Files were dropped here, to be copied (or moved) into target.
    // refused: dropped items that are no local files, left out.
    void filesDropped(PaneView* pane, std::vector<std::string> paths, PanePlace target, bool move, size_t refused);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildTopPanel();
    void BuildHeader();
    void BuildList();
    void BuildFilterPanel();
    void ToggleCurrent(bool moveDown);
    void ElidePathLabel();

    bool left_;
    TDirData& data_;
    QTimer* workerRetry_; // starts the workers a re-read could not start yet
    const DisplayLocale& locale_;
    PaneView* other_ = nullptr;
    QWidget* topPanel_ = nullptr;
    QLabel* pathLabel_ = nullptr;
    QString fullPath_; // the label shows its end when the pane is narrow
    QToolButton* parentButton_ = nullptr;
    QToolButton* quickGoButton_ = nullptr;
    QToolButton* openButton_ = nullptr;
    PaneHeader* header_ = nullptr;
    QProgressBar* gauge_ = nullptr;
    QLabel* readNotice_ = nullptr;
    PaneList* list_ = nullptr;
    PaneRowModel* rows_ = nullptr;
    QWidget* filterPanel_ = nullptr;
    QComboBox* filter_ = nullptr;
    QComboBox* sort_ = nullptr;
    QWidget* viewerPanel_ = nullptr;
    int busyDepth_ = 0;
    bool active_ = false; // only the active pane's list takes the keys
};

// The mime data of a drag of these files: text/uri-list, built byte for
// byte so that any name survives.
QMimeData* NewFileDragData(const std::vector<std::string>& paths);
// Qt's conventions: Shift moves, Ctrl copies, otherwise what the source
// proposes, copy when it allows both. IgnoreAction when neither is allowed.
Qt::DropAction ChooseDropAction(Qt::DropActions possible, Qt::DropAction proposed, Qt::KeyboardModifiers modifiers);

} // namespace tarnel
