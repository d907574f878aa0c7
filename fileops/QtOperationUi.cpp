#include "fileops/QtOperationUi.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>

#include <cstring>

namespace tarnel {

namespace {

QString Decode(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

using Type = OperationQuestion::Type;

} // namespace

QString ProgressText(const OperationProgress& p)
{
    const QLocale locale = QLocale::system();
    return QString("%1\n%2 of %3 items, %4 of %5")
        .arg(Decode(p.currentName))
        .arg(p.itemsDone)
        .arg(p.itemsTotal)
        .arg(locale.formattedDataSize(qint64(p.bytesDone)))
        .arg(locale.formattedDataSize(qint64(p.bytesTotal)));
}

QString ReplaceFactsLine(const QString& which, int64_t size, int64_t time)
{
    const QLocale locale;
    return QString("%1: %2, %3")
        .arg(which, locale.formattedDataSize(size),
             locale.toString(QDateTime::fromSecsSinceEpoch(time), QLocale::ShortFormat));
}

QMessageBox* NewQuestionBox(QWidget* parent, const OperationQuestion& q)
{
    auto* box = new QMessageBox(parent);
    box->setWindowTitle("Tarnel");
    // A name is shown as it is: markup in it must not rewrite the question.
    box->setTextFormat(Qt::PlainText);
    const QString path = Decode(q.path);
    switch (q.type) {
    case Type::Replace: {
        QString text = QString("%1 already exists.\nDo you want to replace it?").arg(path);
        if (q.factsKnown)
            text += "\n\n" + ReplaceFactsLine("Existing file", int64_t(q.facts.existingSize), q.facts.existingTime) +
                    "\n" + ReplaceFactsLine(q.incomingLabel, int64_t(q.facts.incomingSize), q.facts.incomingTime);
        box->setIcon(QMessageBox::Question);
        box->setText(text);
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::YesToAll | QMessageBox::No | QMessageBox::NoToAll |
                                QMessageBox::Cancel);
        box->button(QMessageBox::NoToAll)->setText("Skip all");
        box->setDefaultButton(QMessageBox::No);
        break;
    }
    case Type::Error:
        box->setIcon(QMessageBox::Warning);
        box->setText(QString("%1 %2:\n%3").arg(QString::fromStdString(q.what), path, QString(std::strerror(q.error))));
        box->setStandardButtons(QMessageBox::Retry | QMessageBox::Ignore | QMessageBox::Cancel);
        box->button(QMessageBox::Ignore)->setText("Skip");
        break;
    case Type::ConfirmTrash:
        box->setIcon(QMessageBox::Question);
        box->setText(QString("Are you sure you want to move %1 item(s) to the Trash?").arg(q.count));
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case Type::DeletePermanently:
        box->setIcon(QMessageBox::Question);
        box->setText(QString("%1 cannot be moved to the Trash.\nDo you want to delete it permanently?").arg(path));
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box->setDefaultButton(QMessageBox::No);
        break;
    case Type::CreateFolder:
        box->setIcon(QMessageBox::Question);
        box->setText(QString("The folder %1 does not exist.\nDo you want to create it?").arg(path));
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box->setDefaultButton(QMessageBox::No);
        break;
    case Type::Confirm:
        box->setIcon(QMessageBox::Question);
        box->setText(Decode(q.text));
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case Type::Notice:
    case Type::ErrorText:
    case Type::Inform:
        box->setIcon(q.type == Type::Notice ? QMessageBox::Information
                     : q.type == Type::ErrorText ? QMessageBox::Critical
                                                 : QMessageBox::Warning);
        box->setText(Decode(q.text));
        box->setStandardButtons(QMessageBox::Ok);
        break;
    }
    return box;
}

int AnswerOf(const OperationQuestion& q, QMessageBox& box)
{
    const QMessageBox::StandardButton button = box.clickedButton() ? box.standardButton(box.clickedButton())
                                                                    : QMessageBox::NoButton;
    switch (q.type) {
    case Type::Replace:
        switch (button) {
        case QMessageBox::Yes: return int(ReplaceAnswer::Yes);
        case QMessageBox::YesToAll: return int(ReplaceAnswer::YesToAll);
        case QMessageBox::No: return int(ReplaceAnswer::No);
        case QMessageBox::NoToAll: return int(ReplaceAnswer::SkipAll);
        default: return int(ReplaceAnswer::Cancel);
        }
    case Type::Error:
        return button == QMessageBox::Retry    ? int(ErrorAnswer::Retry)
               : button == QMessageBox::Ignore ? int(ErrorAnswer::Skip)
                                               : int(ErrorAnswer::Cancel);
    case Type::DeletePermanently:
        return button == QMessageBox::Yes  ? int(DeleteAnswer::Yes)
               : button == QMessageBox::No ? int(DeleteAnswer::No)
                                           : int(DeleteAnswer::Cancel);
    default: return button == QMessageBox::Yes || button == QMessageBox::Ok ? 1 : 0;
    }
}

} // namespace tarnel
