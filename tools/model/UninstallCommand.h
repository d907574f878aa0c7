#pragma once
// An uninstall command line split into the program to start and its
// parameters. The program is started without a shell, so nothing in a
// command is ever interpreted by one.
#include <string>
#include <string_view>
#include <vector>

namespace tarnel {

struct UninstallCommand {
    std::string program;
    std::string parameters;
};

// Trims the text; a leading quote (' or ") runs to the same quote, the rest
// after it are the parameters, even when no blank follows the quote. Without
// a quote the first blank ends the program. No closing quote: the whole text
// is the program.
UninstallCommand ParseUninstallCommand(std::string_view text);

// The parameters as separate arguments: blanks separate them, a quoted run
// (' or ") keeps its blanks and loses its quotes.
std::vector<std::string> SplitParameters(std::string_view parameters);

} // namespace tarnel
