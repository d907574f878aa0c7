// Arbitrary bytes through the picture decoders the image page uses: no access
// outside the buffers, no runaway allocation, and a picture that claims to be
// loaded has exactly width x height pixels.
#include "viewer/model/BmpLoader.h"
#include "viewer/model/GifLoader.h"
#include "viewer/model/JpegLoader.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

using namespace tarnel;

namespace {

void Check(const ImageBuffer& image)
{
    if (!image.Empty() && image.pixels.size() != size_t(image.width) * size_t(image.height))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size ? size : 1]);
    if (size)
        std::memcpy(copy.get(), data, size);
    // A small cap keeps each run fast; the loaders must refuse larger claims.
    constexpr uint64_t kCap = 1u << 20;
    std::string error;
    {
        ImageBuffer image;
        LoadGifMemory(copy.get(), size, image, error, kCap);
        Check(image);
    }
    {
        ImageBuffer image;
        LoadBmpMemory(copy.get(), size, image, error, kCap);
        Check(image);
    }
    {
        ImageBuffer image;
        JpegOptions options;
        options.maxPixels = kCap;
        options.maxFilePixels = uint64_t(1) << 24;
        options.maxMemory = uint64_t(64) << 20;
        options.fitWidth = size ? data[0] : 0;
        options.fitHeight = size > 1 ? data[1] : 0;
        options.forceGray = size & 1; // grey output takes other paths, the ink conversion's too
        LoadJpegMemory(copy.get(), size, options, image);
        Check(image);
    }
    return 0;
}
