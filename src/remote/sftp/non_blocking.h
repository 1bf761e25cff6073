#pragma once

#include <libssh2.h>
#include <poll.h>

#include <cerrno>
#include <chrono>

#include "remote/sftp/ssh_session.h"

namespace vs::sftp {

// libssh2 in non-blocking mode for as long as it lives: calls put their request on the wire and
// return LIBSSH2_ERROR_EAGAIN instead of waiting for the answer; called again, they go on where
// they stopped.
class NonBlocking {
  public:
    explicit NonBlocking(SshSession& s) : session_(s) {
        libssh2_session_set_blocking(s.session(), 0);
    }
    ~NonBlocking() { libssh2_session_set_blocking(session_.session(), 1); }
    NonBlocking(const NonBlocking&) = delete;
    NonBlocking& operator=(const NonBlocking&) = delete;

    // After a call that answered LIBSSH2_ERROR_EAGAIN: true when its request is not wholly on
    // the wire. libssh2 refuses to send anything else before the rest of it, so such a call
    // must be finished at once, with finish().
    static bool partlySent(SshSession& s) {
        return (libssh2_session_block_directions(s.session()) & LIBSSH2_SESSION_BLOCK_OUTBOUND) !=
               0;
    }
    bool partlySent() const { return partlySent(session_); }
    // Repeats `call` in blocking mode: the rest goes on the wire, and the answer is waited for.
    template <class Call>
    static auto finish(SshSession& s, Call call) {
        libssh2_session_set_blocking(s.session(), 1);
        auto result = call();
        libssh2_session_set_blocking(s.session(), 0);
        return result;
    }
    // Waits until the connection has something for libssh2, at most `limit`.
    void wait(std::chrono::milliseconds limit) const {
        pollfd p{session_.socket(), POLLIN, 0};
        while (::poll(&p, 1, static_cast<int>(limit.count())) < 0 && errno == EINTR) {
        }
    }

  private:
    SshSession& session_;
};

}  // namespace vs::sftp
