#pragma once
// The bottom row of the small dialogs: an optional button on the left, then
// "&OK" (the default button) and "&Cancel" on the right.
class QBoxLayout;
class QDialog;
class QPushButton;

namespace tarnel {

void AddOkCancelRow(QDialog& dialog, QBoxLayout& layout, QPushButton* left = nullptr);

} // namespace tarnel
