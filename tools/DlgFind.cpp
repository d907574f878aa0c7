#include "tools/DlgFind.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cmath>
#include <mutex>

namespace tarnel {

std::optional<int64_t> ParseSizeText(const std::string& text)
{
    const QString t = QString::fromStdString(text).trimmed().toUpper();
    if (t.isEmpty())
        return std::nullopt;
    qsizetype digits = 0;
    while (digits < t.size() && (t[digits].isDigit() || t[digits] == '.'))
        ++digits;
    bool ok = false;
    const double number = t.left(digits).toDouble(&ok);
    if (!ok || number < 0)
        return std::nullopt;
    QString unit = t.mid(digits).trimmed();
    if (unit.endsWith('B'))
        unit.chop(1);
    double scale = 1;
    if (unit == "K")
        scale = 1024.0;
    else if (unit == "M")
        scale = 1024.0 * 1024;
    else if (unit == "G")
        scale = 1024.0 * 1024 * 1024;
    else if (!unit.isEmpty())
        return std::nullopt;
    const double bytes = std::round(number * scale);
    if (bytes > 9.0e18)
        return std::nullopt;
    return int64_t(bytes);
}

// The find's threads reach the dialog only through this, and only while it lives.
struct TDlgFind::Relay {
    std::mutex mutex;
    TDlgFind* dialog = nullptr;

    void Post(std::function<void(TDlgFind&)> work)
    {
        std::lock_guard lock(mutex);
        if (!dialog)
            return;
        // An event for a dialog deleted before it is delivered is dropped with it.
        QMetaObject::invokeMethod(
            dialog, [d = dialog, work = std::move(work)] { work(*d); }, Qt::QueuedConnection);
    }
};

class TDlgFind::Sink : public FindSink {
public:
    Sink(std::shared_ptr<Relay> relay, uint64_t run) : relay_(std::move(relay)), run_(run) {}
    void Found(std::vector<FindHit>&& hits) override
    {
        auto batch = std::make_shared<std::vector<FindHit>>(std::move(hits));
        relay_->Post([run = run_, batch](TDlgFind& d) { d.Found(run, std::move(*batch)); });
    }
    void Note(const std::string& text) override
    {
        relay_->Post([run = run_, text = QString::fromStdString(text)](TDlgFind& d) { d.Noted(run, text); });
    }
    void Counts(const FindCounts& counts) override
    {
        relay_->Post([run = run_, counts](TDlgFind& d) { d.Counted(run, counts); });
    }
    void Finished(bool stopped) override
    {
        relay_->Post([run = run_, stopped](TDlgFind& d) { d.Ended(run, stopped); });
    }

private:
    std::shared_ptr<Relay> relay_;
    uint64_t run_;
};

namespace {

enum Column { ColName, ColFolder, ColSize, ColLine, ColumnCount };

QString PlaceText(const FindHit& h)
{
    if (h.archive.empty())
        return QString::fromStdString(h.directory);
    return QString::fromStdString(h.archive + "/" + h.directory);
}

} // namespace

TDlgFind::TDlgFind(QWidget* parent) : QDialog(parent), relay_(std::make_shared<Relay>())
{
    relay_->dialog = this;
    setWindowTitle("Find files");
    setModal(false);

    folders_ = new QLineEdit(this);
    folders_->setToolTip("Several folders separated by \";\"");
    names_ = new QLineEdit("*", this);
    names_->setToolTip("Wildcards separated by \";\"; a leading \"!\" leaves out what it matches, folders included");
    text_ = new QLineEdit(this);
    text_->setToolTip("Empty: find by name alone");
    case_ = new QCheckBox("&Match case", this);
    words_ = new QCheckBox("&Whole words", this);
    regex_ = new QCheckBox("Re&gular expression", this);
    binary_ = new QCheckBox("&Binary files too", this);
    minSize_ = new QLineEdit(this);
    maxSize_ = new QLineEdit(this);
    minSize_->setPlaceholderText("e.g. 10K");
    maxSize_->setPlaceholderText("e.g. 2M");
    afterOn_ = new QCheckBox("Modified &after", this);
    beforeOn_ = new QCheckBox("Modified b&efore", this);
    after_ = new QDateTimeEdit(QDateTime::currentDateTime().addDays(-7), this);
    before_ = new QDateTimeEdit(QDateTime::currentDateTime(), this);
    after_->setCalendarPopup(true);
    before_->setCalendarPopup(true);
    followLinks_ = new QCheckBox("&Follow links", this);
    oneFileSystem_ = new QCheckBox("&One file system", this);
    archives_ = new QCheckBox("Inside a&rchives", this);
    skipHidden_ = new QCheckBox("Skip &hidden folders", this);

    auto* form = new QFormLayout;
    form->addRow("&Search in:", folders_);
    form->addRow("File &names:", names_);
    form->addRow("Containing &text:", text_);
    auto* textOptions = new QHBoxLayout;
    for (QWidget* w : {static_cast<QWidget*>(case_), static_cast<QWidget*>(words_), static_cast<QWidget*>(regex_),
                       static_cast<QWidget*>(binary_)})
        textOptions->addWidget(w);
    textOptions->addStretch();
    form->addRow("", textOptions);
    auto* sizes = new QHBoxLayout;
    sizes->addWidget(new QLabel("at least", this));
    sizes->addWidget(minSize_);
    sizes->addWidget(new QLabel("at most", this));
    sizes->addWidget(maxSize_);
    form->addRow("Size:", sizes);
    auto* times = new QHBoxLayout;
    times->addWidget(afterOn_);
    times->addWidget(after_);
    times->addWidget(beforeOn_);
    times->addWidget(before_);
    form->addRow("Time:", times);
    auto* walk = new QHBoxLayout;
    for (QWidget* w : {static_cast<QWidget*>(followLinks_), static_cast<QWidget*>(oneFileSystem_),
                       static_cast<QWidget*>(archives_), static_cast<QWidget*>(skipHidden_)})
        walk->addWidget(w);
    walk->addStretch();
    form->addRow("", walk);

    results_ = new QTreeWidget(this);
    results_->setColumnCount(ColumnCount);
    results_->setHeaderLabels({"Name", "Folder", "Size", "First matching line"});
    results_->setRootIsDecorated(false);
    results_->setUniformRowHeights(true);
    results_->setAllColumnsShowFocus(true);
    results_->header()->setStretchLastSection(true);
    notes_ = new QListWidget(this);
    notes_->setMaximumHeight(70);
    notes_->hide();
    status_ = new QLabel(this);
    status_->setTextFormat(Qt::PlainText);

    start_ = new QPushButton("S&tart", this);
    stop_ = new QPushButton("St&op", this);
    viewButton_ = new QPushButton("&View (F3)", this);
    goToButton_ = new QPushButton("&Go to file", this);
    feedButton_ = new QPushButton("Feed to &pane", this);
    auto* close = new QPushButton("&Close", this);
    start_->setDefault(true);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {start_, stop_, viewButton_, goToButton_, feedButton_})
        buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(results_, 1);
    layout->addWidget(notes_);
    layout->addWidget(status_);
    layout->addLayout(buttons);
    resize(760, 560);

    connect(start_, &QPushButton::clicked, this, &TDlgFind::Start);
    connect(stop_, &QPushButton::clicked, this, &TDlgFind::Stop);
    connect(viewButton_, &QPushButton::clicked, this, &TDlgFind::ViewCurrent);
    connect(goToButton_, &QPushButton::clicked, this, &TDlgFind::GoToCurrent);
    connect(feedButton_, &QPushButton::clicked, this, [this] {
        if (feed_ && !hits_.empty())
            feed_(query_, hits_);
    });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(results_, &QTreeWidget::itemDoubleClicked, this, &TDlgFind::ViewCurrent);
    connect(results_, &QTreeWidget::currentItemChanged, this, &TDlgFind::UpdateButtons);
    UpdateButtons();
}

TDlgFind::~TDlgFind()
{
    {
        std::lock_guard lock(relay_->mutex);
        relay_->dialog = nullptr;
    }
    if (job_)
        job_->Stop();
}

void TDlgFind::SetStartFolders(const std::string& folders)
{
    if (!running_)
        folders_->setText(QString::fromStdString(folders));
}

void TDlgFind::SetFeed(Feed feed)
{
    feed_ = std::move(feed);
    UpdateButtons();
}

FindQuery TDlgFind::Query(std::string* problem) const
{
    FindQuery q;
    for (const QString& part : folders_->text().split(';', Qt::SkipEmptyParts)) {
        const QString folder = part.trimmed();
        if (!folder.isEmpty())
            q.folders.push_back(folder.toStdString());
    }
    q.namePatterns = names_->text().toStdString();
    q.text = text_->text().toStdString();
    q.textKind = regex_->isChecked() ? FindQuery::TextKind::Regex : FindQuery::TextKind::Plain;
    q.caseSensitive = case_->isChecked();
    q.wholeWords = words_->isChecked();
    q.binaryFilesToo = binary_->isChecked();
    std::string why;
    for (auto [edit, limit] : {std::pair{minSize_, &q.minSize}, std::pair{maxSize_, &q.maxSize}}) {
        const std::string text = edit->text().toStdString();
        *limit = ParseSizeText(text);
        if (!*limit && !edit->text().trimmed().isEmpty() && why.empty())
            why = "\"" + text + "\" is no size: give bytes, or a number with K, M or G";
    }
    if (afterOn_->isChecked())
        q.modifiedAfter = after_->dateTime().toSecsSinceEpoch();
    if (beforeOn_->isChecked())
        q.modifiedBefore = before_->dateTime().toSecsSinceEpoch();
    q.followLinks = followLinks_->isChecked();
    q.oneFileSystem = oneFileSystem_->isChecked();
    q.insideArchives = archives_->isChecked();
    q.skipHiddenFolders = skipHidden_->isChecked();
    if (why.empty())
        why = FindQueryProblem(q);
    if (problem)
        *problem = why;
    return q;
}

void TDlgFind::Start()
{
    std::string problem;
    const FindQuery q = Query(&problem);
    if (!problem.empty()) {
        status_->setText(QString::fromStdString(problem));
        return;
    }
    if (job_)
        job_->Stop();
    ++run_;
    query_ = q;
    hits_.clear();
    counts_ = {};
    results_->clear();
    notes_->clear();
    notes_->hide();
    running_ = true;
    status_->setText("Searching...");
    job_ = StartFind(q, std::make_shared<Sink>(relay_, run_));
    UpdateButtons();
}

void TDlgFind::Stop()
{
    if (job_ && running_)
        job_->Stop(); // Finished follows, and says "Stopped"
}

void TDlgFind::Found(uint64_t run, std::vector<FindHit> hits)
{
    if (run != run_)
        return;
    QList<QTreeWidgetItem*> items;
    items.reserve(qsizetype(hits.size()));
    for (FindHit& h : hits) {
        auto* item = new QTreeWidgetItem;
        item->setText(ColName, QString::fromStdString(h.name) + (h.folder ? "/" : ""));
        item->setText(ColFolder, PlaceText(h));
        if (!h.folder)
            item->setText(ColSize, QString::number(h.size));
        if (h.lineNumber > 0)
            item->setText(ColLine, QString::number(h.lineNumber) + ": " + QString::fromStdString(h.lineText));
        item->setData(ColName, Qt::UserRole, qulonglong(hits_.size()));
        hits_.push_back(std::move(h));
        items.push_back(item);
    }
    const bool first = results_->topLevelItemCount() == 0;
    results_->addTopLevelItems(items);
    if (first && results_->topLevelItemCount() > 0)
        results_->setCurrentItem(results_->topLevelItem(0));
    UpdateButtons();
}

void TDlgFind::Noted(uint64_t run, const QString& text)
{
    if (run != run_)
        return;
    notes_->addItem(text);
    notes_->show();
}

void TDlgFind::Counted(uint64_t run, FindCounts counts)
{
    if (run != run_)
        return;
    counts_ = counts;
    ShowCounts();
}

void TDlgFind::Ended(uint64_t run, bool stopped)
{
    if (run != run_)
        return;
    running_ = false;
    job_.reset();
    ShowCounts();
    status_->setText((stopped ? "Stopped: " : "Done: ") + status_->text());
    UpdateButtons();
}

void TDlgFind::ShowCounts()
{
    status_->setText(QString("%1 folders, %2 entries looked at, %3 found")
                         .arg(counts_.folders)
                         .arg(counts_.files)
                         .arg(counts_.found));
}

const FindHit* TDlgFind::CurrentHit() const
{
    const QTreeWidgetItem* item = results_->currentItem();
    if (!item)
        return nullptr;
    const size_t index = item->data(ColName, Qt::UserRole).toULongLong();
    return index < hits_.size() ? &hits_[index] : nullptr;
}

void TDlgFind::UpdateButtons()
{
    start_->setEnabled(!running_);
    stop_->setEnabled(running_);
    const bool current = CurrentHit() != nullptr;
    viewButton_->setEnabled(current && view_);
    goToButton_->setEnabled(current && goTo_);
    feedButton_->setEnabled(bool(feed_) && !hits_.empty());
}

void TDlgFind::ViewCurrent()
{
    // A copy: what the handler does may start another search.
    if (const FindHit* hit = CurrentHit(); hit && view_) {
        const FindHit copy = *hit;
        view_(copy);
    }
}

void TDlgFind::GoToCurrent()
{
    if (const FindHit* hit = CurrentHit(); hit && goTo_) {
        const FindHit copy = *hit;
        goTo_(copy);
    }
}

void TDlgFind::keyPressEvent(QKeyEvent* event)
{
    // Return on a hit views it: the default button would start the search over.
    const bool onResults = results_->hasFocus() && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter);
    if ((event->key() == Qt::Key_F3 || onResults) && event->modifiers() == Qt::NoModifier) {
        ViewCurrent();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TDlgFind::hideEvent(QHideEvent* event)
{
    Stop(); // a search nobody sees is not left running
    QDialog::hideEvent(event);
}

} // namespace tarnel
