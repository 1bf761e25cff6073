#pragma once

#include <libssh2.h>
#include <libssh2_sftp.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "remote/sftp/session_context.h"

// One SSH connection with its SFTP channel: TCP socket, libssh2 session in blocking mode with
// the inactivity time-out, host-key check and login. Used on the component's worker thread
// only, except interrupt(), which the caller's thread may use to break a blocked call.
namespace vs::sftp {

struct ConnectSettings {
    std::string host;
    int port = 22;
    std::string user;
    std::string password;
    std::string privateKeyFile;
    std::string privateKeyPassphrase;
    std::string knownHostsFile;
    int timeoutSeconds = 20;
};

class SshSession {
  public:
    SshSession() = default;
    ~SshSession() { close(false); }
    SshSession(const SshSession&) = delete;
    SshSession& operator=(const SshSession&) = delete;

    // Connects, checks the host key, logs in and opens the SFTP channel. On failure throws
    // RuntimeError (kErrConnection) with the operator's text, with nothing left open.
    void open(const ConnectSettings& settings, const std::function<void(const std::string&)>& log);
    // Frees everything. `graceful` says goodbye to the server first (bounded by a short
    // time-out); a broken session is always torn down without waiting.
    void close(bool graceful);

    bool usable() const { return sftp_ != nullptr && !broken(); }
    // After a time-out or a lost connection nothing more may be sent on this session.
    void markBroken(const std::string& reason);
    bool broken() const { return broken_ || interrupted_.load(); }
    std::string brokenReason() const;

    LIBSSH2_SESSION* session() const { return session_; }
    LIBSSH2_SFTP* sftp() const { return sftp_; }
    // For waiting on the connection while libssh2 runs in non-blocking mode (worker thread).
    int socket() const { return socket_; }
    const std::string& where() const { return where_; }
    int timeoutSeconds() const { return timeoutSeconds_; }
    // How long starting the SFTP channel took at the opening: three exchanges with the server.
    std::chrono::steady_clock::duration sftpStartTook() const { return sftpStartTook_; }
    // libssh2's text for its last error.
    std::string libraryError() const;

    // Any thread: shuts the socket down so that a call blocked on it returns at once; the
    // session is broken from then on.
    void interrupt();

    // Blocks libssh2 still holds for this session (zero after close).
    std::size_t blocksInUse() const { return context_ ? context_->blocksInUse() : 0; }

  private:
    void connectSocket(const ConnectSettings& settings);
    // The libssh2 session over the socket, with our algorithm preferences, and the key
    // exchange.
    void handshake(const ConnectSettings& settings);
    // Why the key exchange failed, for the operator.
    std::string negotiationFailure() const;

    std::unique_ptr<SessionContext> context_;
    LIBSSH2_SESSION* session_ = nullptr;
    LIBSSH2_SFTP* sftp_ = nullptr;
    // Written by the worker while holding the mutex; interrupt() reads it under the same mutex
    // so that it never shuts down a descriptor number that was already reused.
    std::mutex socketMutex_;
    int socket_ = -1;
    bool broken_ = false;
    std::atomic<bool> interrupted_{false};
    std::string brokenReason_;
    std::string where_;
    int timeoutSeconds_ = 20;
    std::chrono::steady_clock::duration sftpStartTook_{};
};

}  // namespace vs::sftp
