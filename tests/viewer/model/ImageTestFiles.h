#pragma once
// Small pictures made on the spot: JPEG through libjpeg's encoder, GIF
// through giflib's, BMP byte by byte.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gif_lib.h>
#include <jpeglib.h>

namespace tarnel::test {

// A JPEG of the given size; colour is a horizontal red ramp over blue.
inline std::string MakeJpeg(int width, int height, const std::string& comment = {}, int quality = 90,
                            bool progressive = false)
{
    jpeg_compress_struct c;
    jpeg_error_mgr errors;
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    if (progressive)
        jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    if (!comment.empty()) {
        for (size_t at = 0; at < comment.size(); at += 65000)
            jpeg_write_marker(&c, JPEG_COM, reinterpret_cast<const JOCTET*>(comment.data() + at),
                              unsigned(std::min<size_t>(65000, comment.size() - at)));
    }
    std::vector<JSAMPLE> row(size_t(width) * 3);
    for (int x = 0; x < width; ++x) {
        row[size_t(3 * x)] = JSAMPLE(x * 255 / (width > 1 ? width - 1 : 1));
        row[size_t(3 * x + 1)] = 0;
        row[size_t(3 * x + 2)] = 200;
    }
    while (c.next_scanline < c.image_height) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::string bytes(reinterpret_cast<char*>(out), size);
    std::free(out);
    return bytes;
}

// A JPEG of four-colour ink, every pixel the same. ycck stores it the way
// printers' files often do; adobe writes the Adobe marker, whose files carry
// the inks inverted (255 is no ink), as the marker's readers expect.
struct Inks {
    int c, m, y, k; // 0 no ink, 255 full
};
inline std::string MakeInkJpeg(int width, int height, Inks inks, bool ycck, bool adobe)
{
    jpeg_compress_struct c;
    jpeg_error_mgr errors;
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = 4;
    c.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, ycck ? JCS_YCCK : JCS_CMYK);
    c.write_Adobe_marker = adobe ? TRUE : FALSE;
    jpeg_set_quality(&c, 100, TRUE);
    jpeg_start_compress(&c, TRUE);
    const int flip = adobe ? 255 : 0;
    std::vector<JSAMPLE> row;
    for (int x = 0; x < width; ++x)
        for (const int ink : {inks.c, inks.m, inks.y, inks.k})
            row.push_back(JSAMPLE(ink ^ flip));
    while (c.next_scanline < c.image_height) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::string bytes(reinterpret_cast<char*>(out), size);
    std::free(out);
    return bytes;
}

// A small progressive JPEG whose frame header claims another size: the data
// ends long before such a picture would.
inline std::string MakeLyingProgressiveJpeg(unsigned claimWidth, unsigned claimHeight)
{
    std::string bytes = MakeJpeg(32, 32, {}, 90, true);
    const size_t sof = bytes.find("\xFF\xC2");
    if (sof == std::string::npos || sof + 9 > bytes.size())
        return {};
    bytes[sof + 5] = char(claimHeight >> 8), bytes[sof + 6] = char(claimHeight & 0xFF);
    bytes[sof + 7] = char(claimWidth >> 8), bytes[sof + 8] = char(claimWidth & 0xFF);
    return bytes;
}

// A GIF: colour 0 black, 1 white, 2 red (transparent when asked); the frame
// is filled with index (x + y) % 3. More frames repeat the first.
inline std::string MakeGif(int width, int height, bool transparentRed, int frames = 1, bool interlaced = false)
{
    std::string bytes;
    auto write = [](GifFileType* gif, const GifByteType* data, int length) {
        static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(data), size_t(length));
        return length;
    };
    int error = 0;
    GifFileType* gif = EGifOpen(&bytes, write, &error);
    GifColorType colours[4] = {{0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {0, 0, 255}};
    ColorMapObject* map = GifMakeMapObject(4, colours);
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, width, height, 2, 0, map);
    std::vector<GifPixelType> line(static_cast<size_t>(width), 0);
    for (int f = 0; f < frames; ++f) {
        if (transparentRed) {
            GraphicsControlBlock gcb{};
            gcb.TransparentColor = 2;
            gcb.DelayTime = 1;
            GifByteType ext[4];
            const size_t n = EGifGCBToExtension(&gcb, ext);
            EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(n), ext);
        }
        EGifPutImageDesc(gif, 0, 0, width, height, interlaced, nullptr);
        // Interlaced frames are written in pass order; the pixel still depends on its row.
        std::vector<int> order;
        if (interlaced) {
            const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
            for (int p = 0; p < 4; ++p)
                for (int y = start[p]; y < height; y += step[p]) order.push_back(y);
        } else {
            for (int y = 0; y < height; ++y) order.push_back(y);
        }
        for (const int y : order) {
            for (int x = 0; x < width; ++x) line[size_t(x)] = GifPixelType((x + y) % 3);
            EGifPutLine(gif, line.data(), width);
        }
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return bytes;
}

inline void Put16(std::string& s, uint32_t v) { s += char(v & 0xFF), s += char((v >> 8) & 0xFF); }
inline void Put32(std::string& s, uint32_t v) { Put16(s, v & 0xFFFF), Put16(s, v >> 16); }

// A 24-bit bottom-up BMP whose pixel (x, y) is (x, y, 7); height < 0 makes a
// top-down one. claimWidth / claimHeight put other sizes in the header.
inline std::string MakeBmp24(int width, int height, int claimWidth = 0, int claimHeight = 0)
{
    const int rows = height < 0 ? -height : height;
    const uint32_t rowBytes = (uint32_t(width) * 3 + 3) & ~3u;
    std::string s = "BM";
    Put32(s, 54 + rowBytes * uint32_t(rows));
    Put32(s, 0);
    Put32(s, 54);
    Put32(s, 40);
    Put32(s, uint32_t(claimWidth ? claimWidth : width));
    Put32(s, uint32_t(claimHeight ? claimHeight : height));
    Put16(s, 1);
    Put16(s, 24);
    for (int i = 0; i < 6; ++i) Put32(s, 0);
    for (int r = 0; r < rows; ++r) {
        const int y = height < 0 ? r : rows - 1 - r;
        std::string row;
        for (int x = 0; x < width; ++x) row += char(7), row += char(y), row += char(x); // blue, green, red
        row.resize(rowBytes, '\0');
        s += row;
    }
    return s;
}

// An 8-bit palette BMP coded RLE8: every row one run of index 1 (green)
// followed by an end-of-line; index 0 is black.
inline std::string MakeBmpRle8(int width, int height)
{
    std::string pixels;
    for (int y = 0; y < height; ++y) {
        pixels += char(width), pixels += char(1);
        pixels += char(0), pixels += char(0);
    }
    pixels += char(0), pixels += char(1);
    std::string s = "BM";
    Put32(s, uint32_t(54 + 8 + pixels.size()));
    Put32(s, 0);
    Put32(s, 54 + 8);
    Put32(s, 40);
    Put32(s, uint32_t(width));
    Put32(s, uint32_t(height));
    Put16(s, 1);
    Put16(s, 8);
    Put32(s, 1); // RLE8
    Put32(s, uint32_t(pixels.size()));
    Put32(s, 0), Put32(s, 0);
    Put32(s, 2), Put32(s, 0);
    Put32(s, 0);          // palette 0: black
    Put32(s, 0x0000FF00); // palette 1: green
    return s + pixels;
}

} // namespace tarnel::test
