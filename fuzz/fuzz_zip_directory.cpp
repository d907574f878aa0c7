// Feeds arbitrary bytes to the archive table reader, as a plain archive and
// as a self-extractor: no crash, no hang, and every entry it keeps is whole.
// Seeds that once hung or crashed the reader: fuzz/corpus/fuzz_zip_directory/
// (pass the folder after the options).
#include "fileops/model/ZipDirectory.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    for (const bool exe : {false, true}) {
        std::vector<tarnel::ZipDirEntry> contents;
        try {
            tarnel::ReadArchiveDirectoryFrom(bytes, exe, contents);
        } catch (const tarnel::ZipReadError&) {
        }
        for (const tarnel::ZipDirEntry& e : contents)
            if (e.FileName.size() != e.FileNameLength || e.FileName.size() > size)
                std::abort(); // a name longer than its header or than the input
    }
    return 0;
}
