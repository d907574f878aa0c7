#include "viewer/SearchWindow.h"

#include "viewer/TextView.h"
#include "viewer/model/LineIndex.h"
#include "viewer/model/TextFile.h"
#include "viewer/model/TextLines.h"
#include "viewer/model/TextSearch.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <atomic>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace tarnel {

namespace {

// One pass of a search, shared with the worker that reads the file: it
// finds the matches and their lines and columns with an index of its own,
// so the window's thread never reads the file and works on meanwhile. A
// worker stuck on a file system that stopped answering is left behind.
struct SearchJob {
    TextFile file; // the view's open file, shared
    ScanOptions options;
    std::string text;
    bool ignoreCase = false;
    int maxListed = 0;
    std::atomic<bool> stop{false};
    std::mutex mutex;
    QObject* wake = nullptr; // told of news; cleared when the pass is over
    std::vector<std::pair<int64_t, int64_t>> found; // not taken yet
    int64_t count = 0;
    bool done = false;

    void Tell(std::vector<std::pair<int64_t, int64_t>>& batch, int64_t matches, bool finished)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        found.insert(found.end(), batch.begin(), batch.end());
        batch.clear();
        count = matches;
        done = finished;
        if (wake)
            QMetaObject::invokeMethod(wake, [] {}, Qt::QueuedConnection);
    }

    static void Run(std::shared_ptr<SearchJob> job)
    {
        TextSearcher searcher(job->file, job->text, job->ignoreCase);
        searcher.Restart(0);
        LineIndex index;
        index.Start(job->file, job->options);
        LocateCursor cursor;
        std::vector<std::pair<int64_t, int64_t>> batch;
        int64_t count = 0;
        while (!job->stop) {
            int64_t match = -1;
            const auto result = searcher.Next(int64_t(4) << 20, match);
            if (result == TextSearcher::Result::NotFound)
                break;
            if (result == TextSearcher::Result::Found && ++count <= job->maxListed)
                batch.push_back(LocateOffset(job->file, index, match, &cursor));
            if (batch.size() >= 1024 || result == TextSearcher::Result::MoreToRead)
                job->Tell(batch, count, false);
        }
        job->Tell(batch, count, true);
    }
};

} // namespace

bool DisplayBytes(const QString& text, std::string& out)
{
    // Built once: the byte each displayed character came from, -1 for none.
    static const std::vector<int> bytes = [] {
        std::vector<int> table(0x10000, -1);
        for (int b = 255; b >= 0; --b)
            table[DisplayChar(static_cast<unsigned char>(b))] = b;
        return table;
    }();
    out.clear();
    out.reserve(size_t(text.size()));
    bool all = true;
    for (QChar c : text) {
        const int b = bytes[c.unicode()];
        all = all && b >= 0;
        out += b >= 0 ? char(b) : '?';
    }
    return all;
}

TSearchwin::TSearchwin(TTextView* view) : QWidget(view, Qt::Tool | Qt::WindowStaysOnTopHint), view_(view)
{
    setWindowTitle("Search Facility");
    setAttribute(Qt::WA_DeleteOnClose, false);
    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName("ListBox1");
    Label1 = new QLabel("Word or sentence to search for:", this);
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName("Edit1");
    CheckBox1 = new QCheckBox("UPPERCASE=lowercase", this);
    CheckBox1->setObjectName("CheckBox1");
    Label2 = new QLabel("Enter to search!", this);
    Label2->setObjectName("Label2");
    BitBtn1 = new QPushButton("&Search..", this);
    BitBtn1->setObjectName("BitBtn1");

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ListBox1, 1);
    layout->addWidget(Label1);
    layout->addWidget(Edit1);
    auto* row = new QHBoxLayout;
    row->addWidget(CheckBox1);
    row->addStretch();
    row->addWidget(BitBtn1);
    layout->addLayout(row);
    layout->addWidget(Label2);
    resize(300, 360);

    connect(BitBtn1, &QPushButton::clicked, this, &TSearchwin::Search);
    connect(Edit1, &QLineEdit::returnPressed, this, &TSearchwin::Search);
    connect(Edit1, &QLineEdit::textChanged, this, [this](const QString& text) {
        calledOff_ = searching_;
        ListBox1->clear();
        Label2->setText("Enter to search!");
        if (view_)
            view_->LastSearchText = text.toStdString();
    });
    connect(ListBox1, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) { GoToItem(ListBox1->row(item)); });
    connect(ListBox1, &QListWidget::currentRowChanged, this, &TSearchwin::GoToItem);
}

void TSearchwin::Start(const QString& text, bool caseFlag)
{
    Edit1->setFocus();
    Edit1->setText(text);
    CheckBox1->setChecked(!caseFlag);
    if (!text.isEmpty())
        Search();
}

void TSearchwin::Search()
{
    if (searching_) {
        // The running pass ends at its next look at the events; this one follows.
        calledOff_ = again_ = true;
        return;
    }
    QPointer<TSearchwin> self(this);
    do {
        again_ = calledOff_ = false;
        if (!RunSearch() || !self)
            return;
    } while (again_);
}

bool TSearchwin::RunSearch()
{
    if (!view_)
        return false;
    ListBox1->clear();
    // The text as the view shows it: UTF-8 text holds every character.
    std::string text;
    bool storable = true;
    if (view_->TextIsUtf8()) {
        text = Edit1->text().toStdString();
        searchedLength_ = CellCount(Edit1->text());
    } else {
        storable = DisplayBytes(Edit1->text(), text);
        searchedLength_ = qsizetype(text.size());
    }
    int64_t count = 0;
    if (storable && !text.empty() && view_->Active()) {
        searching_ = true;
        Label2->setText("Searching..  ");
        auto job = std::make_shared<SearchJob>();
        view_->ShareFile(job->file);
        job->options = view_->IndexOptions();
        job->text = text;
        job->ignoreCase = CheckBox1->isChecked();
        job->maxListed = kMaxListed;
        // Lives as long as this pass: the window may go while it runs.
        QObject waker;
        job->wake = &waker;
        std::thread(&SearchJob::Run, job).detach();
        const int generation = view_->Generation();
        QPointer<TSearchwin> self(this);
        auto stillWanted = [&] { return self && view_ && view_->Generation() == generation && !calledOff_; };
        // Wakes the wait below now and then, whatever the worker does.
        QTimer tick;
        tick.start(50);
        bool going = true;
        for (bool done = false; !done;) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            going = stillWanted();
            if (!going)
                break;
            std::vector<std::pair<int64_t, int64_t>> found;
            {
                const std::lock_guard<std::mutex> lock(job->mutex);
                found.swap(job->found);
                count = job->count;
                done = job->done;
            }
            for (const auto& [line, column] : found)
                ListBox1->addItem(QString::number(line) + "," + QString::number(column));
        }
        job->stop = true;
        {
            const std::lock_guard<std::mutex> lock(job->mutex);
            job->wake = nullptr;
        }
        if (!self)
            return false;
        searching_ = false;
        // Another file, or another text: these matches mean nothing there.
        if (!going) {
            ListBox1->clear();
            Label2->setText("Enter to search!");
            return true;
        }
    }
    if (count == 0)
        Label2->setText("No matches..");
    else if (count == 1)
        Label2->setText("1 match..");
    else
        Label2->setText(QString::number(count) + " matches..");
    if (count > 0) {
        ListBox1->setFocus();
        ListBox1->setCurrentRow(0);
    }
    return true;
}

void TSearchwin::GoToItem(int row)
{
    QListWidgetItem* item = ListBox1->item(row);
    if (!item || !view_)
        return;
    const QStringList parts = item->text().split(',');
    if (parts.size() != 2)
        return;
    view_->GoToMatch(parts[0].toLongLong(), parts[1].toLongLong(), searchedLength_);
}

void TSearchwin::keyPressEvent(QKeyEvent* event)
{
    // Esc stops a running search; its worker reads no further.
    if (event->key() == Qt::Key_Escape && searching_) {
        calledOff_ = true;
        return;
    }
    QWidget::keyPressEvent(event);
}

void TSearchwin::closeEvent(QCloseEvent* event)
{
    event->accept();
    if (view_)
        QCoreApplication::postEvent(view_, new QEvent(QEvent::Type(kSearchClosedEvent)));
}

} // namespace tarnel
