#include "widgets/HeaderPainter.h"
#include "widgets/MarkImages.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

using namespace tarnel;

namespace {

const QString kCaptions[] = {QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Time"),
                             QStringLiteral("Description")};

TEST(HeaderPainter, SortSectionByKey)
{
    const int sortKeys[] = {0, 1, 3, 4};
    for (int c = 0; c < 4; ++c)
        for (int key = 0; key <= 4; ++key)
            EXPECT_EQ(IsSortSection(kCaptions[c], key), key == sortKeys[c]) << c << " " << key;
    EXPECT_TRUE(IsSortSection(QStringLiteral("SIZE"), 1));
    EXPECT_FALSE(IsSortSection(QStringLiteral("Sizes"), 1));
}

TEST(HeaderPainter, MarkerRule)
{
    // Not pressed: only the sort column, in the pane's direction.
    HeaderSectionLayout l = HeaderSectionLayoutFor(kCaptions[1], 1, true, false, false);
    EXPECT_EQ(l.marker, kAscendingMarker);
    EXPECT_EQ(l.textShift, 13);
    EXPECT_EQ(l.hOffset, 2);
    EXPECT_EQ(l.vOffset, 2);
    EXPECT_EQ(HeaderSectionLayoutFor(kCaptions[1], 1, false, false, false).marker, kDescendingMarker);
    l = HeaderSectionLayoutFor(kCaptions[0], 1, true, false, false);
    EXPECT_EQ(l.marker, -1);
    EXPECT_EQ(l.textShift, 0);

    // Pressed by the left button: the marker announces the click's direction.
    l = HeaderSectionLayoutFor(kCaptions[1], 1, true, true, true);
    EXPECT_EQ(l.marker, kPressedDescendingMarker) << "sorted ascending by size: a click makes it descending";
    EXPECT_EQ(l.hOffset, 3);
    EXPECT_EQ(l.vOffset, 3);
    EXPECT_EQ(l.textShift, 13);
    EXPECT_EQ(HeaderSectionLayoutFor(kCaptions[1], 1, false, true, true).marker, kPressedAscendingMarker);
    EXPECT_EQ(HeaderSectionLayoutFor(kCaptions[2], 1, true, true, true).marker, kPressedAscendingMarker);
    EXPECT_EQ(HeaderSectionLayoutFor(kCaptions[2], 1, false, true, true).marker, kPressedDescendingMarker);

    // Pressed otherwise (e.g. right button): plain direction marker, pressed offsets.
    l = HeaderSectionLayoutFor(kCaptions[2], 1, false, true, false);
    EXPECT_EQ(l.marker, kDescendingMarker);
    EXPECT_EQ(l.hOffset, 3);
    EXPECT_EQ(HeaderSectionLayoutFor(kCaptions[1], 1, true, true, false).marker, kAscendingMarker);

    // Sorted by type: no column carries the order.
    for (const QString& caption : kCaptions) {
        EXPECT_EQ(HeaderSectionLayoutFor(caption, 2, true, false, false).marker, -1);
        EXPECT_EQ(HeaderSectionLayoutFor(caption, 2, true, true, true).marker, kPressedAscendingMarker);
    }
}

TEST(HeaderPainter, MarkerAndCaptionPlaces)
{
    const QRect rect(10, 0, 100, 20);
    const QRgb white = qRgb(255, 255, 255);
    auto paint = [&](int sortKey) {
        QImage image(120, 20, QImage::Format_RGB32);
        image.fill(white);
        QPainter p(&image);
        PaintHeaderSection(p, rect, QStringLiteral("Name"), sortKey, true, false, false, QPalette());
        return image;
    };
    // Marker box: x from left + 2, y from top + 20/2 - 6 + 2 - 1 = 5, 12 x 12.
    const QRect box(12, 5, 12, 12);
    auto leftmostInk = [&](const QImage& image, bool skipBox) {
        for (int x = 0; x < image.width(); ++x)
            for (int y = 0; y < image.height(); ++y)
                if (image.pixel(x, y) != white && !(skipBox && box.contains(x, y)))
                    return x;
        return -1;
    };
    const QImage sorted = paint(0);
    bool boxInk = false;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            boxInk = boxInk || sorted.pixel(x, y) != white;
    EXPECT_TRUE(boxInk);
    EXPECT_GE(leftmostInk(sorted, true), 10 + 2 + 13) << "caption moved past the marker";
    EXPECT_GE(leftmostInk(sorted, false), 12);

    const int plain = leftmostInk(paint(1), false);
    EXPECT_GE(plain, 12);
    EXPECT_LT(plain, 10 + 2 + 13);
}

} // namespace
