// Settings of the main window: start-up loading in its order, the save at the
// end of a run, hot keys and the tray icon.
#include "app/Bookmarks.h"
#include "app/MainWindow.h"
#include "app/SettingsStore.h"
#include "app/components/SaveForm.h"
#include "app/components/SysHotKey.h"
#include "app/components/TrayIcon.h"
#include "panes/DisplayOptions.h"
#include "panes/ViewerExtensions.h"
#include "platform/DirectoryReader.h"
#include "platform/Registry.h"
#include "viewer/ViewerHost.h"
#include "widgets/PaneView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMenuBar>
#include <QFile>
#include <QToolBar>

#include <algorithm>

namespace tarnel {

namespace {

void ApplyWidths(PaneView* pane, const std::array<int, 4>& widths)
{
    for (int i = 0; i < 4; ++i)
        pane->Header()->resizeSection(i, std::max(widths[size_t(i)], i == 0 ? 30 : 1));
}

std::array<int, 4> WidthsOf(const PaneView* pane)
{
    const auto w = pane->SectionWidths();
    return {w[0], w[1], w[2], w[3]};
}

// The design's widths are pixels of an 8-point font whose characters average
// 5 pixels; wider desktop fonts cut most texts at those widths. A column with
// no stored width fits its texts instead: size and time the widest text they
// can show, the name the first listing's longest name, as far as the pane
// keeps size, time and some description in view.
void FitColumns(PaneView* pane, const std::array<bool, 4>& stored, const DisplayLocale& locale)
{
    const TDirData& data = pane->Data();
    // Files up to 100 GB, drives up to a terabyte free of a terabyte.
    const int64_t terabyte = int64_t(999999) << 20;
    const int size = std::max({data.BestWidths[1], pane->TextWidth(SizeText(int64_t(99999.9 * 1048576), locale)) + 3,
                               pane->TextWidth(DriveSpaceText(terabyte, terabyte, locale)) + 3});
    const int time = std::max(data.BestWidths[2], pane->TextWidth(TimeText(int32_t(PackDosTime(2026, 12, 28, 23, 58, 0)), locale)) + 3);
    const int designName = 100 * pane->List()->fontMetrics().averageCharWidth() / 5;
    const int room = pane->List()->viewport()->width() - size - time - 40;
    const int name = std::max(30, std::min(std::max(data.BestWidths[0], designName), room));
    const int fitted[3] = {name, size, time};
    for (int i = 0; i < 3; ++i)
        if (!stored[size_t(i)])
            pane->Header()->resizeSection(i, fitted[i]);
}

void ApplyDisplayOptions(const AppSettings& s)
{
    DisplayOptions& o = Options();
    o.ShowBigSize = s.ShowBigSize;
    o.ShowAttrs = s.ShowAttrs;
    o.ShowListHints = s.ShowListHints;
    o.ShowSupported = s.ShowSupported;
}

} // namespace

// Viewer types and column widths come before the panes are read.
void MainWindow::LoadEarlySettings()
{
    if (!registry_)
        return;
    store_ = std::make_unique<SettingsStore>(*registry_);
    store_->LoadViewerTypes(ViewerExtensions());
    store_->LoadColumnWidths(settings_);
    store_->LoadPanes(settings_);
    ApplyWidths(left_, settings_.leftWidths);
    ApplyWidths(right_, settings_.rightWidths);
}

// Each pane's sort order as the last run left it (by name, ascending when
// none is kept), before the first read. Its place follows once a worker has
// found it (StartPlaces).
void MainWindow::ApplySavedSortOrders()
{
    for (size_t side = 0; side < 2; ++side) {
        const PaneState& kept = settings_.panes[side];
        (side == 0 ? left_ : right_)->SetSortKey(kept.sortKey);
        (side == 0 ? leftDir_ : rightDir_).Ascending = kept.ascending ? 1 : 0;
    }
}

void MainWindow::RememberPaneStates()
{
    for (size_t side = 0; side < 2; ++side) {
        const TDirData& data = side == 0 ? leftDir_ : rightDir_;
        PaneState& state = settings_.panes[side];
        state.path = data.Path;
        state.zipMode = data.ZipMode;
        state.zipPath = data.ZipPath;
        state.source = data.SourceName;
        state.sortKey = (side == 0 ? left_ : right_)->SortKey();
        state.ascending = data.Ascending != 0;
    }
}

// Bookmarks, general options, tool bar layout and text viewer options come
// after the drive buttons; a value of the wrong type is shown once.
void MainWindow::LoadLateSettings()
{
    if (store_) {
        store_->LoadBookmarks(settings_);
        store_->LoadGeneral(settings_);
        store_->LoadToolBar(settings_);
        store_->LoadTextView(settings_);
    }
    bookmarks_->Replace(settings_.bookmarks);
    ApplyDisplayOptions(settings_);
    ApplyToolBarLayout();
    ApplyBackType(settings_.backType);
    ApplyTextViewSettings();
}

void MainWindow::StartHotKeysAndTray()
{
    hotKeys_ = new TSysHotKey(this);
    for (const HotKeyDefinition& d : DefaultHotKeys())
        hotKeys_->AddHotKey(d.keyCode, d.modifiers);
    if (store_) {
        store_->LoadHotKeys(settings_);
        for (int n = 0; n < hotKeys_->Count(); ++n) {
            HotKeyDefinition d = hotKeys_->GetHotKey(n);
            d.keyCode = settings_.hotKeys[size_t(n)].keyCode;
            d.modifiers = settings_.hotKeys[size_t(n)].modifiers;
            hotKeys_->SetHotKey(n, d);
        }
        store_->LoadPlacement(settings_);
        for (const std::string& message : store_->Messages())
            messages_->Error(QString::fromStdString(message));
    }
    connect(hotKeys_, &TSysHotKey::hotKey, this, &MainWindow::SysHotKeyHotKey);
    hotKeys_->SetActive(true);
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        hotKeys_->SetEnabledExceptFirst(state == Qt::ApplicationActive);
    });
    tray_ = new TTrayIcon(this);
    tray_->SetIcon(QApplication::windowIcon().isNull() ? style()->standardIcon(QStyle::SP_DirIcon)
                                                        : QApplication::windowIcon());
    tray_->SetPopupMenu(trayMenu_);
    connect(tray_, &TTrayIcon::clicked, this, &MainWindow::ShowProgram);
    tray_->SetActive(true);
    ShowHotKeyHints();
    if (TSaveForm::RestorePlacement(*this, settings_.mainForm))
        startMinimized_ = true;
}

void MainWindow::SysHotKeyHotKey(int index)
{
    // The menu bar taken up with Alt is left with Esc first, as an open menu
    // or drop-down is (those keep the key themselves).
    if (index == 3 && qobject_cast<QMenuBar*>(QApplication::focusWidget())) {
        FocusActiveList();
        return;
    }
    switch (index) {
    case 0:
        if (isVisible() && !isMinimized() && QGuiApplication::applicationState() == Qt::ApplicationActive)
            HideProgram();
        else
            ShowProgram();
        break;
    case 1:
        if (Viewer()->IsOn())
            Viewer()->ToggleFullScreenViewer();
        break;
    case 2: {
        QAbstractButton* button = general_->findChild<QAbstractButton*>("SBViewer");
        button->setChecked(!button->isChecked());
        Viewer()->SBViewerClick();
        break;
    }
    case 3: Viewer()->LeaveViewerOrMinimize(); break;
    default: break;
    }
}

void MainWindow::ShowHotKeyHints()
{
    setWindowTitle("Tarnel - " + QString::fromStdString(HideHintText(*hotKeys_)));
    tray_->SetToolTip(QString::fromStdString(TrayHintText(*hotKeys_)));
}

void MainWindow::ApplyBackType(const std::string& backType)
{
    // "Default" keeps the style's own tool bar look; "None" draws the bars flat
    // in the window colour.
    for (QToolBar* bar : {general_, navigation_, drives_}) {
        bar->setAutoFillBackground(backType == "None");
        bar->setBackgroundRole(QPalette::Window);
    }
}

void MainWindow::ApplyToolBarLayout()
{
    std::map<std::string, QToolBar*> byName = {
        {"TBGeneral", general_}, {"TBNavigation", navigation_}, {"TBDrives", drives_}};
    for (QToolBar* bar : {general_, navigation_, drives_})
        removeToolBarBreak(bar);
    for (const ToolBarBand& band : settings_.bands) {
        QToolBar* bar = byName[band.name];
        if (!bar)
            continue;
        removeToolBar(bar);
        if (band.lineBreak)
            addToolBarBreak();
        addToolBar(bar);
        // A tool bar is as wide as its buttons; the stored width widens it.
        bar->setMinimumWidth(std::clamp(band.width, 0, 4000));
        bar->show();
    }
}

std::vector<ToolBarBand> MainWindow::CurrentToolBarLayout() const
{
    std::vector<ToolBarBand> bands;
    for (QToolBar* bar : {general_, navigation_, drives_})
        bands.push_back({bar->objectName().toStdString(), toolBarBreak(bar), bar->width()});
    // The order on screen: row by row, left to right.
    std::vector<QToolBar*> bars = {general_, navigation_, drives_};
    std::stable_sort(bands.begin(), bands.end(), [&](const ToolBarBand& a, const ToolBarBand& b) {
        const QToolBar* ba = findChild<QToolBar*>(QString::fromStdString(a.name));
        const QToolBar* bb = findChild<QToolBar*>(QString::fromStdString(b.name));
        return std::pair(ba->y(), ba->x()) < std::pair(bb->y(), bb->x());
    });
    return bands;
}

void MainWindow::FitUnstoredWidths()
{
    FitColumns(left_, settings_.leftWidthStored, locale_);
    FitColumns(right_, settings_.rightWidthStored, locale_);
}

void MainWindow::RememberPlacement()
{
    if (isVisible() && !isMinimized())
        seenPlacement_ = TSaveForm::ReadPlacement(*this, false);
}

void MainWindow::SaveSettings()
{
    if (!store_)
        return;
    settings_.leftWidths = WidthsOf(left_);
    settings_.rightWidths = WidthsOf(right_);
    settings_.bookmarks = bookmarks_->Paths();
    settings_.bands = CurrentToolBarLayout();
    RememberPaneStates();
    for (int n = 0; n < hotKeys_->Count() && n < 4; ++n)
        settings_.hotKeys[size_t(n)] = hotKeys_->GetHotKey(n);
    // The save runs after the window has closed: what is stored is what the
    // user last saw, never the hidden state of the end of the run.
    RememberPlacement();
    if (seenPlacement_.width > 0)
        settings_.mainForm = seenPlacement_;
    // A file refused at start-up is left alone on purpose: that was reported then.
    const RegistryFile& file = registry_->File(RegistryRoot::CurrentUser);
    if (!store_->SaveAll(settings_, ViewerExtensions()) && !file.Refused() && !saveFailureShown_) {
        saveFailureShown_ = true;
        messages_->Error(QString("The settings could not be saved in %1 (a read-only folder or a full disk?). "
                                 "The file keeps the settings it had.")
                             .arg(QFile::decodeName(QByteArray::fromStdString(file.Path()))));
    }
}

} // namespace tarnel
