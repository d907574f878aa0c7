#pragma once
// Which viewer page shows an entry. Plain C++: the host asks, tests check the order.
#include <cstdint>
#include <string>
#include <string_view>

namespace tarnel {

// The notebook's pages by index, in tab order.
enum class ViewerPageKind : int { Info = 0, Image = 1, Tables = 2, Music = 3, Text = 4, Vox = 5, Packed = 6 };
inline constexpr int kViewerPageCount = 7;
// The tab captions, by index.
const char* ViewerPageCaption(ViewerPageKind page);

// The page for an entry named name of kind (fkDirectory, fkDrive, fkFile).
// asInfo and asText force the information or the text page. Otherwise ".TXT"
// comes first, then the RAR signature, then the other extensions; what is
// left is text for a file and information for a directory or drive.
ViewerPageKind ChooseViewerPage(std::string_view name, uint8_t kind, bool isRar, bool asInfo, bool asText);

// Extensions (upper case, with the dot) the image and the music page show.
bool IsPictureExtension(std::string_view upperExt);
bool IsMediaExtension(std::string_view upperExt);

// The upper-cased extension from the last dot, dot included; "" when none.
std::string UpperExtension(std::string_view name);

// True when path is a regular file longer than 4 bytes that starts with
// "Rar!". Anything else (missing, unreadable, a FIFO, a device, a socket, a
// directory) is not an archive; only a regular file is ever opened, and
// never in a way that could block.
bool HasRarSignature(const std::string& path);

} // namespace tarnel
