#pragma once

#include <libssh2_sftp.h>

#include "remote/sftp/ssh_session.h"

// The handle of the file downloaded last, left open after its download so that its close
// travels together with the session's next request instead of costing a round trip of its own
// (before a remote delete, the close goes with the check of the file's attributes).
namespace vs::sftp {

class PendingClose {
  public:
    PendingClose() = default;
    PendingClose(const PendingClose&) = delete;
    PendingClose& operator=(const PendingClose&) = delete;

    // Takes over an open handle, finishing the close of the one held before.
    void hold(SshSession& s, LIBSSH2_SFTP_HANDLE* handle);
    // Around each request: the close goes on the wire just before it, and its answer, which
    // the server gives before the request's own, is taken just after it. What a server answers
    // to closing a read handle changes nothing.
    void send(SshSession& s);
    void collect(SshSession& s);
    // The session ends or was replaced: the handle goes with it, unsent.
    void drop() {
        handle_ = nullptr;
        sent_ = false;
    }

  private:
    LIBSSH2_SFTP_HANDLE* handle_ = nullptr;
    bool sent_ = false;
};

}  // namespace vs::sftp
