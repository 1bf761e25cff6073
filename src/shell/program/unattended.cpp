#include "shell/program/unattended.h"

#include "common/text.h"
#include "service/alert_settings.h"
#include "service/status_line.h"
#include "shell/program.h"

namespace vs {

namespace {

ServiceLog logTo(Program& program, const Clock& clock) {
    return [&program, &clock](const std::string& line) {
        program.log.scrivi_log(timeOfDay(clock) + " " + line);
    };
}

}  // namespace

Unattended::Unattended(Program& program, const std::filesystem::path& programFolder,
                       const Clock& clock, YieldFn yield, std::string version)
    : program_(program),
      programFolder_(programFolder),
      clock_(clock),
      yield_(std::move(yield)),
      version_(std::move(version)),
      metrics_(metricsPath(programFolder), programFolder.string(), clock.now(),
               logTo(program, clock)) {
    if (const auto every = notifier_.pingEvery()) {
        watchdog_.setInterval(static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(*every).count()));
        QObject::connect(&watchdog_, &QTimer::timeout, [this] { watchdogTick(); });
        watchdog_.start();
    }
}

void Unattended::watchdogTick() {
    const std::uint64_t progress = program_.log.linesLogged() + program_.session.transferActivity;
    if (!program_.cycleRunning() || progress != progressAt_[0]) notifier_.watchdog();
    progressAt_ = {progressAt_[1], progress};
}

void Unattended::started() {
    notifier_.ready();
}

void Unattended::afterCycle(const CycleReport& report) {
    if (report.outcome == CycleOutcome::NotRun) return;
    const Settings& settings = program_.settings;
    metrics_.record(report, {version_, static_cast<int>(settings.usableJobs.size()),
                             static_cast<int>(settings.problems.size())});
    notifier_.status(statusLine(report, metrics_.totals()));
    if (!alerts_)
        alerts_.emplace(alertSettings(settings), programFolder_, yield_, logTo(program_, clock_));
    alerts_->afterCycle(report);  // last: may wait for the command, events still running
}

void Unattended::stopping() {
    notifier_.stopping();
}

}  // namespace vs
