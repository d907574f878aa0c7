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

// A folder under the user's own home for when a shared one cannot be had:
// $XDG_CACHE_HOME (else ~/.cache) /tarnel-<host>, the host name keeping
// apart machines that share the home. Not created.
std::string HomePrivateDirPath();

// ${TMPDIR:-/tmp}/tarnel-<uid>, created and checked. Anyone may make that
// name first; when it is not this user's private folder, HomePrivateDirPath()
// is made and used instead. "" with error when neither can be had.
std::string SharedTmpPrivateDir(std::string& error);

// PrivateTempDirPath(), created and checked, else the home folder above; ""
// with error when neither can be had.
std::string PrivateTempDir(std::string& error);

// Creates a new empty file dir/<prefix>XXXXXX (mkstemp, mode 0600) and returns
// its path; "" when it cannot be made.
std::string MakeTempFileIn(const std::string& dir, const std::string& prefix);

} // namespace tarnel
