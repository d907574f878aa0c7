// Feeds pattern and name pairs to the wildcard matcher: no crash, no runaway
// time, and the plain cases answer as they must.
#include "panes/Matcher.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find('\0');
    const std::string_view pattern = input.substr(0, split);
    const std::string_view name = split == std::string_view::npos ? std::string_view{} : input.substr(split + 1);
    const bool matched = tarnel::Match(pattern, name);
    if (pattern == name && !matched)
        std::abort(); // a text always matches itself ("*" and "?" included)
    if (pattern == "*" && !matched)
        std::abort();
    return 0;
}
