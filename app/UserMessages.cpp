#include "app/UserMessages.h"

#include <QMessageBox>

namespace tarnel {

void MessageBoxes::Error(const QString& text) { QMessageBox::critical(parent_, "Tarnel", text); }

void MessageBoxes::Warning(const QString& text) { QMessageBox::warning(parent_, "Tarnel", text); }

void MessageBoxes::Information(const QString& text) { QMessageBox::information(parent_, "Tarnel", text); }

void MessageBoxes::Plain(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, "Tarnel", text, QMessageBox::Ok, parent_);
    box.exec();
}

bool MessageBoxes::Confirm(const QString& text)
{
    return QMessageBox::question(parent_, "Tarnel", text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

} // namespace tarnel
