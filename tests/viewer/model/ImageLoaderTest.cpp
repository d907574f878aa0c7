#include "viewer/model/BmpLoader.h"
#include "viewer/model/GifLoader.h"
#include "viewer/model/ImageLoader.h"

#include "panes/TempTree.h"
#include "viewer/model/ImageTestFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {
namespace {

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }
int Red(uint32_t p) { return int(p >> 16 & 0xFF); }
int Green(uint32_t p) { return int(p >> 8 & 0xFF); }
int Blue(uint32_t p) { return int(p & 0xFF); }
int Alpha(uint32_t p) { return int(p >> 24); }

TEST(JpegLoader, DecodesScalesAndGrays)
{
    const std::string jpeg = test::MakeJpeg(160, 96);
    ImageBuffer image;
    JpegResult r = LoadJpegMemory(Bytes(jpeg), jpeg.size(), {}, image);
    ASSERT_TRUE(r.decoded) << r.message;
    EXPECT_TRUE(image.complete);
    EXPECT_EQ(image.width, 160);
    EXPECT_EQ(image.height, 96);
    EXPECT_LT(Red(image.Row(50)[0]), 20);
    EXPECT_GT(Red(image.Row(50)[159]), 235) << "red rises to the right: no component swap";
    EXPECT_GT(Blue(image.Row(50)[80]), 180);

    JpegOptions half;
    half.scaleRatio = 50;
    LoadJpegMemory(Bytes(jpeg), jpeg.size(), half, image);
    EXPECT_EQ(image.width, 80);
    EXPECT_EQ(image.fileWidth, 160);

    JpegOptions fit; // a 40 x 40 box needs a quarter of 160 x 96 at least
    fit.fitWidth = fit.fitHeight = 40;
    LoadJpegMemory(Bytes(jpeg), jpeg.size(), fit, image);
    EXPECT_EQ(image.width, 40);
    EXPECT_EQ(image.height, 24);

    JpegOptions gray;
    gray.forceGray = true;
    LoadJpegMemory(Bytes(jpeg), jpeg.size(), gray, image);
    const uint32_t p = image.Row(10)[100];
    EXPECT_EQ(Red(p), Green(p));
    EXPECT_EQ(Green(p), Blue(p));
}

TEST(JpegLoader, InkPicturesComeOutInScreenColours)
{
    struct Case {
        const char* what;
        test::Inks inks;
        bool ycck, adobe;
        int r, g, b;
    };
    const Case cases[] = {
        {"inverted Adobe CMYK, red", {0, 255, 255, 0}, false, true, 255, 0, 0},
        {"inverted Adobe CMYK, half black over cyan and magenta", {255, 255, 0, 128}, false, true, 0, 0, 127},
        {"YCCK, red", {0, 255, 255, 0}, true, true, 255, 0, 0},
        {"YCCK, grey", {0, 0, 0, 102}, true, true, 153, 153, 153},
        {"CMYK without a marker, green", {255, 0, 255, 0}, false, false, 0, 255, 0},
        {"CMYK without a marker, white", {0, 0, 0, 0}, false, false, 255, 255, 255},
    };
    for (const Case& c : cases) {
        const std::string jpeg = test::MakeInkJpeg(24, 16, c.inks, c.ycck, c.adobe);
        ImageBuffer image;
        const JpegResult r = LoadJpegMemory(Bytes(jpeg), jpeg.size(), {}, image);
        ASSERT_TRUE(r.decoded) << c.what << ": " << r.message;
        ASSERT_TRUE(image.complete) << c.what;
        ASSERT_EQ(image.width, 24);
        const uint32_t p = image.Row(8)[12];
        EXPECT_NEAR(Red(p), c.r, 4) << c.what;
        EXPECT_NEAR(Green(p), c.g, 4) << c.what;
        EXPECT_NEAR(Blue(p), c.b, 4) << c.what;
        EXPECT_EQ(Alpha(p), 255) << c.what;

        JpegOptions gray; // grey and scaled output of ink pictures too
        gray.forceGray = true;
        gray.scaleRatio = 50;
        ASSERT_TRUE(LoadJpegMemory(Bytes(jpeg), jpeg.size(), gray, image).decoded) << c.what;
        EXPECT_EQ(image.width, 12);
        const uint32_t q = image.Row(4)[6];
        EXPECT_EQ(Red(q), Green(q)) << c.what;
        EXPECT_EQ(Green(q), Blue(q)) << c.what;
        EXPECT_NEAR(Red(q), (77 * c.r + 150 * c.g + 29 * c.b) / 256, 4) << c.what;
    }
}

TEST(JpegLoader, BadInputEndsCleanly)
{
    ImageBuffer image;
    const std::string garbage = "\xFF\xD8\xFF\xE0 this is not really a JPEG stream at all";
    JpegResult r = LoadJpegMemory(Bytes(garbage), garbage.size(), {}, image);
    EXPECT_FALSE(r.decoded);
    EXPECT_FALSE(r.message.empty());
    EXPECT_TRUE(image.Empty());
    r = LoadJpegMemory(nullptr, 0, {}, image);
    EXPECT_FALSE(r.decoded);

    // Truncated half way: the top rows are the picture's own.
    const std::string jpeg = test::MakeJpeg(256, 256);
    r = LoadJpegMemory(Bytes(jpeg), jpeg.size() * 6 / 10, {}, image);
    ASSERT_TRUE(r.decoded) << r.message;
    EXPECT_EQ(image.width, 256);
    EXPECT_GT(Blue(image.Row(0)[10]), 180);

    // A megabyte of comment is skipped, not kept.
    const std::string commented = test::MakeJpeg(16, 16, std::string(1 << 20, 'c'));
    r = LoadJpegMemory(Bytes(commented), commented.size(), {}, image);
    EXPECT_TRUE(r.decoded) << r.message;

    // A header claiming more pixels than allowed allocates nothing.
    JpegOptions small;
    small.maxPixels = 1000;
    r = LoadJpegMemory(Bytes(jpeg), jpeg.size(), small, image);
    EXPECT_FALSE(r.decoded);
    EXPECT_TRUE(image.pixels.empty());
}

long PeakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A kilobyte that claims a huge progressive picture: libjpeg would keep every
// coefficient of it, gigabytes, even for a picture scaled down to the page.
TEST(JpegLoader, HugeClaimsAreRefusedWithoutTheirMemory)
{
    ImageBuffer image;
    JpegOptions page; // as the image page decodes: fitted to a window
    page.fitWidth = 800;
    page.fitHeight = 600;
    const long before = PeakKilobytes();
    const std::string lying = test::MakeLyingProgressiveJpeg(20000, 20000);
    ASSERT_LT(lying.size(), 2000u);
    JpegResult r = LoadJpegMemory(Bytes(lying), lying.size(), page, image);
    EXPECT_FALSE(r.decoded);
    EXPECT_NE(r.message.find("too large"), std::string::npos) << r.message;
    EXPECT_TRUE(image.pixels.empty());
    EXPECT_LT(PeakKilobytes() - before, 600L * 1024) << "the decoder must not take the memory first";

    const std::string huge = test::MakeLyingProgressiveJpeg(65500, 65500);
    r = LoadJpegMemory(Bytes(huge), huge.size(), page, image);
    EXPECT_FALSE(r.decoded);
    EXPECT_EQ(r.message, "Picture too large (65500x65500)");
    EXPECT_EQ(image.fileWidth, 65500) << "the size in the file is still known";

    // An honest progressive picture is well inside the limit.
    const std::string real = test::MakeJpeg(640, 480, {}, 90, true);
    r = LoadJpegMemory(Bytes(real), real.size(), page, image);
    EXPECT_TRUE(r.decoded) << r.message;
    EXPECT_TRUE(image.complete);
    EXPECT_EQ(image.width, 640);
}

TEST(GifLoader, FirstFrameWithTransparency)
{
    ImageBuffer image;
    std::string error;
    for (const bool interlaced : {false, true}) {
        const std::string gif = test::MakeGif(20, 13, true, 3, interlaced);
        ASSERT_TRUE(LoadGifMemory(Bytes(gif), gif.size(), image, error)) << error;
        EXPECT_EQ(image.width, 20);
        EXPECT_EQ(image.height, 13);
        EXPECT_EQ(image.Row(0)[0], OpaqueRgb(0, 0, 0));
        EXPECT_EQ(image.Row(0)[1], OpaqueRgb(255, 255, 255));
        EXPECT_EQ(Alpha(image.Row(0)[2]), 0) << "index 2 is transparent";
        EXPECT_EQ(image.Row(9)[0], OpaqueRgb(0, 0, 0)) << "row 9 in its place, interlaced " << interlaced;
        EXPECT_EQ(image.Row(10)[0], OpaqueRgb(255, 255, 255));
    }
    const std::string opaque = test::MakeGif(4, 4, false);
    ASSERT_TRUE(LoadGifMemory(Bytes(opaque), opaque.size(), image, error));
    EXPECT_EQ(image.Row(0)[2], OpaqueRgb(255, 0, 0));
}

TEST(GifLoader, DamagedAndManyFramedFiles)
{
    ImageBuffer image;
    std::string error;
    const std::string gif = test::MakeGif(400, 400, false);
    // Cut half way: the rows that arrived show, the rest stays clear.
    ASSERT_TRUE(LoadGifMemory(Bytes(gif), gif.size() / 2, image, error));
    EXPECT_FALSE(image.complete);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(image.Row(0)[1], OpaqueRgb(255, 255, 255));
    EXPECT_EQ(image.Row(2)[0], OpaqueRgb(255, 0, 0));
    EXPECT_EQ(Alpha(image.Row(399)[399]), 0);
    // Cut before the first row: nothing to show.
    const size_t descriptor = gif.find(',');
    ASSERT_NE(descriptor, std::string::npos);
    EXPECT_FALSE(LoadGifMemory(Bytes(gif), descriptor + 11, image, error));
    EXPECT_TRUE(image.Empty());
    EXPECT_FALSE(LoadGifMemory(Bytes(gif), 10, image, error));
    const std::string garbage = "GIF89a garbage garbage garbage";
    EXPECT_FALSE(LoadGifMemory(Bytes(garbage), garbage.size(), image, error));

    const std::string many = test::MakeGif(8, 8, false, 10000);
    EXPECT_TRUE(LoadGifMemory(Bytes(many), many.size(), image, error)) << "only the first frame is read";

    EXPECT_FALSE(LoadGifMemory(Bytes(gif), gif.size(), image, error, 100)) << "screen larger than allowed";
}

TEST(BmpLoader, BottomUpTopDownAndRle)
{
    ImageBuffer image;
    std::string error;
    for (const int height : {5, -5}) {
        const std::string bmp = test::MakeBmp24(7, height);
        ASSERT_TRUE(LoadBmpMemory(Bytes(bmp), bmp.size(), image, error)) << error;
        EXPECT_EQ(image.width, 7);
        EXPECT_EQ(image.height, 5);
        EXPECT_EQ(image.Row(3)[6], OpaqueRgb(6, 3, 7)) << "height " << height;
    }
    const std::string rle = test::MakeBmpRle8(6, 4);
    ASSERT_TRUE(LoadBmpMemory(Bytes(rle), rle.size(), image, error)) << error;
    EXPECT_EQ(image.Row(0)[5], OpaqueRgb(0, 255, 0));
    EXPECT_TRUE(image.complete);
}

TEST(BmpLoader, LyingHeadersAllocateNothing)
{
    ImageBuffer image;
    std::string error;
    const std::string huge = test::MakeBmp24(4, 4, 100000, 100000);
    EXPECT_FALSE(LoadBmpMemory(Bytes(huge), huge.size(), image, error));
    EXPECT_TRUE(image.pixels.empty());
    const std::string bmp = test::MakeBmp24(40, 40);
    EXPECT_FALSE(LoadBmpMemory(Bytes(bmp), bmp.size() - 100, image, error)) << "truncated";
    EXPECT_FALSE(LoadBmpMemory(Bytes(bmp), 20, image, error));
    std::string zeroWide = test::MakeBmp24(4, 4, 0, 0);
    zeroWide[18] = 0;
    EXPECT_FALSE(LoadBmpMemory(Bytes(zeroWide), zeroWide.size(), image, error));
    // Run-length data that runs off the picture stops without writing outside it.
    std::string rle = test::MakeBmpRle8(6, 4);
    rle[62] = char(200);
    EXPECT_TRUE(LoadBmpMemory(Bytes(rle), rle.size(), image, error));
}

TEST(ImageLoader, PicksTheDecoderByExtensionThenContent)
{
    test::TempTree tree;
    const std::string jfif = tree.Path() + "photo.JFIF", gifAsBmp = tree.Path() + "odd.png";
    std::ofstream(jfif, std::ios::binary) << test::MakeJpeg(8, 8);
    std::ofstream(gifAsBmp, std::ios::binary) << test::MakeGif(3, 3, false);
    ImageBuffer image;
    EXPECT_EQ(LoadImageFile(jfif, {}, image).status, ImageLoadStatus::Loaded);
    EXPECT_EQ(image.width, 8);
    EXPECT_EQ(LoadImageFile(gifAsBmp, {}, image).status, ImageLoadStatus::Loaded);
    EXPECT_EQ(image.width, 3);

    const ImageLoadResult missing = LoadImageFile(tree.Path() + "gone.jpg", {}, image);
    EXPECT_EQ(missing.status, ImageLoadStatus::CannotOpen);
    EXPECT_EQ(missing.errorCode, ENOENT);
    std::ofstream(tree.Path() + "bad.jpg") << "no jpeg";
    EXPECT_EQ(LoadImageFile(tree.Path() + "bad.jpg", {}, image).status, ImageLoadStatus::JpegAborted);
    std::ofstream(tree.Path() + "bad.bmp") << "no bmp";
    const ImageLoadResult bad = LoadImageFile(tree.Path() + "bad.bmp", {}, image);
    EXPECT_EQ(bad.status, ImageLoadStatus::Failed);
    EXPECT_FALSE(bad.message.empty());
}

// A named pipe with a picture's name: opening it for reading would wait for a
// writer, and the window with it.
TEST(ImageLoader, APipeIsRefusedWithoutWaitingForAWriter)
{
    test::TempTree tree;
    for (const char* name : {"pipe.jpg", "pipe.gif", "pipe.bmp", "pipe.png"}) {
        const std::string fifo = tree.Path() + name;
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        ImageBuffer image;
        auto loading = std::async(std::launch::async, [&] { return LoadImageFile(fifo, {}, image); });
        if (loading.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
            const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK); // lets the blocked open return
            ::close(writer);
            ADD_FAILURE() << name << " blocked on the pipe";
            continue;
        }
        const ImageLoadResult result = loading.get();
        EXPECT_NE(result.status, ImageLoadStatus::Loaded) << name;
        EXPECT_TRUE(image.Empty()) << name;
        if (IsJpegExtension(fifo))
            EXPECT_EQ(result.status, ImageLoadStatus::CannotOpen);
        else
            EXPECT_NE(result.message.find("not a regular file"), std::string::npos) << result.message;
    }
}

} // namespace
} // namespace tarnel
