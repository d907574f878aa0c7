#pragma once
// The name patterns of a find: wildcards separated by ";", those with a
// leading "!" leave out what they match.
#include <string>
#include <string_view>
#include <vector>

namespace tarnel {

class FindNamePatterns {
public:
    explicit FindNamePatterns(std::string_view text);

    // Matched by a taking pattern (every name when there is none) and by
    // no leaving-out one.
    bool Takes(std::string_view name) const;
    // Matched by a leaving-out pattern: such a folder is not entered either.
    bool LeavesOut(std::string_view name) const;

private:
    std::vector<std::string> take_, leaveOut_;
    bool takesAll_ = true;
};

} // namespace tarnel
