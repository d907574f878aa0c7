#pragma once
#include <string>
#include <vector>

namespace tarnel {

// "-MIN", also written with "/" or in lower case, starts the program hidden.
bool StartHiddenRequested(const std::vector<std::string>& args);

// The process's working directory; "" when it cannot be read.
std::string CurrentDirectory();

// Absolute, with "." parts and doubled or trailing slashes dropped. The bytes
// of every name are kept and nothing is resolved: "..", symbolic links and the
// letter case stay what the caller wrote, so the window sees the caller's place.
std::string AbsolutePath(const std::string& path, const std::string& cwd);

// The folders given to start in, left then right: the arguments that are no
// option ("--" ends the options), made absolute against cwd without looking
// at the disk. More than two: the first two.
std::vector<std::string> GivenPlaces(const std::vector<std::string>& args, const std::string& cwd);

} // namespace tarnel
