#include "viewer/model/JpegLoader.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>
#include <unistd.h>

namespace tarnel {
namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf escape;
    char message[JMSG_LENGTH_MAX];
};

// A fatal error must not end the program: jump back to the load and give up.
extern "C" void OnFatalError(j_common_ptr cinfo)
{
    auto* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, errors->message);
    longjmp(errors->escape, 1);
}

// Corrupt-data warnings are not worth a word; libjpeg carries on.
extern "C" void OnMessage(j_common_ptr, int) {}

int NextByte(j_decompress_ptr cinfo)
{
    jpeg_source_mgr* src = cinfo->src;
    if (src->bytes_in_buffer == 0 && !(*src->fill_input_buffer)(cinfo)) return -1;
    --src->bytes_in_buffer;
    return *src->next_input_byte++;
}

// Comments can be megabytes long: skip them without keeping a byte.
extern "C" boolean SkipComment(j_decompress_ptr cinfo)
{
    const int high = NextByte(cinfo);
    const int low = NextByte(cinfo);
    if (high < 0 || low < 0) return FALSE;
    const long length = (long(high) << 8 | low) - 2;
    if (length > 0) (*cinfo->src->skip_input_data)(cinfo, length);
    return TRUE;
}

// The smallest n/8 that keeps the fitted picture from being enlarged.
unsigned FitEighths(const jpeg_decompress_struct& cinfo, const JpegOptions& options)
{
    if (options.fitWidth <= 0 || options.fitHeight <= 0) return 8;
    const double ratio = std::min({double(options.fitWidth) / cinfo.image_width,
                                   double(options.fitHeight) / cinfo.image_height, 1.0});
    for (unsigned n = 1; n < 8; ++n)
        if (n / 8.0 >= ratio) return n;
    return 8;
}

void SetOutputScale(jpeg_decompress_struct& cinfo, const JpegOptions& options)
{
    const int ratio = options.scaleRatio > 0 ? options.scaleRatio : 100;
    const unsigned fit = FitEighths(cinfo, options);
    if (ratio == 100 && fit < 8) {
        cinfo.scale_num = fit;
        cinfo.scale_denom = 8;
    } else {
        cinfo.scale_num = unsigned(ratio);
        cinfo.scale_denom = 100;
    }
}

uint8_t Gray(int r, int g, int b) { return uint8_t((77 * r + 150 * g + 29 * b + 128) >> 8); }

int Scaled(int a, int b) { return (a * b + 127) / 255; }

void StoreRow(const JSAMPLE* row, const jpeg_decompress_struct& cinfo, bool gray, uint32_t* out)
{
    const unsigned width = cinfo.output_width;
    if (cinfo.output_components == 1) {
        for (unsigned x = 0; x < width; ++x) out[x] = OpaqueRgb(row[x], row[x], row[x]);
    } else if (cinfo.out_color_space == JCS_CMYK) {
        // libjpeg gives CMYK as stored; files with an Adobe marker store it
        // inverted (0 is full ink), the rest as ink amounts.
        const int flip = cinfo.saw_Adobe_marker ? 0 : 255;
        for (unsigned x = 0; x < width; ++x, row += 4) {
            const int k = row[3] ^ flip;
            const int r = Scaled(row[0] ^ flip, k), g = Scaled(row[1] ^ flip, k), b = Scaled(row[2] ^ flip, k);
            if (gray) {
                const uint8_t y = Gray(r, g, b);
                out[x] = OpaqueRgb(y, y, y);
            } else {
                out[x] = OpaqueRgb(uint8_t(r), uint8_t(g), uint8_t(b));
            }
        }
    } else {
        for (unsigned x = 0; x < width; ++x, row += 3) out[x] = OpaqueRgb(row[0], row[1], row[2]);
    }
}

// Only trivially destructible locals below: a fatal error longjmps back here.
void Decode(jpeg_decompress_struct& cinfo, ErrorManager& errors, const JpegOptions& options,
            ImageBuffer& image, JpegResult& result, JSAMPARRAY& rows)
{
    if (setjmp(errors.escape)) {
        const int code = errors.pub.msg_code;
        if (code == JERR_NO_BACKING_STORE || code == JERR_OUT_OF_MEMORY)
            std::snprintf(errors.message, sizeof errors.message,
                          "Picture too large to decode in the memory allowed (%ux%u)", cinfo.image_width,
                          cinfo.image_height);
        result.message = errors.message;
        image.complete = false;
        return;
    }
    jpeg_set_marker_processor(&cinfo, JPEG_COM, SkipComment);
    jpeg_read_header(&cinfo, TRUE);
    image.fileWidth = int(cinfo.image_width);
    image.fileHeight = int(cinfo.image_height);
    // Decoding takes time by the stored size whatever the output scale, and
    // a header may claim four billion pixels.
    if (uint64_t(cinfo.image_width) * cinfo.image_height > options.maxFilePixels) {
        std::snprintf(errors.message, sizeof errors.message, "Picture too large (%ux%u)", cinfo.image_width,
                      cinfo.image_height);
        result.message = errors.message;
        return;
    }
    SetOutputScale(cinfo, options);
    cinfo.do_block_smoothing = options.blockSmoothing ? TRUE : FALSE;
    // libjpeg turns CMYK and YCCK into nothing but CMYK: the colours are
    // worked out here, grey included.
    const bool inks = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    if (inks) cinfo.out_color_space = JCS_CMYK;
    else if (options.forceGray) cinfo.out_color_space = JCS_GRAYSCALE;
    else if (cinfo.jpeg_color_space != JCS_GRAYSCALE) cinfo.out_color_space = JCS_RGB;
    jpeg_calc_output_dimensions(&cinfo);
    if (uint64_t(cinfo.output_width) * cinfo.output_height > options.maxPixels) {
        std::snprintf(errors.message, sizeof errors.message, "Picture too large (%ux%u)",
                      cinfo.output_width, cinfo.output_height);
        result.message = errors.message;
        return;
    }
    jpeg_start_decompress(&cinfo);
    if (!AllocateImage(image, int(cinfo.output_width), int(cinfo.output_height), options.maxPixels)) return;
    image.complete = false;
    result.decoded = true;
    constexpr int kRowsAtOnce = 8;
    rows = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                      cinfo.output_width * unsigned(cinfo.output_components), kRowsAtOnce);
    while (cinfo.output_scanline < cinfo.output_height) {
        const unsigned first = cinfo.output_scanline;
        const unsigned got = jpeg_read_scanlines(&cinfo, rows, kRowsAtOnce);
        if (got == 0) break;
        for (unsigned i = 0; i < got; ++i) StoreRow(rows[i], cinfo, options.forceGray, image.Row(int(first + i)));
    }
    jpeg_finish_decompress(&cinfo);
    image.complete = true;
}

JpegResult Load(const JpegOptions& options, ImageBuffer& image, FILE* file, const uint8_t* data, size_t size)
{
    JpegResult result;
    result.opened = true;
    image = ImageBuffer{};
    jpeg_decompress_struct cinfo;
    ErrorManager errors;
    std::memset(&errors, 0, sizeof errors);
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = OnFatalError;
    errors.pub.emit_message = OnMessage;
    volatile bool created = false;
    if (setjmp(errors.escape)) { // creating the decoder or its source failed
        result.message = errors.message;
        if (created) jpeg_destroy_decompress(&cinfo);
        return result;
    }
    jpeg_create_decompress(&cinfo);
    created = true;
    // A progressive file keeps every coefficient of the whole picture, at
    // its full size: over this limit libjpeg stops with a fatal error rather
    // than take gigabytes for a header that may be a lie.
    cinfo.mem->max_memory_to_use = long(std::min<uint64_t>(options.maxMemory, uint64_t(LONG_MAX)));
    if (file) jpeg_stdio_src(&cinfo, file);
    else jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    JSAMPARRAY rows = nullptr;
    Decode(cinfo, errors, options, image, result, rows);
    jpeg_destroy_decompress(&cinfo);
    return result;
}

} // namespace

JpegResult LoadJpegFile(const std::string& path, const JpegOptions& options, ImageBuffer& image)
{
    JpegResult failed;
    const int fd = OpenPictureFile(path, failed.errorCode);
    if (fd < 0)
        return failed;
    FILE* file = ::fdopen(fd, "rb");
    if (!file) {
        failed.errorCode = errno;
        ::close(fd);
        return failed;
    }
    JpegResult result = Load(options, image, file, nullptr, 0);
    std::fclose(file);
    return result;
}

JpegResult LoadJpegMemory(const uint8_t* data, size_t size, const JpegOptions& options, ImageBuffer& image)
{
    static const uint8_t kNothing = 0;
    return Load(options, image, nullptr, size ? data : &kNothing, size);
}

} // namespace tarnel
