#include "tools/ToolText.h"

#include <QFile>
#include <QFontMetrics>

namespace tarnel {

QString DisplayName(const std::string& bytes)
{
    QString text = QFile::decodeName(QByteArray::fromStdString(bytes));
    for (QChar& c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QChar(0xFFFD);
    return text;
}

QString CutToWidth(const QString& text, const QFontMetrics& metrics, int width)
{
    if (metrics.horizontalAdvance(text) <= width)
        return text;
    // Halving finds the longest start that fits with "..." in few measurements.
    qsizetype low = 0, high = text.size();
    while (low < high) {
        const qsizetype mid = (low + high + 1) / 2;
        if (metrics.horizontalAdvance(text.left(mid) + "...") <= width)
            low = mid;
        else
            high = mid - 1;
    }
    return text.left(low) + "...";
}

} // namespace tarnel
