#include "tools/model/Id3Tag.h"

#include "panes/PathUtil.h"
#include "tools/model/Blanks.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {

// Field offsets within the 128 bytes.
constexpr size_t kTitleAt = 3, kArtistAt = 33, kAlbumAt = 63, kYearAt = 93, kCommentAt = 97, kGenreAt = 127;
constexpr size_t kTrackMarkAt = 125, kTrackAt = 126, kTrackCommentLength = 28;

ssize_t Retry(ssize_t rc) { return rc < 0 ? -errno : rc; }

void Place(std::array<char, kId3TagSize>& block, size_t at, size_t length, std::string_view text)
{
    std::memcpy(block.data() + at, text.data(), std::min(length, text.size()));
}

// Reads exactly size bytes at offset, or fails.
bool ReadFully(Id3FileIo& io, int fd, char* buffer, size_t size, off_t offset)
{
    while (size > 0) {
        const ssize_t n = io.Pread(fd, buffer, size, offset);
        if (n == -EINTR)
            continue;
        if (n <= 0)
            return false;
        buffer += n;
        size -= size_t(n);
        offset += n;
    }
    return true;
}

int WriteFully(Id3FileIo& io, int fd, const char* data, size_t size, off_t offset)
{
    while (size > 0) {
        const ssize_t n = io.Pwrite(fd, data, size, offset);
        if (n == -EINTR)
            continue;
        if (n < 0)
            return int(-n);
        if (n == 0)
            return ENOSPC;
        data += n;
        size -= size_t(n);
        offset += n;
    }
    return 0;
}

} // namespace

int Id3FileIo::Open(const std::string& path, int flags)
{
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    return fd < 0 ? -errno : fd;
}
int Id3FileIo::Fstat(int fd, struct stat& st) { return ::fstat(fd, &st) < 0 ? -errno : 0; }
ssize_t Id3FileIo::Pread(int fd, void* buffer, size_t size, off_t offset) { return Retry(::pread(fd, buffer, size, offset)); }
ssize_t Id3FileIo::Pwrite(int fd, const void* data, size_t size, off_t offset)
{
    return Retry(::pwrite(fd, data, size, offset));
}
int Id3FileIo::Ftruncate(int fd, off_t size) { return ::ftruncate(fd, size) < 0 ? -errno : 0; }
int Id3FileIo::Fsync(int fd) { return ::fsync(fd) < 0 ? -errno : 0; }
void Id3FileIo::Close(int fd) { ::close(fd); }

const std::array<const char*, kId3GenreCount>& Id3GenreNames()
{
    static const std::array<const char*, kId3GenreCount> names = {
        "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz", "Metal",
        "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial",
        "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop", "Vocal",
        "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental", "Acid", "House", "Game", "Sound Clip",
        "Gospel", "Noise", "AlternRock", "Bass", "Soul", "Punk", "Space", "Meditative", "Instrumental Pop",
        "Instrumental Rock", "Ethnic", "Gothic", "Darkwave", "Techno-Industrial", "Electronic", "Pop-Folk",
        "Eurodance", "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40", "Christian Rap", "Pop/Funk",
        "Jungle", "Native American", "Cabaret", "New Wave", "Psychadelic", "Rave", "Showtunes", "Trailer", "Lo-Fi",
        "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical", "Rock & Roll", "Hard Rock",
        // Winamp's additions
        "Folk", "Folk-Rock", "National Folk", "Swing", "Fast Fusion", "Bebob", "Latin", "Revival", "Celtic",
        "Bluegrass", "Avantgarde", "Gothic Rock", "Progressive Rock", "Psychedelic Rock", "Symphonic Rock",
        "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic", "Humour", "Speech", "Chanson", "Opera",
        "Chamber Music", "Sonata", "Symphony", "Booty Bass", "Primus", "Porn Groove", "Satire", "Slow Jam", "Club",
        "Tango", "Samba", "Folklore", "Ballad", "Power Ballad", "Rhytmic Soul", "Freestyle", "Duet", "Punk Rock",
        "Drum Solo", "A capella", "Euro-House", "Dance Hall", "Goa", "Drum & Bass", "Club-House", "Hardcore",
        "Terror", "Indie", "BritPop", "Negerpunk", "Polsk Punk", "Beat", "Christian Gangsta Rap", "Heavy Metal",
        "Black Metal", "Crossover", "Contemporary Christian", "Christian Rock"};
    return names;
}

std::string Id3GenreName(int number)
{
    return number >= 0 && number < kId3GenreCount ? Id3GenreNames()[size_t(number)] : "";
}

uint8_t Id3GenreNumber(std::string_view name)
{
    const auto& names = Id3GenreNames();
    for (size_t i = 0; i < names.size(); ++i)
        if (EqualsIgnoreCase(names[i], name))
            return uint8_t(i);
    return kId3NoGenre;
}

std::string TrimId3Field(std::string_view field) { return std::string(TrimBlanks(field)); }

std::optional<Id3Tag> ParseId3Tag(std::string_view block)
{
    if (block.size() != kId3TagSize || block.substr(0, 3) != "TAG")
        return std::nullopt;
    Id3Tag tag;
    tag.title = TrimId3Field(block.substr(kTitleAt, kId3TextLength));
    tag.artist = TrimId3Field(block.substr(kArtistAt, kId3TextLength));
    tag.album = TrimId3Field(block.substr(kAlbumAt, kId3TextLength));
    tag.year = TrimId3Field(block.substr(kYearAt, kId3YearLength));
    const bool hasTrack = block[kTrackMarkAt] == '\0' && block[kTrackAt] != '\0';
    tag.comment = TrimId3Field(block.substr(kCommentAt, hasTrack ? kTrackCommentLength : kId3TextLength));
    if (hasTrack)
        tag.track = static_cast<uint8_t>(block[kTrackAt]);
    tag.genre = static_cast<uint8_t>(block[kGenreAt]);
    return tag;
}

std::array<char, kId3TagSize> FormatId3Tag(const Id3Tag& tag)
{
    std::array<char, kId3TagSize> block;
    block.fill(' ');
    Place(block, 0, 3, "TAG");
    Place(block, kTitleAt, kId3TextLength, tag.title);
    Place(block, kArtistAt, kId3TextLength, tag.artist);
    Place(block, kAlbumAt, kId3TextLength, tag.album);
    Place(block, kYearAt, kId3YearLength, tag.year);
    if (tag.track != 0) {
        Place(block, kCommentAt, kTrackCommentLength, tag.comment);
        block[kTrackMarkAt] = '\0';
        block[kTrackAt] = static_cast<char>(tag.track);
    } else {
        Place(block, kCommentAt, kId3TextLength, tag.comment);
    }
    block[kGenreAt] = static_cast<char>(tag.genre);
    return block;
}

std::optional<Id3Tag> ReadId3Tag(const std::string& path)
{
    Id3FileIo io;
    const int fd = io.Open(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    std::optional<Id3Tag> tag;
    struct stat st;
    char block[kId3TagSize];
    if (io.Fstat(fd, st) == 0 && S_ISREG(st.st_mode) && st.st_size >= off_t(kId3TagSize)
        && ReadFully(io, fd, block, kId3TagSize, st.st_size - off_t(kId3TagSize)))
        tag = ParseId3Tag(std::string_view(block, kId3TagSize));
    io.Close(fd);
    return tag;
}

Id3WriteResult WriteId3Tag(const std::string& path, const Id3Tag& tag, Id3FileIo* io)
{
    Id3FileIo realIo;
    Id3FileIo& fio = io ? *io : realIo;
    using Status = Id3WriteResult::Status;
    // O_NONBLOCK: opening a pipe must not wait for a writer before it is seen to be one.
    const int fd = fio.Open(path, O_RDWR | O_NONBLOCK);
    if (fd < 0)
        return {Status::OpenFailed, -fd};
    Id3WriteResult result;
    struct stat st;
    char old[kId3TagSize];
    if (const int rc = fio.Fstat(fd, st); rc < 0) {
        result = {Status::OpenFailed, -rc};
    } else if (!S_ISREG(st.st_mode)) {
        result = {Status::NotRegular, 0};
    } else if (st.st_size < off_t(kId3TagSize)) {
        result = {Status::TooShort, 0};
    } else if (!ReadFully(fio, fd, old, kId3TagSize, st.st_size - off_t(kId3TagSize))) {
        result = {Status::WriteFailed, EIO};
    } else {
        const bool replace = std::string_view(old, 3) == "TAG";
        const off_t at = replace ? st.st_size - off_t(kId3TagSize) : st.st_size;
        const std::array<char, kId3TagSize> block = FormatId3Tag(tag);
        int error = WriteFully(fio, fd, block.data(), block.size(), at);
        if (error == 0) {
            const int rc = fio.Fsync(fd);
            error = rc < 0 && rc != -EINVAL ? -rc : 0;
        }
        if (error != 0) {
            if (!replace)
                fio.Ftruncate(fd, st.st_size); // back to the audio, never shorter
            else
                WriteFully(fio, fd, old, kId3TagSize, at); // the old tag back where it can be
            result = {Status::WriteFailed, error};
        }
    }
    fio.Close(fd);
    return result;
}

std::string EncodeLatin1(std::u32string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char32_t c : text)
        out += c <= 0xFF ? static_cast<char>(c) : '?';
    return out;
}

} // namespace tarnel
