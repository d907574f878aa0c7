#include "support/Lzrw1kh.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace tarnel {

namespace {

constexpr size_t kHashEntries = 4096;
constexpr uint16_t kHashEmpty = 0xFFFF; // no block position reaches it
constexpr size_t kMaxOffset = 4095;
constexpr size_t kMinMatch = 3;
constexpr size_t kMaxMatch = 18;
constexpr size_t kMinRun = 16;
constexpr size_t kMaxCodedRun = 4095;
constexpr unsigned kItemsPerControlWord = 16;

static_assert(kLzrwMaxBlockInput < kHashEmpty, "positions must never look like an empty entry");

// Allocated once and kept: the coder runs for every block and would
// otherwise pay an allocation each time. One per thread, because workers
// may pack data while the main thread does too.
uint16_t* HashTable()
{
    thread_local std::unique_ptr<uint16_t[]> table(new (std::nothrow) uint16_t[kHashEntries]);
    return table.get();
}

inline size_t HashAt(const uint8_t* s)
{
    const uint32_t key = (((uint32_t(s[0]) << 4) ^ s[1]) << 4) ^ s[2];
    return ((key * 40543u) >> 4) & 0xFFF;
}

} // namespace

size_t LzrwCompressBlock(const uint8_t* src, size_t n, uint8_t* dst)
{
    if (n > kLzrwMaxBlockInput)
        return 0;
    uint16_t* const hash = HashTable();
    if (!hash)
        return 0;
    std::fill_n(hash, kHashEntries, kHashEmpty);

    dst[0] = kLzrwFlagCompressed;
    size_t slot = 1;
    size_t out = 3;
    unsigned items = 0;
    uint32_t control = 0;
    size_t p = 0;
    while (p < n && out <= n) {
        if (items == kItemsPerControlWord) {
            dst[slot] = uint8_t(control >> 8);
            dst[slot + 1] = uint8_t(control);
            slot = out;
            out += 2;
            items = 0;
            control = 0;
        }

        const uint8_t c = src[p];
        const size_t runLimit = std::min(n - p, kMaxCodedRun);
        size_t run = 1;
        while (run < runLimit && src[p + run] == c)
            ++run;

        if (run >= kMinRun) {
            const size_t extra = run - kMinRun;
            dst[out] = 0;
            dst[out + 1] = uint8_t(extra >> 8);
            dst[out + 2] = uint8_t(extra);
            dst[out + 3] = c;
            out += 4;
            control = (control << 1) | 1;
            p += run;
        } else {
            size_t match = 0;
            size_t offset = 0;
            // Fewer than three bytes left cannot hold a match, and hashing
            // them would read past the input.
            if (n - p >= kMinMatch) {
                const size_t h = HashAt(src + p);
                const size_t e = hash[h];
                if (e != kHashEmpty && p - e <= kMaxOffset) {
                    const size_t limit = std::min(kMaxMatch, n - p);
                    size_t count = 0;
                    while (count < limit && src[e + count] == src[p + count])
                        ++count;
                    if (count >= kMinMatch) {
                        match = count;
                        offset = p - e;
                    }
                }
                hash[h] = uint16_t(p);
            }
            if (match) {
                const size_t code = offset * 16 + (match - kMinMatch);
                dst[out] = uint8_t(code >> 8);
                dst[out + 1] = uint8_t(code);
                out += 2;
                control = (control << 1) | 1;
                p += match;
            } else {
                dst[out++] = c;
                control <<= 1;
                ++p;
            }
        }
        ++items;
    }
    control <<= kItemsPerControlWord - items;
    dst[slot] = uint8_t(control >> 8);
    dst[slot + 1] = uint8_t(control);

    if (out <= n)
        return out;
    dst[0] = kLzrwFlagCopied;
    if (n)
        std::memcpy(dst + 1, src, n);
    return n + 1;
}

LzrwDecodeResult LzrwDecompressBlock(const uint8_t* src, size_t length, uint8_t* dst, size_t capacity)
{
    auto fail = [](LzrwError error) { return LzrwDecodeResult{error, 0}; };
    if (length == 0)
        return fail(LzrwError::EmptyBlock);
    if (src[0] == kLzrwFlagCopied) {
        if (length - 1 > capacity)
            return fail(LzrwError::OutputOverflow);
        if (length > 1)
            std::memcpy(dst, src + 1, length - 1);
        return {LzrwError::None, length - 1};
    }
    if (src[0] != kLzrwFlagCompressed)
        return fail(LzrwError::UnknownFlag);
    if (length < 3)
        return fail(LzrwError::Truncated);

    unsigned control = (unsigned(src[1]) << 8) | src[2];
    unsigned bitsLeft = kItemsPerControlWord;
    size_t in = 3;
    size_t out = 0;
    while (in < length) {
        if (bitsLeft == 0) {
            // A control word governs at least one item after it.
            if (length - in < 3)
                return fail(LzrwError::Truncated);
            control = (unsigned(src[in]) << 8) | src[in + 1];
            in += 2;
            bitsLeft = kItemsPerControlWord;
        }
        if (control & 0x8000) {
            if (length - in < 2)
                return fail(LzrwError::Truncated);
            const size_t offset = size_t(src[in]) * 16 + (src[in + 1] >> 4);
            if (offset) {
                const size_t count = (src[in + 1] & 15) + kMinMatch;
                in += 2;
                if (offset > out)
                    return fail(LzrwError::OffsetBeforeStart);
                if (count > capacity - out)
                    return fail(LzrwError::OutputOverflow);
                const uint8_t* from = dst + out - offset;
                uint8_t* to = dst + out;
                if (offset >= count) {
                    std::memcpy(to, from, count);
                } else {
                    // Byte by byte: a near offset repeats the bytes being written.
                    for (size_t i = 0; i < count; ++i)
                        to[i] = from[i];
                }
                out += count;
            } else {
                if (length - in < 4)
                    return fail(LzrwError::Truncated);
                const size_t count = (size_t(src[in + 1]) << 8 | src[in + 2]) + kMinRun;
                const uint8_t value = src[in + 3];
                in += 4;
                if (count > capacity - out)
                    return fail(LzrwError::OutputOverflow);
                std::memset(dst + out, value, count);
                out += count;
            }
        } else {
            if (out == capacity)
                return fail(LzrwError::OutputOverflow);
            dst[out++] = src[in++];
        }
        control <<= 1;
        --bitsLeft;
    }
    return {LzrwError::None, out};
}

const char* LzrwErrorText(LzrwError error)
{
    switch (error) {
    case LzrwError::None:
        return "no error";
    case LzrwError::EmptyBlock:
        return "empty block";
    case LzrwError::UnknownFlag:
        return "unknown block flag";
    case LzrwError::Truncated:
        return "block ends inside an item";
    case LzrwError::OffsetBeforeStart:
        return "copy reaches before the start of the block";
    case LzrwError::OutputOverflow:
        return "block decodes to more bytes than it may hold";
    }
    return "unknown error";
}

} // namespace tarnel
