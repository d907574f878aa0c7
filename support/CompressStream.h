#pragma once
// The packed form of stored file data: the signature "PMCS10", a 32-bit
// little-endian total of the bytes that follow, then chunk records of a
// 32-bit little-endian length and one LZRW1KH block each.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tarnel {

inline constexpr char kPackedSignature[] = "PMCS10";
inline constexpr size_t kPackedSignatureLength = 6;
inline constexpr size_t kPackedHeaderLength = kPackedSignatureLength + 4;
inline constexpr const char* kWrongFileType = "Wrong file type";

// Packs the bytes written to it, appending the packed form to out.
class TCompressStream {
public:
    explicit TCompressStream(std::vector<uint8_t>& out);
    TCompressStream(const TCompressStream&) = delete;
    TCompressStream& operator=(const TCompressStream&) = delete;

    // False once anything failed; Error() says why.
    bool Write(const void* data, size_t size);
    // Codes what is still buffered and fills in the total. Nothing may be
    // written after it.
    bool Finish();
    const std::string& Error() const { return error_; }

private:
    bool CodeBlock(const uint8_t* data, size_t size);

    std::vector<uint8_t>& out_;
    size_t start_;                  // offset of the signature in out_
    std::vector<uint8_t> pending_;  // input not yet making a full block
    std::vector<uint8_t> block_;    // coder output
    bool finished_ = false;
    std::string error_;
};

// Reads the packed form back block by block.
class TDecompressStream {
public:
    // packed must outlive the stream. A wrong signature or a total past the
    // end shows at once in Error().
    explicit TDecompressStream(std::span<const uint8_t> packed);

    // Decodes the next block into a buffer of the stream; decoded stays valid
    // until the next call. False at the end and on error (Error() not empty).
    bool NextBlock(std::span<const uint8_t>& decoded);
    const std::string& Error() const { return error_; }

private:
    bool Fail(const std::string& why);

    std::span<const uint8_t> records_; // the chunk records still to read
    std::vector<uint8_t> buffer_;
    std::string error_;
};

// Whole-buffer forms of the two streams.
bool PackData(std::span<const uint8_t> data, std::vector<uint8_t>& packed, std::string& error);
bool UnpackData(std::span<const uint8_t> packed, std::vector<uint8_t>& data, std::string& error);

} // namespace tarnel
