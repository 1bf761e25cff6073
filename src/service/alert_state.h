#pragma once

#include "cycle/cycle_report.h"

namespace vs {

enum class AlertEvent { None, Failing, Recovered };

// When to raise an alert: once as the failing streak reaches its threshold, once at the first
// clean cycle after that, and never again in between, however long the streak lasts.
class AlertState {
  public:
    explicit AlertState(int after) : after_(after < 1 ? 1 : after) {}

    AlertEvent afterCycle(CycleOutcome outcome);
    // The current streak; after a Recovered event, the length of the streak that just ended.
    int failingCycles() const { return inARow_ > 0 ? inARow_ : lastStreak_; }

  private:
    int after_;
    int inARow_ = 0;
    int lastStreak_ = 0;
    bool raised_ = false;
};

}  // namespace vs
