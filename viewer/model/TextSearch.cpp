#include "viewer/model/TextSearch.h"

#include "viewer/model/ByteScan.h"
#include "viewer/model/TextFile.h"

#include <algorithm>
#include <cstring>

namespace tarnel {

namespace {

constexpr size_t kBlock = size_t(256) << 10;

void FoldCase(char* data, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        if (data[i] >= 'A' && data[i] <= 'Z')
            data[i] = char(data[i] + ('a' - 'A'));
}

} // namespace

TextSearcher::TextSearcher(const TextFile& file, std::string text, bool ignoreCase)
    : file_(file), text_(std::move(text)), ignoreCase_(ignoreCase)
{
    if (ignoreCase_)
        FoldCase(text_.data(), text_.size());
    buffer_.resize(kBlock + text_.size());
}

void TextSearcher::Restart(int64_t start)
{
    used_ = scan_ = 0;
    bufferAt_ = readAt_ = std::max<int64_t>(0, start);
}

// Keeps the bytes that may still begin a match, reads the next block after
// them. False at the end of the file.
bool TextSearcher::Refill()
{
    const size_t keep = used_ - scan_; // fewer than the text's length
    std::memmove(buffer_.data(), buffer_.data() + used_ - keep, keep);
    bufferAt_ += int64_t(used_ - keep);
    used_ = keep;
    scan_ = 0;
    const size_t want = size_t(std::min<int64_t>(int64_t(kBlock), std::max<int64_t>(0, file_.Size() - readAt_)));
    if (want == 0)
        return false;
    const size_t got = file_.ReadAt(readAt_, buffer_.data() + used_, want);
    if (got == 0)
        return false;
    if (ignoreCase_)
        FoldCase(buffer_.data() + used_, got);
    used_ += got;
    readAt_ += int64_t(got);
    readBudget_ -= int64_t(got);
    return true;
}

TextSearcher::Result TextSearcher::Next(int64_t maxBytes, int64_t& match)
{
    match = -1;
    if (text_.empty())
        return Result::NotFound;
    readBudget_ = std::max<int64_t>(maxBytes, 1);
    for (;;) {
        if (used_ - scan_ >= text_.size()) {
            const int64_t found = FindText(buffer_.data() + scan_, used_ - scan_, text_.data(), text_.size());
            if (found >= 0) {
                const size_t at = scan_ + size_t(found);
                scan_ = at + 1;
                match = bufferAt_ + int64_t(at);
                return Result::Found;
            }
            scan_ = used_ - (text_.size() - 1); // these may begin a match that the next block ends
        }
        if (readBudget_ <= 0)
            return Result::MoreToRead;
        if (!Refill())
            return Result::NotFound;
    }
}

int64_t FindFrom(const TextFile& file, const std::string& text, int64_t start, bool ignoreCase)
{
    TextSearcher searcher(file, text, ignoreCase);
    searcher.Restart(start);
    int64_t match;
    while (searcher.Next(int64_t(1) << 30, match) == TextSearcher::Result::MoreToRead) {
    }
    return match;
}

} // namespace tarnel
