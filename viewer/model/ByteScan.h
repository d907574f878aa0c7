#pragma once
// Vector scans of text for its control bytes, 64 bytes at a time, with the
// widest vectors the processor has.
#include <cstddef>
#include <cstdint>

namespace tarnel {

// One bit per byte of a 64-byte block.
struct ControlMasks {
    uint64_t lineFeeds = 0;
    uint64_t controls = 0; // every byte below 32, line feeds too
};

ControlMasks ControlMasksOf(const unsigned char* block);

// Writes the offsets of the line feeds in data to out, which has room for
// size + 8 entries. Returns their count, or -1 as soon as data turns out to
// hold another byte below 32 (a tab, a CR, ...): then out is incomplete.
int64_t FindLineFeeds(const unsigned char* data, uint32_t size, uint32_t* out);

// The same with a given vector width, so that tests can hold each to the
// others; a width the processor lacks falls back to the next narrower.
enum class ScanWidth { Bytes, Sse2, Avx2 };
int64_t FindLineFeedsWith(ScanWidth width, const unsigned char* data, uint32_t size, uint32_t* out);

} // namespace tarnel
