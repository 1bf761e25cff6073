#include "common/clock.h"

#include <cstdio>

namespace vs {

LocalTime toLocalTime(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    LocalTime lt;
    lt.year = tm.tm_year + 1900;
    lt.month = tm.tm_mon + 1;
    lt.day = tm.tm_mday;
    lt.hour = tm.tm_hour;
    lt.minute = tm.tm_min;
    lt.second = tm.tm_sec;
    lt.weekday = tm.tm_wday;
    return lt;
}

LocalTime toLocalTime(TimePoint t) {
    return toLocalTime(std::chrono::system_clock::to_time_t(t));
}

std::string formatTimeOfDay(const LocalTime& t) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return buf;
}

std::string formatGeneralDateTime(const LocalTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d", t.day, t.month, t.year, t.hour,
                  t.minute, t.second);
    return buf;
}

std::string timeOfDay(const Clock& clock) {
    return formatTimeOfDay(toLocalTime(clock.now()));
}

std::string generalDateTime(const Clock& clock) {
    return formatGeneralDateTime(toLocalTime(clock.now()));
}

}  // namespace vs
