#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vs {

inline constexpr int kDefaultAlertAfter = 3;

// The alert keys of the settings file's [PARAMETRI] section.
struct AlertSettings {
    std::vector<std::string> command;  // alertcommand split on blanks; empty: no alerts
    int after = kDefaultAlertAfter;    // alertafter: failing cycles in a row before it fires
    std::string problem;               // a value that could not be used, for the log
};

AlertSettings readAlertSettings(const std::filesystem::path& settingsFile);

// Words separated by blanks or tabs; no quoting, since the command never goes through a shell.
std::vector<std::string> splitOnBlanks(std::string_view text);

}  // namespace vs
