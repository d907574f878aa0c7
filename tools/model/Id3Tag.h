#pragma once
// ID3 version 1 tags: the last 128 bytes of an MP3 file. Fields are 8-bit
// text (Latin-1) kept here as raw bytes; callers decode them for display.
// The viewer's file-information hint reads the same layout through
// ReadId3Tag.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <sys/stat.h>
#include <sys/types.h>

namespace tarnel {

inline constexpr size_t kId3TagSize = 128;
inline constexpr size_t kId3TextLength = 30; // title, artist, album, comment
inline constexpr size_t kId3YearLength = 4;
inline constexpr uint8_t kId3NoGenre = 255;
inline constexpr int kId3GenreCount = 142;

struct Id3Tag {
    std::string title, artist, album, year, comment; // trimmed bytes
    uint8_t genre = kId3NoGenre;
    // Version 1.1 keeps a track number in the comment's last byte, after a
    // zero byte; 0 is none. A tag with one holds a comment of 28 bytes.
    uint8_t track = 0;
};

// The genre list with its Winamp additions, 0 "Blues" to 141 "Christian Rock".
const std::array<const char*, kId3GenreCount>& Id3GenreNames();
// The name of a genre number; "" outside 0 to 141.
std::string Id3GenreName(int number);
// The first genre equal to name without regard to ASCII case; 255 when none.
uint8_t Id3GenreNumber(std::string_view name);

// Drops leading and trailing blanks and control bytes (zero bytes included).
std::string TrimId3Field(std::string_view field);

// The tag of 128 bytes that begin "TAG"; nothing for any other bytes.
std::optional<Id3Tag> ParseId3Tag(std::string_view block);
// 128 bytes: "TAG", each field cut to its length and padded with blanks, the
// track number if there is one, the genre.
std::array<char, kId3TagSize> FormatId3Tag(const Id3Tag& tag);

// The tag of a regular file at least 128 bytes long whose last 128 bytes
// begin "TAG"; nothing otherwise (missing, unreadable, short, no tag, not a
// regular file: a pipe is never read).
std::optional<Id3Tag> ReadId3Tag(const std::string& path);

// The system calls a tag write makes, so tests can fail any of them.
class Id3FileIo {
public:
    virtual ~Id3FileIo() = default;
    virtual int Open(const std::string& path, int flags);                    // fd or -errno
    virtual int Fstat(int fd, struct stat& st);                               // 0 or -errno
    virtual ssize_t Pread(int fd, void* buffer, size_t size, off_t offset);    // bytes or -errno
    virtual ssize_t Pwrite(int fd, const void* data, size_t size, off_t offset); // may write less
    virtual int Ftruncate(int fd, off_t size);
    virtual int Fsync(int fd);
    virtual void Close(int fd);
};

struct Id3WriteResult {
    enum class Status {
        Written,
        TooShort,   // under 128 bytes: left unchanged, which counts as success
        OpenFailed, // cannot be opened for writing (read-only, missing)
        NotRegular, // a pipe, a device, a directory: never touched
        WriteFailed,
    };
    Status status = Status::Written;
    int error = 0; // errno of a failed write
    bool Ok() const { return status == Status::Written || status == Status::TooShort; }
};

// Replaces the file's tag in place or appends one. The audio data is never
// shortened: a failed append is cut back to the old length, and a failed
// replacement only touches the old tag's 128 bytes.
Id3WriteResult WriteId3Tag(const std::string& path, const Id3Tag& tag, Id3FileIo* io = nullptr);

// Latin-1 bytes of Unicode code points; a code point Latin-1 cannot hold
// becomes "?".
std::string EncodeLatin1(std::u32string_view text);

} // namespace tarnel
