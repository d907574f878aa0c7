#include "viewer/model/LineIndex.h"

#include "viewer/model/ByteScan.h"
#include "viewer/model/TextFile.h"

#include <algorithm>
#include <bit>
#include <cstring>


namespace tarnel {

// ---- LineStarts ----

void LineStarts::Clear()
{
    chunks_.clear();
    size_ = 0;
}

void LineStarts::Reuse()
{
    if (chunks_.size() > 1)
        chunks_.resize(1);
    size_ = 0;
}

void LineStarts::Shrink(int64_t count)
{
    size_ = std::min(size_, count);
    chunks_.resize((size_t(size_) + kChunk - 1) / kChunk);
}

void LineStarts::Grow() { chunks_.push_back(std::make_unique_for_overwrite<int64_t[]>(kChunk)); }

void LineStarts::AppendOffsets(int64_t base, const uint32_t* offsets, size_t count)
{
    while (count > 0) {
        if (size_t(size_) % kChunk == 0 && size_t(size_) / kChunk >= chunks_.size())
            Grow();
        const size_t at = size_t(size_) % kChunk;
        const size_t take = std::min(count, kChunk - at);
        int64_t* out = chunks_[size_t(size_) / kChunk].get() + at;
        for (size_t i = 0; i < take; ++i)
            out[i] = base + offsets[i];
        size_ += int64_t(take);
        offsets += take;
        count -= take;
    }
}

int64_t LineStarts::LastAtOrBefore(int64_t offset) const
{
    int64_t low = 0, high = size_; // answer in [low, high)
    while (high - low > 1) {
        const int64_t mid = low + (high - low) / 2;
        if ((*this)[mid] <= offset)
            low = mid;
        else
            high = mid;
    }
    return low;
}

// ---- LineScanner ----

namespace {

// Control bytes that make a file unsafe to edit as it stands: all below 32
// except tab, line feed, form feed and carriage return.
bool IsImpure(unsigned char b) { return b < 32 && b != '\t' && b != '\n' && b != '\f' && b != '\r'; }

// One bit per byte of a 64-byte block (or fewer at the end of a feed):
// where the tabs and line ends are, and the bytes that make a file impure.
struct BlockMasks {
    uint64_t stops = 0; // tabs and line ends, where the scanner stops
    uint64_t impure = 0;
};

BlockMasks MasksByByte(const unsigned char* data, size_t size)
{
    BlockMasks masks;
    for (size_t i = 0; i < size; ++i) {
        const unsigned char b = data[i];
        if (b == '\r' || b == '\n' || b == '\t')
            masks.stops |= uint64_t(1) << i;
        if (IsImpure(b))
            masks.impure |= uint64_t(1) << i;
    }
    return masks;
}

BlockMasks MasksOf(const unsigned char* data, size_t size)
{
    if (size == 64) {
        const ControlMasks controls = ControlMasksOf(data);
        if (controls.controls == controls.lineFeeds)
            return {controls.lineFeeds, 0};
    }
    return MasksByByte(data, size);
}

// Feeds are cut into pieces of this size, so that the line feeds of a piece
// fit in a small buffer.
constexpr size_t kPiece = 16384;

bool HasHighBytes(const unsigned char* data, size_t size)
{
    uint64_t any = 0;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, 8);
        any |= word;
    }
    for (; i < size; ++i)
        any |= data[i];
    return (any & 0x8080808080808080u) != 0;
}

} // namespace

LineScanner::LineScanner(LineStarts& starts, ScanOptions options, int64_t startOffset)
    : starts_(starts), options_(options), wrapAt_(std::max(1, options.visibleCols - 1)),
      lineFeeds_(std::make_unique_for_overwrite<uint32_t[]>(kPiece + 8)), offset_(startOffset),
      lastStart_(startOffset)
{
    options_.tab = std::max(1, options_.tab);
    starts_.Reuse();
    starts_.Push(startOffset);
}

void LineScanner::EndLine(int64_t at)
{
    maxWidth_ = std::max(maxWidth_, column_);
    column_ = 0;
    starts_.Push(at);
    ++lines_;
    lastStart_ = at;
}

void LineScanner::OneColumn(int64_t end)
{
    ++column_;
    if (options_.mode == VM_WORDWRAP && column_ >= wrapAt_) {
        column_ = wrapAt_;
        EndLine(end);
    }
}

void LineScanner::FlushHeld()
{
    utf8_.Flush([this](int64_t start, int, uint32_t) { OneColumn(start + 1); });
}

// UTF-8 text: a column for each character, and for each byte that is none.
void LineScanner::Utf8Run(const unsigned char* data, size_t size, int64_t at)
{
    size_t i = 0;
    while (i < size) {
        if (!utf8_.Holding() && data[i] < 0x80) {
            size_t j = i + 1;
            while (j < size && data[j] < 0x80)
                ++j;
            if (options_.mode != VM_WORDWRAP || column_ + int64_t(j - i) < wrapAt_)
                column_ += int64_t(j - i);
            else
                WrapRun(j - i, at + int64_t(i));
            i = j;
            continue;
        }
        utf8_.Add(data[i], at + int64_t(i), [this](int64_t start, int length, uint32_t) { OneColumn(start + length); });
        ++i;
    }
}

void LineScanner::Feed(const unsigned char* data, size_t size)
{
    for (size_t at = 0; at < size; at += kPiece) {
        const size_t length = std::min(kPiece, size - at);
        if (!FeedPlainLines(data + at, length))
            FeedAny(data + at, length);
    }
}

// The bulk of most text: plain bytes ended by line feeds, or by CR LF
// pairs, unwrapped. Every line feed starts a line right after it, but with
// bare line feeds one in the piece's last byte waits to see whether a CR
// follows (LF CR is one line end too); the widths are the gaps between them.
// False, with nothing done, for any other piece.
bool LineScanner::FeedPlainLines(const unsigned char* data, size_t size)
{
    if (options_.mode == VM_WORDWRAP || (pending_ && pendingByte_ != '\n'))
        return false;
    // Byte gaps are widths only when every byte is a character.
    if (options_.utf8 && (utf8_.Holding() || HasHighBytes(data, size)))
        return false;
    const uint32_t* const at = lineFeeds_.get();
    bool crLf = false;
    const int64_t count = FindLineFeeds(data, uint32_t(size), lineFeeds_.get(), crLf);
    if (count < 0 || (crLf && pending_)) // a CR right after a line feed: LF CR
        return false;
    if (pending_) { // the line feed before this piece ends its line here
        EndLine(offset_);
        pending_ = false;
    }
    if (count == 0) {
        column_ += int64_t(size);
        offset_ += int64_t(size);
        return true;
    }
    const int64_t endBytes = crLf ? 2 : 1;
    int64_t widest = std::max(maxWidth_, column_ + at[0] - (endBytes - 1));
    for (int64_t k = 1; k < count; ++k)
        widest = std::max(widest, int64_t(at[k]) - int64_t(at[k - 1]) - endBytes);
    maxWidth_ = widest;
    const size_t last = at[count - 1];
    pending_ = !crLf && last == size - 1;
    pendingByte_ = '\n';
    const int64_t added = pending_ ? count - 1 : count;
    starts_.AppendOffsets(offset_ + 1, at, size_t(added));
    if (added > 0) {
        lines_ += added;
        lastStart_ = offset_ + 1 + at[added - 1];
    }
    column_ = int64_t(size - 1 - last);
    offset_ += int64_t(size);
    return true;
}

// Bytes that are neither tab nor line end, one column each, reaching the
// edge in wrapped mode: they break into rows.
void LineScanner::WrapRun(size_t size, int64_t at)
{
    int64_t left = int64_t(size);
    while (left > 0) {
        const int64_t room = wrapAt_ - column_;
        if (left < room) {
            column_ += left;
            return;
        }
        at += room;
        left -= room;
        column_ = wrapAt_;
        EndLine(at);
    }
}

void LineScanner::PlainRun(const unsigned char* data, size_t size, int64_t at)
{
    if (pending_) {
        EndLine(at);
        pending_ = false;
    }
    if (options_.utf8)
        Utf8Run(data, size, at);
    else if (options_.mode != VM_WORDWRAP || column_ + int64_t(size) < wrapAt_)
        column_ += int64_t(size);
    else
        WrapRun(size, at);
}

void LineScanner::AtStop(unsigned char b, int64_t at)
{
    if (utf8_.Holding())
        FlushHeld(); // a sequence cut by a tab or a line end
    if (b == '\t') {
        if (pending_) {
            EndLine(at);
            pending_ = false;
        }
        const int tab = options_.tab;
        column_ = (column_ / tab + 1) * tab;
        if (options_.mode == VM_WORDWRAP && column_ >= wrapAt_) {
            column_ = wrapAt_;
            EndLine(at + 1);
        }
    } else if (pending_ && b != pendingByte_) {
        EndLine(at + 1); // CR LF or LF CR: one line end
        pending_ = false;
    } else if (pending_) {
        EndLine(at); // a second CR (or LF) starts the next line end
    } else {
        pending_ = true;
        pendingByte_ = b;
    }
}

// Any bytes: 64 at a time, visiting only the tabs and line ends, found by
// bit masks; the text between them costs nothing but its length.
void LineScanner::FeedAny(const unsigned char* data, size_t size)
{
    size_t runStart = 0; // first byte of the plain run not yet counted
    for (size_t block = 0; block < size; block += 64) {
        const BlockMasks masks = MasksOf(data + block, std::min<size_t>(64, size - block));
        if (masks.impure)
            pureAscii_ = false;
        for (uint64_t stops = masks.stops; stops; stops &= stops - 1) {
            const size_t at = block + size_t(std::countr_zero(stops));
            if (at > runStart)
                PlainRun(data + runStart, at - runStart, offset_ + int64_t(runStart));
            AtStop(data[at], offset_ + int64_t(at));
            runStart = at + 1;
        }
    }
    if (size > runStart)
        PlainRun(data + runStart, size - runStart, offset_ + int64_t(runStart));
    offset_ += int64_t(size);
}

void LineScanner::Finish()
{
    FlushHeld();
    if (pending_) {
        EndLine(offset_ - 1);
        pending_ = false;
    } else if (lastStart_ < offset_) {
        EndLine(offset_); // the last line has no line end
    }
    if (offset_ == 0 && lines_ == 1)
        EndLine(0); // an empty file has one empty line
}

// ---- LineIndex ----

namespace {
constexpr size_t kBlock = size_t(128) << 10;

int HexDigits(int64_t size)
{
    int digits = 8;
    while (digits < 16 && (uint64_t(size > 0 ? size - 1 : 0) >> (4 * digits)) != 0)
        ++digits;
    return digits;
}
} // namespace

void LineIndex::Reset()
{
    file_ = nullptr;
    scanner_.reset();
    found_.Clear();
    keptLine_.Clear();
    keptAt_.Clear();
    window_.Clear();
    windowBuffer_.clear();
    windowFirst_ = -1;
    buffer_.clear();
    buffer_.shrink_to_fit();
    size_ = 0;
    spacing_ = 1;
    spacingBytes_ = 0;
    absorbed_ = lastKeptLine_ = lastKeptAt_ = 0;
    done_ = true;
    fileChanged_ = false;
    waiting_ = false;
}

void LineIndex::Start(const TextFile& file, ScanOptions options, int64_t maxKept)
{
    Reset();
    file_ = &file;
    options_ = options;
    options_.tab = std::clamp(options_.tab, 1, 20);
    size_ = file.Size();
    maxKept_ = std::max<int64_t>(16, maxKept);
    if (options_.mode == VM_HEX)
        return; // line n is at 16 n: nothing to index
    scanner_ = std::make_unique<LineScanner>(found_, options_);
    Absorb();
    buffer_.resize(kBlock);
    done_ = false;
}

void LineIndex::Keep(int64_t line, int64_t offset)
{
    if (keptLine_.Size() >= maxKept_)
        Thin();
    keptLine_.Push(line);
    keptAt_.Push(offset);
    lastKeptLine_ = line;
    lastKeptAt_ = offset;
}

// Every other kept start goes; the ones to come are spaced twice as far.
void LineIndex::Thin()
{
    const int64_t count = keptLine_.Size();
    const int64_t left = (count + 1) / 2;
    for (int64_t i = 1; i < left; ++i) {
        keptLine_.At(i) = keptLine_[2 * i];
        keptAt_.At(i) = keptAt_[2 * i];
    }
    keptLine_.Shrink(left);
    keptAt_.Shrink(left);
    lastKeptLine_ = keptLine_[left - 1];
    lastKeptAt_ = keptAt_[left - 1];
    spacing_ *= 2;
    // A stretch of long lines gets its starts by bytes, so that finding a
    // line never reads far.
    spacingBytes_ = spacingBytes_ ? 2 * spacingBytes_ : int64_t(64) << 10;
}

void LineIndex::Absorb()
{
    const int64_t count = found_.Size();
    for (int64_t i = 0; i < count; ++i) {
        const int64_t line = absorbed_ + i, at = found_[i];
        if (line == 0 || line - lastKeptLine_ >= spacing_ || (spacingBytes_ && at - lastKeptAt_ >= spacingBytes_))
            Keep(line, at);
    }
    absorbed_ += count;
    found_.Reuse();
}

bool LineIndex::Step(int64_t maxBytes)
{
    waiting_ = false;
    int64_t budget = std::max<int64_t>(maxBytes, 1);
    while (!done_ && budget > 0) {
        const int64_t at = scanner_->Offset();
        if (at >= size_) {
            scanner_->Finish();
            Absorb();
            done_ = true;
            break;
        }
        const size_t want = size_t(std::min<int64_t>(int64_t(buffer_.size()), size_ - at));
        const int64_t misses = file_->Misses();
        const size_t got = file_->ReadAt(at, buffer_.data(), want);
        if (got < want && file_->Misses() != misses) {
            // The rest is not read yet: go on from here once it is.
            scanner_->Feed(buffer_.data(), got);
            Absorb();
            waiting_ = true;
            return false;
        }
        if (got < want)
            fileChanged_ = true; // shrank or failed: index what arrived, then stop
        scanner_->Feed(buffer_.data(), got);
        budget -= int64_t(want);
        if (got < want) {
            scanner_->Finish();
            done_ = true;
        }
        Absorb();
    }
    if (done_) {
        buffer_.clear();
        buffer_.shrink_to_fit();
    }
    return done_;
}

int64_t LineIndex::LineCount() const
{
    if (options_.mode == VM_HEX)
        return (size_ + 15) / 16;
    if (!scanner_)
        return 0;
    const int64_t complete = scanner_->Lines() - 1;
    return done_ ? complete : complete + 1;
}

int64_t LineIndex::MaxWidth() const
{
    if (options_.mode == VM_HEX)
        return 73 + (HexDigits(size_) - 8);
    return scanner_ ? scanner_->MaxWidth() : 0;
}

size_t LineIndex::MemoryBytes() const
{
    return keptLine_.MemoryBytes() + keptAt_.MemoryBytes() + found_.MemoryBytes() + window_.MemoryBytes() +
           buffer_.capacity() + windowBuffer_.capacity();
}

int64_t LineIndex::KeptByLine(int64_t n) const { return keptLine_.LastAtOrBefore(n); }

int64_t LineIndex::KeptByOffset(int64_t offset) const { return keptAt_.LastAtOrBefore(offset); }

namespace {
// Lines the window holds beyond the one asked for: a screen and more.
constexpr int64_t kWindowAhead = 512;
// The most the window holds while it scans towards a line.
constexpr int64_t kWindowMost = int64_t(1) << 16;
} // namespace

bool LineIndex::FillWindow(int64_t k, int64_t n, int64_t offset) const
{
    const int64_t limit = ScannedOffset();
    windowFirst_ = keptLine_[k];
    LineScanner scanner(window_, options_, keptAt_[k]);
    // Kept starts are close together: small reads find most lines.
    std::vector<unsigned char>& buffer = windowBuffer_;
    buffer.resize(size_t(16) << 10);
    auto reached = [&] {
        const int64_t last = windowFirst_ + window_.Size() - 1;
        return n >= 0 ? last >= n + 1 + kWindowAhead : scanner.LastStart() > offset;
    };
    while (!reached() && scanner.Offset() < limit) {
        // A long way between kept starts: only the latest lines stay.
        if (window_.Size() > kWindowMost && (n < 0 || windowFirst_ + window_.Size() - 1 < n)) {
            const int64_t last = window_[window_.Size() - 1];
            windowFirst_ += window_.Size() - 1;
            window_.Reuse();
            window_.Push(last);
        }
        const size_t want = size_t(std::min<int64_t>(int64_t(buffer.size()), limit - scanner.Offset()));
        const size_t got = file_->ReadAt(scanner.Offset(), buffer.data(), want);
        scanner.Feed(buffer.data(), got);
        if (got < want) {
            windowFirst_ = -1;
            window_.Reuse();
            return false;
        }
    }
    if (done_ && scanner.Offset() >= limit && !reached())
        scanner.Finish();
    // Only starts the index has found count: the end of a file still being
    // read is not a line end yet.
    const int64_t known = scanner_->Lines() - windowFirst_;
    if (window_.Size() > known)
        window_.Shrink(known);
    return true;
}

int64_t LineIndex::StartOf(int64_t n) const
{
    if (spacing_ == 1)
        return keptAt_[n];
    if (windowFirst_ < 0 || n < windowFirst_ || n >= windowFirst_ + window_.Size()) {
        if (!FillWindow(KeptByLine(n), n, -1) || n >= windowFirst_ + window_.Size())
            return keptAt_[KeptByLine(n)]; // the file changed under us: reads will say so
    }
    return window_[n - windowFirst_];
}

int64_t LineIndex::LineBegin(int64_t n) const { return StartOf(n); }

int64_t LineIndex::LineEnd(int64_t n) const
{
    if (n + 1 < scanner_->Lines())
        return StartOf(n + 1);
    return ScannedOffset();
}

int64_t LineIndex::LineOf(int64_t offset) const
{
    if (options_.mode == VM_HEX)
        return offset / 16;
    if (!scanner_ || (!done_ && offset >= ScannedOffset()))
        return -1;
    const int64_t count = LineCount();
    if (count == 0)
        return -1;
    if (spacing_ == 1)
        return std::min(keptAt_.LastAtOrBefore(offset), count - 1);
    const bool inWindow = windowFirst_ >= 0 && window_.Size() > 0 && window_[0] <= offset &&
                          (window_[window_.Size() - 1] > offset || windowFirst_ + window_.Size() >= scanner_->Lines());
    if (!inWindow && !FillWindow(KeptByOffset(offset), -1, offset))
        return -1;
    return std::min(windowFirst_ + window_.LastAtOrBefore(offset), count - 1);
}

} // namespace tarnel
