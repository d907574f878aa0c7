#pragma once
// The one wildcard matcher of the program, and the pattern list a pane read builds.
#include <string>
#include <string_view>
#include <vector>

namespace tarnel {

// "*" and "?" wildcards, ASCII letters compared without regard to case. The
// character after a non-final "*" is a literal anchor, even "?" or "*".
bool Match(std::string_view pattern, std::string_view name);

// Lower-cased, unique, byte-ordered texts of at most 9 characters.
class ExtensionList {
public:
    static constexpr size_t kMaxLength = 9;
    static constexpr size_t kInitialRoom = 1000;
    static constexpr size_t kGrowth = 500;

    ExtensionList() { items_.reserve(kInitialRoom); }
    void AddPattern(std::string_view text);
    const std::vector<std::string>& Items() const { return items_; }

private:
    std::vector<std::string> items_;
};

// "*" + the lower-cased extension (from the last "."), or "*" for none.
std::string ExtensionPatternOf(std::string_view name);

} // namespace tarnel
