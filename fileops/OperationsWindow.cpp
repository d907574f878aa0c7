#include "fileops/OperationsWindow.h"

#include "fileops/QtOperationUi.h"
#include "fileops/model/Operation.h"

#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tarnel {

namespace {

constexpr int kRefreshMs = 200;

QString Decode(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

} // namespace

OperationsWindow::OperationsWindow(Source operations, QWidget* parent)
    : QDialog(parent)
    , operations_(std::move(operations))
    , list_(new QTreeWidget(this))
    , pause_(new QPushButton("&Pause", this))
    , cancel_(new QPushButton("&Cancel operation", this))
    , timer_(new QTimer(this))
{
    setObjectName("OperationsWindow");
    setWindowTitle("Operations");
    setModal(false);
    list_->setColumnCount(3);
    list_->setHeaderLabels({"Operation", "State", "Progress"});
    list_->setRootIsDecorated(false);
    list_->header()->setStretchLastSection(true);
    auto* close = new QPushButton("Close", this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(pause_);
    buttons->addWidget(cancel_);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addLayout(buttons);
    resize(640, 240);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(pause_, &QPushButton::clicked, this, [this] {
        if (const auto op = Selected()) {
            if (op->PauseRequested())
                op->Resume();
            else
                op->Pause();
        }
        Refresh();
    });
    connect(cancel_, &QPushButton::clicked, this, [this] {
        if (const auto op = Selected())
            op->Cancel();
        Refresh();
    });
    connect(list_, &QTreeWidget::currentItemChanged, this, [this] { Refresh(); });
    timer_->setInterval(kRefreshMs);
    connect(timer_, &QTimer::timeout, this, &OperationsWindow::Refresh);
    timer_->start();
    Refresh();
}

std::shared_ptr<Operation> OperationsWindow::Selected() const
{
    const int row = list_->indexOfTopLevelItem(list_->currentItem());
    return row >= 0 && row < int(rows_.size()) ? rows_[size_t(row)].lock() : nullptr;
}

void OperationsWindow::Refresh()
{
    const std::shared_ptr<Operation> selected = Selected();
    const std::vector<std::shared_ptr<Operation>> ops = operations_();
    // Rebuilt whole each time: operations come and go between refreshes.
    const QSignalBlocker quiet(list_);
    list_->clear();
    rows_.clear();
    QTreeWidgetItem* current = nullptr;
    for (const auto& op : ops) {
        const OperationProgress p = op->Progress();
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, Decode(op->Title()));
        item->setText(1, StateName(op->State()));
        item->setText(2, QString("%1% %2").arg(int(p.Fraction() * 100)).arg(Decode(p.currentName)));
        rows_.push_back(op);
        if (op == selected || (!selected && !current))
            current = item;
    }
    if (current)
        list_->setCurrentItem(current);
    const std::shared_ptr<Operation> now = Selected();
    const bool live = now && !Finished(now->State()) && !now->Cancelled();
    pause_->setEnabled(live);
    cancel_->setEnabled(live);
    pause_->setText(now && now->PauseRequested() ? "&Resume" : "&Pause");
}

} // namespace tarnel
