#include "support/CompressStream.h"

#include "support/Lzrw1kh.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace tarnel {

namespace {

void PutLe32(uint8_t* at, uint32_t value)
{
    at[0] = uint8_t(value);
    at[1] = uint8_t(value >> 8);
    at[2] = uint8_t(value >> 16);
    at[3] = uint8_t(value >> 24);
}

uint32_t GetLe32(const uint8_t* at)
{
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

} // namespace

TCompressStream::TCompressStream(std::vector<uint8_t>& out)
    : out_(out), start_(out.size()), block_(LzrwCompressBound(kLzrwMaxBlockInput))
{
    out_.insert(out_.end(), kPackedSignature, kPackedSignature + kPackedSignatureLength);
    out_.insert(out_.end(), 4, 0); // the total, known at Finish
    pending_.reserve(kLzrwMaxBlockInput);
}

bool TCompressStream::CodeBlock(const uint8_t* data, size_t size)
{
    const size_t length = LzrwCompressBlock(data, size, block_.data());
    if (length == 0) {
        error_ = kLzrwNoHashMemory;
        return false;
    }
    uint8_t header[4];
    PutLe32(header, uint32_t(length));
    out_.insert(out_.end(), header, header + 4);
    out_.insert(out_.end(), block_.data(), block_.data() + length);
    return true;
}

bool TCompressStream::Write(const void* data, size_t size)
{
    if (!error_.empty())
        return false;
    if (finished_) {
        error_ = "write after the end of the packed data";
        return false;
    }
    auto* bytes = static_cast<const uint8_t*>(data);
    // Top up a partly filled block first, then code whole blocks straight
    // from the caller's buffer.
    if (!pending_.empty()) {
        const size_t take = std::min(size, kLzrwMaxBlockInput - pending_.size());
        pending_.insert(pending_.end(), bytes, bytes + take);
        bytes += take;
        size -= take;
        if (pending_.size() < kLzrwMaxBlockInput)
            return true;
        if (!CodeBlock(pending_.data(), pending_.size()))
            return false;
        pending_.clear();
    }
    while (size >= kLzrwMaxBlockInput) {
        if (!CodeBlock(bytes, kLzrwMaxBlockInput))
            return false;
        bytes += kLzrwMaxBlockInput;
        size -= kLzrwMaxBlockInput;
    }
    pending_.insert(pending_.end(), bytes, bytes + size);
    return true;
}

bool TCompressStream::Finish()
{
    if (!error_.empty())
        return false;
    if (finished_)
        return true;
    finished_ = true;
    if (!pending_.empty() && !CodeBlock(pending_.data(), pending_.size()))
        return false;
    pending_.clear();
    const size_t total = out_.size() - start_ - kPackedHeaderLength;
    if (total > std::numeric_limits<uint32_t>::max()) {
        error_ = "data too large to pack";
        return false;
    }
    PutLe32(out_.data() + start_ + kPackedSignatureLength, uint32_t(total));
    return true;
}

TDecompressStream::TDecompressStream(std::span<const uint8_t> packed)
{
    if (packed.size() < kPackedSignatureLength ||
        std::memcmp(packed.data(), kPackedSignature, kPackedSignatureLength) != 0) {
        error_ = kWrongFileType;
        return;
    }
    if (packed.size() < kPackedHeaderLength) {
        Fail("no total after the signature");
        return;
    }
    const uint32_t total = GetLe32(packed.data() + kPackedSignatureLength);
    if (total > packed.size() - kPackedHeaderLength) {
        Fail("the total runs past the end");
        return;
    }
    records_ = packed.subspan(kPackedHeaderLength, total);
    buffer_.resize(kLzrwMaxBlockInput);
}

bool TDecompressStream::Fail(const std::string& why)
{
    error_ = "Damaged packed data: " + why;
    records_ = {};
    return false;
}

bool TDecompressStream::NextBlock(std::span<const uint8_t>& decoded)
{
    decoded = {};
    if (!error_.empty() || records_.empty())
        return false;
    if (records_.size() < 4)
        return Fail("chunk length cut short");
    const uint32_t length = GetLe32(records_.data());
    if (length > 0xFFFF)
        return Fail("chunk length out of range");
    if (length > records_.size() - 4)
        return Fail("chunk runs past the total");
    const LzrwDecodeResult result =
        LzrwDecompressBlock(records_.data() + 4, length, buffer_.data(), buffer_.size());
    if (!result.Ok())
        return Fail(LzrwErrorText(result.error));
    records_ = records_.subspan(4 + length);
    decoded = std::span<const uint8_t>(buffer_.data(), result.length);
    return true;
}

bool PackData(std::span<const uint8_t> data, std::vector<uint8_t>& packed, std::string& error)
{
    TCompressStream stream(packed);
    if (stream.Write(data.data(), data.size()) && stream.Finish())
        return true;
    error = stream.Error();
    return false;
}

bool UnpackData(std::span<const uint8_t> packed, std::vector<uint8_t>& data, std::string& error)
{
    TDecompressStream stream(packed);
    std::span<const uint8_t> block;
    while (stream.NextBlock(block))
        data.insert(data.end(), block.begin(), block.end());
    if (stream.Error().empty())
        return true;
    error = stream.Error();
    return false;
}

} // namespace tarnel
