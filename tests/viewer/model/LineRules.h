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

inline RuledLines ByTheLineRules(const std::string& s, Mymodes mode, int tab, int cols)
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
            column = b == '\t' ? (column / tab + 1) * tab : column + 1;
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
