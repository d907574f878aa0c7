#include "app/UserMessages.h"

#include <QMessageBox>

#include <atomic>
#include <cstdio>

namespace tarnel {

namespace {

std::atomic<bool> toStandardError{false};

// The button a box answers with when it is closed without a choice.
QMessageBox::StandardButton EscapeAnswer(QMessageBox::StandardButtons buttons)
{
    for (const QMessageBox::StandardButton b : {QMessageBox::Cancel, QMessageBox::No, QMessageBox::Abort,
                                                QMessageBox::Ignore, QMessageBox::Close, QMessageBox::Ok})
        if (buttons.testFlag(b))
            return b;
    return QMessageBox::NoButton;
}

} // namespace

void SendMessagesToStandardError() { toStandardError = true; }

// Messages carry names and paths: shown as they are, never as markup.
int ShowPlainMessage(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                     QMessageBox::StandardButtons buttons)
{
    if (toStandardError) {
        std::fprintf(stderr, "tarnel: %s\n", text.toLocal8Bit().constData());
        std::fflush(stderr);
        return EscapeAnswer(buttons);
    }
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
