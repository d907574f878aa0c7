#include "viewer/model/GifLoader.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <gif_lib.h>

namespace tarnel {
namespace {

struct MemoryInput {
    const uint8_t* data;
    size_t size;
    size_t offset;
};

int ReadInput(GifFileType* gif, GifByteType* buffer, int length)
{
    auto* input = static_cast<MemoryInput*>(gif->UserData);
    const size_t n = std::min(size_t(length < 0 ? 0 : length), input->size - input->offset);
    std::memcpy(buffer, input->data + input->offset, n);
    input->offset += n;
    return int(n);
}

struct GifCloser {
    GifFileType* gif;
    ~GifCloser()
    {
        int ignored = 0;
        if (gif) DGifCloseFile(gif, &ignored);
    }
};

std::string GifError(int code)
{
    const char* text = GifErrorString(code);
    return std::string("GIF: ") + (text ? text : "cannot decode");
}

// Reads extensions up to the first image; the last graphic control block
// before it gives the transparent colour index (-1: none).
bool SkipToFirstImage(GifFileType* gif, int& transparent)
{
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) return false;
        if (type == IMAGE_DESC_RECORD_TYPE) return true;
        if (type == TERMINATE_RECORD_TYPE) {
            gif->Error = D_GIF_ERR_NO_IMAG_DSCR;
            return false;
        }
        if (type != EXTENSION_RECORD_TYPE) continue;
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
        if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
            GraphicsControlBlock control;
            if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK)
                transparent = control.TransparentColor;
        }
        while (block) {
            if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
        }
    }
}

// The rows of an interlaced frame arrive in four passes.
std::vector<int> RowOrder(int height, bool interlaced)
{
    std::vector<int> order;
    order.reserve(size_t(height));
    if (!interlaced) {
        for (int y = 0; y < height; ++y) order.push_back(y);
        return order;
    }
    static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int y = start[pass]; y < height; y += step[pass]) order.push_back(y);
    return order;
}

} // namespace

bool LoadGifMemory(const uint8_t* data, size_t size, ImageBuffer& image, std::string& error, uint64_t maxPixels)
{
    image = ImageBuffer{};
    MemoryInput input{data, size, 0};
    int code = 0;
    GifCloser closer{DGifOpen(&input, ReadInput, &code)};
    GifFileType* gif = closer.gif;
    if (!gif) {
        error = GifError(code);
        return false;
    }
    int transparent = -1;
    if (!SkipToFirstImage(gif, transparent) || DGifGetImageDesc(gif) == GIF_ERROR) {
        error = GifError(gif->Error);
        return false;
    }
    const GifImageDesc& frame = gif->Image;
    const ColorMapObject* colours = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
    if (!colours || frame.Width <= 0 || frame.Height <= 0) {
        error = "GIF: the first frame has no colours or no size";
        return false;
    }
    const int canvasWidth = gif->SWidth > 0 ? gif->SWidth : frame.Left + frame.Width;
    const int canvasHeight = gif->SHeight > 0 ? gif->SHeight : frame.Top + frame.Height;
    if (uint64_t(frame.Width) * uint64_t(frame.Height) > maxPixels
        || !AllocateImage(image, canvasWidth, canvasHeight, maxPixels)) {
        error = "GIF: picture too large";
        image = ImageBuffer{};
        return false;
    }
    image.hasAlpha = true; // uncovered screen and the transparent index stay clear
    std::vector<GifPixelType> line(size_t(frame.Width));
    bool someRow = false;
    for (const int y : RowOrder(frame.Height, frame.Interlace)) {
        if (DGifGetLine(gif, line.data(), frame.Width) == GIF_ERROR) {
            error = GifError(gif->Error);
            // A cut file still shows the rows it holds, the rest left clear.
            if (!someRow) {
                image = ImageBuffer{};
                return false;
            }
            image.complete = false;
            return true;
        }
        someRow = true;
        const int row = frame.Top + y;
        if (row < 0 || row >= canvasHeight) continue;
        uint32_t* out = image.Row(row);
        for (int x = 0; x < frame.Width; ++x) {
            const int column = frame.Left + x;
            const int index = line[size_t(x)];
            if (column < 0 || column >= canvasWidth || index == transparent || index >= colours->ColorCount)
                continue;
            const GifColorType& c = colours->Colors[index];
            out[column] = OpaqueRgb(c.Red, c.Green, c.Blue);
        }
    }
    return true;
}

} // namespace tarnel
