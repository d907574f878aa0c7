#include "fileops/OperationProgressDialog.h"

#include "fileops/QtOperationUi.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnel {

OperationProgressDialog::OperationProgressDialog(std::shared_ptr<Operation> operation, QWidget* parent)
    : QDialog(parent)
    , op_(std::move(operation))
    , title_(new QLabel(this))
    , label_(new QLabel(this))
    , bar_(new QProgressBar(this))
    , pause_(new QPushButton("Pause", this))
    , cancel_(new QPushButton("Cancel", this))
{
    setWindowTitle("Tarnel");
    // The window goes on working while the copy runs.
    setModal(false);
    title_->setTextFormat(Qt::PlainText);
    label_->setTextFormat(Qt::PlainText);
    title_->setText(QFile::decodeName(QByteArray::fromStdString(op_->Title())));
    bar_->setRange(0, 1000);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(pause_);
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title_);
    layout->addWidget(label_);
    layout->addWidget(bar_);
    layout->addLayout(buttons);
    connect(pause_, &QPushButton::clicked, this, [this] {
        if (op_->PauseRequested())
            op_->Resume();
        else
            op_->Pause();
        Update();
    });
    connect(cancel_, &QPushButton::clicked, this, [this] {
        op_->Cancel();
        cancel_->setEnabled(false);
    });
    // Closing the dialog is the Cancel of a progress dialog.
    connect(this, &QDialog::rejected, this, [this] { op_->Cancel(); });
    Update();
}

void OperationProgressDialog::Update()
{
    const OperationProgress p = op_->Progress();
    bar_->setValue(int(p.Fraction() * 1000));
    QString text = ProgressText(p);
    const OperationState state = op_->State();
    if (state != OperationState::Running)
        text += QString("\n%1").arg(StateName(state));
    label_->setText(text);
    pause_->setText(op_->PauseRequested() ? "Resume" : "Pause");
}

int OperationProgressDialog::Value() const { return bar_->value(); }

} // namespace tarnel
