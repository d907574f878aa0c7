#pragma once
// Where each line of a text file starts, for the three display modes. Built
// in steps so that a caller can show the first screen before the whole file
// is read and stop at any moment.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tarnel {

class TextFile;

enum Mymodes { VM_STANDARD = 0, VM_WORDWRAP = 1, VM_HEX = 2 };

// 64-bit offsets, 8 bytes each, in fixed chunks: growing never copies, and
// the memory stays 8 bytes per line beyond one chunk.
class LineStarts {
public:
    static constexpr size_t kChunk = 65536;
    void Clear();
    // Appends base + offsets[i] for each i.
    void AppendOffsets(int64_t base, const uint32_t* offsets, size_t count);
    void Push(int64_t offset)
    {
        if (size_t(size_) % kChunk == 0)
            Grow();
        chunks_.back()[size_t(size_) % kChunk] = offset;
        ++size_;
    }
    int64_t Size() const { return size_; }
    int64_t operator[](int64_t i) const { return chunks_[size_t(i) / kChunk][size_t(i) % kChunk]; }
    // The last entry not greater than offset (entries ascend); entry 0 is 0.
    int64_t LastAtOrBefore(int64_t offset) const;
    size_t MemoryBytes() const { return chunks_.size() * kChunk * sizeof(int64_t); }

private:
    void Grow();

    std::vector<std::unique_ptr<int64_t[]>> chunks_;
    int64_t size_ = 0;
};

struct ScanOptions {
    Mymodes mode = VM_STANDARD;
    int tab = 8;
    int visibleCols = 80; // wrapped mode breaks at visibleCols - 1
};

// The byte scanner: fed the file in order, it ends lines at CR, LF, CR LF and
// LF CR, and in wrapped mode after visibleCols - 1 columns.
class LineScanner {
public:
    LineScanner(LineStarts& starts, ScanOptions options);
    void Feed(const unsigned char* data, size_t size);
    // At the end of the file; size is the number of bytes fed.
    void Finish();
    int64_t Offset() const { return offset_; }
    int64_t MaxWidth() const { return maxWidth_ > column_ ? maxWidth_ : column_; }
    bool PureAscii() const { return pureAscii_; }

private:
    void EndLine(int64_t at);
    bool FeedPlainLines(const unsigned char* data, size_t size);
    void FeedAny(const unsigned char* data, size_t size);
    void PlainRun(size_t size, int64_t at);
    void WrapRun(size_t size, int64_t at);
    void AtStop(unsigned char b, int64_t at); // a tab or a line end

    LineStarts& starts_;
    ScanOptions options_;
    int64_t wrapAt_;
    std::unique_ptr<uint32_t[]> lineFeeds_; // where they are in one piece of a feed
    int64_t offset_ = 0;
    int64_t column_ = 0;
    int64_t maxWidth_ = 0;
    bool pending_ = false;
    unsigned char pendingByte_ = 0;
    bool pureAscii_ = true;
};

// The index of one file in one mode.
class LineIndex {
public:
    // Lines beyond this stop the index (a file of nothing but line feeds
    // would otherwise take 8 bytes of memory per byte of file).
    static constexpr int64_t kDefaultMaxLines = int64_t(1) << 27;

    // Starts over; nothing is read yet.
    void Start(const TextFile& file, ScanOptions options, int64_t maxLines = kDefaultMaxLines);
    void Reset();
    // Scans at least one block, at most about maxBytes; true once complete.
    bool Step(int64_t maxBytes);
    void RunToEnd() { while (!Step(int64_t(1) << 30)) {} }
    bool Done() const { return done_; }
    // Past its cap or cut short by a file that shrank while it was read.
    bool Capped() const { return capped_; }
    bool FileChanged() const { return fileChanged_; }

    Mymodes Mode() const { return options_.mode; }
    const ScanOptions& Options() const { return options_; }
    // While building, the line being scanned counts as a line that ends where
    // the scan is.
    int64_t LineCount() const;
    int64_t MaxWidth() const;
    bool PureAscii() const { return scanner_ ? scanner_->PureAscii() : true; }
    // Bytes [LineBegin(n), LineEnd(n)) of line n, from 0; text modes only.
    int64_t LineBegin(int64_t n) const { return starts_[n]; }
    int64_t LineEnd(int64_t n) const;
    // The line holding offset (text modes), or -1 when it is not indexed yet.
    int64_t LineOf(int64_t offset) const;
    int64_t ScannedOffset() const { return scanner_ ? scanner_->Offset() : 0; }
    size_t MemoryBytes() const { return starts_.MemoryBytes(); }

private:
    const TextFile* file_ = nullptr;
    ScanOptions options_;
    int64_t size_ = 0;
    int64_t maxLines_ = kDefaultMaxLines;
    LineStarts starts_;
    std::unique_ptr<LineScanner> scanner_;
    std::vector<unsigned char> buffer_;
    bool done_ = true;
    bool capped_ = false;
    bool fileChanged_ = false;
};

} // namespace tarnel
