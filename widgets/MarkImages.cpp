#include "widgets/MarkImages.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <array>
#include <functional>
#include <memory>

namespace tarnel {

namespace {

struct MarkSet {
    std::array<QPixmap, 4> list;   // index 0 unused, like the row mark numbering
    std::array<QPixmap, 4> header;
};

// Pixmaps must not outlive the application object, so the set is dropped
// when the application goes away (and redrawn if one is made again).
std::unique_ptr<MarkSet>& Storage()
{
    static std::unique_ptr<MarkSet> marks;
    return marks;
}

void DropMarks()
{
    Storage().reset();
}

QPixmap Draw(int size, const std::function<void(QPainter&)>& draw)
{
    // Drawn at the screen's pixel density so the marks stay sharp on HiDPI.
    const qreal dpr = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pm(QSize(size, size) * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    return pm;
}

void DrawHidden(QPainter& p)
{
    // A grey, half-closed eye: lower half of the eye with its pupil under a
    // straight lid, lashes hanging down.
    const QColor grey(0x70, 0x70, 0x70);
    QPainterPath lower;
    lower.moveTo(1.5, 7.5);
    lower.quadTo(8, 15.5, 14.5, 7.5);
    lower.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xf0, 0xf0, 0xf0));
    p.drawPath(lower);
    p.save();
    p.setClipPath(lower);
    p.setBrush(grey);
    p.drawEllipse(QPointF(8, 8.5), 2.6, 2.6);
    p.restore();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(grey, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(lower);
    p.drawLine(QPointF(1.5, 7.5), QPointF(14.5, 7.5));
    p.setPen(QPen(grey, 1.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(4, 4), QPointF(4.8, 6.2));
    p.drawLine(QPointF(8, 3.5), QPointF(8, 6));
    p.drawLine(QPointF(12, 4), QPointF(11.2, 6.2));
}

void DrawViewable(QPainter& p)
{
    // A blue magnifier: the viewer shows this file itself.
    const QColor blue(0x1e, 0x5a, 0xc8);
    p.setBrush(QColor(0xd8, 0xe8, 0xff));
    p.setPen(QPen(blue, 1.6));
    p.drawEllipse(QPointF(6.5, 6.5), 4.5, 4.5);
    p.setPen(QPen(blue, 2.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10, 10), QPointF(14, 14));
}

void DrawReadOnly(QPainter& p)
{
    // A padlock: shackle above a filled body with a keyhole.
    const QColor dark(0x5a, 0x46, 0x14);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x60, 0x60, 0x60), 1.6));
    p.drawArc(QRectF(4.5, 1.5, 7, 8), 0, 180 * 16);
    p.drawLine(QPointF(4.5, 5.5), QPointF(4.5, 7.5));
    p.drawLine(QPointF(11.5, 5.5), QPointF(11.5, 7.5));
    p.setPen(QPen(dark, 1.0));
    p.setBrush(QColor(0xe0, 0xb0, 0x30));
    p.drawRoundedRect(QRectF(2.5, 7.5, 11, 7.5), 1.2, 1.2);
    p.setPen(Qt::NoPen);
    p.setBrush(dark);
    p.drawEllipse(QPointF(8, 10.5), 1.3, 1.3);
    p.drawRect(QRectF(7.5, 10.5, 1, 2.5));
}

void DrawTriangle(QPainter& p, bool up, bool hollow)
{
    const QColor ink(0x40, 0x40, 0x40);
    const QPolygonF shape = up ? QPolygonF{{6, 2}, {11, 10}, {1, 10}} : QPolygonF{{1, 2}, {11, 2}, {6, 10}};
    p.setPen(QPen(ink, 1.2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(hollow ? QBrush(Qt::NoBrush) : QBrush(ink));
    p.drawPolygon(shape);
}

const MarkSet& Marks()
{
    std::unique_ptr<MarkSet>& marks = Storage();
    if (!marks) {
        marks = std::make_unique<MarkSet>();
        marks->list[kHiddenMark] = Draw(kListMarkSize, DrawHidden);
        marks->list[kViewableMark] = Draw(kListMarkSize, DrawViewable);
        marks->list[kReadOnlyMark] = Draw(kListMarkSize, DrawReadOnly);
        marks->header[kAscendingMarker] = Draw(kHeaderMarkSize, [](QPainter& p) { DrawTriangle(p, true, false); });
        marks->header[kDescendingMarker] = Draw(kHeaderMarkSize, [](QPainter& p) { DrawTriangle(p, false, false); });
        marks->header[kPressedDescendingMarker] =
            Draw(kHeaderMarkSize, [](QPainter& p) { DrawTriangle(p, false, true); });
        marks->header[kPressedAscendingMarker] =
            Draw(kHeaderMarkSize, [](QPainter& p) { DrawTriangle(p, true, true); });
        qAddPostRoutine(DropMarks);
    }
    return *marks;
}

const QPixmap& NullPixmap()
{
    static const QPixmap none;
    return none;
}

} // namespace

const QPixmap& ListMark(int index)
{
    if (index < kHiddenMark || index > kReadOnlyMark)
        return NullPixmap();
    return Marks().list[size_t(index)];
}

const QPixmap& HeaderMark(int index)
{
    if (index < kAscendingMarker || index > kPressedAscendingMarker)
        return NullPixmap();
    return Marks().header[size_t(index)];
}

} // namespace tarnel
