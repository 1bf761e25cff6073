#pragma once

#include <cstdint>
#include <string>

namespace vs {

// Values exchanged between the cycle, the timer and the session event handlers. One copy,
// owned by the program and shared by reference; single-threaded, so no locks.
struct SessionState {
    // Set by the cycle: from what connect() did (it returns or throws), and by its error trap.
    bool connected = false;        // a session is open or being opened
    bool connectFailed = false;    // the connect was refused, or the connection lost since
    int transferPercentage = 0;    // 0..100; 100 = the running transfer completed
    bool abortRequest = false;     // raised by "Termina Trasferimento" and by the shutdown
    std::string currentOperation;  // "Download" or "Upload"
    // Rises whenever a transfer moves bytes (the service's watchdog watches it).
    std::uint64_t transferActivity = 0;
};

}  // namespace vs
