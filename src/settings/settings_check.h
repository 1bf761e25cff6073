#pragma once

#include <optional>
#include <string>
#include <vector>

#include "settings/settings_problem.h"

namespace vs {

class ProfileText;
class Settings;

// The seconds between cycles that a timer tick reads from the "deltatime" text: the number
// in its first two characters, at most 60; a text with no number there, or a negative one,
// counts as 60.
int tickInterval(const std::string& cbotime);

inline constexpr int kDefaultAlertAfter = 3;

// "alertafter": failing cycles in a row before the alert command runs; the default when the
// text is empty, nothing when it is not a number from 1 to 1000000.
std::optional<int> alertAfterValue(const std::string& text);

inline constexpr int kDefaultJournalDays = 365;

// "journaldays": days the journal keeps a row; the default when the text is empty, nothing
// when it is not a plain number from 1 to 100000.
std::optional<int> journalDaysValue(const std::string& text);

// What a load of the settings found, besides the values themselves.
struct SettingsCheck {
    std::vector<SettingsProblem> problems;  // in the order their lines are written
    std::vector<int> usableJobs;            // the jobs a cycle can run, in job order
    std::string unusable;                   // why no cycle can do anything; empty otherwise
};

// Checks a loaded file against what the program will do with it: the file's layout (other
// sections, stray lines, unknown and repeated keys), then the server keys, the jobs and the
// operator codes. Nothing is changed: a job missing a key is still no job, values are still
// matched exactly; the check only says so.
SettingsCheck checkSettings(const ProfileText& profile, const Settings& settings);

}  // namespace vs
