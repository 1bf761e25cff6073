#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vs {

class Settings;

// The alert keys of the settings, as the settings reader loaded and checked them.
struct AlertSettings {
    std::vector<std::string> command;  // alertcommand split on blanks; empty: no alerts
    int after = 3;                     // alertafter: failing cycles in a row before it fires
};

AlertSettings alertSettings(const Settings& settings);

// Words separated by blanks or tabs; no quoting, since the command never goes through a shell.
std::vector<std::string> splitOnBlanks(std::string_view text);

}  // namespace vs
