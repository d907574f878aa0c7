#pragma once
// Vector scans of text for its control bytes, 64 bytes at a time, and for a
// search text, with the widest vectors the processor has.
#include <cstddef>
#include <cstdint>

namespace tarnel {

// One bit per byte of a 64-byte block.
struct ControlMasks {
    uint64_t lineFeeds = 0;
    uint64_t returns = 0;  // carriage returns
    uint64_t controls = 0; // every byte below 32, line ends too
};

ControlMasks ControlMasksOf(const unsigned char* block);

// Writes the offsets of the line feeds in data to out, which has room for
// size + 8 entries, and returns their count, when data holds no other byte
// below 32 than line feeds, or than CR LF pairs (then crLf is set: every CR
// is followed by a line feed and every line feed follows a CR). Returns -1
// for anything else (a tab, a lone CR, a CR last...): out is then incomplete.
int64_t FindLineFeeds(const unsigned char* data, uint32_t size, uint32_t* out, bool& crLf);

// The same with a given vector width, so that tests can hold each to the
// others; a width the processor lacks falls back to the next narrower.
enum class ScanWidth { Bytes, Sse2, Avx2, Avx512 };
int64_t FindLineFeedsWith(ScanWidth width, const unsigned char* data, uint32_t size, uint32_t* out, bool& crLf);

// Where text first occurs in data, or -1: vectors compare the text's first
// and last bytes at every place at once, and only places where both agree
// are compared whole.
int64_t FindText(const char* data, size_t size, const char* text, size_t length);
int64_t FindTextWith(ScanWidth width, const char* data, size_t size, const char* text, size_t length);

} // namespace tarnel
