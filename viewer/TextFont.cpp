#include "viewer/TextFont.h"

#include <QFontDatabase>

#include <algorithm>
#include <cmath>

namespace tarnel {

QString FontFamilyInUse(const std::string& family)
{
    const QString name = QString::fromStdString(family);
    if (!name.isEmpty() && QFontDatabase::hasFamily(name))
        return name;
    return QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
}

QFont TextViewFont(const std::string& family, int size, int dpi)
{
    QFont font(FontFamilyInUse(family));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    if (size > 0)
        font.setPointSize(size);
    else if (size < 0)
        font.setPixelSize(std::max(1, int(std::lround(-size * dpi / 72.0))));
    return font;
}

} // namespace tarnel
