#pragma once
// DOS-style attribute bits (AttrBits) of one file or directory. Read-only is
// the owner's write permission; hidden is a leading "." or the DOS attribute;
// system and archive are the DOS attribute alone. The DOS attribute is kept
// where Samba and Wine keep it: user.DOSATTRIB, as hexadecimal text ("0x22").
#include <cstdint>
#include <string>

namespace tarnel {

// The bits that can be set: read-only, hidden, system and archive.
inline constexpr uint32_t kSettableAttributes = 1 | 2 | 4 | 32;

// Attribute bits of path itself (a link is not followed), faDirectory included. False, with
// errno set, when the path cannot be examined.
bool ReadFileAttributes(const std::string& path, uint32_t& attr);

// Gives path the read-only, hidden, system and archive bits of attr; other bits
// of attr are ignored and DOS attribute bits other than these three are kept.
// Setting read-only clears every write permission; clearing it gives the owner
// write permission; a read-only state that does not change leaves the mode
// alone. False, with errno set, when the attributes cannot all be set. These
// two are refused before anything is changed:
// - ENOTSUP: hidden, system or archive must change on a file system without
//   user extended attributes;
// - EPERM: hidden is cleared on a name that starts with "." (it stays hidden),
//   or read-only is to change on a symbolic link (links have no permissions;
//   their targets are left alone).
bool WriteFileAttributes(const std::string& path, uint32_t attr);

} // namespace tarnel
