#pragma once
// GIF on giflib: the first frame on its logical screen, with its transparency.
#include "viewer/model/ImageBuffer.h"

#include <string>

namespace tarnel {

// False with a message when no row of the first frame could be decoded. A
// frame cut short loads with the rows it holds: complete is false and error
// says why it stopped.
bool LoadGifMemory(const uint8_t* data, size_t size, ImageBuffer& image, std::string& error,
                   uint64_t maxPixels = kMaxImagePixels);

} // namespace tarnel
