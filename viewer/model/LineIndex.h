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

// 64-bit offsets, 8 bytes each, in fixed chunks: growing never copies.
class LineStarts {
public:
    // Small enough that a short file's index costs little to set up.
    static constexpr size_t kChunk = 8192;
    void Clear();
    // Empties the list but keeps its first chunk for the next use.
    void Reuse();
    // Appends base + offsets[i] for each i.
    void AppendOffsets(int64_t base, const uint32_t* offsets, size_t count);
    void Push(int64_t offset)
    {
        if (size_t(size_) % kChunk == 0 && size_t(size_) / kChunk >= chunks_.size())
            Grow();
        chunks_[size_t(size_) / kChunk][size_t(size_) % kChunk] = offset;
        ++size_;
    }
    int64_t Size() const { return size_; }
    int64_t operator[](int64_t i) const { return chunks_[size_t(i) / kChunk][size_t(i) % kChunk]; }
    int64_t& At(int64_t i) { return chunks_[size_t(i) / kChunk][size_t(i) % kChunk]; }
    // The last entry not greater than offset (entries ascend); entry 0 is 0.
    int64_t LastAtOrBefore(int64_t offset) const;
    // Keeps the first count entries and frees the chunks past them.
    void Shrink(int64_t count);
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
    // Columns are characters of UTF-8 text rather than bytes; a byte that
    // is no part of a well-formed sequence is a column of its own.
    bool utf8 = false;
};

// Reads UTF-8 one byte at a time and tells each column it finds: a
// well-formed sequence (no overlong forms, no surrogates, nothing past
// U+10FFFF), or a byte that belongs to none. A broken sequence gives up its
// bytes one column each, and the byte that broke it starts afresh.
class Utf8Columns {
public:
    // Marks a column that holds a byte rather than a character.
    static constexpr uint32_t kLoneByte = 0x80000000u;

    bool Holding() const { return have_ > 0; }
    int Held() const { return have_; }
    // onColumn(start offset, byte count, code point or kLoneByte | byte)
    template <class Emit>
    void Add(unsigned char b, int64_t at, Emit&& onColumn)
    {
        if (have_ > 0) {
            if (b >= low_ && b <= high_) {
                bytes_[have_++] = b;
                code_ = (code_ << 6) | (b & 0x3F);
                low_ = 0x80;
                high_ = 0xBF;
                if (--need_ == 0) {
                    const int length = have_;
                    have_ = 0;
                    onColumn(start_, length, code_);
                }
                return;
            }
            Flush(onColumn);
        }
        if (b < 0x80) {
            onColumn(at, 1, uint32_t(b));
            return;
        }
        if (!Lead(b)) {
            onColumn(at, 1, kLoneByte | b);
            return;
        }
        start_ = at;
        bytes_[0] = b;
        have_ = 1;
    }
    // The bytes of a sequence cut short, one column each.
    template <class Emit>
    void Flush(Emit&& onColumn)
    {
        const int held = have_;
        have_ = need_ = 0;
        for (int i = 0; i < held; ++i)
            onColumn(start_ + i, 1, kLoneByte | bytes_[i]);
    }
    void Reset() { have_ = need_ = 0; }

private:
    bool Lead(unsigned char b)
    {
        low_ = 0x80;
        high_ = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            need_ = 1;
            code_ = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need_ = 2;
            code_ = b & 0x0F;
            if (b == 0xE0)
                low_ = 0xA0;
            else if (b == 0xED)
                high_ = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            need_ = 3;
            code_ = b & 0x07;
            if (b == 0xF0)
                low_ = 0x90;
            else if (b == 0xF4)
                high_ = 0x8F;
        } else {
            return false;
        }
        return true;
    }

    unsigned char bytes_[4] = {};
    int have_ = 0;
    int need_ = 0;
    unsigned char low_ = 0x80, high_ = 0xBF;
    uint32_t code_ = 0;
    int64_t start_ = 0;
};

// The byte scanner: fed the file in order, it ends lines at CR, LF, CR LF and
// LF CR, and in wrapped mode after visibleCols - 1 columns. It may start at
// any line start: the scan's state there is always the fresh one.
class LineScanner {
public:
    LineScanner(LineStarts& starts, ScanOptions options, int64_t startOffset = 0);
    void Feed(const unsigned char* data, size_t size);
    // At the end of the file.
    void Finish();
    int64_t Offset() const { return offset_; }
    int64_t MaxWidth() const { return maxWidth_ > column_ ? maxWidth_ : column_; }
    bool PureAscii() const { return pureAscii_; }
    // Line starts found so far, the first included.
    int64_t Lines() const { return lines_; }
    int64_t LastStart() const { return lastStart_; }

private:
    void EndLine(int64_t at);
    bool FeedPlainLines(const unsigned char* data, size_t size);
    void FeedAny(const unsigned char* data, size_t size);
    void PlainRun(const unsigned char* data, size_t size, int64_t at);
    void WrapRun(size_t size, int64_t at);
    void Utf8Run(const unsigned char* data, size_t size, int64_t at);
    void OneColumn(int64_t end);
    void FlushHeld();
    void AtStop(unsigned char b, int64_t at); // a tab or a line end

    LineStarts& starts_;
    ScanOptions options_;
    int64_t wrapAt_;
    std::unique_ptr<uint32_t[]> lineFeeds_; // where they are in one piece of a feed
    int64_t offset_ = 0;
    int64_t column_ = 0;
    int64_t maxWidth_ = 0;
    int64_t lines_ = 1;
    int64_t lastStart_ = 0;
    bool pending_ = false;
    unsigned char pendingByte_ = 0;
    bool pureAscii_ = true;
    Utf8Columns utf8_;
};

// The index of one file in one mode. It keeps one line start in every few
// (a line number and its offset), never more than a fixed number of them:
// when they are all used, every other one goes and the spacing doubles. The
// lines between two kept starts are found again by scanning that stretch,
// and a window of them is kept for the lines on screen.
class LineIndex {
public:
    // Kept starts at most, 16 bytes each: 32 MB for a file of any size.
    static constexpr int64_t kDefaultMaxKept = int64_t(1) << 21;

    // Starts over; nothing is read yet. maxKept (at least 16) bounds the memory.
    void Start(const TextFile& file, ScanOptions options, int64_t maxKept = kDefaultMaxKept);
    void Reset();
    // Scans at least one block, at most about maxBytes; true once complete.
    bool Step(int64_t maxBytes);
    // Stops early only where blocks are not in memory yet (Waiting()).
    void RunToEnd() { while (!Step(int64_t(1) << 30) && !waiting_) {} }
    bool Done() const { return done_; }
    // The last step stopped at bytes of a file read through blocks that are
    // not in memory yet (TextFile::ReadThrough).
    bool Waiting() const { return waiting_; }
    // Cut short by a file that shrank while it was read.
    bool FileChanged() const { return fileChanged_; }

    Mymodes Mode() const { return options_.mode; }
    const ScanOptions& Options() const { return options_; }
    // While building, the line being scanned counts as a line that ends where
    // the scan is.
    int64_t LineCount() const;
    int64_t MaxWidth() const;
    bool PureAscii() const { return scanner_ ? scanner_->PureAscii() : true; }
    // Bytes [LineBegin(n), LineEnd(n)) of line n, from 0; text modes only.
    // A line between kept starts is found by reading the file again.
    int64_t LineBegin(int64_t n) const;
    int64_t LineEnd(int64_t n) const;
    // The line holding offset (text modes), or -1 when it is not indexed yet.
    int64_t LineOf(int64_t offset) const;
    int64_t ScannedOffset() const { return scanner_ ? scanner_->Offset() : 0; }
    size_t MemoryBytes() const;
    // Lines between kept starts (1 while every start is kept).
    int64_t Spacing() const { return spacing_; }

private:
    // Line n's start, when it is among the scanned ones.
    int64_t StartOf(int64_t n) const;
    void Keep(int64_t line, int64_t offset);
    void Absorb();
    void Thin();
    // The kept start at or before line n (by line) or offset (by offset).
    int64_t KeptByLine(int64_t n) const;
    int64_t KeptByOffset(int64_t offset) const;
    // Scans from kept start k until the window holds line n + 1, or a start
    // past offset; false on a short read.
    bool FillWindow(int64_t k, int64_t n, int64_t offset) const;

    const TextFile* file_ = nullptr;
    ScanOptions options_;
    int64_t size_ = 0;
    int64_t maxKept_ = kDefaultMaxKept;
    LineStarts found_;   // the scanner's output since the last step
    LineStarts keptLine_, keptAt_;
    int64_t spacing_ = 1;       // lines between kept starts at most
    int64_t spacingBytes_ = 0;  // or bytes, once starts are dropped
    int64_t absorbed_ = 0;      // starts handed over by the scanner
    int64_t lastKeptLine_ = 0, lastKeptAt_ = 0;
    std::unique_ptr<LineScanner> scanner_;
    std::vector<unsigned char> buffer_;
    // Consecutive line starts from line windowFirst_ on, found again.
    mutable LineStarts window_;
    mutable std::vector<unsigned char> windowBuffer_;
    mutable int64_t windowFirst_ = -1;
    bool done_ = true;
    bool fileChanged_ = false;
    bool waiting_ = false;
};

} // namespace tarnel
