#pragma once
// Buffered line reader for description files: ten handles, one buffer each.
#include <cstddef>
#include <string>

namespace tarnel {

class DescLineReader {
public:
    static constexpr int kHandles = 10;
    static constexpr size_t kMaxLine = 4096; // longer lines are cut to this length

    // Returns a handle 1..10, or 0 when the file cannot be opened, no handle is
    // free or the buffer cannot be had.
    static int Open(const std::string& fileName, size_t bufferSize);
    // Reads one line without its line end (CR, LF, CR LF, LF CR, CR CR, LF LF).
    static std::string ReadLine(int handle);
    // The same, never cut: for copying lines that are not to change.
    static std::string ReadWholeLine(int handle);
    static bool EndOfData(int handle);
    static void Close(int handle);

private:
    static std::string ReadLineUpTo(int handle, size_t maxLine);
};

} // namespace tarnel
