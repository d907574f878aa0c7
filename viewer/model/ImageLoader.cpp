#include "viewer/model/ImageLoader.h"

#include "viewer/model/BmpLoader.h"
#include "viewer/model/GifLoader.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace tarnel {
namespace {

std::string UpperExtension(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot);
    for (char& c : ext)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return ext;
}

ImageLoadResult FromJpeg(const JpegResult& jpeg, const ImageBuffer& image)
{
    ImageLoadResult result;
    if (!jpeg.opened) {
        result.status = ImageLoadStatus::CannotOpen;
        result.errorCode = jpeg.errorCode;
    } else if (!jpeg.message.empty() || image.Empty()) {
        result.status = ImageLoadStatus::JpegAborted;
        result.message = jpeg.message;
    } else {
        result.status = ImageLoadStatus::Loaded;
    }
    return result;
}

} // namespace

bool IsJpegExtension(const std::string& path)
{
    const std::string ext = UpperExtension(path);
    return ext == ".JPG" || ext == ".JPEG" || ext == ".JFIF";
}

ImageLoadResult LoadImageFile(const std::string& path, const JpegOptions& jpeg, ImageBuffer& image,
                              const MemoryDecoder& other)
{
    image = ImageBuffer{};
    if (IsJpegExtension(path)) return FromJpeg(LoadJpegFile(path, jpeg, image), image);

    ImageLoadResult result;
    FileBytes data;
    if (!ReadWholeFile(path, data, result.errorCode)) {
        result.message = result.errorCode == ENODEV ? std::string("Cannot read the picture: it is not a regular file")
                                                    : std::string("Cannot read the picture: ") + std::strerror(result.errorCode);
        return result;
    }
    const std::string ext = UpperExtension(path);
    const bool gif = ext == ".GIF" || (ext != ".BMP" && data.size() >= 3 && std::memcmp(data.data(), "GIF", 3) == 0);
    const bool bmp = ext == ".BMP" || (!gif && data.size() >= 2 && data[0] == 'B' && data[1] == 'M');
    bool ok = false;
    if (gif) ok = LoadGifMemory(data.data(), data.size(), image, result.message);
    else if (bmp) ok = LoadBmpMemory(data.data(), data.size(), image, result.message);
    else if (data.size() >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
        return FromJpeg(LoadJpegMemory(data.data(), data.size(), jpeg, image), image);
    else if (other) {
        ok = other(data.data(), data.size(), ext, image, result.message);
        if (!ok) image = ImageBuffer{};
    } else result.message = "Unknown picture file extension (" + ext + ")";
    result.status = ok ? ImageLoadStatus::Loaded : ImageLoadStatus::Failed;
    return result;
}

} // namespace tarnel
