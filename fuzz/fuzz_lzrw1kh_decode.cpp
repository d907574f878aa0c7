// Feeds arbitrary bytes to the block decoder and to the packed-stream reader
// (no access outside the buffers, no runaway), and sends the same bytes
// through the coder and back (the round trip must be exact).
#include "support/CompressStream.h"
#include "support/Lzrw1kh.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace tarnel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Exact-size heap copies, so that ASan sees the first byte past either end.
    {
        std::unique_ptr<uint8_t[]> block(new uint8_t[size]);
        if (size)
            std::memcpy(block.get(), data, size);
        const size_t capacity = size ? data[0] * 200u : kLzrwMaxBlockInput; // small outputs too
        std::unique_ptr<uint8_t[]> out(new uint8_t[capacity ? capacity : 1]);
        const LzrwDecodeResult result = LzrwDecompressBlock(block.get(), size, out.get(), capacity);
        if (result.Ok() && result.length > capacity)
            std::abort();
    }
    {
        // The stream reader, with the signature in front so it gets past the check.
        std::vector<uint8_t> packed(kPackedSignature, kPackedSignature + kPackedSignatureLength);
        packed.insert(packed.end(), data, data + size);
        std::vector<uint8_t> decoded;
        std::string error;
        if (!UnpackData(packed, decoded, error) && error.empty())
            std::abort();
    }
    {
        const size_t n = std::min(size, kLzrwMaxBlockInput);
        std::vector<uint8_t> coded(LzrwCompressBound(n));
        const size_t length = LzrwCompressBlock(data, n, coded.data());
        if (length == 0 || length > n + 1)
            std::abort();
        coded.resize(length);
        std::unique_ptr<uint8_t[]> back(new uint8_t[n ? n : 1]);
        const LzrwDecodeResult result = LzrwDecompressBlock(coded.data(), length, back.get(), n);
        if (!result.Ok() || result.length != n || (n && std::memcmp(back.get(), data, n) != 0))
            std::abort();
    }
    return 0;
}
