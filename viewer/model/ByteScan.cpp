#include "viewer/model/ByteScan.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include <string.h> // memmem

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tarnel {

namespace {

ControlMasks MasksByByte(const unsigned char* data, size_t size)
{
    ControlMasks masks;
    for (size_t i = 0; i < size; ++i) {
        masks.lineFeeds |= uint64_t(data[i] == '\n') << i;
        masks.returns |= uint64_t(data[i] == '\r') << i;
        masks.controls |= uint64_t(data[i] < 32) << i;
    }
    return masks;
}

#if defined(__x86_64__)
inline ControlMasks MasksSse2(const unsigned char* data)
{
    const __m128i limit = _mm_set1_epi8(31), lineFeed = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
    ControlMasks masks;
    for (int part = 0; part < 4; ++part) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * part));
        masks.lineFeeds |= uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(x, lineFeed)))) << (16 * part);
        masks.returns |= uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(x, cr)))) << (16 * part);
        masks.controls |= uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(x, limit), limit))))
                          << (16 * part);
    }
    return masks;
}

#define TARNEL_AVX2 [[gnu::target("avx2,bmi,bmi2,popcnt")]]

TARNEL_AVX2 inline uint64_t Bits(__m256i x) { return uint64_t(unsigned(_mm256_movemask_epi8(x))); }

bool HasAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
                            __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
    return has;
}
#endif

// Writes the offsets of the set bits of a block's mask from write on, four
// at a time without a branch per bit: text has about one line feed a block,
// and a branch on each would be mispredicted half the time. Returns the new
// end of the list; up to three entries past it are written over.
[[gnu::always_inline]] inline uint32_t* WriteBits(uint64_t bits, uint32_t block, uint32_t* write)
{
    uint32_t* const end = write + std::popcount(bits);
    do { // four writes even for none: cheaper than a branch
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k) {
            write[k] = block + uint32_t(std::countr_zero(bits));
            bits &= bits - 1;
            asm("" : "+r"(bits)); // or the compiler brings back a branch per bit
        }
        write += 4;
    } while (bits);
    return end;
}

// What the blocks of a piece held, gathered as they go by and judged once at
// the end.
struct LineEndCheck {
    uint64_t others = 0;   // control bytes other than line ends
    uint64_t unpaired = 0; // CRs not followed by a line feed, line feeds not after a CR
    uint64_t returns = 0;
    uint64_t carry = 0;    // a CR in the last byte of the block before

    void Add(uint64_t lineFeeds, uint64_t returnBits)
    {
        unpaired |= ((returnBits << 1) | carry) ^ lineFeeds;
        returns |= returnBits;
        carry = returnBits >> 63;
    }
    // The count, or -1 when the piece is neither pure line feeds nor pure CR LF.
    int64_t Result(int64_t count, bool& crLf) const
    {
        crLf = returns != 0;
        if (others || (crLf && (unpaired || carry)))
            return -1;
        return count;
    }
};

void AddByByte(const unsigned char* data, uint32_t size, uint32_t block, uint32_t*& next, LineEndCheck& check)
{
    for (; block < size; block += 64) {
        const uint32_t length = std::min<uint32_t>(64, size - block);
        const ControlMasks masks = MasksByByte(data + block, length);
        check.others |= masks.controls & ~(masks.lineFeeds | masks.returns);
        check.Add(masks.lineFeeds, masks.returns);
        if (length < 64)
            check.carry = (masks.returns >> (length - 1)) & 1; // a CR last in the piece
        next = WriteBits(masks.lineFeeds, block, next);
    }
}

int64_t FindByByte(const unsigned char* data, uint32_t size, uint32_t* out, bool& crLf)
{
    LineEndCheck check;
    uint32_t* next = out;
    AddByByte(data, size, 0, next, check);
    return check.Result(next - out, crLf);
}

#if defined(__x86_64__)
// The other control bytes are gathered in a vector and looked at once at
// the end: a block costs its compares, four masks and the writes.
TARNEL_AVX2 int64_t FindAvx2(const unsigned char* data, uint32_t size, uint32_t* out, bool& crLf)
{
    const __m256i limit = _mm256_set1_epi8(31), lineFeed = _mm256_set1_epi8('\n'), cr = _mm256_set1_epi8('\r');
    __m256i others = _mm256_setzero_si256();
    LineEndCheck check;
    uint32_t* next = out;
    uint32_t block = 0;
    for (; block + 64 <= size; block += 64) {
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + block));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + block + 32));
        const __m256i lowFeeds = _mm256_cmpeq_epi8(low, lineFeed), highFeeds = _mm256_cmpeq_epi8(high, lineFeed);
        const __m256i lowReturns = _mm256_cmpeq_epi8(low, cr), highReturns = _mm256_cmpeq_epi8(high, cr);
        const __m256i lowControls = _mm256_cmpeq_epi8(_mm256_max_epu8(low, limit), limit);
        const __m256i highControls = _mm256_cmpeq_epi8(_mm256_max_epu8(high, limit), limit);
        others = _mm256_or_si256(
            others, _mm256_or_si256(_mm256_andnot_si256(_mm256_or_si256(lowFeeds, lowReturns), lowControls),
                                    _mm256_andnot_si256(_mm256_or_si256(highFeeds, highReturns), highControls)));
        const uint64_t lineFeeds = Bits(lowFeeds) | Bits(highFeeds) << 32;
        check.Add(lineFeeds, Bits(lowReturns) | Bits(highReturns) << 32);
        next = WriteBits(lineFeeds, block, next);
    }
    check.others = _mm256_testz_si256(others, others) ? 0 : 1;
    AddByByte(data, size, block, next, check);
    return check.Result(next - out, crLf);
}

#define TARNEL_AVX512 [[gnu::target("avx512f,avx512bw,bmi,bmi2,popcnt")]]

// With 64-byte vectors the compares give the masks themselves.
TARNEL_AVX512 int64_t FindAvx512(const unsigned char* data, uint32_t size, uint32_t* out, bool& crLf)
{
    const __m512i limit = _mm512_set1_epi8(31), lineFeed = _mm512_set1_epi8('\n'), cr = _mm512_set1_epi8('\r');
    LineEndCheck check;
    uint32_t* next = out;
    uint32_t block = 0;
    for (; block + 64 <= size; block += 64) {
        const __m512i x = _mm512_loadu_si512(data + block);
        const uint64_t lineFeeds = _mm512_cmpeq_epi8_mask(x, lineFeed);
        const uint64_t returns = _mm512_cmpeq_epi8_mask(x, cr);
        check.others |= _mm512_cmple_epu8_mask(x, limit) & ~(lineFeeds | returns);
        check.Add(lineFeeds, returns);
        next = WriteBits(lineFeeds, block, next);
    }
    AddByByte(data, size, block, next, check);
    return check.Result(next - out, crLf);
}

bool HasAvx512()
{
    static const bool has = HasAvx2() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    return has;
}

int64_t FindSse2(const unsigned char* data, uint32_t size, uint32_t* out, bool& crLf)
{
    LineEndCheck check;
    uint32_t* next = out;
    uint32_t block = 0;
    for (; block + 64 <= size; block += 64) {
        const ControlMasks masks = MasksSse2(data + block);
        check.others |= masks.controls & ~(masks.lineFeeds | masks.returns);
        check.Add(masks.lineFeeds, masks.returns);
        next = WriteBits(masks.lineFeeds, block, next);
    }
    AddByByte(data, size, block, next, check);
    return check.Result(next - out, crLf);
}
#endif

// Checks the places whose first and last bytes matched, in order.
inline int64_t Confirm(uint64_t candidates, const char* data, size_t at, const char* text, size_t length)
{
    for (; candidates; candidates &= candidates - 1) {
        const size_t place = at + size_t(std::countr_zero(candidates));
        if (std::memcmp(data + place + 1, text + 1, length - 2) == 0)
            return int64_t(place);
    }
    return -1;
}

int64_t FindTextByBytes(const char* data, size_t size, const char* text, size_t length, size_t from = 0)
{
    if (length > size || from > size - length)
        return -1;
    const void* hit = ::memmem(data + from, size - from, text, length);
    return hit ? static_cast<const char*>(hit) - data : -1;
}

#if defined(__x86_64__)
int64_t FindTextSse2(const char* data, size_t size, const char* text, size_t length)
{
    const __m128i first = _mm_set1_epi8(text[0]), last = _mm_set1_epi8(text[length - 1]);
    size_t at = 0;
    for (; at + length - 1 + 16 <= size; at += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + length - 1));
        const unsigned both = unsigned(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
        if (both)
            if (const int64_t found = Confirm(both, data, at, text, length); found >= 0)
                return found;
    }
    return FindTextByBytes(data, size, text, length, at);
}

TARNEL_AVX2 int64_t FindTextAvx2(const char* data, size_t size, const char* text, size_t length)
{
    const __m256i first = _mm256_set1_epi8(text[0]), last = _mm256_set1_epi8(text[length - 1]);
    size_t at = 0;
    for (; at + length - 1 + 32 <= size; at += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + at));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + at + length - 1));
        const uint64_t both = Bits(_mm256_and_si256(_mm256_cmpeq_epi8(a, first), _mm256_cmpeq_epi8(b, last)));
        if (both)
            if (const int64_t found = Confirm(both, data, at, text, length); found >= 0)
                return found;
    }
    return FindTextByBytes(data, size, text, length, at);
}
#endif

} // namespace

ControlMasks ControlMasksOf(const unsigned char* block)
{
#if defined(__x86_64__)
    return MasksSse2(block);
#else
    return MasksByByte(block, 64);
#endif
}

int64_t FindLineFeeds(const unsigned char* data, uint32_t size, uint32_t* out, bool& crLf)
{
    return FindLineFeedsWith(ScanWidth::Avx512, data, size, out, crLf);
}

int64_t FindLineFeedsWith(ScanWidth width, const unsigned char* data, uint32_t size, uint32_t* out, bool& crLf)
{
#if defined(__x86_64__)
    if (width == ScanWidth::Avx512 && HasAvx512())
        return FindAvx512(data, size, out, crLf);
    if ((width == ScanWidth::Avx2 || width == ScanWidth::Avx512) && HasAvx2())
        return FindAvx2(data, size, out, crLf);
    if (width != ScanWidth::Bytes)
        return FindSse2(data, size, out, crLf);
#endif
    (void)width;
    return FindByByte(data, size, out, crLf);
}

int64_t FindText(const char* data, size_t size, const char* text, size_t length)
{
    return FindTextWith(ScanWidth::Avx2, data, size, text, length);
}

int64_t FindTextWith(ScanWidth width, const char* data, size_t size, const char* text, size_t length)
{
    if (length == 0 || length > size)
        return -1;
    if (length == 1) {
        const void* hit = std::memchr(data, text[0], size);
        return hit ? static_cast<const char*>(hit) - data : -1;
    }
#if defined(__x86_64__)
    if (width != ScanWidth::Bytes && width != ScanWidth::Sse2 && HasAvx2())
        return FindTextAvx2(data, size, text, length);
    if (width != ScanWidth::Bytes)
        return FindTextSse2(data, size, text, length);
#endif
    (void)width;
    return FindTextByBytes(data, size, text, length);
}

} // namespace tarnel
