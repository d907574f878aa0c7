#include "viewer/model/ByteScan.h"

#include <algorithm>
#include <bit>

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
        masks.controls |= uint64_t(data[i] < 32) << i;
    }
    return masks;
}

#if defined(__x86_64__)
inline ControlMasks MasksSse2(const unsigned char* data)
{
    const __m128i limit = _mm_set1_epi8(31), lineFeed = _mm_set1_epi8('\n');
    ControlMasks masks;
    for (int part = 0; part < 4; ++part) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * part));
        masks.lineFeeds |= uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(x, lineFeed)))) << (16 * part);
        masks.controls |= uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(x, limit), limit))))
                          << (16 * part);
    }
    return masks;
}

#define TARNEL_AVX2 [[gnu::target("avx2,bmi,bmi2,lzcnt,popcnt")]]

TARNEL_AVX2 inline uint64_t Bits(__m256i x) { return uint64_t(unsigned(_mm256_movemask_epi8(x))); }

bool HasAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
                            __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
    return has;
}
#endif

// Writes the offsets of the set bits of a block's mask from write on, eight
// at a time without a branch per bit: text has about one line feed a block,
// and a branch on each would be mispredicted half the time. Returns the new
// end of the list.
[[gnu::always_inline]] inline uint32_t* WriteBits(uint64_t bits, uint32_t block, uint32_t* write)
{
    uint32_t* const end = write + std::popcount(bits);
    do { // eight writes even for none: cheaper than a branch
#pragma GCC unroll 8
        for (int k = 0; k < 8; ++k) {
            write[k] = block + uint32_t(std::countr_zero(bits));
            bits &= bits - 1;
            asm("" : "+r"(bits)); // or the compiler brings back a branch per bit
        }
        write += 8;
    } while (bits);
    return end;
}

int64_t FindByByte(const unsigned char* data, uint32_t size, uint32_t* out, uint32_t block = 0)
{
    uint32_t* next = out;
    for (; block < size; block += 64) {
        const ControlMasks masks = MasksByByte(data + block, std::min<uint32_t>(64, size - block));
        if (masks.controls != masks.lineFeeds)
            return -1;
        next = WriteBits(masks.lineFeeds, block, next);
    }
    return next - out;
}

#if defined(__x86_64__)
// The other control bytes are gathered in a vector and looked at once at
// the end, which leaves one test and one mask per 32 bytes.
TARNEL_AVX2 int64_t FindAvx2(const unsigned char* data, uint32_t size, uint32_t* out)
{
    const __m256i limit = _mm256_set1_epi8(31), lineFeed = _mm256_set1_epi8('\n');
    __m256i others = _mm256_setzero_si256();
    uint32_t* next = out;
    uint32_t block = 0;
    for (; block + 64 <= size; block += 64) {
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + block));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + block + 32));
        const __m256i lowFeeds = _mm256_cmpeq_epi8(low, lineFeed), highFeeds = _mm256_cmpeq_epi8(high, lineFeed);
        const __m256i lowControls = _mm256_cmpeq_epi8(_mm256_max_epu8(low, limit), limit);
        const __m256i highControls = _mm256_cmpeq_epi8(_mm256_max_epu8(high, limit), limit);
        others = _mm256_or_si256(others, _mm256_or_si256(_mm256_andnot_si256(lowFeeds, lowControls),
                                                         _mm256_andnot_si256(highFeeds, highControls)));
        next = WriteBits(Bits(lowFeeds) | Bits(highFeeds) << 32, block, next);
    }
    if (!_mm256_testz_si256(others, others))
        return -1;
    const int64_t tail = FindByByte(data, size, next, block);
    return tail < 0 ? -1 : next - out + tail;
}

int64_t FindSse2(const unsigned char* data, uint32_t size, uint32_t* out)
{
    uint32_t* next = out;
    uint32_t block = 0;
    for (; block + 64 <= size; block += 64) {
        const ControlMasks masks = MasksSse2(data + block);
        if (masks.controls != masks.lineFeeds)
            return -1;
        next = WriteBits(masks.lineFeeds, block, next);
    }
    const int64_t tail = FindByByte(data, size, next, block);
    return tail < 0 ? -1 : next - out + tail;
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

int64_t FindLineFeeds(const unsigned char* data, uint32_t size, uint32_t* out)
{
    return FindLineFeedsWith(ScanWidth::Avx2, data, size, out);
}

int64_t FindLineFeedsWith(ScanWidth width, const unsigned char* data, uint32_t size, uint32_t* out)
{
#if defined(__x86_64__)
    if (width == ScanWidth::Avx2 && HasAvx2())
        return FindAvx2(data, size, out);
    if (width != ScanWidth::Bytes)
        return FindSse2(data, size, out);
#endif
    (void)width;
    return FindByByte(data, size, out);
}

} // namespace tarnel
