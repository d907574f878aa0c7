#pragma once
// Buffered line reader for description files: ten handles, one buffer each.
#include <cstddef>
#include <string>

namespace tarnel {

class DescLineReader {
public:
    static constexpr int kHandles = 10;
    static constexpr size_t kMaxLine = 4096; // longer lines are cut to this length
    // Only this much of a file is read: a sparse or huge file must not stall
    // a listing nor fill memory.
    static constexpr size_t kMaxFileBytes = 16 * 1024 * 1024;

    // Returns a handle 1..10, or 0 when the file cannot be opened, no handle is
    // free or the buffer cannot be had. Only a regular file is opened, never
    // through a symbolic link.
    static int Open(const std::string& fileName, size_t bufferSize);
    // Reads one line without its line end (CR, LF, CR LF, LF CR, CR CR, LF LF).
    static std::string ReadLine(int handle);
    // The same, never cut: for copying lines that are not to change.
    static std::string ReadWholeLine(int handle);
    static bool EndOfData(int handle);
    // The file begins with a UTF-8 byte-order mark (skipped by the reads).
    static bool HasBom(int handle);
    // Not all of the file was read: it holds more than kMaxFileBytes (data
    // ends there), or a read failed. Known at once for a file over the cap,
    // after the last line for one that grew or failed while being read.
    static bool Cut(int handle);
    // Device and inode of the open file (both 0 for a bad handle).
    static void Identity(int handle, unsigned long long& device, unsigned long long& inode);
    static void Close(int handle);

private:
    static std::string ReadLineUpTo(int handle, size_t maxLine);
};

} // namespace tarnel
