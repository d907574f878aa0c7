#pragma once
// Finding a find's text in the content of a file: plain text (case on or
// off, whole words) or a PCRE2 regular expression, read in large sequential
// blocks with the match found across the blocks' edges.
#include "tools/model/FindQuery.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarnel {

struct TextMatch {
    size_t offset = 0;
    size_t length = 0;
};

// What one worker keeps between files: the PCRE2 match data and stack.
class TextScratch;

// The compiled text of a query; shared read-only by the find's workers.
class ContentPattern {
public:
    // Null with problem set when the text cannot be used (a regular
    // expression that does not compile); null and no problem for no text.
    static std::shared_ptr<const ContentPattern> Make(const FindQuery& query, std::string& problem);
    ~ContentPattern();

    std::unique_ptr<TextScratch, void (*)(TextScratch*)> NewScratch() const;
    // The first match that starts in data[0, size).
    bool Find(const char* data, size_t size, TextMatch& out, TextScratch& scratch) const;
    // The longest match a plain text can have; 0 for a regular expression.
    size_t MaxSpan() const { return regex_ ? 0 : needle_.size(); }

    struct Regex;

private:
    ContentPattern() = default;
    bool FindPlain(const char* data, size_t size, TextMatch& out) const;

    std::string needle_; // lower-cased when folding
    bool fold_ = false, words_ = false;
    size_t rareIndex_ = 0;
    unsigned char rare_ = 0;
    bool rareFolds_ = false; // the rare byte is a letter found in either case
    std::unique_ptr<Regex> regex_;
};

struct ContentResult {
    enum Outcome { NoMatch, Matched, Binary, ReadError, Stopped };
    Outcome outcome = NoMatch;
    int error = 0; // errno of a read error
    int64_t lineNumber = 0; // 1-based
    int64_t matchOffset = -1, matchLength = 0, lineOffset = -1;
    std::string lineText;
};

// One per worker: the read buffer and the scratch.
class ContentScanner {
public:
    static constexpr size_t kReadSize = size_t(1) << 20;
    // The longest line text a hit carries.
    static constexpr size_t kLineTextMax = 240;
    // A line up to this long is searched whole.
    static constexpr size_t kLongestLine = size_t(8) << 20;

    explicit ContentScanner(std::shared_ptr<const ContentPattern> pattern, size_t readSize = kReadSize);

    // Reads fd from its start; a NUL in the first block makes it Binary
    // unless binaryToo. progress (may be null) is set to a steady clock's
    // milliseconds after every read. size, when known, spares the read
    // that would only find the end.
    ContentResult Scan(int fd, bool binaryToo, const std::atomic<bool>& stop, std::atomic<int64_t>* progress,
                       int64_t size = -1);

private:
    int64_t NewlinesBefore(int fd, int64_t end);

    std::shared_ptr<const ContentPattern> pattern_;
    std::unique_ptr<TextScratch, void (*)(TextScratch*)> scratch_;
    size_t readSize_;
    std::vector<char> buffer_;
};

int64_t SteadyMilliseconds();

} // namespace tarnel
