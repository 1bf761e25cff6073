#include "shell/run_control.h"

#include <chrono>

#include "common/text.h"
#include "settings/settings_check.h"
#include "shell/program.h"

namespace vs {

namespace {
constexpr int kMaxInterval = 60;
}

int RunControl::tickInterval(const std::string& cbotime) {
    return vs::tickInterval(cbotime);
}

void RunControl::Timer1_Timer() {
    const TimePoint now = program_.clock().now();
    const int interval = tickInterval(program_.settings.server.cbotime);
    if (lastCycleStart_) {
        const auto elapsed = std::chrono::system_clock::to_time_t(now) -
                             std::chrono::system_clock::to_time_t(*lastCycleStart_);
        if (elapsed < interval) return;
    }
    if (program_.session.connected) {
        program_.log.scrivi_log(timeOfDay(program_.clock()) +
                                " Aspetto a collegarmi perche' ancora collegato");
        return;
    }
    lastCycleStart_ = now;
    program_.collegamento();
    if (program_.once == "y") {
        program_.Timer1().setEnabled(false);
        program_.Command1.caption = "Avvia il download";
        program_.log.scrivi_log(timeOfDay(program_.clock()) + " Disabilito per parametro Once");
        program_.view().refresh();
    }
}

void RunControl::Command1_Click() {
    IntervalTimer& timer = program_.Timer1();
    if (timer.enabled()) {
        timer.setEnabled(false);
        program_.Command1.caption = "Avvia il download";
        program_.view().refresh();
        return;
    }
    std::string& text = program_.settings.server.cbotime;
    auto value = leadingNumber(text);
    if (value && *value > kMaxInterval) {
        text = "60";
        value = kMaxInterval;
    }
    const std::int64_t seconds = (value && *value >= 0) ? *value : kMaxInterval;
    timer.setInterval(static_cast<int>(seconds * 1000));
    timer.setEnabled(true);
    program_.Command1.caption = "Arresta il download";
    program_.view().refresh();
    Timer1_Timer();
}

void RunControl::mnuBreak_Click() {
    program_.session.abortRequest = true;
}

}  // namespace vs
