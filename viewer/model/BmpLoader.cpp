#include "viewer/model/BmpLoader.h"

#include <bit>
#include <cstring>
#include <vector>

namespace tarnel {
namespace {

constexpr uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6;

uint32_t Le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t Le32(const uint8_t* p) { return Le16(p) | Le16(p + 2) << 16; }

struct BmpHeader {
    int64_t width = 0;
    int64_t height = 0; // as stored: negative means top-down
    unsigned bits = 0;
    uint32_t compression = kRgb;
    uint32_t masks[4] = {0, 0, 0, 0}; // red, green, blue, alpha
    uint32_t paletteSize = 0;
    size_t paletteOffset = 0;
    unsigned paletteEntryBytes = 4;
    size_t pixelOffset = 0;
};

// Scales a masked channel to 0..255.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;
    explicit Channel(uint32_t m) : mask(m)
    {
        if (!m) return;
        shift = std::countr_zero(m);
        max = m >> shift;
    }
    uint8_t Of(uint32_t pixel, uint8_t absent) const
    {
        if (!mask) return absent;
        return uint8_t(((pixel & mask) >> shift) * 255u / max);
    }
};

bool ParseHeader(const uint8_t* data, size_t size, BmpHeader& h, std::string& error)
{
    if (size < 26 || data[0] != 'B' || data[1] != 'M') {
        error = "BMP: not a bitmap file";
        return false;
    }
    h.pixelOffset = Le32(data + 10);
    const uint32_t infoSize = Le32(data + 14);
    if (infoSize < 12 || 14 + uint64_t(infoSize) > size) {
        error = "BMP: damaged header";
        return false;
    }
    const uint8_t* info = data + 14;
    if (infoSize < 40) { // the old OS/2 core header
        h.width = Le16(info + 4);
        h.height = int16_t(Le16(info + 6));
        h.bits = Le16(info + 10);
        h.paletteEntryBytes = 3;
    } else {
        h.width = int32_t(Le32(info + 4));
        h.height = int32_t(Le32(info + 8));
        h.bits = Le16(info + 14);
        h.compression = Le32(info + 16);
        h.paletteSize = Le32(info + 32);
        if (h.compression == kBitFields || h.compression == kAlphaBitFields) {
            const unsigned count = h.compression == kAlphaBitFields ? 4 : 3;
            // The masks follow a 40-byte header, or sit inside a longer one.
            if (14 + 40 + 4 * uint64_t(count) > size) {
                error = "BMP: damaged header";
                return false;
            }
            for (unsigned i = 0; i < count; ++i) h.masks[i] = Le32(info + 40 + 4 * i);
            if (infoSize >= 56) h.masks[3] = Le32(info + 52);
            if (infoSize == 40) h.paletteOffset = 14 + 40 + 4 * count;
        }
    }
    if (h.paletteOffset == 0) h.paletteOffset = 14 + infoSize;
    return true;
}

bool ReadPalette(const uint8_t* data, size_t size, const BmpHeader& h, std::vector<uint32_t>& palette)
{
    if (h.bits > 8) return true;
    uint32_t count = h.paletteSize ? h.paletteSize : 1u << h.bits;
    if (count > 256) count = 256;
    palette.assign(256, OpaqueRgb(0, 0, 0));
    for (uint32_t i = 0; i < count; ++i) {
        const size_t at = h.paletteOffset + size_t(i) * h.paletteEntryBytes;
        if (at + 3 > size) return i > 0;
        palette[i] = OpaqueRgb(data[at + 2], data[at + 1], data[at]);
    }
    return true;
}

void DefaultMasks(BmpHeader& h)
{
    if (h.compression == kBitFields || h.compression == kAlphaBitFields) return;
    if (h.bits == 16) {
        h.masks[0] = 0x7C00; h.masks[1] = 0x03E0; h.masks[2] = 0x001F;
    } else if (h.bits == 32) {
        h.masks[0] = 0x00FF0000; h.masks[1] = 0x0000FF00; h.masks[2] = 0x000000FF;
    }
}

bool DecodeRows(const uint8_t* data, size_t size, const BmpHeader& h, const std::vector<uint32_t>& palette,
                ImageBuffer& image, std::string& error)
{
    (void)size;
    (void)error;
    const uint64_t rowBytes = ((uint64_t(image.width) * h.bits + 31) / 32) * 4;
    const Channel red(h.masks[0]), green(h.masks[1]), blue(h.masks[2]), alpha(h.masks[3]);
    const bool topDown = h.height < 0;
    for (int y = 0; y < image.height; ++y) {
        const uint8_t* in = data + h.pixelOffset + size_t(rowBytes) * size_t(y);
        uint32_t* out = image.Row(topDown ? y : image.height - 1 - y);
        for (int x = 0; x < image.width; ++x) {
            switch (h.bits) {
            case 1: out[x] = palette[(in[x / 8] >> (7 - x % 8)) & 1]; break;
            case 4: out[x] = palette[(in[x / 2] >> (x % 2 ? 0 : 4)) & 15]; break;
            case 8: out[x] = palette[in[x]]; break;
            case 24: out[x] = OpaqueRgb(in[3 * x + 2], in[3 * x + 1], in[3 * x]); break;
            default: {
                const uint32_t p = h.bits == 16 ? Le16(in + 2 * x) : Le32(in + 4 * x);
                out[x] = uint32_t(alpha.Of(p, 255)) << 24 | uint32_t(red.Of(p, 0)) << 16
                         | uint32_t(green.Of(p, 0)) << 8 | blue.Of(p, 0);
            }
            }
        }
    }
    if (h.masks[3]) image.hasAlpha = true;
    return true;
}

// Run-length coded rows; a code that runs past the picture ends the decode
// with what was drawn so far.
bool DecodeRle(const uint8_t* data, size_t size, const BmpHeader& h, const std::vector<uint32_t>& palette,
               ImageBuffer& image)
{
    const bool four = h.compression == kRle4;
    size_t at = h.pixelOffset;
    int x = 0, y = 0; // y counts from the bottom row
    auto put = [&](unsigned index) {
        if (x < image.width && y < image.height) image.Row(image.height - 1 - y)[x] = palette[index & 255];
        ++x;
    };
    image.hasAlpha = true; // skipped pixels stay transparent
    while (at + 1 < size && y < image.height) {
        const unsigned count = data[at], value = data[at + 1];
        at += 2;
        if (count > 0) {
            for (unsigned i = 0; i < count; ++i) put(four ? (i % 2 ? value & 15 : value >> 4) : value);
        } else if (value == 0) {
            x = 0, ++y;
        } else if (value == 1) {
            return true;
        } else if (value == 2) {
            if (at + 1 >= size) break;
            x += data[at], y += data[at + 1];
            at += 2;
        } else {
            const size_t bytes = four ? (value + 1) / 2 : value;
            if (at + bytes > size) break;
            for (unsigned i = 0; i < value; ++i)
                put(four ? (i % 2 ? data[at + i / 2] & 15 : data[at + i / 2] >> 4) : data[at + i]);
            at += (bytes + 1) & ~size_t(1);
        }
    }
    image.complete = y >= image.height;
    return true;
}

} // namespace

bool LoadBmpMemory(const uint8_t* data, size_t size, ImageBuffer& image, std::string& error, uint64_t maxPixels)
{
    image = ImageBuffer{};
    BmpHeader h;
    if (!ParseHeader(data, size, h, error)) return false;
    const bool rle = h.compression == kRle8 || h.compression == kRle4;
    const bool supported = (h.compression == kRgb && (h.bits == 1 || h.bits == 4 || h.bits == 8 || h.bits == 16
                                                      || h.bits == 24 || h.bits == 32))
                           || ((h.compression == kBitFields || h.compression == kAlphaBitFields)
                               && (h.bits == 16 || h.bits == 32))
                           || (h.compression == kRle8 && h.bits == 8) || (h.compression == kRle4 && h.bits == 4);
    if (!supported) {
        error = "BMP: unsupported kind of bitmap";
        return false;
    }
    const int64_t height = h.height < 0 ? -h.height : h.height;
    if (h.width <= 0 || height <= 0 || h.width > 0x7FFFFFFF || height > 0x7FFFFFFF) {
        error = "BMP: the picture has no size";
        return false;
    }
    std::vector<uint32_t> palette;
    if (!ReadPalette(data, size, h, palette)) {
        error = "BMP: damaged colour table";
        return false;
    }
    DefaultMasks(h);
    // Uncompressed data must be all there before a byte is allocated.
    if (!rle) {
        const uint64_t rowBytes = ((uint64_t(h.width) * h.bits + 31) / 32) * 4;
        if (h.pixelOffset > size || rowBytes * uint64_t(height) > size - h.pixelOffset) {
            error = "BMP: the file is shorter than its picture claims";
            return false;
        }
    }
    if (!AllocateImage(image, int(h.width), int(height), maxPixels)) {
        error = "BMP: picture too large";
        return false;
    }
    if (rle) {
        if (h.height < 0) { // top-down RLE does not exist
            error = "BMP: damaged header";
            image = ImageBuffer{};
            return false;
        }
        return DecodeRle(data, size, h, palette, image);
    }
    return DecodeRows(data, size, h, palette, image, error);
}

} // namespace tarnel
