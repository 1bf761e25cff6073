#include "service/alerts.h"

#include <utility>

#include "common/runtime_error.h"
#include "common/text.h"

namespace vs {

Alerts::Alerts(AlertSettings settings, std::filesystem::path programFolder, YieldFn yield,
               ServiceLog log, std::chrono::milliseconds limit)
    : settings_(std::move(settings)),
      programFolder_(std::move(programFolder)),
      yield_(std::move(yield)),
      log_(std::move(log)),
      limit_(limit),
      state_(settings_.after) {}

void Alerts::afterCycle(const CycleReport& report) {
    if (!report.lastErrorLine.empty()) lastError_ = report.lastErrorLine;
    const AlertEvent event = state_.afterCycle(report.outcome);
    if (event == AlertEvent::None || settings_.command.empty()) return;
    queue_.push_back({event, state_.failingCycles(), lastError_});
    if (running_) return;
    running_ = true;
    while (!queue_.empty()) {
        const Pending next = std::move(queue_.front());
        queue_.pop_front();
        run(next);
    }
    running_ = false;
}

void Alerts::run(const Pending& p) {
    const std::string name = p.event == AlertEvent::Failing ? "failing" : "recovered";
    const std::vector<std::string> env = {
        "VALTRASSOSFTP_EVENT=" + name,
        "VALTRASSOSFTP_HOME=" + programFolder_.string(),
        "VALTRASSOSFTP_FAILING_CYCLES=" + std::to_string(p.failingCycles),
        "VALTRASSOSFTP_LAST_ERROR=" + p.lastError,
    };
    const std::string head = "Allarme " + name + ": " + visible(settings_.command[0]);
    AlertCommandResult r;
    try {
        r = runAlertCommand(settings_.command, env, yield_, limit_);
    } catch (const RuntimeError& e) {
        log_(head + (e.number() == kErrFileNotFound ? " non trovato"
                                                    : " non avviato: " + e.description()));
        return;
    }
    const std::string said = r.firstLine.empty() ? ", nessun output" : ": " + r.firstLine;
    using End = AlertCommandResult::End;
    switch (r.end) {
        case End::Exited:
            log_(head + " terminato con codice " + std::to_string(r.code) + said);
            break;
        case End::Signalled:
            log_(head + " terminato dal segnale " + std::to_string(r.code) + said);
            break;
        case End::TimedOut:
            log_(head + " interrotto dopo " +
                 std::to_string(std::chrono::duration_cast<std::chrono::seconds>(limit_).count()) +
                 " secondi" + said);
            break;
    }
}

}  // namespace vs
