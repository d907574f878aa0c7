#include "tools/DlgId3.h"

#include "app/UserMessages.h"
#include "panes/DirData.h"
#include "panes/PathUtil.h"
#include "tools/ToolSettings.h"
#include "tools/ToolText.h"
#include "tools/model/Id3Tag.h"
#include "tools/model/PaneFiles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cstring>

namespace tarnel {

namespace {

constexpr const char kWidthKey[] = "DlgId3";
constexpr std::array<const char*, TDlgId3::ColumnCount> kCaptions = {
    "File name", "Title", "Artist", "Album", "Year", "Genre", "Comment"};
constexpr std::array<const char*, TDlgId3::ColumnCount> kWidthNames = {
    "FileNameWidth", "TitleWidth", "ArtistWidth", "AlbumWidth", "YearWidth", "GenreWidth", "CommentWidth"};
constexpr std::array<const char*, TDlgId3::ColumnCount> kFieldNames = {
    "", "EDTitle", "EDArtist", "EDAlbum", "EDYear", "CBGenre", "EDComment"};

QString FromTag(const std::string& bytes) { return QString::fromLatin1(QByteArray::fromStdString(bytes)); }

std::string ToTag(const QString& text)
{
    const QList<uint> ucs4 = text.toUcs4();
    return EncodeLatin1(std::u32string(ucs4.begin(), ucs4.end()));
}

} // namespace

TDlgId3::TDlgId3(UserMessages& messages, Registry* registry, QWidget* parent)
    : QDialog(parent)
    , messages_(messages)
    , registry_(registry)
{
    setWindowTitle("ID3 manager");
    setObjectName("DlgId3");
    grid_ = new QTableWidget(1, ColumnCount, this);
    grid_->setObjectName("SGFiles");
    for (int c = 0; c < ColumnCount; ++c) {
        grid_->setHorizontalHeaderItem(c, new QTableWidgetItem(kCaptions[size_t(c)]));
        int width = 0;
        if (ReadToolInteger(registry_, kWidthKey, kWidthNames[size_t(c)], width) && width > 0)
            grid_->setColumnWidth(c, width);
    }
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    grid_->verticalHeader()->hide();
    grid_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 3);

    auto* fieldsGrid = new QGridLayout;
    for (int c = Title; c < ColumnCount; ++c) {
        const auto column = Column(c);
        QWidget* editor = nullptr;
        if (column == Genre) {
            genre_ = new QComboBox(this);
            genre_->addItem(QString());
            QStringList names;
            for (const char* name : Id3GenreNames())
                names << QString::fromLatin1(name);
            names.sort(Qt::CaseInsensitive);
            genre_->addItems(names);
            connect(genre_, &QComboBox::currentTextChanged, this, [this](const QString& t) { FieldChanged(Genre, t); });
            editor = genre_;
        } else {
            auto* edit = new QLineEdit(this);
            edit->setMaxLength(column == Year ? int(kId3YearLength) : int(kId3TextLength));
            if (column == Year)
                edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9 ]{0,4}"), edit));
            connect(edit, &QLineEdit::textChanged, this, [this, column](const QString& t) { FieldChanged(column, t); });
            fields_[size_t(c)] = edit;
            editor = edit;
        }
        editor->setObjectName(kFieldNames[size_t(c)]);
        auto* box = new QCheckBox("Fixed " + QString(kCaptions[size_t(c)]).toLower(), this);
        fixed_[size_t(c)] = box;
        fieldsGrid->addWidget(new QLabel(kCaptions[size_t(c)], this), 0, c - 1);
        fieldsGrid->addWidget(editor, 1, c - 1);
        fieldsGrid->addWidget(box, 2, c - 1);
    }

    advanced_ = new QPushButton("advanced", this);
    advanced_->setCheckable(true);
    connect(advanced_, &QPushButton::clicked, this, &TDlgId3::BTNAdvancedClick);
    advancedRow_ = new QWidget(this);
    auto* guess = new QPushButton("Guess titles", advancedRow_);
    connect(guess, &QPushButton::clicked, this, &TDlgId3::BTNGuessTitlesClick);
    onlyEmpty_ = new QCheckBox("Only empy titles", advancedRow_);
    underscores_ = new QCheckBox("Substitute underscores", advancedRow_);
    removeExtension_ = new QCheckBox("Remove extension", advancedRow_);
    auto* advancedLayout = new QHBoxLayout(advancedRow_);
    advancedLayout->setContentsMargins(0, 0, 0, 0);
    advancedLayout->addWidget(guess);
    for (QCheckBox* box : {onlyEmpty_, underscores_, removeExtension_}) {
        box->setChecked(true);
        advancedLayout->addWidget(box);
    }
    advancedLayout->addStretch();
    advancedRow_->hide();

    apply_ = new QPushButton("Apply changes", this);
    undo_ = new QPushButton("Undo changes", this);
    auto* close = new QPushButton("Close", this);
    apply_->setEnabled(false);
    undo_->setEnabled(false);
    connect(apply_, &QPushButton::clicked, this, &TDlgId3::BTNApplyClick);
    connect(undo_, &QPushButton::clicked, this, &TDlgId3::BTNUndoClick);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(advanced_);
    buttons->addStretch();
    buttons->addWidget(apply_);
    buttons->addWidget(undo_);
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(grid_, 1);
    layout->addLayout(fieldsGrid);
    layout->addWidget(advancedRow_);
    layout->addLayout(buttons);
    resize(760, 460);

    connect(grid_, &QTableWidget::currentCellChanged, this, [this](int row) {
        if (!loading_ && row >= 0)
            SGFilesClick(row);
    });
    RestoreToolPlacement(registry_, "Id3Form", *this);
}

TDlgId3::~TDlgId3()
{
    for (int c = 0; c < ColumnCount; ++c)
        WriteToolInteger(registry_, kWidthKey, kWidthNames[size_t(c)], grid_->columnWidth(c));
    SaveToolPlacement(registry_, "Id3Form", *this);
}

void TDlgId3::OpenForPane(const TDirData& pane, std::function<void()> reread)
{
    loading_ = true;
    reread_ = std::move(reread);
    paths_.clear();
    names_.clear();
    for (const std::string& path : SelectedOrAllFilePaths(pane)) {
        if (HasMp3Extension(path)) {
            names_.push_back(path.substr(path.rfind('/') + 1));
            paths_.push_back(path);
        }
    }
    FillGrid();
    // A column that holds one text in every row starts fixed; the title never does.
    for (int c = Artist; c < ColumnCount; ++c) {
        bool same = true;
        for (int r = 1; r < grid_->rowCount() && same; ++r)
            same = Cell(r, Column(c)) == Cell(r - 1, Column(c));
        if (same)
            fixed_[size_t(c)]->setChecked(true);
    }
    loading_ = false;
}

QString TDlgId3::Cell(int row, Column column) const
{
    const QTableWidgetItem* item = grid_->item(row, column);
    return item ? item->text() : QString();
}

void TDlgId3::SetCell(int row, Column column, const QString& text)
{
    if (QTableWidgetItem* item = grid_->item(row, column))
        item->setText(text);
    else
        grid_->setItem(row, column, new QTableWidgetItem(text));
}

void TDlgId3::FillGrid()
{
    const bool wasLoading = loading_;
    loading_ = true; // what the grid shows after a fill is no edit
    grid_->clearContents();
    grid_->setRowCount(paths_.empty() ? 1 : int(paths_.size()));
    if (paths_.empty())
        SetCell(0, FileName, "No file");
    readCells_.assign(paths_.size(), {});
    readTracks_.assign(paths_.size(), 0);
    for (size_t i = 0; i < paths_.size(); ++i) {
        const int r = int(i);
        SetCell(r, FileName, DisplayName(names_[i]));
        for (int c = Title; c < ColumnCount; ++c)
            SetCell(r, Column(c), QString());
        const std::optional<Id3Tag> tag = ReadId3Tag(paths_[i]);
        if (!tag)
            continue;
        SetCell(r, Title, FromTag(tag->title));
        SetCell(r, Artist, FromTag(tag->artist));
        SetCell(r, Album, FromTag(tag->album));
        SetCell(r, Year, FromTag(tag->year));
        SetCell(r, Genre, QString::fromLatin1(Id3GenreName(tag->genre)));
        SetCell(r, Comment, FromTag(tag->comment));
        readTracks_[i] = tag->track;
    }
    for (size_t i = 0; i < paths_.size(); ++i)
        for (int c = 0; c < ColumnCount; ++c)
            readCells_[i][size_t(c)] = Cell(int(i), Column(c));
    grid_->setCurrentCell(0, 0);
    ShowRow(0);
    loading_ = wasLoading;
}

void TDlgId3::ShowRow(int row)
{
    currentRow_ = row;
    const bool any = !paths_.empty();
    for (int c = Title; c < ColumnCount; ++c) {
        QWidget* editor = c == Genre ? static_cast<QWidget*>(genre_) : fields_[size_t(c)];
        editor->setEnabled(any);
        if (c == Genre) {
            // The list entry of the cell's genre: letter case follows the list,
            // a name not in it selects the empty item.
            const QString name = QString::fromLatin1(Id3GenreName(Id3GenreNumber(ToTag(Cell(row, Genre)))));
            genre_->setCurrentIndex(std::max(0, genre_->findText(name, Qt::MatchFixedString | Qt::MatchCaseSensitive)));
        } else {
            fields_[size_t(c)]->setText(Cell(row, Column(c)));
        }
    }
}

void TDlgId3::SGFilesClick(int row) { ShowRow(row); }

void TDlgId3::FieldChanged(Column column, const QString& text)
{
    if (loading_ || paths_.empty())
        return;
    SetCell(currentRow_, column, text);
    if (fixed_[size_t(column)]->isChecked())
        for (int r = 0; r < grid_->rowCount(); ++r)
            SetCell(r, column, text);
    EnableChangeButtons();
}

void TDlgId3::EnableChangeButtons()
{
    apply_->setEnabled(!paths_.empty());
    undo_->setEnabled(!paths_.empty());
}

void TDlgId3::BTNGuessTitlesClick()
{
    for (size_t i = 0; i < paths_.size(); ++i) {
        const int r = int(i);
        if (onlyEmpty_->isChecked() && !Cell(r, Title).isEmpty())
            continue;
        std::string name = names_[i];
        if (removeExtension_->isChecked() && HasMp3Extension(name))
            name.resize(name.size() - 4);
        if (underscores_->isChecked())
            name = ReplaceChar(name, '_', ' ');
        SetCell(r, Title, QFile::decodeName(QByteArray::fromStdString(name)));
    }
    EnableChangeButtons();
    const bool wasLoading = loading_;
    loading_ = true;
    ShowRow(currentRow_);
    loading_ = wasLoading;
}

void TDlgId3::BTNApplyClick()
{
    {
        HourglassScope hourglass;
        for (size_t i = 0; i < paths_.size(); ++i) {
            const int r = int(i);
            bool edited = false;
            for (int c = Title; c < ColumnCount && !edited; ++c)
                edited = Cell(r, Column(c)) != readCells_[i][size_t(c)];
            if (!edited)
                continue;
            Id3Tag tag;
            tag.title = ToTag(Cell(r, Title));
            tag.artist = ToTag(Cell(r, Artist));
            tag.album = ToTag(Cell(r, Album));
            tag.year = ToTag(Cell(r, Year));
            tag.comment = ToTag(Cell(r, Comment));
            tag.genre = Id3GenreNumber(ToTag(Cell(r, Genre)));
            tag.track = readTracks_[i];
            const Id3WriteResult result = WriteId3Tag(paths_[i], tag);
            if (result.Ok())
                continue;
            if (result.status == Id3WriteResult::Status::WriteFailed)
                messages_.Error("Error: " + QString::fromLocal8Bit(std::strerror(result.error)));
            messages_.Warning("An error occurred storing the ID3 TAG for\n" + DisplayName(names_[i]));
        }
    }
    if (reread_)
        reread_();
    FillGrid();
    apply_->setEnabled(false);
    undo_->setEnabled(false);
}

void TDlgId3::BTNUndoClick()
{
    FillGrid();
    apply_->setEnabled(false);
    undo_->setEnabled(false);
}

void TDlgId3::BTNAdvancedClick() { advancedRow_->setVisible(advanced_->isChecked()); }

} // namespace tarnel
