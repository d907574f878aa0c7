#pragma once
// Windows bitmaps: 1, 4, 8, 16, 24 and 32 bits per pixel, uncompressed, with
// bit fields, or run-length coded (RLE8, RLE4); bottom-up or top-down.
#include "viewer/model/ImageBuffer.h"

#include <string>

namespace tarnel {

bool LoadBmpMemory(const uint8_t* data, size_t size, ImageBuffer& image, std::string& error,
                   uint64_t maxPixels = kMaxImagePixels);

} // namespace tarnel
