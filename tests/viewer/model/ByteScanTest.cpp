#include "viewer/model/ByteScan.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace tarnel {
namespace {

std::vector<uint32_t> Scan(ScanWidth width, const std::string& data, int64_t& count, bool* crLf = nullptr)
{
    std::vector<uint32_t> out(data.size() + 8);
    bool pairs = false;
    count = FindLineFeedsWith(width, reinterpret_cast<const unsigned char*>(data.data()), uint32_t(data.size()),
                              out.data(), pairs);
    if (crLf)
        *crLf = pairs;
    out.resize(size_t(std::max<int64_t>(count, 0)));
    return out;
}

// Every vector width finds the same line feeds as a byte loop, at every
// length around the 64-byte blocks, and gives up on any other control byte
// wherever it stands.
TEST(ByteScanTest, EveryWidthFindsTheLineFeedsAndStopsAtOtherControls)
{
    std::mt19937 random(3);
    for (size_t size : {0, 1, 31, 63, 64, 65, 127, 128, 200, 1000, 16384}) {
        for (int density : {1, 2, 9, 70, 1000}) {
            std::string data(size, 'x');
            std::vector<uint32_t> expected;
            for (size_t i = 0; i < size; ++i) {
                data[i] = random() % uint32_t(density) == 0 ? '\n' : char(32 + random() % 224);
                if (data[i] == '\n')
                    expected.push_back(uint32_t(i));
            }
            for (ScanWidth width : {ScanWidth::Bytes, ScanWidth::Sse2, ScanWidth::Avx2, ScanWidth::Avx512}) {
                int64_t count = 0;
                EXPECT_EQ(Scan(width, data, count), expected) << size << " " << density;
                EXPECT_EQ(count, int64_t(expected.size()));
            }
            if (size == 0)
                continue;
            for (char control : {'\r', '\t', '\0', '\x1f'}) { // a lone CR too
                std::string bad = data;
                bad[random() % size] = control;
                for (ScanWidth width : {ScanWidth::Bytes, ScanWidth::Sse2, ScanWidth::Avx2, ScanWidth::Avx512}) {
                    int64_t count = 0;
                    Scan(width, bad, count);
                    EXPECT_EQ(count, -1) << size << " " << int(control);
                }
            }
        }
    }
}

// CR LF pairs are line ends as good as line feeds; a pair broken anywhere,
// at a block's edge or the piece's end included, is not.
TEST(ByteScanTest, CrLfPairsAreFoundAndABrokenPairIsNot)
{
    std::mt19937 random(4);
    for (size_t size : {2, 63, 64, 65, 128, 129, 1000, 16384}) {
        std::string data(size, 'x');
        std::vector<uint32_t> expected;
        for (size_t i = 1; i < size; ++i)
            if (random() % 9 == 0 && data[i - 1] != '\n') {
                data[i - 1] = '\r';
                data[i] = '\n';
            }
        if (size >= 66) { // a pair across the first block's edge
            data.replace(62, 4, "x\r\nx");
        }
        expected.clear();
        for (size_t i = 0; i < size; ++i)
            if (data[i] == '\n')
                expected.push_back(uint32_t(i));
        const bool anyPair = !expected.empty();
        for (ScanWidth width : {ScanWidth::Bytes, ScanWidth::Sse2, ScanWidth::Avx2, ScanWidth::Avx512}) {
            int64_t count = 0;
            bool crLf = false;
            EXPECT_EQ(Scan(width, data, count, &crLf), expected) << size;
            EXPECT_EQ(crLf, anyPair) << size;
            for (const std::string& broken : {data + "\r", "\n" + data, data + "\n", "x\r" + data}) {
                if (!anyPair && broken.find('\r') == std::string::npos)
                    continue; // bare line feeds, fine as they are
                Scan(width, broken, count);
                EXPECT_EQ(count, -1) << size;
            }
        }
    }
}

TEST(ByteScanTest, ControlMasksMarkEveryByteBelowThirtyTwo)
{
    unsigned char block[64];
    for (int i = 0; i < 64; ++i)
        block[i] = (unsigned char)(i * 5);
    const ControlMasks masks = ControlMasksOf(block);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ((masks.controls >> i) & 1, uint64_t(block[i] < 32)) << i;
        EXPECT_EQ((masks.lineFeeds >> i) & 1, uint64_t(block[i] == '\n')) << i;
        EXPECT_EQ((masks.returns >> i) & 1, uint64_t(block[i] == '\r')) << i;
    }
}

} // namespace
} // namespace tarnel

namespace tarnel {
namespace {

// Every width finds the first place std::string::find does: texts of every
// length from 1, planted at the start, the end, across vector edges and
// overlapping themselves, in text made of few letters so that first and last
// bytes agree often without the middle.
TEST(ByteScanTest, FindTextAgreesWithFindAtEveryWidth)
{
    std::mt19937 random(9);
    for (int round = 0; round < 300; ++round) {
        const size_t size = random() % (round % 10 == 0 ? 5000 : 200);
        std::string data(size, 'a');
        for (char& c : data)
            c = char('a' + random() % 3);
        const size_t length = 1 + random() % 20;
        std::string text(length, 'a');
        for (char& c : text)
            c = char('a' + random() % 3);
        if (size >= length && round % 2)
            data.replace(random() % (size - length + 1), length, text);
        const size_t expected = data.find(text);
        for (ScanWidth width : {ScanWidth::Bytes, ScanWidth::Sse2, ScanWidth::Avx2}) {
            EXPECT_EQ(FindTextWith(width, data.data(), data.size(), text.data(), text.size()),
                      expected == std::string::npos ? -1 : int64_t(expected))
                << "round " << round << " width " << int(width);
        }
    }
    EXPECT_EQ(FindText("abc", 3, "", 0), -1);
    EXPECT_EQ(FindText("ab", 2, "abc", 3), -1);
    const std::string high = std::string(100, '\xff') + "\xfe\x80\xfe" + std::string(40, '\xfe');
    EXPECT_EQ(FindText(high.data(), high.size(), "\xfe\x80\xfe", 3), 100);
}

} // namespace
} // namespace tarnel
