#pragma once

#include <libssh2.h>

#include "remote/sftp/ssh_session.h"

namespace vs::sftp {

// libssh2 in non-blocking mode for as long as it lives: calls put their request on the wire and
// return without waiting for the answer.
class NonBlocking {
  public:
    explicit NonBlocking(SshSession& s) : session_(s.session()) {
        libssh2_session_set_blocking(session_, 0);
    }
    ~NonBlocking() { libssh2_session_set_blocking(session_, 1); }
    NonBlocking(const NonBlocking&) = delete;
    NonBlocking& operator=(const NonBlocking&) = delete;

    // After a call that answered LIBSSH2_ERROR_EAGAIN: true when its request is not wholly on
    // the wire yet. libssh2 refuses to send anything else before the rest of it, so such a call
    // must be finished at once, in blocking mode.
    bool partlySent() const {
        return (libssh2_session_block_directions(session_) & LIBSSH2_SESSION_BLOCK_OUTBOUND) != 0;
    }

  private:
    LIBSSH2_SESSION* session_;
};

}  // namespace vs::sftp
