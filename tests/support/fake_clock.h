#pragma once

#include <chrono>
#include <ctime>

#include "common/clock.h"

namespace vs::test {

// A clock the test sets and moves. Times are given in local time.
class FakeClock final : public Clock {
  public:
    FakeClock() { set(2009, 10, 16, 12, 0, 5); }
    TimePoint now() const override { return now_; }
    void set(int year, int month, int day, int hour, int minute, int second) {
        now_ = at(year, month, day, hour, minute, second);
    }
    void advance(std::chrono::seconds s) { now_ += s; }
    static TimePoint at(int year, int month, int day, int hour, int minute, int second) {
        std::tm tm{};
        tm.tm_year = year - 1900;
        tm.tm_mon = month - 1;
        tm.tm_mday = day;
        tm.tm_hour = hour;
        tm.tm_min = minute;
        tm.tm_sec = second;
        tm.tm_isdst = -1;
        return std::chrono::system_clock::from_time_t(std::mktime(&tm));
    }

  private:
    TimePoint now_;
};

}  // namespace vs::test
