#include "support/Lzrw1kh.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

using namespace tarnel;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromString(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Repeat(const std::string& s, size_t times)
{
    Bytes out;
    for (size_t i = 0; i < times; ++i)
        out.insert(out.end(), s.begin(), s.end());
    return out;
}

Bytes Compress(const Bytes& in)
{
    Bytes out(LzrwCompressBound(in.size()));
    const size_t length = LzrwCompressBlock(in.data(), in.size(), out.data());
    EXPECT_NE(0u, length);
    out.resize(length);
    return out;
}

// The block is copied into a buffer of its exact size and decoded into one of
// exactly `capacity` bytes, so that any access outside them is an ASan finding.
LzrwDecodeResult Decode(const Bytes& block, size_t capacity, Bytes& out)
{
    const Bytes exact(block);
    out.assign(capacity, 0);
    const LzrwDecodeResult result = LzrwDecompressBlock(exact.data(), exact.size(), out.data(), out.size());
    if (result.Ok())
        out.resize(result.length);
    return result;
}

Bytes RandomBytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes out(n);
    for (auto& b : out)
        b = uint8_t(rng());
    return out;
}

// Words, numbers, short runs and the odd line of noise: what stored files look like.
Bytes MixedText(size_t n, uint32_t seed)
{
    static const char* const words[] = {"file", "archive", "directory", "the", "of", "Tarnel", "copy",
                                        "move", "DESCRIPT.ION", "pane", "size", "   ", "\t", "----------"};
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < n) {
        std::string piece;
        switch (rng() % 8) {
        case 0: piece = std::to_string(rng() % 100000); break;
        case 1: piece = "\n"; break;
        case 2: piece = std::string(rng() % 40, char('a' + rng() % 26)); break;
        case 3:
            for (int i = 0; i < 12; ++i)
                piece += char(rng());
            break;
        default: piece = words[rng() % (sizeof words / sizeof *words)]; piece += ' ';
        }
        out.insert(out.end(), piece.begin(), piece.end());
    }
    out.resize(n);
    return out;
}

void ExpectRoundTrip(const Bytes& in, const std::string& what)
{
    SCOPED_TRACE(what + ", " + std::to_string(in.size()) + " bytes");
    const Bytes block = Compress(in);
    ASSERT_LE(block.size(), in.size() + 1);
    // The copied form exactly when coding did not shrink the input.
    EXPECT_EQ(block.size() == in.size() + 1, block[0] == kLzrwFlagCopied);
    Bytes out;
    const LzrwDecodeResult result = Decode(block, in.size(), out);
    ASSERT_TRUE(result.Ok()) << LzrwErrorText(result.error);
    EXPECT_EQ(in, out);
}

TEST(Lzrw1khTest, RoundTripsVariedDataOfEverySizeClass)
{
    const size_t sizes[] = {0,    1,    2,    3,     4,     15,    16,    17,    18,   19,
                            100,  4095, 4096, 4097,  4111,  4112,  8191,  16384, 32767, 32768,
                            32769, 32782, kLzrwMaxBlockInput};
    for (size_t n : sizes) {
        ExpectRoundTrip(Bytes(n, 'z'), "all equal");
        ExpectRoundTrip(RandomBytes(n, uint32_t(n)), "random");
        ExpectRoundTrip(MixedText(n, uint32_t(n)), "text");
        Bytes periodic(n);
        for (size_t i = 0; i < n; ++i)
            periodic[i] = uint8_t("abcabd"[i % 6]);
        ExpectRoundTrip(periodic, "periodic");
        Bytes zeroRuns(n);
        for (size_t i = 0; i < n; ++i)
            zeroRuns[i] = (i / 20) % 2 ? uint8_t(i) : 0; // runs of 20 between noise
        ExpectRoundTrip(zeroRuns, "runs and noise");
    }
}

TEST(Lzrw1khTest, RefusesMoreThanOneBlock)
{
    const Bytes in(kLzrwMaxBlockInput + 1, 'a');
    Bytes out(LzrwCompressBound(in.size()));
    EXPECT_EQ(0u, LzrwCompressBlock(in.data(), in.size(), out.data()));
}

struct Vector {
    const char* what;
    Bytes input;
    Bytes block;
};

// Worked out by hand from the coding rules.
std::vector<Vector> KnownVectors()
{
    Bytes seventeenRuns;
    Bytes seventeenRunsBlock = {0x40, 0xFF, 0xFF};
    for (uint8_t v = 1; v <= 17; ++v) {
        seventeenRuns.insert(seventeenRuns.end(), 16, v);
        if (v == 17)
            seventeenRunsBlock.insert(seventeenRunsBlock.end(), {0x80, 0x00});
        seventeenRunsBlock.insert(seventeenRunsBlock.end(), {0, 0, 0, v});
    }
    Bytes near = FromString("XYZ");
    near.insert(near.end(), 4092, '.');
    near.insert(near.end(), {'X', 'Y', 'Z'});
    Bytes far = FromString("XYZ");
    far.insert(far.end(), 4093, '.');
    far.insert(far.end(), {'X', 'Y', 'Z'});

    return {
        {"empty input: copied form", {}, {0x80}},
        {"too short to pay", FromString("ab"), {0x80, 'a', 'b'}},
        {"15 equal bytes: a literal and a copy, no run", Bytes(15, 'a'), {0x40, 0x40, 0x00, 'a', 0x00, 0x1B}},
        {"4095 equal bytes: one run item", Bytes(4095, 'x'), {0x40, 0x80, 0x00, 0x00, 0x0F, 0xEF, 'x'}},
        {"4096 equal bytes: the run stops at 4095", Bytes(4096, 'x'),
         {0x40, 0x80, 0x00, 0x00, 0x0F, 0xEF, 'x', 'x'}},
        {"copy overlapping its own output", FromString("abcabcabcabc"),
         {0x40, 0x10, 0x00, 'a', 'b', 'c', 0x00, 0x36}},
        {"17 items: a second control word", seventeenRuns, seventeenRunsBlock},
        {"match 4095 bytes back", near, {0x40, 0x18, 0x00, 'X', 'Y', 'Z', 0x00, 0x0F, 0xEC, '.', 0xFF, 0xF0}},
        {"4096 bytes back is too far", far, {0x40, 0x10, 0x00, 'X', 'Y', 'Z', 0x00, 0x0F, 0xED, '.', 'X', 'Y', 'Z'}},
        {"copies stop at 18 bytes", Repeat("abcdefghijklmnopqrstu", 2),
         {0x40, 0x00, 0x00, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p',
          0x06, 0x00, 'q', 'r', 's', 't', 'u', 0x01, 0x5F, 0x01, 0x50}},
    };
}

TEST(Lzrw1khTest, CodesAndDecodesKnownVectors)
{
    for (const Vector& v : KnownVectors()) {
        SCOPED_TRACE(v.what);
        EXPECT_EQ(v.block, Compress(v.input));
        Bytes out;
        ASSERT_TRUE(Decode(v.block, kLzrwMaxBlockInput, out).Ok());
        EXPECT_EQ(v.input, out);
    }
}

// Sixteen letters drawn by a linear congruential generator: many short
// matches and many hash collisions, so the coded form depends on every
// detail of the hash and the match search. Length and FNV-1a of the block
// come from an independent model of the coding rules.
TEST(Lzrw1khTest, HashAndMatchSearchAgreeWithTheReferenceModel)
{
    auto letters = [](size_t n) {
        Bytes out(n);
        uint32_t x = 1;
        for (auto& b : out) {
            x = (x * 1103515245u + 12345u) & 0x7FFFFFFF;
            b = uint8_t('a' + (x >> 16) % 16);
        }
        return out;
    };
    auto fnv1a = [](const Bytes& b) {
        uint64_t h = 0xCBF29CE484222325u;
        for (uint8_t c : b)
            h = (h ^ c) * 0x100000001B3u;
        return h;
    };
    const Bytes full = Compress(letters(kLzrwMaxBlockInput));
    EXPECT_EQ(28063u, full.size());
    EXPECT_EQ(0x722AF2BDE89A4FE7u, fnv1a(full));
    const Bytes part = Compress(letters(5000));
    EXPECT_EQ(4524u, part.size());
    EXPECT_EQ(0x4DB8545656A44675u, fnv1a(part));
}

TEST(Lzrw1khTest, RandomInputIsStoredCopied)
{
    const Bytes in = RandomBytes(5000, 7);
    const Bytes block = Compress(in);
    ASSERT_EQ(in.size() + 1, block.size());
    EXPECT_EQ(kLzrwFlagCopied, block[0]);
    EXPECT_TRUE(std::equal(in.begin(), in.end(), block.begin() + 1));
}

TEST(Lzrw1khTest, DecodesItemsTheCoderNeverWrites)
{
    Bytes out;
    // The longest run item: (15 * 256 + 255) + 16 bytes.
    ASSERT_TRUE(Decode({0x40, 0x80, 0x00, 0x00, 0x0F, 0xFF, 'A'}, kLzrwMaxBlockInput, out).Ok());
    EXPECT_EQ(Bytes(4111, 'A'), out);
    // Flag and control word, no items.
    ASSERT_TRUE(Decode({0x40, 0x00, 0x00}, 10, out).Ok());
    EXPECT_TRUE(out.empty());
}

TEST(Lzrw1khTest, DamagedBlocksGiveErrors)
{
    struct Case {
        const char* what;
        Bytes block;
        size_t capacity;
        LzrwError error;
    };
    const Case cases[] = {
        {"empty block", {}, 100, LzrwError::EmptyBlock},
        {"unknown flag", {0x41, 0x00, 0x00, 'a'}, 100, LzrwError::UnknownFlag},
        {"flag without control word", {0x40, 0x00}, 100, LzrwError::Truncated},
        {"copy cut after its first byte", {0x40, 0x40, 0x00, 'a', 0x00}, 100, LzrwError::Truncated},
        {"run cut short", {0x40, 0x80, 0x00, 0x00, 0x00, 0x10}, 100, LzrwError::Truncated},
        {"second control word cut", {0x40, 0x00, 0x00, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l',
                                     'm', 'n', 'o', 'p', 0x00},
         100, LzrwError::Truncated},
        {"second control word with no item after it",
         {0x40, 0x00, 0x00, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p', 0x00,
          0x00},
         100, LzrwError::Truncated},
        {"copy as the first item", {0x40, 0x80, 0x00, 0x00, 0x10}, 100, LzrwError::OffsetBeforeStart},
        {"copy from before the start", {0x40, 0x40, 0x00, 'a', 0x00, 0x2B}, 100, LzrwError::OffsetBeforeStart},
        {"largest offset", {0x40, 0x40, 0x00, 'a', 0xFF, 0xF0}, 100, LzrwError::OffsetBeforeStart},
        {"literal past the end of the output", {0x40, 0x00, 0x00, 'a', 'b', 'c'}, 2, LzrwError::OutputOverflow},
        {"copy past the end of the output", {0x40, 0x40, 0x00, 'a', 0x00, 0x1F}, 18, LzrwError::OutputOverflow},
        {"run past the end of the output", {0x40, 0x80, 0x00, 0x00, 0x0F, 0xFF, 'A'}, 4110,
         LzrwError::OutputOverflow},
        {"copied form larger than the output", {0x80, 'a', 'b', 'c'}, 2, LzrwError::OutputOverflow},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes out;
        EXPECT_EQ(c.error, Decode(c.block, c.capacity, out).error);
    }
}

// Cutting a block short or flipping any bit may still leave a valid block,
// but never an access outside the buffers (ASan watches), and a cut block
// decodes to a prefix of the original or fails.
TEST(Lzrw1khTest, TruncatedAndBitFlippedBlocksStayInBounds)
{
    const Bytes inputs[] = {MixedText(2000, 1), Repeat("abcabd", 150), Bytes(5000, 'q'), RandomBytes(300, 3)};
    for (const Bytes& in : inputs) {
        const Bytes block = Compress(in);
        for (size_t cut = 0; cut < block.size(); ++cut) {
            const Bytes part(block.begin(), block.begin() + long(cut));
            Bytes out;
            if (Decode(part, in.size(), out).Ok()) {
                ASSERT_LE(out.size(), in.size());
                ASSERT_TRUE(std::equal(out.begin(), out.end(), in.begin())) << "cut at " << cut;
            }
        }
        for (size_t bit = 0; bit < block.size() * 8; ++bit) {
            Bytes flipped = block;
            flipped[bit / 8] ^= uint8_t(1u << (bit % 8));
            Bytes out;
            const LzrwDecodeResult result = Decode(flipped, in.size(), out);
            if (result.Ok()) {
                ASSERT_LE(result.length, in.size());
            }
        }
    }
}

} // namespace
