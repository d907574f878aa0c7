#pragma once
#include <string>
#include <vector>

namespace tarnel {

// "-MIN", also written with "/" or in lower case, starts the program hidden.
bool StartHiddenRequested(const std::vector<std::string>& args);

} // namespace tarnel
