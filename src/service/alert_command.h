#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "common/yield.h"

namespace vs {

inline constexpr std::chrono::seconds kAlertCommandLimit{30};

// How an alert command ended.
struct AlertCommandResult {
    enum class End { Exited, Signalled, TimedOut };
    End end = End::Exited;
    int code = 0;           // exit status, or the signal
    std::string firstLine;  // first line of its output, made visible and capped
};

// Runs argv without a shell, with the program's environment plus `env` ("NAME=value" entries
// win over inherited ones), standard input from /dev/null and standard output and error into
// one pipe. The command gets its own process group, so that at the time limit the whole group
// is killed, including anything the command started.
//
// It waits on the program's one thread, but never in one piece: it polls the command every
// 50 ms and calls `yield` in between, like every other wait of the program, so events (the
// timer, the watchdog ping, a shutdown request) keep running for up to the whole limit.
// A command that cannot be started throws RuntimeError (kErrFileNotFound when there is no such
// program), the description the system's reason.
AlertCommandResult runAlertCommand(const std::vector<std::string>& argv,
                                   const std::vector<std::string>& env, const YieldFn& yield,
                                   std::chrono::milliseconds limit = kAlertCommandLimit);

}  // namespace vs
