#include "app/ConfigureDialog.h"

#include "app/Autostart.h"
#include "app/components/VirtualKeys.h"
#include "panes/PathUtil.h"
#include "panes/ViewerExtensions.h"
#include "viewer/TextFont.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace tarnel {

// ---- HotKeyEdit ----

HotKeyEdit::HotKeyEdit(QWidget* parent) : QLineEdit(parent)
{
    // Read-only keeps paste, drops and input methods out; keys come through
    // keyPressEvent all the same.
    setReadOnly(true);
    setContextMenuPolicy(Qt::NoContextMenu);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    SetKeyCombination({});
}

void HotKeyEdit::SetKeyCombination(QKeyCombination key)
{
    key_ = key;
    const bool none = key.key() == Qt::Key(0) || key.key() == Qt::Key_unknown;
    setText(none ? QStringLiteral("None") : QKeySequence(key).toString(QKeySequence::NativeText));
}

QKeyCombination HotKeyEdit::ApplyRule(QKeyCombination key)
{
    const Qt::KeyboardModifiers held =
        key.keyboardModifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (held == Qt::NoModifier || held == Qt::ShiftModifier) {
        const Qt::KeyboardModifiers others = key.keyboardModifiers() & ~Qt::ShiftModifier;
        return QKeyCombination(others | Qt::AltModifier, key.key());
    }
    return key;
}

bool HotKeyEdit::event(QEvent* e)
{
    // Whatever is typed here is the hot key, not a shortcut or mnemonic of the
    // dialog (Alt+S would otherwise tick the autostart box).
    if (e->type() == QEvent::ShortcutOverride) {
        e->accept();
        return true;
    }
    return QLineEdit::event(e);
}

void HotKeyEdit::keyPressEvent(QKeyEvent* e)
{
    switch (e->key()) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_unknown:
        // A modifier on its own is half a combination.
        e->accept();
        return;
    default:
        break;
    }
    const QKeyCombination key = ApplyRule(e->keyCombination());
    e->accept();
    if (key == key_)
        return;
    SetKeyCombination(key);
    emit KeyCombinationChanged(key);
}

// ---- helpers ----

namespace {

const char* const kSampleLines[] = {"This is a sample to show ", "how the quick brown fox ",
                                    "jumps over the lazy dog ", ":-)"};

struct NamedColor {
    const char* name;
    uint32_t bgr;
};
const NamedColor kBasicColors[] = {
    {"Black", 0x000000},  {"Maroon", 0x000080}, {"Green", 0x008000},   {"Olive", 0x008080},
    {"Navy", 0x800000},   {"Purple", 0x800080}, {"Teal", 0x808000},    {"Gray", 0x808080},
    {"Silver", 0xC0C0C0}, {"Red", 0x0000FF},    {"Lime", 0x00FF00},    {"Yellow", 0x00FFFF},
    {"Blue", 0xFF0000},   {"Fuchsia", 0xFF00FF}, {"Aqua", 0xFFFF00},   {"White", 0xFFFFFF},
};

QColor FromBgr(uint32_t bgr) { return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF)); }

void FillColorList(QComboBox* box, uint32_t current)
{
    auto add = [box](const QString& name, uint32_t bgr) {
        QPixmap swatch(16, 12);
        swatch.fill(FromBgr(bgr));
        box->addItem(QIcon(swatch), name, QVariant::fromValue(bgr));
    };
    for (const NamedColor& c : kBasicColors)
        add(c.name, c.bgr);
    int index = box->findData(QVariant::fromValue(current));
    if (index < 0) {
        // Kept as stored, so that OK without a choice writes it back unchanged.
        add(FromBgr(current).name(QColor::HexRgb).toUpper(), current);
        index = box->count() - 1;
    }
    box->setCurrentIndex(index);
}

// A spin box whose value changes by its arrows and keys only.
QSpinBox* StepOnlySpin(QWidget* parent, const char* name, int low, int high)
{
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(name);
    spin->setRange(low, high);
    spin->setSingleStep(1);
    spin->setKeyboardTracking(false);
    if (auto* edit = spin->findChild<QLineEdit*>())
        edit->setReadOnly(true);
    return spin;
}

// At most max bytes of a UTF-8 text, never cutting a character in two.
std::string CutUtf8(std::string text, size_t max)
{
    if (text.size() <= max)
        return text;
    size_t end = max;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    text.resize(end);
    return text;
}

QWidget* NewPage(const char* banner, QVBoxLayout*& layout)
{
    auto* page = new QWidget;
    layout = new QVBoxLayout(page);
    auto* label = new QLabel(banner, page);
    label->setObjectName("Banner");
    label->setFrameShape(QFrame::StyledPanel);
    label->setMargin(6);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    layout->addWidget(label);
    return page;
}

QCheckBox* NewCheck(QWidget* parent, const char* text, const char* name, bool checked)
{
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(name);
    box->setChecked(checked);
    return box;
}

void AddExtLine(QListWidget* list, const std::string& ext, bool checked)
{
    auto* item = new QListWidgetItem(QString::fromStdString(ext), list);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

ViewerExtension* FindExt(ViewerExtensionTable& table, const std::string& ext)
{
    for (ViewerExtension& e : table.Entries())
        if (EqualsIgnoreCase(e.Ext, ext))
            return &e;
    return nullptr;
}

} // namespace

// ---- TDlgConfigure ----

TDlgConfigure::TDlgConfigure(AppSettings& settings, ViewerExtensionTable& extensions, ConfigureHooks hooks,
                             QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      settings_(settings), extensions_(extensions), hooks_(std::move(hooks))
{
    setObjectName("DlgConfigure");
    setWindowTitle("Configure");
    auto* layout = new QVBoxLayout(this);

    pages_ = new QTabWidget(this);
    pages_->setObjectName("PageControl");
    // All seven tabs in sight, as several rows would show them.
    pages_->setUsesScrollButtons(false);
    pages_->addTab(HotKeysPage(), "Hot keys");
    pages_->addTab(QuittingPage(), "Quitting");
    pages_->addTab(FileListsPage(), "File lists");
    pages_->addTab(ViewerPage(), "Internal viewer");
    pages_->addTab(TextViewerPage(), "Text viewer");
    pages_->addTab(AdvancedPage(), "Advanced");
    pages_->addTab(AppearancePage(), "Appearance");
    layout->addWidget(pages_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("BtnCancel");
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &TDlgConfigure::reject);
    buttons->addWidget(cancel);
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("BtnOK");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &TDlgConfigure::Ok);
    buttons->addWidget(ok);
    layout->addLayout(buttons);

    // The pages are filled in the order the settings are read; the previews
    // must not fire while the lists and spin boxes get their first values.
    autostart_->setChecked(AutostartExists());
    (EqualsIgnoreCase(settings_.backType, "None") ? backNone_ : backDefault_)->setChecked(true);

    const TextViewSettings& tv = settings_.textView;
    printPage_->setChecked(tv.printPage);
    tabSize_->setValue(tv.tabSize);
    sampleFont_ = tv.fontName;
    sampleSize_ = tv.fontSize;
    sampleFore_ = tv.fontFore;
    sampleBack_ = tv.fontBack;
    UpdateSample();
    QStringList families;
    for (const QString& family : QFontDatabase::families())
        if (QFontDatabase::isFixedPitch(family))
            families << family;
    // A stored face this system lacks shows as the face the viewer really
    // uses; the stored name stays until the user picks another.
    const QString current = FontFamilyInUse(tv.fontName);
    if (!families.contains(current))
        families << current;
    families.sort(Qt::CaseInsensitive);
    fontList_->addItems(families);
    fontList_->setCurrentIndex(int(families.indexOf(current)));
    FillColorList(foreColor_, tv.fontFore);
    FillColorList(backColor_, tv.fontBack);
    fontSize_->setValue(std::abs(tv.fontSize));

    showBigSize_->setChecked(settings_.ShowBigSize);
    showSupported_->setChecked(settings_.ShowSupported);
    showAttrs_->setChecked(settings_.ShowAttrs);
    showListHints_->setChecked(settings_.ShowListHints);
    fastZipMove_->setChecked(settings_.FastZipMove);
    commanderKeys_->setChecked(settings_.CommanderKeys);
    functionKeyBar_->setChecked(settings_.FunctionKeyBar);
    useAsyncShell_->setChecked(settings_.UseAsyncShell);
    queuePerVolume_->setChecked(settings_.QueuePerVolume);
    descriptionsFollow_->setChecked(settings_.DescriptionsFollow);
    confirmCopyTarget_->setChecked(settings_.ConfirmCopyTarget);
    keepPlaces_->setChecked(settings_.KeepPlaces);

    internalList_->clear();
    textList_->clear();
    for (const ViewerExtension& e : extensions_.Entries())
        AddExtLine(e.BuiltIn ? internalList_ : textList_, e.Ext, e.Enabled);

    previews_ = true;

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        adjustSize();
        move(screen->availableGeometry().center() - rect().center());
    }
}

QWidget* TDlgConfigure::HotKeysPage()
{
    QVBoxLayout* layout;
    QWidget* page = NewPage("Set your own defined hot-keys", layout);
    auto* grid = new QGridLayout;
    const char* const labels[] = {"application restore, resume and hide", "full screen viewer", "viewer on/off",
                                  "ESCAPE key"};
    for (int n = 0; n < 4; ++n) {
        auto* edit = new HotKeyEdit(page);
        edit->setObjectName(QString("HotKey%1").arg(n + 1));
        auto* label = new QLabel(labels[n], page);
        label->setBuddy(edit);
        grid->addWidget(edit, n, 0);
        grid->addWidget(label, n, 1);
        hotKeys_[size_t(n)] = edit;
    }
    layout->addLayout(grid);
    // Choosing them moves the viewer's two keys out of the way, and back;
    // keys the user picked himself stay.
    commanderKeys_ = NewCheck(page, "commander keys: F6 moves, F7 makes a folder (the viewer keys move to F11 and Ctrl+Q)",
                              "CBCommanderKeys", false);
    connect(commanderKeys_, &QCheckBox::toggled, this, [this](bool on) {
        if (!previews_)
            return;
        const auto from = on ? DefaultHotKeys() : CommanderHotKeys();
        const auto to = on ? CommanderHotKeys() : DefaultHotKeys();
        for (size_t n : {size_t(1), size_t(2)})
            if (hotKeys_[n]->KeyCombination() == ToQtKey(from[n]))
                hotKeys_[n]->SetKeyCombination(ToQtKey(to[n]));
    });
    layout->addWidget(commanderKeys_);
    layout->addStretch();
    return page;
}

QWidget* TDlgConfigure::QuittingPage()
{
    QVBoxLayout* layout;
    QWidget* page = NewPage("What to do when the close button is pressed", layout);
    quitGroup_ = new QButtonGroup(page);
    const char* const texts[] = {"ask for confirmation",
                                 "do nothing (ignore quit request and do not ask for confirmation)",
                                 "always quit without confirmation", "always minimize without confirmation"};
    for (int type = 0; type < 4; ++type) {
        auto* radio = new QRadioButton(texts[type], page);
        radio->setObjectName(QString("RBQuit%1").arg(type));
        quitGroup_->addButton(radio, type);
        layout->addWidget(radio);
    }
    layout->addStretch();
    return page;
}

QWidget* TDlgConfigure::FileListsPage()
{
    QVBoxLayout* layout;
    QWidget* page = NewPage("Set options specific to file lists", layout);
    showBigSize_ = NewCheck(page, "show allocated disk space for directories", "CBShowBigSize", false);
    showSupported_ = NewCheck(page, "show icon for files supported by internal viewer", "CBShowSupported", false);
    showAttrs_ = NewCheck(page, "show icons for file attributes", "CBShowAttrs", false);
    showListHints_ = NewCheck(page, "show hints", "CBShowListHints", false);
    for (QCheckBox* box : {showBigSize_, showSupported_, showAttrs_, showListHints_})
        layout->addWidget(box);
    layout->addStretch();
    return page;
}

QWidget* TDlgConfigure::ViewerPage()
{
    QVBoxLayout* layout;
    QWidget* page = NewPage("Configure extensions for use with internal viewer", layout);
    auto* grid = new QGridLayout;
    auto* internalLabel = new QLabel("View with internal viewer:", page);
    internalList_ = new QListWidget(page);
    internalList_->setObjectName("LBInternal");
    internalLabel->setBuddy(internalList_);
    auto* textLabel = new QLabel("View as text:", page);
    textList_ = new QListWidget(page);
    textList_->setObjectName("LBText");
    textList_->setSelectionMode(QAbstractItemView::SingleSelection);
    textLabel->setBuddy(textList_);
    grid->addWidget(internalLabel, 0, 0);
    grid->addWidget(internalList_, 1, 0);
    grid->addWidget(textLabel, 0, 1);
    grid->addWidget(textList_, 1, 1);

    auto* buttons = new QHBoxLayout;
    auto* add = new QPushButton("Add", page);
    add->setObjectName("BtnAdd");
    add->setAutoDefault(false);
    connect(add, &QPushButton::clicked, this, &TDlgConfigure::AddExtension);
    auto* remove = new QPushButton("Remove", page);
    remove->setObjectName("BtnRemove");
    remove->setAutoDefault(false);
    connect(remove, &QPushButton::clicked, this, &TDlgConfigure::RemoveExtension);
    buttons->addWidget(add);
    buttons->addWidget(remove);
    grid->addLayout(buttons, 2, 1);
    layout->addLayout(grid);
    return page;
}

QWidget* TDlgConfigure::TextViewerPage()
{
    QVBoxLayout* layout;
    QWidget* page = NewPage("Configure viewer appearance", layout);
    auto* grid = new QGridLayout;
    int row = 0;
    auto addRow = [&](const char* caption, QWidget* control) {
        auto* label = new QLabel(caption, page);
        label->setBuddy(control);
        grid->addWidget(label, row, 0);
        grid->addWidget(control, row, 1);
        ++row;
    };
    fontList_ = new QComboBox(page);
    fontList_->setObjectName("CBFont");
    addRow("Font:", fontList_);
    fontSize_ = StepOnlySpin(page, "SESize", 4, 24);
    addRow("Size:", fontSize_);
    foreColor_ = new QComboBox(page);
    foreColor_->setObjectName("CBForeColor");
    addRow("Foreground color:", foreColor_);
    backColor_ = new QComboBox(page);
    backColor_->setObjectName("CBBackColor");
    addRow("Background color:", backColor_);
    tabSize_ = StepOnlySpin(page, "SETabSize", 0, 20);
    addRow("Tab size:", tabSize_);
    printPage_ = NewCheck(page, "print page number", "CBPrintPage", false);
    grid->addWidget(printPage_, row++, 0, 1, 2);

    sample_ = new QLabel(QString(kSampleLines[0]) + "\n" + kSampleLines[1] + "\n" + kSampleLines[2] + "\n" +
                             kSampleLines[3],
                         page);
    sample_->setObjectName("Sample");
    sample_->setAutoFillBackground(true);
    sample_->setFrameShape(QFrame::Panel);
    sample_->setFrameShadow(QFrame::Sunken);
    sample_->setMargin(4);
    grid->addWidget(sample_, 0, 2, row, 1);
    grid->setColumnStretch(2, 1);
    layout->addLayout(grid);
    layout->addStretch();

    connect(fontList_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!previews_ || index < 0)
            return;
        sampleFont_ = fontList_->itemText(index).toStdString();
        UpdateSample();
    });
    connect(fontSize_, &QSpinBox::valueChanged, this, [this](int size) {
        if (!previews_)
            return;
        sampleSize_ = size;
        UpdateSample();
    });
    connect(foreColor_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!previews_ || index < 0)
            return;
        sampleFore_ = foreColor_->itemData(index).toUInt();
        UpdateSample();
    });
    connect(backColor_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!previews_ || index < 0)
            return;
        sampleBack_ = backColor_->itemData(index).toUInt();
        UpdateSample();
    });
    return page;
}

QWidget* TDlgConfigure::AdvancedPage()
{
    QVBoxLayout* layout;
    QWidget* page = NewPage("Set advanced options for experienced users", layout);
    autostart_ = NewCheck(page, "Auto load Tarnel at &startup", "CBAutostart", false);
    fastZipMove_ = NewCheck(page, "Do not ask confirmation when moving from ZIP files", "CBFastZipMove", false);
    useAsyncShell_ = NewCheck(page,
                              "Use asynchronous shell operations on file MOVE and COPY to keep on working while "
                              "they take place",
                              "CBUseAsyncShell", false);
    queuePerVolume_ = NewCheck(page, "Copies and moves onto the same disk wait for each other instead of running together",
                               "CBQueuePerVolume", false);
    descriptionsFollow_ = NewCheck(page, "Descriptions follow their files when they are copied, moved, renamed or deleted",
                                   "CBDescriptionsFollow", true);
    confirmCopyTarget_ = NewCheck(page, "Confirm the target of copy and move", "CBConfirmCopyTarget", false);
    keepPlaces_ = NewCheck(page, "Start with the panes where they were left", "CBKeepPlaces", false);
    for (QCheckBox* box :
         {autostart_, fastZipMove_, useAsyncShell_, queuePerVolume_, descriptionsFollow_, confirmCopyTarget_, keepPlaces_})
        layout->addWidget(box);
    layout->addStretch();
    return page;
}

QWidget* TDlgConfigure::AppearancePage()
{
    QVBoxLayout* layout;
    QWidget* page = NewPage("Customize Tarnel's appearance", layout);
    layout->addWidget(new QLabel("Coolbar background", page));
    backDefault_ = new QRadioButton("Default", page);
    backDefault_->setObjectName("RBDefault");
    backNone_ = new QRadioButton("None", page);
    backNone_->setObjectName("RBNone");
    connect(backDefault_, &QRadioButton::clicked, this, [this] { ChooseBackground("Default"); });
    connect(backNone_, &QRadioButton::clicked, this, [this] { ChooseBackground("None"); });
    layout->addWidget(backDefault_);
    layout->addWidget(backNone_);
    functionKeyBar_ = NewCheck(page, "show the function key bar under the panes", "CBFunctionKeyBar", false);
    layout->addWidget(functionKeyBar_);
    layout->addStretch();
    return page;
}

void TDlgConfigure::UpdateSample()
{
    const QFont font = TextViewFont(sampleFont_, sampleSize_, sample_->logicalDpiY());
    sample_->setFont(font);
    QPalette palette = sample_->palette();
    palette.setColor(QPalette::WindowText, FromBgr(sampleFore_));
    palette.setColor(QPalette::Window, FromBgr(sampleBack_));
    sample_->setPalette(palette);
}

void TDlgConfigure::ChooseBackground(const char* backType)
{
    if (previews_ && hooks_.applyBackType)
        hooks_.applyBackType(backType);
}

void TDlgConfigure::AddExtension()
{
    if (extensions_.Entries().size() >= ViewerExtensionTable::kMaxEntries)
        return;
    bool confirmed = false;
    const QString typed =
        QInputDialog::getText(this, "View as text", "Custom extension:", QLineEdit::Normal, {}, &confirmed);
    if (!confirmed)
        return;
    QString ext = typed.startsWith('.') ? typed : "." + typed;
    // The table keeps 9 bytes; the line shows the same, so that OK finds
    // the entry again instead of dropping it.
    const std::string stored = CutUtf8(ext.toUpper().toStdString(), 9);
    if (!extensions_.Add(stored))
        return;
    AddExtLine(textList_, extensions_.Entries().back().Ext, true);
}

void TDlgConfigure::RemoveExtension()
{
    // Only a line the user picked: focus alone gives the list a current row.
    const QList<QListWidgetItem*> selected = textList_->selectedItems();
    if (!selected.isEmpty())
        delete selected.first();
}

void TDlgConfigure::Ok()
{
    SetAutostart(autostart_->isChecked(), hooks_.programPath.empty()
                                              ? QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString()
                                              : hooks_.programPath);

    for (int i = 0; i < internalList_->count(); ++i) {
        const QListWidgetItem* line = internalList_->item(i);
        if (ViewerExtension* e = FindExt(extensions_, line->text().toStdString()))
            e->Enabled = line->checkState() == Qt::Checked;
    }
    std::vector<std::string> textLines;
    for (int i = 0; i < textList_->count(); ++i) {
        const QListWidgetItem* line = textList_->item(i);
        const std::string ext = line->text().toStdString();
        textLines.push_back(ext);
        ViewerExtension* e = FindExt(extensions_, ext);
        if (!e && extensions_.Entries().size() < ViewerExtensionTable::kMaxEntries) {
            extensions_.Entries().push_back({CutUtf8(ext, 9), false, false});
            e = &extensions_.Entries().back();
        }
        if (e)
            e->Enabled = line->checkState() == Qt::Checked;
    }
    std::erase_if(extensions_.Entries(), [&](const ViewerExtension& e) {
        return !e.BuiltIn && std::none_of(textLines.begin(), textLines.end(),
                                          [&](const std::string& line) { return EqualsIgnoreCase(line, e.Ext); });
    });

    TextViewSettings& tv = settings_.textView;
    tv.printPage = printPage_->isChecked();
    tv.tabSize = tabSize_->value();
    tv.fontName = sampleFont_;
    tv.fontSize = sampleSize_;
    tv.fontFore = sampleFore_;
    tv.fontBack = sampleBack_;

    const bool listsChanged = settings_.ShowSupported != showSupported_->isChecked() ||
                              settings_.ShowBigSize != showBigSize_->isChecked() ||
                              settings_.ShowAttrs != showAttrs_->isChecked();
    settings_.ShowListHints = showListHints_->isChecked();
    settings_.ShowBigSize = showBigSize_->isChecked();
    settings_.ShowSupported = showSupported_->isChecked();
    settings_.ShowAttrs = showAttrs_->isChecked();
    settings_.FastZipMove = fastZipMove_->isChecked();
    settings_.UseAsyncShell = useAsyncShell_->isChecked();
    settings_.QueuePerVolume = queuePerVolume_->isChecked();
    settings_.DescriptionsFollow = descriptionsFollow_->isChecked();
    settings_.CommanderKeys = commanderKeys_->isChecked();
    settings_.FunctionKeyBar = functionKeyBar_->isChecked();
    settings_.ConfirmCopyTarget = confirmCopyTarget_->isChecked();
    settings_.KeepPlaces = keepPlaces_->isChecked();
    settings_.backType = backNone_->isChecked() ? "None" : "Default";
    if (listsChanged && hooks_.redrawLists)
        hooks_.redrawLists();

    accept();
}

void TDlgConfigure::reject()
{
    if (hooks_.applyBackType)
        hooks_.applyBackType(settings_.backType);
    QDialog::reject();
}

void TDlgConfigure::SetHotKeys(const std::array<HotKeyDefinition, 4>& keys)
{
    for (size_t n = 0; n < keys.size(); ++n)
        hotKeys_[n]->SetKeyCombination(ToQtKey(keys[n]));
}

std::array<HotKeyDefinition, 4> TDlgConfigure::EditedHotKeys(std::array<HotKeyDefinition, 4> current) const
{
    for (size_t n = 0; n < current.size(); ++n) {
        const HotKeyDefinition typed = FromQtKey(hotKeys_[n]->KeyCombination());
        current[n].keyCode = typed.keyCode & 0xFF;
        current[n].modifiers = typed.modifiers;
    }
    return current;
}

void TDlgConfigure::SetQuitType(int quitType)
{
    if (QAbstractButton* radio = quitGroup_->button(quitType))
        radio->setChecked(true);
}

int TDlgConfigure::CheckedQuitType() const { return quitGroup_->checkedId(); }

int TDlgConfigure::RunConfigure(AppSettings& settings, ViewerExtensionTable& extensions, const ConfigureHooks& hooks,
                                QWidget* parent, const std::function<int(TDlgConfigure&)>& run)
{
    auto currentHotKeys = [&] {
        std::array<HotKeyDefinition, 4> keys = settings.hotKeys;
        if (hooks.getHotKey)
            for (int n = 0; n < 4; ++n)
                keys[size_t(n)] = hooks.getHotKey(n);
        return keys;
    };
    TDlgConfigure dialog(settings, extensions, hooks, parent);
    dialog.SetHotKeys(currentHotKeys());

    // Off while open, so that they can be typed into the edits; on again
    // however the dialog ends, which registers the definitions now in place.
    struct HotKeysOff {
        const ConfigureHooks& hooks;
        explicit HotKeysOff(const ConfigureHooks& h) : hooks(h)
        {
            if (hooks.setHotKeysActive)
                hooks.setHotKeysActive(false);
        }
        ~HotKeysOff()
        {
            if (hooks.setHotKeysActive)
                hooks.setHotKeysActive(true);
        }
    } off(hooks);

    dialog.SetQuitType(settings.QuitType);
    dialog.Pages()->setCurrentIndex(0);
    const int result = run ? run(dialog) : dialog.exec();
    if (result != QDialog::Accepted)
        return result;

    if (dialog.CheckedQuitType() >= 0)
        settings.QuitType = dialog.CheckedQuitType();
    // Read again: the enabled flags may have moved while the dialog was open.
    const std::array<HotKeyDefinition, 4> edited = dialog.EditedHotKeys(currentHotKeys());
    for (int n = 0; n < 4; ++n) {
        settings.hotKeys[size_t(n)] = edited[size_t(n)];
        if (hooks.setHotKey)
            hooks.setHotKey(n, edited[size_t(n)]);
    }
    if (hooks.showHotKeyHints)
        hooks.showHotKeyHints();
    return result;
}

} // namespace tarnel
