#pragma once
// The viewer's "text" page: the text view VWText with its tool panel, and
// the "&Viewer" menu items the main window shows while this page is up.
#include "app/Settings.h"
#include "viewer/ViewerPage.h"

#include <QList>
#include <QObject>
#include <QPointer>

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;

namespace tarnel {

class TTextView;

class TextPage : public QObject, public ViewerPage {
    Q_OBJECT
public:
    explicit TextPage(QWidget* parent = nullptr);
    ~TextPage() override;

    QWidget* PageWidget() override { return page_; }
    Reading ReadFile(const std::string& path) override;
    void ClearPage() override;

    // Font, colours, tab size and page numbers from the settings. A stored
    // font this system lacks shows in its fixed-pitch font, and Settings()
    // still returns the stored name until another is set.
    void ApplySettings(const TextViewSettings& settings);
    TextViewSettings Settings() const;

    // "Copy to clipboard", "Print", "Search", in this order.
    QList<QAction*> ViewerMenuActions() const { return {Copytoclipboard1, Print1, Search1}; }
    void FillViewerMenu(QMenu* menu) const;

    TTextView* VWText;
    QComboBox* CBTextViewMode;
    QPushButton* VWTextFind;
    QPushButton* VWTextCopy;
    QPushButton* VWTextPrint;
    QPushButton* VWTextEdit;
    QLabel* Position;
    QAction* Copytoclipboard1;
    QAction* Print1;
    QAction* Search1;

private:
    void CBTextViewModeChange(int index);
    void VWTextScrollXY(qint64 x, qint64 y, qint64 maxX, qint64 maxY);
    void VWTextFindClick();

    QPointer<QWidget> page_;
    TextViewSettings settings_;
};

// 0x00BBGGRR as the settings keep it; a system colour (top bit) from the palette.
QColor ColorFromSetting(uint32_t value, const QPalette& palette);

} // namespace tarnel
