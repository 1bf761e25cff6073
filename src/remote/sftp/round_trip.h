#pragma once

#include <chrono>

namespace vs::sftp {

// From this round trip on, the path and not the servers' CPU limits an upload (1 MiB per round
// trip is 50 MB/s at 20 ms). A shorter one is not told apart reliably from a loaded machine,
// where more in flight only costs the server.
inline constexpr auto kLongPath = std::chrono::milliseconds(20);

// The shortest request-and-answer the session has timed: what its round trip is at most (load
// on either end only ever makes one longer). It sizes how much goes on the wire before the
// first answer comes back, and costs no exchange of its own.
class RoundTrip {
  public:
    using Duration = std::chrono::steady_clock::duration;

    void note(Duration exchange) {
        if (exchange < shortest_) shortest_ = exchange;
    }
    // False until something was timed.
    bool atLeast(Duration d) const { return shortest_ != Duration::max() && shortest_ >= d; }

  private:
    Duration shortest_ = Duration::max();
};

}  // namespace vs::sftp
