#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

namespace vs {

// The instance's bandwidth limit: one token bucket for every transfer, both ways, both
// protocols, counting file data. A transfer loop asks wait() before it moves data, moves at
// most step() bytes at a time and spend()s what it moved; the bucket may go into debt by one
// step, which the next wait() pays back. It holds at most a twentieth of a second of credit:
// after a pause a transfer may catch up by that much and no more, so that every second
// carries the limit within a few per cent. Kept as the moment the bucket is even (empty and
// out of debt), in whole nanoseconds. Shared by the SFTP component's worker thread and the
// FTP control on the caller's thread, hence the lock.
class BandwidthLimit {
  public:
    using Steady = std::chrono::steady_clock;
    using Now = std::function<Steady::time_point()>;

    explicit BandwidthLimit(std::int64_t bytesPerSecond, Now now = &Steady::now);
    BandwidthLimit(const BandwidthLimit&) = delete;
    BandwidthLimit& operator=(const BandwidthLimit&) = delete;

    std::int64_t bytesPerSecond() const { return rate_; }
    // The most one step of a transfer should move: a fiftieth of a second's worth, between
    // 1 KiB (fewer bytes per request would cost more in headers than they carry) and 256 KiB.
    std::size_t step() const { return step_; }
    // Counts bytes that have moved or are about to.
    void spend(std::int64_t bytes);
    // How long until data may move again: zero when it may now.
    Steady::duration wait();
    bool holds() { return wait() > Steady::duration::zero(); }

  private:
    const std::int64_t rate_;
    const std::size_t step_;
    Now now_;
    std::mutex mutex_;
    Steady::time_point even_;  // before now: credit; after now: debt
};

}  // namespace vs
