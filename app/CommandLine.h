#pragma once
#include <string>
#include <vector>

namespace tarnel {

// "-MIN", also written with "/" or in lower case, starts the program hidden.
bool StartHiddenRequested(const std::vector<std::string>& args);

// The folders given to start in, left then right: the arguments that are no
// option ("--" ends the options), made absolute against cwd without looking
// at the disk. More than two: the first two.
std::vector<std::string> GivenPlaces(const std::vector<std::string>& args, const std::string& cwd);

} // namespace tarnel
