#pragma once
// The text index's line-end rules written out byte by byte, to hold the
// vector scanner to: the line starts, the widest line and whether every
// control byte is one the editor accepts. Used by the tests and the fuzzer.
#include "viewer/model/LineIndex.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnel::test {

struct RuledLines {
    std::vector<int64_t> starts{0}; // and the end of the last line
    int64_t width = 0;
    bool pure = true;
};

// The length of the well-formed UTF-8 sequence at s[i], or 0.
inline size_t Utf8Length(const std::string& s, size_t i)
{
    const auto at = [&](size_t k) { return k < s.size() ? static_cast<unsigned char>(s[k]) : 0u; };
    const unsigned b = at(i);
    if (b < 0x80)
        return 1;
    size_t length = 0;
    unsigned low = 0x80, high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF)
        length = 2;
    else if (b >= 0xE0 && b <= 0xEF)
        length = 3, low = b == 0xE0 ? 0xA0 : 0x80, high = b == 0xED ? 0x9F : 0xBF;
    else if (b >= 0xF0 && b <= 0xF4)
        length = 4, low = b == 0xF0 ? 0x90 : 0x80, high = b == 0xF4 ? 0x8F : 0xBF;
    else
        return 0;
    for (size_t k = 1; k < length; ++k) {
        const unsigned c = at(i + k);
        if (i + k >= s.size() || c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF))
            return 0;
    }
    return length;
}

// utf8: a well-formed sequence is one column, any other byte one column.
inline RuledLines ByTheLineRules(const std::string& s, Mymodes mode, int tab, int cols, bool utf8 = false)
{
    RuledLines e;
    const bool wraps = mode == VM_WORDWRAP;
    const int64_t wrapAt = std::max(1, cols - 1);
    int64_t column = 0;
    bool pending = false;
    char previous = 0;
    const auto end = [&](int64_t at) {
        e.width = std::max(e.width, wraps ? std::min(column, wrapAt) : column);
        column = 0;
        e.starts.push_back(at);
    };
    for (size_t i = 0; i < s.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        if (b < 32 && b != '\t' && b != '\n' && b != '\f' && b != '\r')
            e.pure = false;
        if (b == '\r' || b == '\n') {
            if (pending && char(b) != previous) {
                end(int64_t(i) + 1); // CR LF or LF CR: one line end
                pending = false;
            } else if (pending) {
                end(int64_t(i));
            } else {
                pending = true;
            }
        } else {
            if (pending) {
                end(int64_t(i));
                pending = false;
            }
            const size_t length = utf8 ? std::max<size_t>(1, Utf8Length(s, i)) : 1;
            column = b == '\t' ? (column / tab + 1) * tab : column + 1;
            i += length - 1; // a character's other bytes are neither tabs nor line ends
            if (wraps && column >= wrapAt)
                end(int64_t(i) + 1);
        }
        previous = char(b);
    }
    if (pending)
        end(int64_t(s.size()) - 1);
    else if (e.starts.back() < int64_t(s.size()))
        end(int64_t(s.size()));
    if (e.starts.size() == 1)
        end(0); // an empty file has one empty line
    e.width = std::max(e.width, column);
    return e;
}

} // namespace tarnel::test
