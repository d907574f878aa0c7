#pragma once
// Small pieces the tool dialogs share: how a raw name is shown, the "..."
// cut of a list line, and the hourglass for a scope.
#include <QCursor>
#include <QGuiApplication>
#include <QString>

#include <string>

class QFontMetrics;

namespace tarnel {

// A raw file name as shown: decoded like every path, control characters
// (a newline in a name) shown as U+FFFD so a line stays one line.
QString DisplayName(const std::string& bytes);

// The text, or as much of it as fits together with "..." appended.
QString CutToWidth(const QString& text, const QFontMetrics& metrics, int width);

class HourglassScope {
public:
    HourglassScope() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~HourglassScope() { QGuiApplication::restoreOverrideCursor(); }
    HourglassScope(const HourglassScope&) = delete;
    HourglassScope& operator=(const HourglassScope&) = delete;
};

} // namespace tarnel
