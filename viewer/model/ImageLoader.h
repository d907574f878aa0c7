#pragma once
// Picks the decoder for a picture file: JPEG by extension (".JPG", ".JPEG",
// ".JFIF"), every other file by its extension or, failing that, its first bytes.
#include "viewer/model/JpegLoader.h"

#include <functional>
#include <string>

namespace tarnel {

enum class ImageLoadStatus {
    Loaded,       // image holds the picture (see image.complete)
    CannotOpen,   // the JPEG path could not open the file: errorCode
    JpegAborted,  // libjpeg gave up; image holds what was decoded, maybe nothing
    Failed,       // the other decoders: message
};

struct ImageLoadResult {
    ImageLoadStatus status = ImageLoadStatus::Failed;
    int errorCode = 0;
    std::string message;
};

bool IsJpegExtension(const std::string& path);

// Decodes a picture already in memory, the formats this library has no decoder
// of its own for; ext is the upper-cased extension. False with a message when
// the bytes are no picture or the picture is too large.
using MemoryDecoder =
    std::function<bool(const uint8_t* data, size_t size, const std::string& ext, ImageBuffer& image, std::string& error)>;

// The file is read whole first (only a regular file is opened), so a decoder
// never sees anything but memory.
ImageLoadResult LoadImageFile(const std::string& path, const JpegOptions& jpeg, ImageBuffer& image,
                              const MemoryDecoder& other = {});

} // namespace tarnel
