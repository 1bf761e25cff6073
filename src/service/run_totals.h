#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "cycle/cycle_report.h"

namespace vs {

// Clean means an operator has nothing to look at: the cycle moved what was due, or nothing was.
bool isCleanOutcome(CycleOutcome outcome);
bool isFailingOutcome(CycleOutcome outcome);

// What this run has done so far, summed over the cycles' reports. Only ever grows (apart from
// the failing streak), so that the exported counters behave as counters must.
struct RunTotals {
    std::uint64_t cycles = 0;
    std::uint64_t filesReceived = 0;
    std::uint64_t filesSent = 0;
    // Job errors, plus one for each failing cycle whose jobs reported none (a refused login
    // fails the cycle before any job runs, and must still show).
    std::uint64_t errors = 0;
    int failingInARow = 0;
    std::optional<TimePoint> lastCycleEnd;
    std::optional<TimePoint> lastClean;
    // Keyed by job and remote folder: a job whose folder is changed in the settings starts a
    // new series instead of carrying the old folder's counts.
    std::map<std::pair<int, std::string>, JobTally> jobs;

    // Adds one cycle; a report of a cycle that did not run changes nothing.
    void add(const CycleReport& report);
};

}  // namespace vs
