#pragma once

#include <cstdint>
#include <string>

#include "common/clock.h"

namespace vs {

// Values exchanged between the cycle, the timer and the session event handlers. One copy,
// owned by the program and shared by reference; single-threaded, so no locks.
struct SessionState {
    bool connected = false;        // a session is open or being opened
    bool connectFailed = false;    // the last connect (or folder change) failed
    int transferPercentage = 0;    // 0..100; 100 = the running transfer completed
    bool abortRequest = false;     // raised by "Termina Trasferimento"
    std::string currentOperation;  // "Download" or "Upload"
    std::int64_t remoteFileSize = 0;
    TimePoint remoteFileTime{};
    std::int64_t ftpFileSize = 0;
};

}  // namespace vs
