#pragma once

#include <chrono>
#include <ctime>
#include <string>

namespace vs {

using TimePoint = std::chrono::system_clock::time_point;

// Broken-down local time, as the log lines, the log-file names and the sort keys need it.
struct LocalTime {
    int year = 1970;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;   // 0..23
    int minute = 0;
    int second = 0;
    int weekday = 4;  // 0 = Sunday
};

LocalTime toLocalTime(TimePoint t);
LocalTime toLocalTime(std::time_t t);

// The one source of "now" for the program's logic; injected so that timer ticks, log-file
// dates and sort keys can be tested without waiting.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;
};

class SystemClock final : public Clock {
  public:
    TimePoint now() const override { return std::chrono::system_clock::now(); }
};

// "hh:mm:ss" of the given moment: the prefix of nearly every log line.
std::string formatTimeOfDay(const LocalTime& t);
// The general date-and-time form used by the lines that go straight into the log list.
std::string formatGeneralDateTime(const LocalTime& t);

// Shorthands on a clock's current time.
std::string timeOfDay(const Clock& clock);
std::string generalDateTime(const Clock& clock);

}  // namespace vs
