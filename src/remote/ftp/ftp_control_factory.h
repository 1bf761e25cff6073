#pragma once

#include <chrono>
#include <memory>

#include "common/bandwidth_limit.h"
#include "common/yield.h"
#include "remote/ftp_control.h"

namespace vs {

// Waiting limits of the FTP control. Nothing waits without one: connecting and logging in,
// each server reply, and a transfer that moves no data.
struct FtpLimits {
    std::chrono::milliseconds connectTimeout{32000};
    std::chrono::seconds replyTimeout{32};
    std::chrono::seconds lowSpeedTime{20};  // a transfer with no data for this long ends
};

// The FTP control on libcurl; `yield` lets pending events run during long waits. Its
// transfers keep to `bandwidth`, the instance's bandwidth limit, when there is one.
std::unique_ptr<FtpControl> makeCurlFtpControl(YieldFn yield, FtpLimits limits = {},
                                               BandwidthLimit* bandwidth = nullptr);

}  // namespace vs
