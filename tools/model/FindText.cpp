#include "tools/model/FindText.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <unistd.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnel {

int64_t SteadyMilliseconds()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

namespace {

unsigned char LowerAscii(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }
bool IsLowerLetter(unsigned char c) { return c >= 'a' && c <= 'z'; }

// How often a byte turns up in text, roughly: the needle is looked for by
// its rarest byte, so memchr skips the most.
int Commonness(unsigned char c, bool fold)
{
    static constexpr const char* kLetters = "etaoinsrhldcumfpgwybvkxjqz"; // most common first
    if (c == ' ')
        return 255;
    if (fold)
        c = LowerAscii(c);
    if (IsLowerLetter(c))
        return 240 - 8 * int(std::strchr(kLetters, c) - kLetters);
    if (c >= 'A' && c <= 'Z')
        return 60 - int(std::strchr(kLetters, c + 32) - kLetters);
    if (c >= '0' && c <= '9')
        return 70;
    if (c == '\t' || c == '.' || c == ',' || c == '\n' || c == '_' || c == '-' || c == '/')
        return 90;
    if (c >= 0x80)
        return 30;
    if (c < 0x20)
        return 5;
    return 40;
}

bool IsWordByte(unsigned char c)
{
    // Bytes of multibyte characters count as letters: "na" is no word in "naïve".
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c >= 0x80;
}

// The first byte equal to lower or to its capital.
const char* FindEitherCase(const char* p, size_t len, unsigned char lower)
{
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i want = _mm_set1_epi8(char(lower));
    const __m128i bit = _mm_set1_epi8(0x20);
    for (; i + 32 <= len; i += 32) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 16));
        const unsigned ma = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(a, bit), want)));
        const unsigned mb = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(b, bit), want)));
        if (ma | mb) {
            const unsigned mask = ma | (mb << 16);
            return p + i + __builtin_ctz(mask);
        }
    }
#endif
    for (; i < len; ++i)
        if ((static_cast<unsigned char>(p[i]) | 0x20) == lower)
            return p + i;
    return nullptr;
}

bool EqualFolded(const char* text, const std::string& lowered)
{
    for (size_t i = 0; i < lowered.size(); ++i)
        if (LowerAscii(static_cast<unsigned char>(text[i])) != static_cast<unsigned char>(lowered[i]))
            return false;
    return true;
}

bool HasNonAscii(const std::string& s)
{
    return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

} // namespace

struct ContentPattern::Regex {
    pcre2_code* code = nullptr;
    ~Regex() { pcre2_code_free(code); }
};

class TextScratch {
public:
    explicit TextScratch(pcre2_code* code)
    {
        if (!code)
            return;
        match = pcre2_match_data_create_from_pattern(code, nullptr);
        context = pcre2_match_context_create(nullptr);
        // The default 32 KB stack is too small for some patterns on long lines.
        stack = pcre2_jit_stack_create(32 * 1024, 4 * 1024 * 1024, nullptr);
        if (context && stack)
            pcre2_jit_stack_assign(context, nullptr, stack);
    }
    ~TextScratch()
    {
        pcre2_match_data_free(match);
        pcre2_match_context_free(context);
        pcre2_jit_stack_free(stack);
    }
    pcre2_match_data* match = nullptr;
    pcre2_match_context* context = nullptr;
    pcre2_jit_stack* stack = nullptr;
};

ContentPattern::~ContentPattern() = default;

std::shared_ptr<const ContentPattern> ContentPattern::Make(const FindQuery& query, std::string& problem)
{
    problem.clear();
    if (query.text.empty())
        return nullptr;
    std::shared_ptr<ContentPattern> p(new ContentPattern);
    const bool regex = query.textKind == FindQuery::TextKind::Regex;
    // Plain text is folded by ASCII alone; other letters need PCRE2's tables.
    if (!regex && (query.caseSensitive || !HasNonAscii(query.text))) {
        p->fold_ = !query.caseSensitive;
        p->words_ = query.wholeWords;
        p->needle_ = query.text;
        if (p->fold_)
            for (char& c : p->needle_)
                c = char(LowerAscii(static_cast<unsigned char>(c)));
        int best = 1000;
        for (size_t i = 0; i < p->needle_.size(); ++i) {
            const int score = Commonness(static_cast<unsigned char>(p->needle_[i]), p->fold_);
            if (score < best) {
                best = score;
                p->rareIndex_ = i;
            }
        }
        p->rare_ = static_cast<unsigned char>(p->needle_[p->rareIndex_]);
        p->rareFolds_ = p->fold_ && IsLowerLetter(p->rare_);
        return p;
    }
    // Subjects are files: MATCH_INVALID_UTF lets bytes that are no UTF-8
    // stand in them without harm.
    uint32_t options = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF;
    options |= regex ? PCRE2_MULTILINE : PCRE2_LITERAL;
    if (!query.caseSensitive)
        options |= PCRE2_CASELESS;
    pcre2_compile_context* context = pcre2_compile_context_create(nullptr);
    if (query.wholeWords)
        pcre2_set_compile_extra_options(context, PCRE2_EXTRA_MATCH_WORD);
    int error = 0;
    PCRE2_SIZE errorOffset = 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(query.text.data()), query.text.size(), options,
                                     &error, &errorOffset, context);
    pcre2_compile_context_free(context);
    if (!code) {
        PCRE2_UCHAR message[256];
        pcre2_get_error_message(error, message, sizeof message);
        problem = "The regular expression does not compile: " + std::string(reinterpret_cast<char*>(message)) +
                  " (at character " + std::to_string(errorOffset + 1) + ")";
        return nullptr;
    }
    pcre2_jit_compile(code, PCRE2_JIT_COMPLETE); // without JIT it still matches, slower
    p->regex_ = std::make_unique<Regex>();
    p->regex_->code = code;
    return p;
}

std::unique_ptr<TextScratch, void (*)(TextScratch*)> ContentPattern::NewScratch() const
{
    return {new TextScratch(regex_ ? regex_->code : nullptr), [](TextScratch* s) { delete s; }};
}

bool ContentPattern::FindPlain(const char* data, size_t size, TextMatch& out) const
{
    const size_t n = needle_.size();
    if (n == 0 || n > size)
        return false;
    const size_t last = size - n; // the last place a match may start
    size_t pos = 0;
    while (pos <= last) {
        const char* at = data + pos + rareIndex_;
        const size_t span = last - pos + 1;
        const char* hit = rareFolds_ ? FindEitherCase(at, span, rare_)
                                     : static_cast<const char*>(std::memchr(at, fold_ ? rare_ : rare_, span));
        if (!hit)
            return false;
        const size_t start = size_t(hit - data) - rareIndex_;
        const bool same = fold_ ? EqualFolded(data + start, needle_) : std::memcmp(data + start, needle_.data(), n) == 0;
        if (same && (!words_ || ((start == 0 || !IsWordByte(static_cast<unsigned char>(data[start - 1]))) &&
                                 (start + n == size || !IsWordByte(static_cast<unsigned char>(data[start + n])))))) {
            out = {start, n};
            return true;
        }
        pos = start + 1;
    }
    return false;
}

bool ContentPattern::Find(const char* data, size_t size, TextMatch& out, TextScratch& scratch) const
{
    if (!regex_)
        return FindPlain(data, size, out);
    if (!scratch.match)
        return false;
    const int rc = pcre2_match(regex_->code, reinterpret_cast<PCRE2_SPTR>(data), size, 0, 0, scratch.match,
                               scratch.context);
    if (rc < 0)
        return false; // no match, or a pattern that needs more than its limits: nothing found
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(scratch.match);
    if (ov[0] > size || ov[1] < ov[0])
        return false; // \K can set a start after the end
    out = {size_t(ov[0]), size_t(ov[1] - ov[0])};
    return true;
}

ContentScanner::ContentScanner(std::shared_ptr<const ContentPattern> pattern, size_t readSize)
    : pattern_(std::move(pattern)), scratch_(pattern_->NewScratch()), readSize_(std::max<size_t>(readSize, 1))
{
}

int64_t ContentScanner::NewlinesBefore(int fd, int64_t end)
{
    std::vector<char> block(std::min<int64_t>(int64_t(readSize_), 256 * 1024));
    int64_t lines = 0, pos = 0;
    while (pos < end) {
        const ssize_t n = ::pread(fd, block.data(), size_t(std::min<int64_t>(int64_t(block.size()), end - pos)), pos);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            break;
        }
        lines += std::count(block.data(), block.data() + n, '\n');
        pos += n;
    }
    return lines;
}

ContentResult ContentScanner::Scan(int fd, bool binaryToo, const std::atomic<bool>& stop,
                                   std::atomic<int64_t>* progress, int64_t size)
{
    size_t capacity = 2 * readSize_;
    if (buffer_.size() < capacity)
        buffer_.resize(capacity);
    capacity = buffer_.size();
    char* buf = buffer_.data();
    // A line cut by the buffer's end is kept for the next round, the buffer
    // growing for it; one longer than kLongestLine is searched in pieces
    // that overlap by a match's span.
    const size_t longest = std::max(kLongestLine, 2 * readSize_);
    const size_t overlap = pattern_->MaxSpan() ? pattern_->MaxSpan() - 1 : 4096;
    size_t have = 0;
    int64_t base = 0; // the file offset of buf[0]
    bool first = true;
    ContentResult result;
    for (;;) {
        if (stop.load(std::memory_order_relaxed)) {
            result.outcome = ContentResult::Stopped;
            return result;
        }
        const ssize_t n = ::read(fd, buf + have, std::min(readSize_, capacity - have));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            result.outcome = ContentResult::ReadError;
            result.error = errno;
            return result;
        }
        if (progress)
            progress->store(SteadyMilliseconds(), std::memory_order_relaxed);
        if (first) {
            first = false;
            if (!binaryToo && std::memchr(buf, 0, size_t(n))) {
                result.outcome = ContentResult::Binary;
                return result;
            }
        }
        have += size_t(n);
        const bool eof = n == 0 || (size >= 0 && base + int64_t(have) >= size);
        size_t end = have;
        if (!eof) {
            // The carried part holds no line end: only the new bytes need looking at.
            const void* nl = ::memrchr(buf + have - size_t(n), '\n', size_t(n));
            if (nl)
                end = size_t(static_cast<const char*>(nl) - buf) + 1;
            else if (have + readSize_ <= capacity)
                continue; // more of a long line fits
            else if (capacity < longest) {
                buffer_.resize(std::min(longest, 2 * capacity));
                capacity = buffer_.size();
                buf = buffer_.data();
                continue;
            }
        }
        TextMatch m;
        if (end > 0 && pattern_->Find(buf, end, m, *scratch_)) {
            const char* lineStart = static_cast<const char*>(::memrchr(buf, '\n', m.offset));
            const size_t ls = lineStart ? size_t(lineStart - buf) + 1 : 0;
            const void* lineEnd = std::memchr(buf + m.offset, '\n', end - m.offset);
            size_t le = lineEnd ? size_t(static_cast<const char*>(lineEnd) - buf) : end;
            if (le > ls && buf[le - 1] == '\r')
                --le;
            result.outcome = ContentResult::Matched;
            result.matchOffset = base + int64_t(m.offset);
            result.matchLength = int64_t(m.length);
            result.lineOffset = base + int64_t(ls);
            result.lineNumber = 1 + std::count(buf, buf + m.offset, '\n') + (base > 0 ? NewlinesBefore(fd, base) : 0);
            size_t from = ls, to = le;
            if (to - from > kLineTextMax) {
                from = m.offset > ls + kLineTextMax / 4 ? m.offset - kLineTextMax / 4 : ls;
                to = std::min(le, from + kLineTextMax);
                // Whole characters only.
                while (from < to && (static_cast<unsigned char>(buf[from]) & 0xC0) == 0x80)
                    ++from;
                while (to > from && to < le && (static_cast<unsigned char>(buf[to]) & 0xC0) == 0x80)
                    --to;
            }
            result.lineText.assign(buf + from, to - from);
            return result;
        }
        if (eof)
            return result;
        size_t keep = have - end;
        if (end == have)
            keep = std::min(have, overlap);
        std::memmove(buf, buf + have - keep, keep);
        base += int64_t(have - keep);
        have = keep;
    }
}

} // namespace tarnel
