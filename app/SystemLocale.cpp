#include "app/SystemLocale.h"

#include <QLocale>

namespace tarnel {

DisplayLocale SystemDisplayLocale()
{
    const QLocale locale = QLocale::system();
    DisplayLocale out;
    out.groupSeparator = locale.groupSeparator().toStdString();
    out.decimalPoint = locale.decimalPoint().toStdString();
    out.shortDateFormat = locale.dateFormat(QLocale::ShortFormat).toStdString();
    return out;
}

} // namespace tarnel
