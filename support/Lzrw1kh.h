#pragma once
// LZRW1KH: a small LZ77 block coder with run items, the packing of stored
// file data. A block codes at most kLzrwMaxBlockInput bytes on its own; the
// coder keeps no state between blocks.
#include <cstddef>
#include <cstdint>

namespace tarnel {

inline constexpr size_t kLzrwMaxBlockInput = 32783;
inline constexpr uint8_t kLzrwFlagCompressed = 0x40;
inline constexpr uint8_t kLzrwFlagCopied = 0x80;
inline constexpr const char* kLzrwNoHashMemory = "LZRW1KH : no memory for HASH table";

// Room the coder needs in its output for n input bytes: the coded form may
// run up to 6 bytes past n before the coder notices it does not pay and
// falls back to the copied form (n + 1 bytes).
constexpr size_t LzrwCompressBound(size_t n) { return n + 6; }

// Codes src[0..n) into dst, which has room for LzrwCompressBound(n) bytes.
// Returns the block length (1 to n + 1), or 0 when n exceeds
// kLzrwMaxBlockInput or the hash table cannot be allocated
// (kLzrwNoHashMemory).
size_t LzrwCompressBlock(const uint8_t* src, size_t n, uint8_t* dst);

enum class LzrwError {
    None,
    EmptyBlock,
    UnknownFlag,       // byte 0 is neither 0x40 nor 0x80
    Truncated,         // an item or control word runs past the end of the block
    OffsetBeforeStart, // a copy reaches back before the first output byte
    OutputOverflow,    // the block decodes to more than the output can hold
};

struct LzrwDecodeResult {
    LzrwError error = LzrwError::None;
    size_t length = 0; // bytes written to the output; meaningless on error
    bool Ok() const { return error == LzrwError::None; }
};

// Decodes one block into dst[0..capacity). Every item is checked against both
// buffers: damaged input yields an error, never an access outside them.
LzrwDecodeResult LzrwDecompressBlock(const uint8_t* src, size_t length, uint8_t* dst, size_t capacity);

const char* LzrwErrorText(LzrwError error);

} // namespace tarnel
