#pragma once
#include <ostream>
#include <string>
#include <vector>

namespace tarnel {

// tarnel --find DIR... [--name PATTERNS] [--content TEXT | --regex RE] [--ignore-case]
// Prints each path found, one a line, as it is found; a member of a ZIP
// archive as the archive's path, "/" and its path inside. Returns the exit
// code: 2 for a usage error or a query that cannot run (said on err).
int RunFindCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace tarnel
