#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace vs {

class Settings;
struct ProgramConfig;

// The settings file a run reads, and every place it looked: VALTRASSOSFTP_SETTINGS when set;
// else the fixed path when a file is there (or cannot even be looked at, so that loading it
// says why); else the program folder's file.
std::pair<std::filesystem::path, std::vector<std::filesystem::path>> settingsLocation(
    const ProgramConfig& config);

// What was understood of the settings, as start-up and --check write it: the file used, one
// line per job a cycle can run, one line per problem, and why nothing can run when nothing can.
std::vector<std::string> settingsReport(const Settings& settings);

// The line of a cycle that the settings leave nothing to run (after the time of day).
std::string unusableCycleLine(const Settings& settings);

}  // namespace vs
