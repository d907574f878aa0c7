#include "sources/archive/ArchiveVerify.h"

#include "platform/RegularFile.h"
#include "sources/archive/ArchiveTable.h"

#include <archive.h>
#include <archive_entry.h>

#include <cstring>
#include <unistd.h>

namespace tarnel {

namespace {

// Reads the member's data to its end; false with the reason when it breaks
// off or holds more than its header says (a bomb's trick).
bool ReadMember(archive* a, archive_entry* entry, uint64_t& bytes, std::string& why)
{
    const bool sized = archive_entry_size_is_set(entry) != 0;
    const int64_t stated = archive_entry_size(entry);
    int64_t read = 0;
    static thread_local std::vector<char> buffer(256 * 1024);
    for (;;) {
        const la_ssize_t n = archive_read_data(a, buffer.data(), buffer.size());
        if (n == 0)
            return true;
        if (n < 0) {
            const char* text = archive_error_string(a);
            why = text ? text : "the data cannot be read";
            return false;
        }
        read += n;
        bytes += uint64_t(n);
        if (sized && read > stated) {
            why = "it holds more than its stated size";
            return false;
        }
    }
}

} // namespace

ArchiveTestReport TestArchive(const std::string& path,
                              const std::function<bool(const std::string& member, uint64_t bytes)>& goOn)
{
    ArchiveTestReport report;
    const int fd = OpenRegularFile(path);
    if (fd < 0) {
        report.problems.push_back(path + ": " + (fd == kNotARegularFile ? "not a file" : std::strerror(-fd)));
        return report;
    }
    {
        ArchiveReader reader(fd);
        if (!reader.Open()) {
            report.problems.push_back(path + ": " + reader.Error());
        } else {
            archive* a = reader.Handle();
            archive_entry* entry = nullptr;
            for (;;) {
                const int r = archive_read_next_header(a, &entry);
                if (r == ARCHIVE_EOF)
                    break;
                if (r < ARCHIVE_WARN) {
                    const char* text = archive_error_string(a);
                    report.problems.push_back(path + ": " + (text ? text : "damaged"));
                    break;
                }
                if (report.members == 0 && reader.Unrecognised()) {
                    report.problems.push_back(path + ": not an archive that can be read");
                    break;
                }
                const char* name = archive_entry_pathname(entry);
                const std::string member = name ? name : "?";
                if (goOn && !goOn(member, report.bytes)) {
                    report.stopped = true;
                    break;
                }
                if (archive_entry_is_encrypted(entry)) {
                    report.problems.push_back(member + ": encrypted, not tested");
                    continue;
                }
                std::string why;
                if (!ReadMember(a, entry, report.bytes, why)) {
                    report.problems.push_back(member + ": " + why);
                    // After a broken member the stream's place is lost.
                    break;
                }
                ++report.members;
            }
        }
    }
    ::close(fd);
    return report;
}

} // namespace tarnel
