#include "viewer/model/LineIndex.h"

#include "viewer/model/TextFile.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnel {

// ---- LineStarts ----

void LineStarts::Clear()
{
    chunks_.clear();
    size_ = 0;
}

void LineStarts::Push(int64_t offset)
{
    if (size_t(size_) == chunks_.size() * kChunk)
        chunks_.push_back(std::make_unique_for_overwrite<int64_t[]>(kChunk));
    chunks_[size_t(size_) / kChunk][size_t(size_) % kChunk] = offset;
    ++size_;
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

// The next tab, line feed or carriage return at or after from.
size_t FindSpecial(const unsigned char* data, size_t from, size_t size)
{
    size_t i = from;
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n'), tab = _mm_set1_epi8('\t');
    for (; i + 16 <= size; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, cr), _mm_cmpeq_epi8(x, lf)),
                                         _mm_cmpeq_epi8(x, tab));
        if (const int mask = _mm_movemask_epi8(hit))
            return i + size_t(__builtin_ctz(unsigned(mask)));
    }
#endif
    for (; i < size; ++i)
        if (data[i] == '\r' || data[i] == '\n' || data[i] == '\t')
            return i;
    return size;
}

// Control bytes that make a file unsafe to edit as it stands: all below 32
// except tab, line feed, form feed and carriage return.
bool IsImpure(unsigned char b) { return b < 32 && b != '\t' && b != '\n' && b != '\f' && b != '\r'; }

} // namespace

LineScanner::LineScanner(LineStarts& starts, ScanOptions options)
    : starts_(starts), options_(options), wrapAt_(std::max(1, options.visibleCols - 1))
{
    starts_.Clear();
    starts_.Push(0);
}

void LineScanner::EndLine(int64_t at)
{
    maxWidth_ = std::max(maxWidth_, column_);
    column_ = 0;
    starts_.Push(at);
}

void LineScanner::CheckPure(const unsigned char* data, size_t size)
{
    size_t i = 0;
#if defined(__SSE2__)
    // Every text block holds tabs and line ends: they are masked out in
    // the vector, so no block falls back to a byte loop.
    const __m128i limit = _mm_set1_epi8(31);
    const __m128i tab = _mm_set1_epi8('\t'), lf = _mm_set1_epi8('\n'), ff = _mm_set1_epi8('\f'),
                  cr = _mm_set1_epi8('\r');
    for (; i + 16 <= size; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(x, limit), limit);
        const __m128i allowed = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, tab), _mm_cmpeq_epi8(x, lf)),
                                             _mm_or_si128(_mm_cmpeq_epi8(x, ff), _mm_cmpeq_epi8(x, cr)));
        if (_mm_movemask_epi8(_mm_andnot_si128(allowed, control)) != 0) {
            pureAscii_ = false;
            return;
        }
    }
#endif
    for (; i < size; ++i)
        if (IsImpure(data[i])) {
            pureAscii_ = false;
            return;
        }
}

// Bytes that are neither tab nor line end: one column each.
void LineScanner::PlainRun(const unsigned char*, size_t size, int64_t at)
{
    if (pending_) {
        EndLine(at);
        pending_ = false;
    }
    if (options_.mode != VM_WORDWRAP) {
        column_ += int64_t(size);
        return;
    }
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

void LineScanner::Feed(const unsigned char* data, size_t size)
{
    if (size == 0)
        return;
    if (pureAscii_)
        CheckPure(data, size);
    const int tab = std::max(1, options_.tab);
    size_t i = 0;
    while (i < size) {
        const size_t j = FindSpecial(data, i, size);
        if (j > i)
            PlainRun(data + i, j - i, offset_ + int64_t(i));
        if (j == size)
            break;
        const unsigned char b = data[j];
        const int64_t at = offset_ + int64_t(j);
        if (b == '\t') {
            if (pending_) {
                EndLine(at);
                pending_ = false;
            }
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
        i = j + 1;
    }
    lastByte_ = data[size - 1];
    offset_ += int64_t(size);
}

void LineScanner::Finish()
{
    if (pending_) {
        EndLine(offset_ - 1);
        pending_ = false;
    } else if (starts_[starts_.Size() - 1] < offset_) {
        EndLine(offset_); // the last line has no line end
    }
    if (starts_.Size() == 1)
        EndLine(0); // an empty file has one empty line
}

// ---- LineIndex ----

namespace {
constexpr size_t kBlock = size_t(1) << 20;

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
    starts_.Clear();
    buffer_.clear();
    buffer_.shrink_to_fit();
    size_ = 0;
    done_ = true;
    capped_ = fileChanged_ = false;
}

void LineIndex::Start(const TextFile& file, ScanOptions options, int64_t maxLines)
{
    Reset();
    file_ = &file;
    options_ = options;
    options_.tab = std::clamp(options_.tab, 1, 20);
    size_ = file.Size();
    maxLines_ = maxLines;
    if (options_.mode == VM_HEX)
        return; // line n is at 16 n: nothing to index
    scanner_ = std::make_unique<LineScanner>(starts_, options_);
    buffer_.resize(kBlock);
    done_ = false;
}

bool LineIndex::Step(int64_t maxBytes)
{
    int64_t budget = std::max<int64_t>(maxBytes, 1);
    while (!done_ && budget > 0) {
        const int64_t at = scanner_->Offset();
        if (at >= size_) {
            scanner_->Finish();
            done_ = true;
            break;
        }
        const size_t want = size_t(std::min<int64_t>(int64_t(buffer_.size()), size_ - at));
        const size_t got = file_->ReadAt(at, buffer_.data(), want);
        if (got < want)
            fileChanged_ = true; // shrank or failed: index what arrived, then stop
        scanner_->Feed(buffer_.data(), got);
        budget -= int64_t(want);
        if (got < want) {
            scanner_->Finish();
            done_ = true;
        } else if (starts_.Size() - 1 >= maxLines_) {
            capped_ = true;
            done_ = true;
        }
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
    const int64_t complete = starts_.Size() - 1;
    return done_ ? complete : complete + 1;
}

int64_t LineIndex::MaxWidth() const
{
    if (options_.mode == VM_HEX)
        return 73 + (HexDigits(size_) - 8);
    return scanner_ ? scanner_->MaxWidth() : 0;
}

int64_t LineIndex::LineEnd(int64_t n) const
{
    if (n + 1 < starts_.Size())
        return starts_[n + 1];
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
    return std::min(starts_.LastAtOrBefore(offset), count - 1);
}

} // namespace tarnel
