// Feeds arbitrary bytes to the settings file reader: no crash, no runaway
// time, and whatever it accepts is written out in a form that reads back to
// the same keys and values (compared through their text, which names every
// key, value, type and byte in order).
#include "platform/Registry.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    tarnel::RegistryNode first;
    std::string error;
    if (!tarnel::ParseRegistryText(input, first, error)) {
        if (!first.Keys().empty() || error.empty())
            std::abort(); // a refused file loads nothing and says why
        return 0;
    }
    const std::string saved = tarnel::FormatRegistryText(first);
    tarnel::RegistryNode second;
    if (!tarnel::ParseRegistryText(saved, second, error))
        std::abort();
    if (tarnel::FormatRegistryText(second) != saved)
        std::abort();
    return 0;
}
