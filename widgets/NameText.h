#pragma once
// File names are bytes, text boxes edit text. Bytes that are not UTF-8 cross
// the box as reserved code points, one per byte (U+DC80 + the byte's low
// seven bits, the way Python's surrogate escapes do), and come back as the
// same bytes, so an edit touches only what the user changed.
#include <QString>

#include <string>

namespace tarnel {

QString NameToEditText(const std::string& name);
std::string EditTextToName(const QString& text);

} // namespace tarnel
