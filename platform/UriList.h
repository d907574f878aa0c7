#pragma once
// text/uri-list (RFC 2483) of local files, as drag and drop carries them
// between programs. Paths are raw bytes: every byte outside the unreserved
// set is percent-encoded, so names with spaces, newlines or bytes that are
// not UTF-8 cross intact.
#include <string>
#include <vector>

namespace tarnel {

// Everything but ASCII letters, digits, "-._~" and "/" becomes %XX.
std::string PercentEncodePath(const std::string& path);

// One "file://" URI per line, each line ended by CR LF.
std::string FileUriList(const std::vector<std::string>& paths);

// The local paths a uri-list names, in order. Comments and blank lines are
// passed over; a line that is not a local file (another scheme, another
// host, a bad escape, a NUL byte, a relative path) is left out and counted
// in refused.
std::vector<std::string> PathsFromUriList(const std::string& text, size_t* refused = nullptr);

} // namespace tarnel
