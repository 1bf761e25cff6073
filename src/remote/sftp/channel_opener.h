#pragma once

#include <libssh2.h>

#include <chrono>

#include "remote/sftp/ssh_session.h"

// Opens one more SFTP channel without waiting at any step, libssh2 in non-blocking mode: the
// channel, then the start of its SFTP server, behind which the caller may queue its version
// offer and first request at once (the server reads them once its SFTP server runs). One
// channel at a time per session: libssh2 opens channels one after the other.
namespace vs::sftp {

class ChannelOpener {
  public:
    enum class Step { Channel, Subsystem, Ready, Refused };

    explicit ChannelOpener(SshSession& s) : s_(s) {}
    // Moves on as far as the server's answers allow; call again until Ready or Refused.
    Step advance();
    Step step() const { return step_; }
    // The channel, from the moment its SFTP server is asked for: what is queued on it then
    // goes on the wire behind that request.
    LIBSSH2_CHANNEL* channel() const { return step_ == Step::Refused ? nullptr : channel_; }
    // How long the server took to open the channel: one exchange that costs it no disk and no
    // new process, so close to the round trip itself. Zero until it is open.
    std::chrono::steady_clock::duration openTook() const { return openTook_; }

  private:
    SshSession& s_;
    LIBSSH2_CHANNEL* channel_ = nullptr;
    Step step_ = Step::Channel;
    std::chrono::steady_clock::time_point asked_;
    std::chrono::steady_clock::duration openTook_{};
};

}  // namespace vs::sftp
