#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/clock.h"

namespace vs {

// What became of a cycle. ConfigInvalid: the settings give nothing to run, so no cycle was
// tried (no settings file, an unreadable one, no usable job).
enum class CycleOutcome { NotRun, NothingToDo, Clean, Errors, ConnectFailed, ConfigInvalid };

// What one job moved in one cycle.
struct JobTally {
    int job = 0;
    std::string remoteFolder;  // the job's DirRemota as configured
    std::uint64_t filesDownloaded = 0;
    std::uint64_t bytesDownloaded = 0;
    std::uint64_t filesUploaded = 0;
    std::uint64_t bytesUploaded = 0;
    std::uint64_t errors = 0;
};

// The summary of one cycle: what the service's status line, metrics and alerts are made of.
struct CycleReport {
    int cycle = 0;  // the cycle counter
    CycleOutcome outcome = CycleOutcome::NotRun;
    TimePoint started{};
    TimePoint ended{};
    std::vector<JobTally> jobs;  // the jobs the main pass ran, in job order
    std::string lastErrorLine;   // the last error line of the cycle, as logged
};

}  // namespace vs
