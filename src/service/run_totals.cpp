#include "service/run_totals.h"

namespace vs {

bool isCleanOutcome(CycleOutcome outcome) {
    return outcome == CycleOutcome::Clean || outcome == CycleOutcome::NothingToDo;
}

bool isFailingOutcome(CycleOutcome outcome) {
    return outcome == CycleOutcome::Errors || outcome == CycleOutcome::ConnectFailed ||
           outcome == CycleOutcome::ConfigInvalid;
}

void RunTotals::add(const CycleReport& report) {
    if (report.outcome == CycleOutcome::NotRun) return;
    ++cycles;
    std::uint64_t cycleErrors = 0;
    for (const JobTally& t : report.jobs) {
        JobTally& sum = jobs[{t.job, t.remoteFolder}];
        sum.job = t.job;
        sum.remoteFolder = t.remoteFolder;
        sum.filesDownloaded += t.filesDownloaded;
        sum.bytesDownloaded += t.bytesDownloaded;
        sum.filesUploaded += t.filesUploaded;
        sum.bytesUploaded += t.bytesUploaded;
        sum.errors += t.errors;
        filesReceived += t.filesDownloaded;
        filesSent += t.filesUploaded;
        cycleErrors += t.errors;
    }
    const bool failing = isFailingOutcome(report.outcome);
    errors += (failing && cycleErrors == 0) ? 1 : cycleErrors;
    failingInARow = failing ? failingInARow + 1 : 0;
    lastCycleEnd = report.ended;
    if (isCleanOutcome(report.outcome)) lastClean = report.ended;
}

}  // namespace vs
