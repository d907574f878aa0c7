#include "fileops/QtOperationUi.h"

#include <QApplication>
#include <QDateTime>
#include <QLocale>
#include <QFile>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>

#include <cstring>

namespace tarnel {

namespace {

QString Decode(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

constexpr int kProgressDelayMs = 500;

QProgressDialog* NewProgressDialog(QWidget* parent)
{
    auto* dialog = new QProgressDialog(parent);
    dialog->setWindowTitle("Tarnel");
    dialog->setCancelButtonText("Cancel");
    dialog->setRange(0, 1000);
    dialog->setMinimumDuration(0);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    return dialog;
}

void ShowProgress(QProgressDialog& dialog, uint64_t itemsDone, uint64_t itemsTotal, uint64_t bytesDone,
                  uint64_t bytesTotal, const std::string& name)
{
    const double part = bytesTotal ? double(bytesDone) / double(bytesTotal)
                                   : (itemsTotal ? double(itemsDone) / double(itemsTotal) : 0.0);
    dialog.setValue(int(part * 1000));
    dialog.setLabelText(ProgressText(itemsDone, itemsTotal, bytesDone, bytesTotal, name));
}

} // namespace

QString ProgressText(uint64_t itemsDone, uint64_t itemsTotal, uint64_t bytesDone, uint64_t bytesTotal,
                     const std::string& currentName)
{
    const QLocale locale = QLocale::system();
    return QString("%1\n%2 of %3 items, %4 of %5")
        .arg(Decode(currentName))
        .arg(itemsDone)
        .arg(itemsTotal)
        .arg(locale.formattedDataSize(qint64(bytesDone)))
        .arg(locale.formattedDataSize(qint64(bytesTotal)));
}

ForegroundOperationUi::ForegroundOperationUi(QWidget* parent) : parent_(parent) { started_.start(); }

ForegroundOperationUi::~ForegroundOperationUi() = default;

// A name is shown as it is: markup in it must not rewrite the question.
static void MakePlain(QMessageBox& box) { box.setTextFormat(Qt::PlainText); }

ReplaceAnswer ForegroundOperationUi::AskReplace(const std::string& path) { return AskReplaceQuestion(parent_, path); }

ReplaceAnswer ForegroundOperationUi::AskReplaceKnown(const std::string& path, const ReplaceFacts& facts)
{
    return AskReplaceQuestion(parent_, path,
                              ReplaceFactsLine("Existing file", int64_t(facts.existingSize), facts.existingTime) + "\n" +
                                  ReplaceFactsLine("Replace with", int64_t(facts.incomingSize), facts.incomingTime));
}

QString ReplaceFactsLine(const QString& which, int64_t size, int64_t time)
{
    const QLocale locale;
    return QString("%1: %2, %3")
        .arg(which, locale.formattedDataSize(size),
             locale.toString(QDateTime::fromSecsSinceEpoch(time), QLocale::ShortFormat));
}

ReplaceAnswer AskReplaceQuestion(QWidget* parent, const std::string& path, const QString& details)
{
    QMessageBox box(QMessageBox::Question, "Tarnel",
                    QString("%1 already exists.\nDo you want to replace it?").arg(Decode(path)) +
                        (details.isEmpty() ? QString() : "\n\n" + details),
                    QMessageBox::Yes | QMessageBox::YesToAll | QMessageBox::No | QMessageBox::NoToAll |
                        QMessageBox::Cancel,
                    parent);
    MakePlain(box);
    box.button(QMessageBox::NoToAll)->setText("Skip all");
    box.setDefaultButton(QMessageBox::No);
    switch (box.exec()) {
    case QMessageBox::Yes: return ReplaceAnswer::Yes;
    case QMessageBox::YesToAll: return ReplaceAnswer::YesToAll;
    case QMessageBox::No: return ReplaceAnswer::No;
    case QMessageBox::NoToAll: return ReplaceAnswer::SkipAll;
    default: return ReplaceAnswer::Cancel;
    }
}

bool ForegroundOperationUi::ConfirmCreateFolder(const std::string& path)
{
    QMessageBox box(QMessageBox::Question, "Tarnel",
                    QString("The folder %1 does not exist.\nDo you want to create it?").arg(Decode(path)),
                    QMessageBox::Yes | QMessageBox::No, parent_);
    MakePlain(box);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

ErrorAnswer ForegroundOperationUi::AskError(const std::string& what, const std::string& path, int error)
{
    QMessageBox box(QMessageBox::Warning, "Tarnel",
                    QString("%1 %2:\n%3").arg(QString::fromStdString(what), Decode(path), QString(std::strerror(error))),
                    QMessageBox::Retry | QMessageBox::Ignore | QMessageBox::Cancel, parent_);
    MakePlain(box);
    box.button(QMessageBox::Ignore)->setText("Skip");
    switch (box.exec()) {
    case QMessageBox::Retry: return ErrorAnswer::Retry;
    case QMessageBox::Ignore: return ErrorAnswer::Skip;
    default: return ErrorAnswer::Cancel;
    }
}

bool ForegroundOperationUi::ConfirmTrash(size_t count)
{
    return QMessageBox::question(parent_, "Tarnel",
                                 QString("Are you sure you want to move %1 item(s) to the Trash?").arg(count)) ==
           QMessageBox::Yes;
}

DeleteAnswer ForegroundOperationUi::AskDeletePermanently(const std::string& path)
{
    QMessageBox box(QMessageBox::Question, "Tarnel",
                    QString("%1 cannot be moved to the Trash.\nDo you want to delete it permanently?").arg(Decode(path)),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent_);
    MakePlain(box);
    box.setDefaultButton(QMessageBox::No);
    const int answer = box.exec();
    return answer == QMessageBox::Yes ? DeleteAnswer::Yes : answer == QMessageBox::No ? DeleteAnswer::No
                                                                                       : DeleteAnswer::Cancel;
}

void ForegroundOperationUi::Refused(const std::string& text)
{
    QMessageBox box(QMessageBox::Warning, "Tarnel", Decode(text), QMessageBox::Ok, parent_);
    MakePlain(box);
    box.exec();
}

bool ForegroundOperationUi::Progress(uint64_t itemsDone, uint64_t itemsTotal, uint64_t bytesDone, uint64_t bytesTotal,
                                     const std::string& currentName)
{
    const qint64 now = started_.elapsed();
    if (!progress_ && now < kProgressDelayMs)
        return true;
    if (progress_ && now - lastUpdate_ < 50) // thousands of small files: paint a few times a second
        return !progress_->wasCanceled();
    lastUpdate_ = now;
    if (!progress_) {
        progress_.reset(NewProgressDialog(parent_));
        progress_->setWindowModality(Qt::WindowModal);
        progress_->show();
    }
    ShowProgress(*progress_, itemsDone, itemsTotal, bytesDone, bytesTotal, currentName);
    QApplication::processEvents(); // the dialog paints and its Cancel works
    return !progress_->wasCanceled();
}

} // namespace tarnel
