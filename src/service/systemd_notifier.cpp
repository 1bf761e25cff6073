#include "service/systemd_notifier.h"

#include <systemd/sd-daemon.h>

#include <cstdint>

#include "common/text.h"

namespace vs {

SystemdNotifier::SystemdNotifier() {
    std::uint64_t usec = 0;
    // Only for this process: WATCHDOG_PID names the main process, so a child that inherited
    // the variables does not think it is watched.
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0)
        interval_ = std::chrono::microseconds(static_cast<std::int64_t>(usec));
}

std::optional<std::chrono::microseconds> SystemdNotifier::pingEvery() const {
    if (!interval_) return std::nullopt;
    return *interval_ / 2;
}

void SystemdNotifier::send(const std::string& state) {
    // Nothing to do on failure: the service manager is the one who would have listened.
    sd_notify(0, state.c_str());
}

void SystemdNotifier::ready() {
    send("READY=1");
}

void SystemdNotifier::status(const std::string& line) {
    // One line only: a line break would start another assignment (READY=1, MAINPID=...).
    send("STATUS=" + visible(line));
}

void SystemdNotifier::stopping() {
    send("STOPPING=1");
}

void SystemdNotifier::watchdog() {
    send("WATCHDOG=1");
}

}  // namespace vs
