#pragma once
// What the tool dialogs keep in the settings store: their window placements
// and the ID3 grid's column widths. Written into the store when a dialog
// goes away; the store reaches its file at the end of the run. No store
// (a screenshot run, a test): nothing is read or kept.
#include <string>

class QWidget;

namespace tarnel {

class Registry;

void RestoreToolPlacement(Registry* registry, const std::string& key, QWidget& window);
void SaveToolPlacement(Registry* registry, const std::string& key, const QWidget& window);

// A DWORD value under the program's key; false when absent or of another type.
bool ReadToolInteger(Registry* registry, const std::string& key, const std::string& name, int& value);
void WriteToolInteger(Registry* registry, const std::string& key, const std::string& name, int value);

} // namespace tarnel
