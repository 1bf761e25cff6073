#pragma once

#include <libssh2_sftp.h>

#include <vector>

#include "remote/sftp/ssh_session.h"

// SFTP channels of the session beyond its own. Each channel has a window of its own, and on a
// long path one window is what limits a transfer: segments of one large upload go through
// several channels at once. Opened when first needed and kept for the rest of the session.
namespace vs::sftp {

class ExtraChannels {
  public:
    ExtraChannels() = default;
    ExtraChannels(const ExtraChannels&) = delete;
    ExtraChannels& operator=(const ExtraChannels&) = delete;

    const std::vector<LIBSSH2_SFTP*>& open() const { return channels_; }
    // A channel for requests that this program writes and reads itself, opened now if needed
    // (blocking); null when the server will not open one. libssh2 never reads its answers.
    LIBSSH2_CHANNEL* forRequests(SshSession& s);
    // Moves the opening of one more channel on, libssh2 being in non-blocking mode: call again
    // until it answers. True once the channel is open; false while it is on its way or, for the
    // rest of the session, when the server refused it.
    bool openOneMore(SshSession& s);
    bool refused() const { return refused_; }
    // A channel is on its way: openOneMore() was called and has not answered yet.
    bool opening() const { return opening_; }
    // A channel left in the middle of a request is of no further use.
    void forget(LIBSSH2_SFTP* channel);
    // A channel the server closed, or left without an answer, in the middle of an upload:
    // forgotten, and no upload joins another channel while the component lives (on a server
    // that does this every large upload would fail again).
    void lose(LIBSSH2_SFTP* channel) {
        forget(channel);
        lost_ = true;
    }
    bool lost() const { return lost_; }
    // Channels whose SFTP this program started itself, for write requests of its own: kept
    // for the session's next large upload.
    const std::vector<LIBSSH2_CHANNEL*>& forUploads() const { return uploadChannels_; }
    void keepForUploads(LIBSSH2_CHANNEL* channel) { uploadChannels_.push_back(channel); }
    void forgetForUploads(LIBSSH2_CHANNEL* channel);
    void loseForUploads(LIBSSH2_CHANNEL* channel) {
        forgetForUploads(channel);
        lost_ = true;
    }
    // The server refused a channel, or one was left half open: no more for the session.
    void refuse() { refused_ = true; }
    bool mayOpenMore() const { return !refused_ && !lost_ && !opening_; }
    // The session ends or was replaced: its channels go with it.
    void drop() {
        channels_.clear();
        uploadChannels_.clear();
        requests_ = nullptr;
        refused_ = false;
        opening_ = false;
    }

  private:
    std::vector<LIBSSH2_SFTP*> channels_;
    std::vector<LIBSSH2_CHANNEL*> uploadChannels_;
    LIBSSH2_SFTP* requests_ = nullptr;
    bool refused_ = false;
    bool opening_ = false;
    bool lost_ = false;
};

}  // namespace vs::sftp
