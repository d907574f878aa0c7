#pragma once
// The empty ZIP archive that a new archive starts as, carried in the program.
#include "support/FileSource.h"

#include <array>
#include <cstdint>
#include <string>

namespace tarnel {

// The form data of the main window's SFEmptyZip: the plain form, a 32-bit
// little-endian length 22, then the end-of-central-directory record of an
// archive with no entries.
inline constexpr std::array<uint8_t, 26> kEmptyZipFormData = {
    22, 0, 0, 0,          // length
    'P', 'K', 5, 6,       // end-of-central-directory signature
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // counts, sizes, offset, comment length
};

// Gives source the properties of SFEmptyZip and materialises the archive as
// its temporary file.
bool LoadEmptyZip(TFileSource& source, std::string& error);

// Creates target as a copy of source's file, failing if target exists. A
// copy that fails half way is removed.
bool CopySourceFile(const TFileSource& source, const std::string& target, std::string& error);

// Writes a new empty archive to target (failing if it exists), through a
// template component of its own.
bool WriteEmptyZip(const std::string& target, std::string& error);

} // namespace tarnel
