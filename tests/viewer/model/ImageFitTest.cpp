#include "viewer/model/ImageFit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

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


// The ratio is rounded to a single and the products are truncated exactly:
// a long double holds every product of an int and a single without rounding.
ImageFit ReferenceScale(int cw, int ch, int pw, int ph, bool border, bool overSize)
{
    const int aw = cw - (border ? 2 : 0), ah = ch - (border ? 2 : 0);
    float r = std::min(float(static_cast<long double>(aw) / pw), float(static_cast<long double>(ah) / ph));
    if (r > 1.0f && !overSize)
        r = 1.0f;
    ImageFit f;
    f.scale = r;
    f.width = int(static_cast<long double>(pw) * r);
    f.height = int(static_cast<long double>(ph) * r);
    f.x = (aw - f.width) / 2 + (border ? 1 : 0);
    f.y = (ah - f.height) / 2 + (border ? 1 : 0);
    return f;
}

TEST(ImageFit, ScaledSizesTruncateTheExactProductWithTheSingleRatio)
{
    // 100 / 104 as a single is a little under the true ratio: 104 times it is
    // 99.99999..., which is 99, where a product in single precision says 100.
    ImageFit f = Fit(100, 1000, 104, 52, ScaleStyle::Scale);
    EXPECT_EQ(f.width, 99);
    EXPECT_EQ(f.height, 49);
    EXPECT_EQ(f.x, 0);

    std::mt19937 random(20261209);
    auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    for (int i = 0; i < 20000; ++i) {
        const bool huge = i % 10 == 0;
        const int cw = huge ? pick(0, 1 << 30) : pick(0, 4000), ch = huge ? pick(0, 1 << 30) : pick(0, 3000);
        const int pw = huge ? pick(1, 1 << 30) : pick(1, 12000), ph = huge ? pick(1, 1 << 30) : pick(1, 12000);
        const bool border = pick(0, 1), overSize = pick(0, 1);
        const ImageFit got = Fit(cw, ch, pw, ph, ScaleStyle::Scale, true, border, overSize);
        const ImageFit want = ReferenceScale(cw, ch, pw, ph, border, overSize);
        ASSERT_EQ(got.width, want.width) << cw << "x" << ch << " " << pw << "x" << ph << " " << border << overSize;
        ASSERT_EQ(got.height, want.height) << cw << "x" << ch << " " << pw << "x" << ph;
        ASSERT_EQ(got.x, want.x);
        ASSERT_EQ(got.y, want.y);
        ASSERT_EQ(float(got.scale), float(want.scale));
    }
    // A border on a control under two pixels leaves a negative room: the
    // ratio is negative and the product still truncates toward zero.
    f = Fit(1, 1, 3, 3, ScaleStyle::Scale, true, true);
    const ImageFit want = ReferenceScale(1, 1, 3, 3, true, false);
    EXPECT_EQ(f.width, want.width);
    EXPECT_EQ(f.height, want.height);
}

} // namespace
} // namespace tarnel
