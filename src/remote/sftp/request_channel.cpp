#include "remote/sftp/request_channel.h"

#include <poll.h>

#include "remote/sftp/non_blocking.h"
#include "remote/sftp/sftp_packets.h"

namespace vs::sftp {

namespace {

// The longest answer the requests here can have: a status with the longest message a server
// gives, or a version with its extensions.
constexpr std::uint32_t kLongestAnswer = 64 * 1024;

}  // namespace

int RequestChannel::flush() {
    while (sent_ < out_.size()) {
        const auto write = [&] {
            return libssh2_channel_write(channel_, out_.data() + sent_, out_.size() - sent_);
        };
        ssize_t n = write();
        // libssh2 sends nothing else until a packet it began is wholly on the wire.
        if (n == LIBSSH2_ERROR_EAGAIN && NonBlocking::partlySent(s_))
            n = NonBlocking::finish(s_, write);
        if (n == LIBSSH2_ERROR_EAGAIN) break;
        if (n < 0) return static_cast<int>(n);
        sent_ += static_cast<std::size_t>(n);
    }
    if (sent_ == out_.size() || sent_ > 1024 * 1024) {
        out_.erase(0, sent_);
        sent_ = 0;
    }
    return 0;
}

std::size_t RequestChannel::room() const {
    const std::size_t window = libssh2_channel_window_write_ex(channel_, nullptr);
    const std::size_t queued = out_.size() - sent_;
    return window > queued ? window - queued : 0;
}

int RequestChannel::receive(std::vector<std::string>& answers) {
    char buffer[16 * 1024];
    for (;;) {
        ssize_t n = libssh2_channel_read(channel_, buffer, sizeof buffer);
        // A read may send (the window it opens again); what it began must go on the wire
        // before anything else, but waiting for an answer here could wait for nothing.
        while (n == LIBSSH2_ERROR_EAGAIN && NonBlocking::partlySent(s_)) {
            pollfd p{s_.socket(), POLLOUT, 0};
            if (::poll(&p, 1, s_.timeoutSeconds() * 1000) == 0) return LIBSSH2_ERROR_TIMEOUT;
            n = libssh2_channel_read(channel_, buffer, sizeof buffer);
        }
        if (n == LIBSSH2_ERROR_EAGAIN || n == 0) break;
        if (n < 0) return static_cast<int>(n);
        in_.append(buffer, static_cast<std::size_t>(n));
    }
    while (auto answer = packets::takePacket(in_, kLongestAnswer)) {
        const bool broken = answer->empty();
        answers.push_back(std::move(*answer));
        if (broken) break;
    }
    return 0;
}

}  // namespace vs::sftp
