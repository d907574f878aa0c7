#pragma once
// The program's private temporary directory: other users must not be able to
// read what is unpacked there nor plant files or links in it.
#include <string>

namespace tarnel {

// $XDG_RUNTIME_DIR/tarnel, else ${TMPDIR:-/tmp}/tarnel-<uid>; relative
// settings are ignored. Not created.
std::string PrivateTempDirPath();

// Creates dir (one level, mode 0700) when missing, then checks that it is a
// directory and not a link, owned by this user, mode 0700. Returns dir, or ""
// with error set.
std::string EnsurePrivateDir(const std::string& dir, std::string& error);

// PrivateTempDirPath(), created and checked; "" with error when unusable.
std::string PrivateTempDir(std::string& error);

// Creates a new empty file dir/<prefix>XXXXXX (mkstemp, mode 0600) and returns
// its path; "" when it cannot be made.
std::string MakeTempFileIn(const std::string& dir, const std::string& prefix);

} // namespace tarnel
