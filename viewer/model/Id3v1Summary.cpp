#include "viewer/model/Id3v1Summary.h"

#include "platform/RegularFile.h"
#include "viewer/model/ViewerDispatch.h"

#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {

// Fields are padded with zeros by some taggers and with blanks by others.
std::string TrimmedField(const unsigned char* from, size_t length)
{
    size_t first = 0, last = length;
    while (first < last && from[first] <= ' ')
        ++first;
    while (last > first && from[last - 1] <= ' ')
        --last;
    return std::string(reinterpret_cast<const char*>(from) + first, last - first);
}

} // namespace

bool ParseId3v1(const unsigned char (&block)[kId3v1Size], Id3v1Fields& fields)
{
    if (std::memcmp(block, "TAG", 3) != 0)
        return false;
    fields.title = TrimmedField(block + 3, 30);
    fields.artist = TrimmedField(block + 33, 30);
    fields.album = TrimmedField(block + 63, 30);
    fields.year = TrimmedField(block + 93, 4);
    fields.comment = TrimmedField(block + 97, 30);
    fields.genre = block[127];
    return true;
}

bool ReadId3v1(const std::string& path, Id3v1Fields& fields)
{
    const int fd = OpenRegularFileForReading(path);
    if (fd < 0)
        return false;
    struct stat st;
    unsigned char block[kId3v1Size];
    const bool read = ::fstat(fd, &st) == 0 && st.st_size >= off_t(kId3v1Size) &&
                      ::pread(fd, block, kId3v1Size, st.st_size - off_t(kId3v1Size)) == ssize_t(kId3v1Size);
    ::close(fd);
    return read && ParseId3v1(block, fields);
}

std::string Id3v1SummaryText(const Id3v1Fields& fields)
{
    std::string text;
    const std::pair<const char*, const std::string*> lines[] = {{"Title : ", &fields.title},
                                                                {"Artist : ", &fields.artist},
                                                                {"Album : ", &fields.album},
                                                                {"Year : ", &fields.year},
                                                                {"Comment : ", &fields.comment}};
    for (const auto& [label, value] : lines)
        if (!value->empty())
            text += "\n" + std::string(label) + *value;
    return text;
}

std::string ReadId3v1Summary(const std::string& path)
{
    Id3v1Fields fields;
    return ReadId3v1(path, fields) ? Id3v1SummaryText(fields) : std::string();
}

} // namespace tarnel
