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
        std::tm tm{second, minute, hour, day, month - 1, year - 1900, 0, 0, -1, {}, {}};
        return std::chrono::system_clock::from_time_t(std::mktime(&tm));
    }

  private:
    TimePoint now_;
};

}  // namespace vs::test
