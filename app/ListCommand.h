#pragma once
#include <ostream>
#include <string>
#include <vector>

namespace tarnel {

// tarnel --list DIR [--filter PATTERN] [--sort name|size|type|time|desc]
//               [--descending] [--sizes] [--bytes]
// Returns the process exit code; usage errors go to err.
int RunListCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace tarnel
