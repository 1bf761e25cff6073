#include "remote/sftp/pending_close.h"

#include "remote/sftp/non_blocking.h"

namespace vs::sftp {

void PendingClose::hold(SshSession& s, LIBSSH2_SFTP_HANDLE* handle) {
    if (handle_) {
        send(s);
        collect(s);
    }
    handle_ = handle;
    sent_ = false;
}

void PendingClose::send(SshSession& s) {
    if (!handle_ || sent_) return;
    if (!s.usable()) return drop();
    bool partly;
    int rc;
    {
        NonBlocking nonBlocking(s);
        rc = libssh2_sftp_close_handle(handle_);
        partly = rc == LIBSSH2_ERROR_EAGAIN && nonBlocking.partlySent();
    }
    if (rc != LIBSSH2_ERROR_EAGAIN) {
        // Closed already, or the connection failed, which the request itself will report.
        drop();
        return;
    }
    sent_ = true;
    if (partly) collect(s);
}

void PendingClose::collect(SshSession& s) {
    if (!sent_) return;
    // Blocking: the answer is usually here already. On a broken session nothing is waited for.
    if (!s.broken()) libssh2_sftp_close_handle(handle_);
    drop();
}

}  // namespace vs::sftp
