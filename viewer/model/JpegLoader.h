#pragma once
// JPEG decoding on libjpeg, scaled in the DCT so that a large photo costs a
// fraction of a full decode.
#include "viewer/model/ImageBuffer.h"

#include <string>

namespace tarnel {

struct JpegOptions {
    int scaleRatio = 100;         // percent; libjpeg takes the nearest n/8 at or above it
    bool blockSmoothing = false;
    bool forceGray = false;
    // When both are above 0 the decoder may scale further down, but never so
    // far that the picture fitted into this box would be enlarged.
    int fitWidth = 0;
    int fitHeight = 0;
    uint64_t maxPixels = kMaxImagePixels;      // of the decoded (maybe scaled) picture
    uint64_t maxFilePixels = uint64_t(1) << 30; // of the picture as stored
    uint64_t maxMemory = uint64_t(512) << 20;   // what libjpeg may hold while decoding
};

struct JpegResult {
    bool opened = false;   // false: the file could not be opened, see errorCode
    int errorCode = 0;     // errno of the failed open
    bool decoded = false;  // a picture came out (maybe incomplete)
    std::string message;   // libjpeg's text for a fatal error
};

JpegResult LoadJpegFile(const std::string& path, const JpegOptions& options, ImageBuffer& image);
JpegResult LoadJpegMemory(const uint8_t* data, size_t size, const JpegOptions& options, ImageBuffer& image);

} // namespace tarnel
