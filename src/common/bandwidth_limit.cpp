#include "common/bandwidth_limit.h"

#include <algorithm>
#include <cmath>

namespace vs {

namespace {
constexpr auto kCredit = std::chrono::milliseconds(50);
}

BandwidthLimit::BandwidthLimit(std::int64_t bytesPerSecond, Now now)
    : rate_(std::max<std::int64_t>(bytesPerSecond, 1)),
      step_(static_cast<std::size_t>(std::clamp<std::int64_t>(rate_ / 50, 1024, 256 * 1024))),
      now_(std::move(now)),
      even_(now_() - kCredit) {}

void BandwidthLimit::spend(std::int64_t bytes) {
    const auto cost = std::chrono::nanoseconds(
        std::llround(static_cast<double>(bytes) * 1e9 / static_cast<double>(rate_)));
    std::lock_guard<std::mutex> lock(mutex_);
    // Credit beyond kCredit was never earned: idle time is not saved up.
    even_ = std::max(even_, now_() - kCredit) + cost;
}

BandwidthLimit::Steady::duration BandwidthLimit::wait() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::max<Steady::duration>(even_ - now_(), Steady::duration::zero());
}

}  // namespace vs
