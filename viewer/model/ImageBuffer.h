#pragma once
// A decoded picture as the loaders hand it over: 32-bit pixels 0xAARRGGBB,
// rows top to bottom, no padding. The widget wraps it without converting.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnel {

// Pictures and the files they come from run to tens of megabytes, each page
// touched once: in huge pages the kernel faults them in 512 times less
// often, which is most of the time a large picture takes to show.
void* AllocateLarge(size_t bytes);
void FreeLarge(void* at, size_t bytes) noexcept;

template <class T>
struct LargeAllocator {
    using value_type = T;
    LargeAllocator() = default;
    template <class U>
    LargeAllocator(const LargeAllocator<U>&) noexcept
    {
    }
    T* allocate(size_t n) { return static_cast<T*>(AllocateLarge(n * sizeof(T))); }
    void deallocate(T* at, size_t n) noexcept { FreeLarge(at, n * sizeof(T)); }
    template <class U>
    bool operator==(const LargeAllocator<U>&) const noexcept
    {
        return true;
    }
};

using PixelVector = std::vector<uint32_t, LargeAllocator<uint32_t>>;
using FileBytes = std::vector<uint8_t, LargeAllocator<uint8_t>>;

struct ImageBuffer {
    int width = 0;
    int height = 0;
    PixelVector pixels;
    bool hasAlpha = false;  // some pixel is (partly) transparent
    bool complete = true;   // false when decoding stopped half way
    // The picture's size in the file; larger than width x height when the
    // decoder scaled it down while decoding.
    int fileWidth = 0;
    int fileHeight = 0;

    bool Empty() const { return width <= 0 || height <= 0; }
    uint32_t* Row(int y) { return pixels.data() + size_t(y) * size_t(width); }
};

// No loader allocates a picture of more pixels than this (256 MiB of pixels):
// a header may claim anything.
constexpr uint64_t kMaxImagePixels = uint64_t(1) << 26;

// Sizes the buffer, all pixels transparent; false when w x h is empty or too big.
bool AllocateImage(ImageBuffer& image, int width, int height, uint64_t maxPixels);

constexpr uint32_t OpaqueRgb(uint8_t r, uint8_t g, uint8_t b)
{
    return 0xFF000000u | (uint32_t(r) << 16) | (uint32_t(g) << 8) | b;
}

// Opens a picture for reading only when it is a regular file, never blocking
// on a pipe or a device. -1 with an errno-style code (ENODEV for a pipe,
// device or socket, EISDIR for a directory) otherwise.
int OpenPictureFile(const std::string& path, int& errorCode);

// Reads a whole file into memory; false with errno-style code on failure or
// when the file is larger than maxBytes (EFBIG).
bool ReadWholeFile(const std::string& path, FileBytes& data, int& errorCode, size_t maxBytes = size_t(1) << 30);

} // namespace tarnel
