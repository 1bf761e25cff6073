#pragma once

#include <chrono>
#include <deque>
#include <filesystem>
#include <string>

#include "common/yield.h"
#include "cycle/cycle_report.h"
#include "service/alert_command.h"
#include "service/alert_settings.h"
#include "service/alert_state.h"
#include "service/service_log.h"

namespace vs {

// The alert command of the settings, run when the program starts failing and when it
// recovers: a cycle's report goes in, at most one command run per change comes out.
class Alerts {
  public:
    Alerts(AlertSettings settings, std::filesystem::path programFolder, YieldFn yield,
           ServiceLog log, std::chrono::milliseconds limit = kAlertCommandLimit);

    // Feeds one cycle to the state machine and runs the command when it says so. Returns once
    // the command has ended (at most the limit; events keep running meanwhile).
    void afterCycle(const CycleReport& report);

  private:
    struct Pending {
        AlertEvent event;
        int failingCycles;
        std::string lastError;
    };
    void run(const Pending& p);

    AlertSettings settings_;
    std::filesystem::path programFolder_;
    YieldFn yield_;
    ServiceLog log_;
    std::chrono::milliseconds limit_;
    AlertState state_;
    std::string lastError_;
    // A cycle that ends while a command runs (the timer keeps ticking through the yield) only
    // queues its event: the running call works through the queue, so commands never nest and
    // run in the order of the events.
    std::deque<Pending> queue_;
    bool running_ = false;
};

}  // namespace vs
