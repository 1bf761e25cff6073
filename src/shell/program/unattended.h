#pragma once

#include <QTimer>
#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "common/clock.h"
#include "common/yield.h"
#include "cycle/cycle_report.h"
#include "service/alerts.h"
#include "service/metrics_file.h"
#include "service/systemd_notifier.h"

namespace vs {

class Program;

// The program as a monitored run, window or headless alike: readiness, a status line after
// each cycle and watchdog pings for systemd (silent outside it), the metrics file, and the
// alert command.
class Unattended {
  public:
    Unattended(Program& program, const std::filesystem::path& programFolder, const Clock& clock,
               YieldFn yield, std::string version);

    void started();  // start-up is done
    void afterCycle(const CycleReport& report);
    void stopping();  // the orderly shutdown has begun

  private:
    // Half the watchdog interval has passed: systemd hears from us while no cycle runs, or
    // when the running one got on (lines logged, bytes moved) within the last whole interval.
    // A cycle that turns that long without either, however busily, lets the watchdog fire.
    void watchdogTick();

    Program& program_;
    std::filesystem::path programFolder_;
    const Clock& clock_;
    YieldFn yield_;
    std::string version_;
    SystemdNotifier notifier_;
    MetricsWriter metrics_;
    std::optional<Alerts> alerts_;  // made once the settings are loaded
    // Fires from the event loop, which also turns inside a cycle's waits.
    QTimer watchdog_;
    std::array<std::uint64_t, 2> progressAt_{};  // at the last two ticks, the older first
};

}  // namespace vs
