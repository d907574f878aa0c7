#pragma once
// The font of the text viewer and its editor. A stored face this system lacks
// ("Fixedsys" from older settings) is shown in the system's fixed-pitch font;
// the stored name is kept as it is.
#include <QFont>
#include <QString>

#include <string>

namespace tarnel {

// size > 0: points; size < 0: a cell height in points, as pixels at dpi.
QFont TextViewFont(const std::string& family, int size, int dpi);
// The face TextViewFont really uses for family.
QString FontFamilyInUse(const std::string& family);

} // namespace tarnel
