#include "app/UserMessages.h"

#include <QMessageBox>

namespace tarnel {

// Messages carry names and paths: shown as they are, never as markup.
int ShowPlainMessage(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                     QMessageBox::StandardButtons buttons)
{
    QMessageBox box(icon, "Tarnel", text, buttons, parent);
    box.setTextFormat(Qt::PlainText);
    return box.exec();
}

namespace {

int Show(QWidget* parent, QMessageBox::Icon icon, const QString& text,
         QMessageBox::StandardButtons buttons = QMessageBox::Ok)
{
    return ShowPlainMessage(parent, icon, text, buttons);
}

} // namespace

void MessageBoxes::Error(const QString& text) { Show(parent_, QMessageBox::Critical, text); }

void MessageBoxes::Warning(const QString& text) { Show(parent_, QMessageBox::Warning, text); }

void MessageBoxes::Information(const QString& text) { Show(parent_, QMessageBox::Information, text); }

void MessageBoxes::Plain(const QString& text) { Show(parent_, QMessageBox::NoIcon, text); }

bool MessageBoxes::Confirm(const QString& text)
{
    return Show(parent_, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

} // namespace tarnel
