#pragma once

#include <libssh2_sftp.h>

#include <string>

#include "common/runtime_error.h"
#include "remote/sftp/ssh_session.h"

// How a failed libssh2 call becomes the component's error, and an SFTP file handle that is
// closed on every path out. Shared by the component's requests.
namespace vs::sftp {

inline int lastErrno(SshSession& s) {
    return libssh2_session_last_errno(s.session());
}

// An SFTP status that, as the answer to a request that failed, says the connection is gone or
// out of step rather than that the server refused.
bool connectionLevel(unsigned long status);

// The error a failed libssh2 call `rc` on `channel` (the session's own when null) stands for:
// the server's refusal (kErrRemote), or the connection's loss (kErrConnection), in which case
// the session is marked broken. The description is the reason alone; the caller adds what was
// being done, and throws it or keeps it for the one file it concerns.
RuntimeError sftpFailure(SshSession& s, int rc, LIBSSH2_SFTP* channel = nullptr);

// Throws the error that a failed libssh2 call `rc` stands for; `what` says what was being done
// ("Impossibile aprire il file remoto /x").
[[noreturn]] void throwFailure(SshSession& s, int rc, const std::string& what,
                               LIBSSH2_SFTP* channel = nullptr);

class RemoteFile {
  public:
    RemoteFile(SshSession& session, LIBSSH2_SFTP_HANDLE* handle)
        : session_(session), handle_(handle) {}
    ~RemoteFile() { discard(); }
    RemoteFile(const RemoteFile&) = delete;
    RemoteFile& operator=(const RemoteFile&) = delete;

    explicit operator bool() const { return handle_ != nullptr; }
    LIBSSH2_SFTP_HANDLE* get() const { return handle_; }

    // Hands the open handle over to the caller.
    LIBSSH2_SFTP_HANDLE* release() {
        LIBSSH2_SFTP_HANDLE* handle = handle_;
        handle_ = nullptr;
        return handle;
    }
    // Closes without caring for the answer; on a broken session not at all, since that would
    // only wait for the time-out again (the session's memory goes with the session).
    void discard() {
        if (handle_ && !session_.broken()) libssh2_sftp_close_handle(handle_);
        handle_ = nullptr;
    }

  private:
    SshSession& session_;
    LIBSSH2_SFTP_HANDLE* handle_;
};

// Ends a transfer the caller aborted. The handle is closed first: that waits for the answers
// to the requests still on their way, and when the server does not give them the caller's
// side cuts the connection, which makes this a connection-level error. `failedCall` is the
// failure the abort met, if any.
[[noreturn]] void throwAborted(SshSession& s, RemoteFile& file, const std::string& what,
                               int failedCall = 0);

}  // namespace vs::sftp
