#pragma once

#include <optional>
#include <string>

#include "common/clock.h"

namespace vs {

class Program;

// The schedule: Timer1's tick, the start/stop button and "Termina Trasferimento".
class RunControl {
  public:
    explicit RunControl(Program& program) : program_(program) {}

    void Timer1_Timer();
    void Command1_Click();
    void mnuBreak_Click();

    // The interval a tick reads: the number in the first two characters of the text, at most
    // 60; a text with no number there, or a negative one, counts as 60.
    static int tickInterval(const std::string& cbotime);

  private:
    Program& program_;
    std::optional<TimePoint> lastCycleStart_;
};

}  // namespace vs
