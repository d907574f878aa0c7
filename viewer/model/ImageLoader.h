#pragma once
// Picks the decoder for a picture file: JPEG by extension (".JPG", ".JPEG",
// ".JFIF"), every other file by its extension or, failing that, its first bytes.
#include "viewer/model/JpegLoader.h"

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

ImageLoadResult LoadImageFile(const std::string& path, const JpegOptions& jpeg, ImageBuffer& image);

} // namespace tarnel
