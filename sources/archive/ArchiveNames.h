#pragma once
// Which file names are archives the archive source reads, by name alone:
// the window's thread decides with this whether Enter goes into a file.
#include <string>
#include <string_view>

namespace tarnel {

// The name ends in a suffix of a format the archive source reads (".tar.gz",
// ".7z", ".iso", ".deb", a lone ".xz"...). ".zip" is not one: the ZIP source
// keeps those.
bool HasArchiveSuffix(std::string_view name);

// The name a single compressed file's one member takes: the file's name
// without its compression suffix ("notes.txt.gz" -> "notes.txt"), or the
// name with ".out" added when it has no such suffix.
std::string SingleMemberName(std::string_view fileName);

} // namespace tarnel
