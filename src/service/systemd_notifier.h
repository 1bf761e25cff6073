#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace vs {

// Tells systemd how the service is doing (Type=notify). Outside systemd, where NOTIFY_SOCKET
// is unset, every call does nothing. NOTIFY_SOCKET is read at each call, WATCHDOG_USEC when the
// object is made, so a test can stand in for systemd with a socket of its own.
class SystemdNotifier {
  public:
    SystemdNotifier();

    void ready();  // start-up is done
    void status(const std::string& line);
    void stopping();  // the orderly shutdown has begun
    void watchdog();  // the program's loop still turns

    // The unit's WatchdogSec, when systemd watches this process.
    std::optional<std::chrono::microseconds> watchdogInterval() const { return interval_; }
    // How often watchdog() must be called: half the interval, so that one late ping is no
    // restart. Empty when nobody watches.
    std::optional<std::chrono::microseconds> pingEvery() const;

  private:
    void send(const std::string& state);

    std::optional<std::chrono::microseconds> interval_;
};

}  // namespace vs
