#pragma once
// Finds a byte string in a file, matches may overlap: after a match at m the
// next one is looked for from m + 1. Any length of text, any number of
// candidate matches: the search is a substring search over blocks that
// overlap by the text's length, so no list of partial matches can overflow.
#include <cstdint>
#include <string>
#include <vector>

namespace tarnel {

class TextFile;

class TextSearcher {
public:
    // ignoreCase folds the letters A to Z only, as the file's bytes are.
    TextSearcher(const TextFile& file, std::string text, bool ignoreCase);
    // Looks from offset start on.
    void Restart(int64_t start);
    enum class Result { Found, NotFound, MoreToRead };
    // Reads at most about maxBytes; Found sets match and the next call goes on
    // from match + 1.
    Result Next(int64_t maxBytes, int64_t& match);

private:
    bool Refill();

    const TextFile& file_;
    std::string text_;
    bool ignoreCase_;
    std::vector<char> buffer_;
    size_t used_ = 0;      // valid bytes in buffer_
    size_t scan_ = 0;      // where the search goes on in buffer_
    int64_t bufferAt_ = 0; // file offset of buffer_[0]
    int64_t readAt_ = 0;   // next file offset to read
    int64_t readBudget_ = 0;
};

// The offset of the first match starting at or after start, or -1; an empty
// text has no match.
int64_t FindFrom(const TextFile& file, const std::string& text, int64_t start, bool ignoreCase);

} // namespace tarnel
