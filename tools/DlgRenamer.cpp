#include "tools/DlgRenamer.h"

#include "app/UserMessages.h"
#include "descriptions/DescriptionFollow.h"
#include "panes/DirData.h"
#include "panes/PathUtil.h"
#include "platform/FileSystem.h"
#include "platform/ShellFileOperation.h"
#include "tools/ToolSettings.h"
#include "tools/model/PaneFiles.h"
#include "tools/ToolText.h"

#include <QAbstractTableModel>
#include <QCheckBox>
#include <QEvent>
#include <QFile>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <unordered_map>

namespace tarnel {

// The lines as two columns: old name, new name (blank once renamed).
class RenameLinesModel : public QAbstractTableModel {
public:
    RenameLinesModel(const std::vector<RenameLine>& lines, QObject* parent)
        : QAbstractTableModel(parent)
        , lines_(lines)
    {
    }
    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(lines_.size()); }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 2; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid() || size_t(index.row()) >= lines_.size())
            return {};
        const RenameLine& line = lines_[size_t(index.row())];
        return DisplayName(index.column() == 0 ? line.oldName : line.newName);
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        return section == 0 ? "Matching files" : "New name";
    }
    void Reset()
    {
        beginResetModel();
        endResetModel();
    }

private:
    const std::vector<RenameLine>& lines_;
};

namespace {

// Each cell cut to its column with "..." appended.
class CutLineDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const int margin = 2 * 4;
        option->text = CutToWidth(option->text, option->fontMetrics, option->rect.width() - margin);
        option->textElideMode = Qt::ElideNone;
    }
};

// The engine's questions, answered without a box: a rename the file system
// refuses stays in its line for the next pass.
class QuietRenameUi : public OperationUi {
public:
    ReplaceAnswer AskReplace(const std::string&) override { return ReplaceAnswer::No; }
    ErrorAnswer AskError(const std::string&, const std::string&, int) override { return ErrorAnswer::Skip; }
    bool ConfirmTrash(size_t) override { return false; }
    DeleteAnswer AskDeletePermanently(const std::string&) override { return DeleteAnswer::No; }
    void Refused(const std::string&) override {}
    bool Progress(uint64_t, uint64_t, uint64_t, uint64_t, const std::string&) override { return true; }
};

std::string Typed(const QString& text) { return QFile::encodeName(text).toStdString(); }

bool IsValidUtf8(const std::string& bytes)
{
    const QByteArray raw = QByteArray::fromStdString(bytes);
    return QString::fromUtf8(raw).toUtf8() == raw;
}

// Letters beyond ASCII change case too when the name is readable text.
std::string LowerName(std::string_view name)
{
    const std::string bytes(name);
    if (IsValidUtf8(bytes))
        return QString::fromUtf8(QByteArray::fromStdString(bytes)).toLower().toUtf8().toStdString();
    std::string out = bytes;
    for (char& c : out)
        c = LowerAsciiChar(c);
    return out;
}

} // namespace

TDlgRenamer::TDlgRenamer(TDirData& pane, std::function<void()> reread, UserMessages& messages, Registry* registry,
                         QWidget* parent)
    : QDialog(parent)
    , directory_([&] {
        // Found files come from many folders; the window lets the renamer
        // run on files of one.
        const std::vector<std::string> folders = FoldersOfSelectedOrAllFiles(pane);
        return folders.size() == 1 ? folders.front() : AddPathDelimiter(pane.Path);
    }())
    , reread_(std::move(reread))
    , messages_(messages)
    , registry_(registry)
    , candidates_(SelectedOrAllFiles(pane))
{
    setWindowTitle("Renamer");
    setObjectName("DlgRenamer");
    pattern_ = new QLineEdit("*", this);
    pattern_->setObjectName("EDPattern");
    to_ = new QLineEdit("[1]", this);
    to_->setObjectName("EDTo");
    counter_ = new QSpinBox(this);
    counter_->setObjectName("EDCounterStart");
    counter_->setRange(0, 999999);
    counter_->setValue(1);
    lower_ = new QCheckBox("lower case", this);
    lower_->setObjectName("CBLowerCase");
    check_ = new QPushButton("Check", this);
    check_->setObjectName("BTNCheck");
    rename_ = new QPushButton("Rename", this);
    rename_->setObjectName("BTNRename");
    rename_->setEnabled(false);
    cancel_ = new QPushButton("Cancel", this);
    cancel_->setObjectName("BTNCancel");
    progress_ = new QProgressBar(this);
    progress_->setTextVisible(false);
    model_ = new RenameLinesModel(lines_, this);
    list_ = new QTreeView(this);
    list_->setObjectName("LBFiles");
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setItemDelegate(new CutLineDelegate(list_));
    list_->setModel(model_);
    list_->header()->setStretchLastSection(false);
    list_->header()->setSectionResizeMode(QHeaderView::Interactive);
    // The viewport, not the list: its size is the one the columns share, and
    // it changes after the list's own resize and when a scroll bar comes or goes.
    list_->viewport()->installEventFilter(this);

    auto* form = new QFormLayout;
    form->addRow("File pattern", pattern_);
    form->addRow("Rename to", to_);
    auto* counterRow = new QHBoxLayout;
    counterRow->addWidget(counter_);
    counterRow->addWidget(lower_);
    counterRow->addStretch();
    form->addRow("Counter start", counterRow);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(progress_, 1);
    buttons->addWidget(check_);
    buttons->addWidget(rename_);
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);
    resize(560, 420);

    auto changed = [this] {
        check_->setEnabled(true);
        rename_->setEnabled(false);
        Recompute();
    };
    connect(pattern_, &QLineEdit::textChanged, this, changed);
    connect(to_, &QLineEdit::textChanged, this, changed);
    connect(counter_, &QSpinBox::valueChanged, this, changed);
    connect(lower_, &QCheckBox::toggled, this, changed);
    connect(check_, &QPushButton::clicked, this, &TDlgRenamer::BTNCheckClick);
    connect(rename_, &QPushButton::clicked, this, &TDlgRenamer::BTNRenameClick);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    Recompute();
    RestoreToolPlacement(registry_, "RenamerForm", *this);
}

TDlgRenamer::~TDlgRenamer() { SaveToolPlacement(registry_, "RenamerForm", *this); }

void TDlgRenamer::ReadDirectoryNames()
{
    onDisk_.clear();
    RealFileSystem().ListDirectory(directory_, onDisk_);
    std::sort(onDisk_.begin(), onDisk_.end());
}

bool TDlgRenamer::Exists(const std::string& name) const
{
    return std::binary_search(onDisk_.begin(), onDisk_.end(), name);
}

void TDlgRenamer::Recompute()
{
    ReadDirectoryNames();
    RenameTemplate t;
    t.pattern = Typed(pattern_->text());
    t.text = Typed(to_->text());
    t.counterStart = counter_->value();
    t.lowerCase = lower_->isChecked();
    t.lower = LowerName;
    lines_ = BuildRenameLines(MatchingNames(candidates_, t.pattern), t,
                              [this](const std::string& n) { return Exists(n); });
    model_->Reset();
}

void TDlgRenamer::BTNCheckClick()
{
    if (lines_.empty())
        return;
    ReadDirectoryNames(); // the directory as it is now, not as it was when the names were made
    CheckResult result;
    {
        HourglassScope hourglass;
        progress_->setRange(0, int(lines_.size()));
        result = CheckRenameLines(
            lines_, [this](const std::string& n) { return Exists(n); },
            [this](size_t i) {
                if (i % 256 == 0)
                    progress_->setValue(int(i));
            });
        progress_->setValue(int(lines_.size()));
    }
    switch (result.kind) {
    case CheckResult::Kind::None: break;
    case CheckResult::Kind::Duplicate:
        messages_.Error("Two files would be renamed to\n" + DisplayName(result.name));
        break;
    case CheckResult::Kind::Exists: messages_.Error(DisplayName(result.name) + "\nalready exists"); break;
    case CheckResult::Kind::Invalid:
        messages_.Error("\"" + DisplayName(result.name) + "\"\nis not a file name in this directory");
        break;
    }
    rename_->setEnabled(result.Ok());
}

bool TDlgRenamer::RenameOne(const std::string& from, const std::string& to)
{
    QuietRenameUi ui;
    ShellFileOperation operation(ui);
    operation.SetObserver(follower_);
    const OperationResult r = operation.Run(FO_RENAME, {directory_ + from}, directory_ + to);
    return r.status == OperationResult::Status::Done && r.done == 1;
}

void TDlgRenamer::BTNRenameClick()
{
    const std::vector<RenameLine> planned = lines_;
    size_t remaining = 0;
    {
        HourglassScope hourglass;
        progress_->setRange(0, int(lines_.size()));
        // Names may chain (b to c, then a to b): the descriptions are
        // rewritten once, after the whole group.
        DescriptionFollower follower([this](const std::string& text) {
            messages_.Warning(QFile::decodeName(QByteArray::fromStdString(text)));
        });
        follower.HoldUntilFlush(true);
        follower_ = followDescriptions_ ? &follower : nullptr;
        remaining = RunRenamePasses(
            lines_, [this](const std::string& from, const std::string& to) { return RenameOne(from, to); },
            [this](size_t i) {
                if (i % 64 == 0)
                    progress_->setValue(int(i));
            });
        follower_ = nullptr;
        follower.Flush();
        progress_->setValue(int(lines_.size()));
    }
    model_->Reset();
    // The group keeps its files under their new names (all at once: in a
    // chain a new name is another file's old one).
    std::unordered_map<std::string, std::string> renamed;
    renamed_.clear();
    for (size_t i = 0; i < planned.size(); ++i)
        if (lines_[i].newName.empty()) {
            renamed[planned[i].oldName] = planned[i].newName;
            renamed_.emplace_back(directory_ + planned[i].oldName, directory_ + planned[i].newName);
        }
    for (std::string& name : candidates_)
        if (const auto it = renamed.find(name); it != renamed.end())
            name = it->second;
    if (remaining > 0)
        messages_.Error(QString::number(remaining) + " files could not be renamed");
    rename_->setEnabled(false);
    if (reread_)
        reread_();
    Recompute();
    if (remaining == 0)
        accept();
}

bool TDlgRenamer::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == list_->viewport() && event->type() == QEvent::Resize) {
        const int half = list_->viewport()->width() / 2;
        list_->header()->resizeSection(0, half);
        list_->header()->resizeSection(1, half);
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace tarnel
