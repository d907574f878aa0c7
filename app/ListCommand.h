#pragma once
#include <ostream>
#include <string>
#include <vector>

namespace tarnel {

// tarnel --list DIR|ARCHIVE.zip[/DIR/]|sftp://[USER@]HOST[:PORT]/DIR [--filter PATTERN] [--sort name|size|type|time|desc]
//               [--descending] [--sizes] [--bytes]
// --sizes waits for the size thread to compute every subdirectory's total
// before printing; without it a directory's size is only what was remembered.
// Returns the process exit code; usage errors go to err.
int RunListCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace tarnel
