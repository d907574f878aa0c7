#pragma once
// Keeps extraction inside its destination: member names and link targets are
// checked by their text, and directories are entered by descriptor without
// following links, so neither "..", an absolute name nor a link planted in the
// destination can lead a write outside it.
#include <string>
#include <vector>

namespace tarnel {

// The member's path split into names, "." and empty names dropped; false when
// it is absolute, climbs with "..", or names nothing.
bool SplitMemberPath(const std::string& name, std::vector<std::string>& parts);

// A link at depth (number of directories between the destination and the
// link) may point to target only when the target is relative and its ".."
// names all come first and climb no higher than the destination.
bool LinkStaysInside(const std::string& target, size_t depth);

// Opens (creating as needed, mode 0777 less umask, unless create is false) the
// directories parts[0 .. count) below rootFd, never following a link. Returns
// a directory descriptor or -errno.
int OpenDirectoriesBelow(int rootFd, const std::vector<std::string>& parts, size_t count, bool create = true);

// Creates the directory named by the member path below root, with its parents.
// 0 or -errno (-EPERM for a refused name).
int MakeMemberDirectory(const std::string& root, const std::string& memberName);

} // namespace tarnel
