#pragma once

#include <string>
#include <vector>

namespace vs {

// The program's own switches, besides the four of the command line's tokens.
inline constexpr const char* kOwnSwitches[] = {"--headless", "--check",   "--connect",
                                               "--help",     "--version", "--history"};

// What a run says on standard error about its command line: every token that carries no
// switch (ignored, as ever: OPE:x in capitals is none) and every switch value that does
// nothing, each on a line that names the switches there are.
std::vector<std::string> commandLineWarnings(const std::string& argumentText);

bool hasOwnSwitch(const std::string& argumentText, const char* name);

}  // namespace vs
