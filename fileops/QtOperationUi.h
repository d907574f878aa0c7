#pragma once
// The questions long work asks, as message boxes over the window, and the
// text the progress dialog shows.
#include "fileops/model/Operation.h"

#include <QString>

class QMessageBox;
class QWidget;

namespace tarnel {

// A box for question with the buttons its answers need, names as plain text.
// Open it (open(), never exec() while work waits) and turn the button
// clicked into the answer with AnswerOf.
QMessageBox* NewQuestionBox(QWidget* parent, const OperationQuestion& question);
// The answer (see OperationQuestion) the clicked button of box gives; a box
// closed without a button gives the answer that stops.
int AnswerOf(const OperationQuestion& question, QMessageBox& box);

// "Existing file: 1.5 KB, 12/09/26 21:40", one line of the replace question's details.
QString ReplaceFactsLine(const QString& which, int64_t size, int64_t time);

// The current name, then "n of m items, x of y" with sizes in the locale's units.
QString ProgressText(const OperationProgress& progress);

} // namespace tarnel
