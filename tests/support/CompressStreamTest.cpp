#include "support/CompressStream.h"
#include "support/Lzrw1kh.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace tarnel;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Pack(const Bytes& data)
{
    Bytes packed;
    std::string error;
    EXPECT_TRUE(PackData(data, packed, error)) << error;
    return packed;
}

// Text with enough repetition to shrink and enough noise to keep some
// blocks in the copied form.
Bytes SampleData(size_t n)
{
    std::mt19937 rng(11);
    Bytes out(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = (i / 40000) % 3 == 2 ? uint8_t(rng()) : uint8_t("tarnel copies files\n"[i % 20]);
    return out;
}

uint32_t Le32(const Bytes& b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

TEST(CompressStreamTest, SmallInputsHaveTheDocumentedLayout)
{
    const Bytes empty = {'P', 'M', 'C', 'S', '1', '0', 0, 0, 0, 0};
    EXPECT_EQ(empty, Pack({}));
    const Bytes two = {'P', 'M', 'C', 'S', '1', '0', 7, 0, 0, 0, 3, 0, 0, 0, 0x80, 'a', 'b'};
    EXPECT_EQ(two, Pack({'a', 'b'}));
}

TEST(CompressStreamTest, RoundTripsAcrossBlockBoundaries)
{
    const size_t block = kLzrwMaxBlockInput;
    for (size_t n : {size_t(1), block - 1, block, block + 1, 2 * block, 3 * block + 17, size_t(400000)}) {
        SCOPED_TRACE(n);
        const Bytes data = SampleData(n);
        const Bytes packed = Pack(data);
        EXPECT_EQ(packed.size() - kPackedHeaderLength, Le32(packed, kPackedSignatureLength));

        // Every block but the last codes a full block of input.
        TDecompressStream stream(packed);
        std::span<const uint8_t> decoded;
        Bytes out;
        size_t blocks = 0;
        while (stream.NextBlock(decoded)) {
            ++blocks;
            if (out.size() + decoded.size() < n) {
                EXPECT_EQ(block, decoded.size());
            }
            out.insert(out.end(), decoded.begin(), decoded.end());
        }
        EXPECT_EQ("", stream.Error());
        EXPECT_EQ((n + block - 1) / block, blocks);
        EXPECT_EQ(data, out);
    }
}

TEST(CompressStreamTest, HowTheDataIsWrittenDoesNotChangeThePackedForm)
{
    const Bytes data = SampleData(3 * kLzrwMaxBlockInput + 5);
    const Bytes whole = Pack(data);
    for (size_t piece : {size_t(1), size_t(1000), kLzrwMaxBlockInput - 1, kLzrwMaxBlockInput + 1}) {
        SCOPED_TRACE(piece);
        Bytes packed = {'x'}; // appends after what is there
        TCompressStream stream(packed);
        for (size_t at = 0; at < data.size(); at += piece)
            ASSERT_TRUE(stream.Write(data.data() + at, std::min(piece, data.size() - at)));
        ASSERT_TRUE(stream.Finish());
        EXPECT_FALSE(stream.Write("y", 1));
        EXPECT_EQ('x', packed[0]);
        EXPECT_TRUE(std::equal(whole.begin(), whole.end(), packed.begin() + 1, packed.end()));
    }
}

TEST(CompressStreamTest, ForeignOrDamagedDataIsRefused)
{
    const Bytes good = Pack(SampleData(2 * kLzrwMaxBlockInput));
    auto unpackError = [](const Bytes& packed) {
        Bytes out;
        std::string error;
        EXPECT_FALSE(UnpackData(packed, out, error));
        return error;
    };

    EXPECT_EQ(kWrongFileType, unpackError({}));
    EXPECT_EQ(kWrongFileType, unpackError({'P', 'M', 'C', 'S'}));
    EXPECT_EQ(kWrongFileType, unpackError({'P', 'M', 'C', 'S', '1', '1', 0, 0, 0, 0}));
    EXPECT_EQ(kWrongFileType, unpackError({'P', 'K', 5, 6, 0, 0, 0, 0, 0, 0}));

    Bytes bigTotal = good;
    bigTotal[kPackedSignatureLength] += 1;
    EXPECT_NE(std::string::npos, unpackError(bigTotal).find("Damaged"));

    Bytes wideLength = good;
    wideLength[kPackedHeaderLength + 2] = 1; // upper half of the first chunk length
    EXPECT_NE(std::string::npos, unpackError(wideLength).find("Damaged"));

    Bytes shortTotal = good; // total ends inside the first chunk
    shortTotal[kPackedSignatureLength] = 5;
    for (int i = 1; i < 4; ++i)
        shortTotal[kPackedSignatureLength + size_t(i)] = 0;
    EXPECT_NE(std::string::npos, unpackError(shortTotal).find("Damaged"));

    // Any shortening leaves the total past the end.
    for (size_t cut = 0; cut < good.size(); cut += 97) {
        const Bytes part(good.begin(), good.begin() + long(cut));
        EXPECT_FALSE(unpackError(part).empty()) << cut;
    }
}

// Whether a flipped bit is noticed depends on where it lands; what must hold
// is that no access leaves the buffers (ASan watches). The block contents
// have their own test; here the header and the chunk lengths matter.
TEST(CompressStreamTest, BitFlipsNeverReachOutsideTheBuffers)
{
    const Bytes good = Pack(SampleData(kLzrwMaxBlockInput + 500));
    const size_t second = kPackedHeaderLength + 4 + Le32(good, kPackedHeaderLength);
    ASSERT_LT(second + 12, good.size());
    for (size_t byte = 0; byte < good.size(); ++byte) {
        if (byte >= 40 && (byte + 8 < second || byte > second + 12))
            continue;
        for (int bit = 0; bit < 8; ++bit) {
            Bytes flipped = good;
            flipped[byte] ^= uint8_t(1u << bit);
            Bytes out;
            std::string error;
            if (!UnpackData(flipped, out, error)) {
                EXPECT_FALSE(error.empty());
            }
        }
    }
}

} // namespace
