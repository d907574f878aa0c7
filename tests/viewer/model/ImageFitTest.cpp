#include "viewer/model/ImageFit.h"

#include <gtest/gtest.h>

namespace tarnel {
namespace {

ImageFit Fit(int cw, int ch, int pw, int ph, ScaleStyle style, bool center = true, bool border = false,
             bool overSize = false)
{
    return FitImage({cw, ch, pw, ph, style, center, border, overSize});
}

TEST(ImageFit, ScaleNeverEnlargesUnlessOverSize)
{
    ImageFit f = Fit(400, 300, 100, 50, ScaleStyle::Scale);
    EXPECT_EQ(f.width, 100);
    EXPECT_EQ(f.height, 50);
    EXPECT_EQ(f.x, 150);
    EXPECT_EQ(f.y, 125);
    EXPECT_DOUBLE_EQ(f.scale, 1.0);

    f = Fit(400, 300, 100, 50, ScaleStyle::Scale, true, false, true);
    EXPECT_EQ(f.width, 400);
    EXPECT_EQ(f.height, 200);
    EXPECT_DOUBLE_EQ(f.scale, 4.0);
}

TEST(ImageFit, WideAndTallPicturesShareOneRatio)
{
    ImageFit f = Fit(200, 200, 800, 400, ScaleStyle::Scale);
    EXPECT_EQ(f.width, 200);
    EXPECT_EQ(f.height, 100);
    EXPECT_EQ(f.x, 0);
    EXPECT_EQ(f.y, 50);
    EXPECT_DOUBLE_EQ(f.scale, 0.25);

    f = Fit(300, 100, 1000, 1000, ScaleStyle::Scale);
    EXPECT_EQ(f.width, 100);
    EXPECT_EQ(f.x, 100);
}

TEST(ImageFit, CentringTruncatesAndBorderShifts)
{
    ImageFit f = Fit(11, 11, 4, 4, ScaleStyle::Normal);
    EXPECT_EQ(f.x, 3) << "the odd pixel goes to the right";
    f = Fit(11, 11, 4, 4, ScaleStyle::Normal, true, true);
    EXPECT_EQ(f.x, 2 + 1) << "(9 - 4) div 2, then one for the border";
    f = Fit(10, 10, 40, 40, ScaleStyle::Normal);
    EXPECT_EQ(f.x, -15) << "a larger picture centres to the left of the edge";
    f = Fit(10, 10, 41, 41, ScaleStyle::Normal);
    EXPECT_EQ(f.x, -15) << "division truncates toward zero";
    f = Fit(100, 80, 5, 5, ScaleStyle::StretchXY, false, true);
    EXPECT_EQ(f.width, 98);
    EXPECT_EQ(f.height, 78);
    EXPECT_EQ(f.x, 1);
    f = Fit(100, 80, 5, 5, ScaleStyle::StretchX, false);
    EXPECT_EQ(f.width, 100);
    EXPECT_EQ(f.height, 5);
    f = Fit(100, 80, 5, 5, ScaleStyle::StretchY, false);
    EXPECT_EQ(f.width, 5);
    EXPECT_EQ(f.height, 80);
    EXPECT_FALSE(Fit(100, 80, 0, 5, ScaleStyle::Scale).drawPicture);
}

} // namespace
} // namespace tarnel
