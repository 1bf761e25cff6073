#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "common/clock.h"
#include "cycle/cycle_report.h"
#include "service/run_totals.h"
#include "service/service_log.h"

namespace vs {

// VALTRASSOSFTP_METRICS when set and not empty, else <program folder>/valtrassosftp.prom.
std::filesystem::path metricsPath(const std::filesystem::path& programFolder);

// A label value as the Prometheus text format wants it: backslash, double quote and line feed
// escaped, and bytes that are not UTF-8 written as the text \xNN, since one invalid byte makes
// the scraper drop the whole file.
std::string escapeLabelValue(std::string_view value);

// The program and its settings as loaded: the build-info gauge and the two counts beside it.
struct ProgramInfo {
    std::string version;
    int configuredJobs = 0;    // jobs a cycle can run
    int settingsProblems = 0;  // problems the last load of the settings found
};

// The whole metrics file for the run so far. Every series carries home="<program folder>", so
// that several instances can share one textfile-collector folder without clashing.
std::string renderMetrics(const RunTotals& totals, const CycleReport& last, const std::string& home,
                          TimePoint started, const ProgramInfo& info);

// Keeps the run's totals and replaces the metrics file after every cycle, whole: a temporary
// file in the same folder, flushed to disk, then renamed over the old one.
class MetricsWriter {
  public:
    MetricsWriter(std::filesystem::path path, std::string home, TimePoint started, ServiceLog log);

    // Adds the cycle to the totals and writes the file; a cycle that did not run is ignored.
    void record(const CycleReport& report, const ProgramInfo& info);

    const RunTotals& totals() const { return totals_; }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
    std::string home_;
    TimePoint started_;
    ServiceLog log_;
    RunTotals totals_;
    std::string lastProblem_;  // so that a lasting failure is one log line, not one per cycle
};

}  // namespace vs
