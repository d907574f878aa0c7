#include "viewer/TextPage.h"

#include "viewer/TextFont.h"
#include "viewer/TextView.h"
#include "viewer/model/RemoteReader.h"

#include <QAction>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace tarnel {

QColor ColorFromSetting(uint32_t value, const QPalette& palette)
{
    if (value & 0x80000000u) {
        switch (value & 0xFF) {
        case 5: // window
            return palette.color(QPalette::Base);
        case 8: // window text
            return palette.color(QPalette::WindowText);
        case 15: // button face
            return palette.color(QPalette::Button);
        default:
            return palette.color(QPalette::Window);
        }
    }
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

TextPage::TextPage(QWidget* parent) : QObject(parent)
{
    page_ = new QWidget(parent);
    page_->setObjectName("text");
    VWText = new TTextView(page_);
    VWText->setObjectName("VWText");
    CBTextViewMode = new QComboBox(page_);
    CBTextViewMode->setObjectName("CBTextViewMode");
    CBTextViewMode->addItems({"Normal", "Wrapped", "Hex dump"});
    CBTextViewMode->setCurrentIndex(-1);
    auto button = [this](const char* name, const QString& text, const QString& tip) {
        auto* b = new QPushButton(text, page_);
        b->setObjectName(name);
        b->setToolTip(tip);
        b->setFocusPolicy(Qt::NoFocus);
        return b;
    };
    VWTextFind = button("VWTextFind", "Find", "Search the file");
    VWTextCopy = button("VWTextCopy", "Copy", "Copy the selected text to the clipboard");
    VWTextPrint = button("VWTextPrint", "Print", "Print the selected lines");
    VWTextEdit = button("VWTextEdit", "Edit", "Edit the file");
    Position = new QLabel(page_);
    Position->setObjectName("TextPosition");

    auto* tools = new QHBoxLayout;
    tools->setContentsMargins(2, 2, 2, 2);
    tools->addWidget(CBTextViewMode);
    for (QPushButton* b : {VWTextFind, VWTextCopy, VWTextPrint, VWTextEdit})
        tools->addWidget(b);
    tools->addWidget(Position, 1);
    auto* layout = new QVBoxLayout(page_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(tools);
    layout->addWidget(VWText, 1);

    Copytoclipboard1 = new QAction("Copy to clipboard", this);
    Print1 = new QAction("Print", this);
    Search1 = new QAction("Search", this);

    connect(CBTextViewMode, &QComboBox::currentIndexChanged, this, &TextPage::CBTextViewModeChange);
    connect(VWText, &TTextView::ScrollXY, this, &TextPage::VWTextScrollXY);
    connect(VWTextFind, &QPushButton::clicked, this, &TextPage::VWTextFindClick);
    connect(Search1, &QAction::triggered, this, &TextPage::VWTextFindClick);
    connect(VWTextCopy, &QPushButton::clicked, VWText, &TTextView::CopySelection);
    connect(Copytoclipboard1, &QAction::triggered, VWText, &TTextView::CopySelection);
    connect(VWTextPrint, &QPushButton::clicked, VWText, &TTextView::PrintSelection);
    connect(Print1, &QAction::triggered, VWText, &TTextView::PrintSelection);
    connect(VWTextEdit, &QPushButton::clicked, VWText, [this] { VWText->EditFile(); });

    ApplySettings(settings_);
    VWTextScrollXY(0, 0, 0, 0);
}

TextPage::~TextPage()
{
    // The host's notebook owns the page once it holds it.
    if (page_ && !page_->parent())
        delete page_;
}

void TextPage::FillViewerMenu(QMenu* menu) const
{
    for (QAction* action : ViewerMenuActions())
        menu->addAction(action);
}

ViewerPage::Reading TextPage::ReadFile(const std::string& path)
{
    return [this, path] {
        // Opened here with its start (a usual text whole): the view reads
        // nothing before its first screen, and only past that start later.
        // A remote file is read by ranges from its server.
        auto opened = std::make_shared<TextFile>();
        auto failure = std::make_shared<std::string>();
        OpenForViewing(*opened, path, TTextView::kReadWithOpenBytes, *failure);
        return Showing([this, path, opened, failure] {
            if (CBTextViewMode->currentIndex() < 0) {
                // The view keeps its mode; the box only shows one.
                const QSignalBlocker block(CBTextViewMode);
                CBTextViewMode->setCurrentIndex(0);
            }
            VWText->ShowOpenedFile(path, *opened, *failure);
        });
    };
}

void TextPage::ClearPage() { VWText->SetActive(false); }

void TextPage::ApplySettings(const TextViewSettings& settings)
{
    settings_ = settings;
    VWText->SetTextFont(TextViewFont(settings.fontName, settings.fontSize, VWText->logicalDpiY()));
    VWText->SetTextColor(ColorFromSetting(settings.fontFore, VWText->palette()));
    VWText->SetBackColor(ColorFromSetting(settings.fontBack, VWText->palette()));
    // An out-of-range value is told and not taken, as when typed.
    if (settings.tabSize != VWText->Tab())
        VWText->SetTab(settings.tabSize);
    VWText->SetPrintPageNum(settings.printPage);
}

TextViewSettings TextPage::Settings() const
{
    TextViewSettings settings = settings_;
    settings.tabSize = VWText->Tab();
    settings.printPage = VWText->PrintPageNum();
    return settings;
}

void TextPage::CBTextViewModeChange(int index)
{
    if (index >= 0)
        VWText->SetViewMode(Mymodes(index));
}

void TextPage::VWTextScrollXY(qint64 x, qint64 y, qint64 maxX, qint64 maxY)
{
    Position->setText(QString::asprintf("Line %lld/%lld:%lld/%lld", static_cast<long long>(x),
                                        static_cast<long long>(maxX), static_cast<long long>(y),
                                        static_cast<long long>(maxY)));
}

// The window opens with "UPPERCASE=lowercase" ticked: the case flag is
// "match case", and the check box is its opposite.
void TextPage::VWTextFindClick()
{
    VWText->ShowSearch(QString::fromStdString(VWText->LastSearchText), false);
}

} // namespace tarnel
