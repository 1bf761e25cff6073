#include "remote/sftp/remote_file.h"

#include "common/runtime_error.h"
#include "remote/sftp/sftp_operations.h"

namespace vs::sftp {

bool connectionLevel(unsigned long status) {
    return status == LIBSSH2_FX_NO_CONNECTION || status == LIBSSH2_FX_CONNECTION_LOST ||
           status == LIBSSH2_FX_OK || status == LIBSSH2_FX_EOF || status == LIBSSH2_FX_BAD_MESSAGE;
}

RuntimeError sftpFailure(SshSession& s, int rc, LIBSSH2_SFTP* channel) {
    if (rc == LIBSSH2_ERROR_SFTP_PROTOCOL) {
        const unsigned long status = libssh2_sftp_last_error(channel ? channel : s.sftp());
        if (!connectionLevel(status)) return RuntimeError(kErrRemote, sftpStatusText(status));
    }
    std::string reason;
    if (rc == LIBSSH2_ERROR_TIMEOUT || rc == LIBSSH2_ERROR_SOCKET_TIMEOUT)
        reason = "nessuna risposta da " + s.where() + " per " + std::to_string(s.timeoutSeconds()) +
                 " secondi";
    else
        reason = "connessione con " + s.where() + " persa (" + s.libraryError() + ")";
    s.markBroken(reason);
    return RuntimeError(kErrConnection, reason);
}

void throwFailure(SshSession& s, int rc, const std::string& what, LIBSSH2_SFTP* channel) {
    const RuntimeError failure = sftpFailure(s, rc, channel);
    throw RuntimeError(failure.number(), what + ": " + failure.description());
}

void throwAborted(SshSession& s, RemoteFile& file, const std::string& what, int failedCall) {
    if (failedCall < 0) {
        // The abort met a failure of its own (the caller's side cut the connection, or the
        // server fell silent): no closing on a connection that is gone.
        sftpFailure(s, failedCall);
    }
    file.discard();
    if (s.broken())
        throw RuntimeError(kErrConnection, what +
                                               " interrotto; connessione chiusa perché il server "
                                               "non rispondeva");
    throw RuntimeError(kErrAborted, what + " interrotto");
}

}  // namespace vs::sftp
