// Loads a 24-megapixel JPEG (6000 x 4000) as the image page does, scaled in
// the DCT for a 1000 x 700 page, and in full; beside "djpeg" on the same file
// in the same run (scaled 1/4, the scale the page picks, and in full, output
// thrown away). Then a 4000 x 3000 BMP and GIF through the generic loader.
// Best of the rounds, wall time in milliseconds.
//
// usage: jpeg_decode_bench [ROUNDS]
#include "viewer/model/ImageLoader.h"
#include "viewer/model/ImageTestFiles.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <unistd.h>

using namespace tarnel;
using Clock = std::chrono::steady_clock;

namespace {

template <typename F>
double BestMs(int rounds, F run)
{
    double best = 1e18;
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = Clock::now();
        run();
        best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    return best;
}

void Save(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

double LoadMs(int rounds, const std::string& path, int fitW, int fitH)
{
    return BestMs(rounds, [&] {
        JpegOptions options;
        options.fitWidth = fitW;
        options.fitHeight = fitH;
        ImageBuffer image;
        if (LoadImageFile(path, options, image).status != ImageLoadStatus::Loaded)
            std::abort();
    });
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    char dir[] = "/tmp/tarnel-jpeg-bench-XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    const std::string jpeg = std::string(dir) + "/photo.jpg";
    const std::string bmp = std::string(dir) + "/big.bmp";
    const std::string gif = std::string(dir) + "/big.gif";
    Save(jpeg, test::MakeJpeg(6000, 4000, {}, 92));
    Save(bmp, test::MakeBmp24(4000, 3000));
    Save(gif, test::MakeGif(4000, 3000, false));

    const bool haveDjpeg = std::system("command -v djpeg >/dev/null 2>&1") == 0;
    std::printf("24 MP JPEG, page 1000x700 (DCT scaled): %8.1f ms\n", LoadMs(rounds, jpeg, 1000, 700));
    if (haveDjpeg)
        std::printf("  djpeg -scale 1/4 (the same output)  : %8.1f ms\n", BestMs(rounds, [&] {
                        std::system(("djpeg -scale 1/4 -outfile /dev/null " + jpeg).c_str());
                    }));
    std::printf("24 MP JPEG, full size                 : %8.1f ms\n", LoadMs(rounds, jpeg, 0, 0));
    if (haveDjpeg)
        std::printf("  djpeg                               : %8.1f ms\n", BestMs(rounds, [&] {
                        std::system(("djpeg -outfile /dev/null " + jpeg).c_str());
                    }));
    std::printf("4000x3000 BMP                         : %8.1f ms\n", LoadMs(rounds, bmp, 1000, 700));
    std::printf("4000x3000 GIF                         : %8.1f ms\n", LoadMs(rounds, gif, 1000, 700));
    std::remove(jpeg.c_str());
    std::remove(bmp.c_str());
    std::remove(gif.c_str());
    rmdir(dir);
    return 0;
}
