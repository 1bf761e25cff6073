#pragma once

#include <array>
#include <string>

namespace vs {

using WeekdayNames = std::array<std::string, 7>;  // index 0 = Sunday

// Abbreviated weekday names of the system's LC_TIME locale. Falls back to fixed English names
// when the locale's names are unusable in a file name or one is the beginning of another (the
// weekly clean-up matches "sftp_log_" + name + "*").
WeekdayNames localeWeekdayNames();
WeekdayNames englishWeekdayNames();
bool usableWeekdayNames(const WeekdayNames& names);

}  // namespace vs
