#include "app/UserMessages.h"

#include <QMessageBox>

namespace tarnel {

namespace {

// Messages carry names and paths: shown as they are, never as markup.
int Show(QWidget* parent, QMessageBox::Icon icon, const QString& text,
         QMessageBox::StandardButtons buttons = QMessageBox::Ok)
{
    QMessageBox box(icon, "Tarnel", text, buttons, parent);
    box.setTextFormat(Qt::PlainText);
    return box.exec();
}

} // namespace

void MessageBoxes::Error(const QString& text) { Show(parent_, QMessageBox::Critical, text); }

void MessageBoxes::Warning(const QString& text) { Show(parent_, QMessageBox::Warning, text); }

void MessageBoxes::Information(const QString& text) { Show(parent_, QMessageBox::Information, text); }

void MessageBoxes::Plain(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, "Tarnel", text, QMessageBox::Ok, parent_);
    box.exec();
}

bool MessageBoxes::Confirm(const QString& text)
{
    return Show(parent_, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

} // namespace tarnel
