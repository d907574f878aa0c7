#include "viewer/model/ViewerDispatch.h"

#include "panes/FileData.h"
#include "panes/PathUtil.h"
#include "platform/RegularFile.h"

#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

const char* ViewerPageCaption(ViewerPageKind page)
{
    static const char* const captions[kViewerPageCount] = {"file info", "image", "tables", "music",
                                                           "text",      "vox",   "packed"};
    const int index = static_cast<int>(page);
    return index >= 0 && index < kViewerPageCount ? captions[index] : "";
}

std::string UpperExtension(std::string_view name)
{
    const size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string() : UpperAscii(name.substr(dot));
}

bool IsPictureExtension(std::string_view upperExt)
{
    for (const char* x : {".JPG", ".BMP", ".GIF", ".PNG", ".WEBP", ".SVG", ".TIF", ".TIFF", ".ICO", ".XPM"})
        if (upperExt == x)
            return true;
    return false;
}

bool IsMediaExtension(std::string_view upperExt)
{
    for (const char* x : {".WAV", ".MID", ".AVI", ".MP3", ".OGG", ".FLAC", ".OPUS", ".MP4", ".MKV", ".WEBM"})
        if (upperExt == x)
            return true;
    return false;
}

ViewerPageKind ChooseViewerPage(std::string_view name, uint8_t kind, bool isRar, bool asInfo, bool asText)
{
    if (!asInfo && !asText) {
        const std::string x = UpperExtension(name);
        if (x == ".TXT")
            return ViewerPageKind::Text;
        if (isRar || x == ".RAR")
            return ViewerPageKind::Packed;
        if (x == ".VOX")
            return ViewerPageKind::Vox;
        if (IsPictureExtension(x))
            return ViewerPageKind::Image;
        if (IsMediaExtension(x))
            return ViewerPageKind::Music;
        return kind == fkFile ? ViewerPageKind::Text : ViewerPageKind::Info;
    }
    return asText ? ViewerPageKind::Text : ViewerPageKind::Info;
}

bool HasRarSignature(const std::string& path)
{
    const int fd = OpenRegularFileForReading(path);
    if (fd < 0)
        return false;
    struct stat st;
    char head[4];
    const bool rar = ::fstat(fd, &st) == 0 && st.st_size > 4 && ::pread(fd, head, 4, 0) == 4 &&
                     std::memcmp(head, "Rar!", 4) == 0;
    ::close(fd);
    return rar;
}

} // namespace tarnel
