#pragma once

#include <libssh2.h>

#include <string>
#include <vector>

#include "remote/sftp/ssh_session.h"

// A channel whose SFTP requests this program writes and whose answers it reads itself, libssh2
// in non-blocking mode: requests wait in a queue until the connection takes them, answers are
// gathered as they arrive. libssh2 must have no request of its own on the channel meanwhile.
namespace vs::sftp {

class RequestChannel {
  public:
    RequestChannel(SshSession& s, LIBSSH2_CHANNEL* channel) : s_(s), channel_(channel) {}

    LIBSSH2_CHANNEL* get() const { return channel_; }
    // Queues bytes for the wire; flush() sends them.
    void queue(const std::string& bytes) { out_ += bytes; }
    void queue(const char* data, std::size_t size) { out_.append(data, size); }
    // Sends what is queued as far as the connection takes it now: 0, or libssh2's error.
    int flush();
    bool flushed() const { return sent_ == out_.size(); }
    // Bytes the channel's window takes now beyond what is queued: a request that fits goes on
    // the wire whole.
    std::size_t room() const;
    // Reads what has arrived and appends each whole answer to `answers` (an empty one when the
    // server broke the protocol): 0, or libssh2's error.
    int receive(std::vector<std::string>& answers);
    // The server closed the channel: no more answers will come.
    bool closed() const { return libssh2_channel_eof(channel_) == 1; }

  private:
    SshSession& s_;
    LIBSSH2_CHANNEL* channel_;
    std::string out_;
    std::size_t sent_ = 0;
    std::string in_;
};

}  // namespace vs::sftp
