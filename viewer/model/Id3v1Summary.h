#pragma once
// The ID3 version 1 tag in the last 128 bytes of an MP3 file: reading its
// fields and the summary lines the list hints show.
#include <cstddef>
#include <string>

namespace tarnel {

inline constexpr size_t kId3v1Size = 128;

// The text fields, trimmed of blanks and control characters at both ends.
struct Id3v1Fields {
    std::string title, artist, album, year, comment;
    unsigned char genre = 255;
};

// Parses a 128-byte tag block; false when it does not begin "TAG".
bool ParseId3v1(const unsigned char (&block)[kId3v1Size], Id3v1Fields& fields);

// Reads the tag of the file at path (only its last 128 bytes); false when
// the file cannot be read, is shorter than 128 bytes or has no tag.
bool ReadId3v1(const std::string& path, Id3v1Fields& fields);

// One "\nLabel : value" line per non-empty field, in the order title,
// artist, album, year, comment; "" when nothing is to be shown.
std::string Id3v1SummaryText(const Id3v1Fields& fields);

// ReadId3v1 then Id3v1SummaryText; "" for a file without a readable tag.
std::string ReadId3v1Summary(const std::string& path);

} // namespace tarnel
