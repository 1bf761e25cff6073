#pragma once

#include <libssh2_sftp.h>

#include <algorithm>
#include <vector>

#include "remote/sftp/ssh_session.h"

// SFTP channels of the session beyond its own. Each channel has a window of its own, and on a
// long path one window is what limits a transfer: a large upload goes through several channels
// at once. Opened when first needed and kept for the rest of the session.
namespace vs::sftp {

class ExtraChannels {
  public:
    ExtraChannels() = default;
    ExtraChannels(const ExtraChannels&) = delete;
    ExtraChannels& operator=(const ExtraChannels&) = delete;

    // A channel for requests that this program writes and reads itself, opened now if needed
    // (blocking); null when the server will not open one. libssh2 never reads its answers.
    LIBSSH2_CHANNEL* forRequests(SshSession& s);
    // Channels whose SFTP this program started itself, for write requests of its own: kept
    // for the session's next large upload.
    const std::vector<LIBSSH2_CHANNEL*>& forUploads() const { return uploadChannels_; }
    void keepForUploads(LIBSSH2_CHANNEL* channel) { uploadChannels_.push_back(channel); }
    void forgetForUploads(LIBSSH2_CHANNEL* channel) {
        uploadChannels_.erase(std::remove(uploadChannels_.begin(), uploadChannels_.end(), channel),
                              uploadChannels_.end());
    }
    // A channel the server closed, or left without an answer, in the middle of an upload:
    // forgotten, and no upload uses another channel while the component lives (on a server
    // that does this every large upload would fail again).
    void loseForUploads(LIBSSH2_CHANNEL* channel) {
        forgetForUploads(channel);
        lost_ = true;
    }
    bool lost() const { return lost_; }
    // The server refused a channel, or one was left half open (libssh2 opens one at a time):
    // no more for the session.
    void refuse() { refused_ = true; }
    bool mayOpenMore() const { return !refused_ && !lost_; }
    // The session ends or was replaced: its channels go with it.
    void drop() {
        uploadChannels_.clear();
        requests_ = nullptr;
        refused_ = false;
    }

  private:
    std::vector<LIBSSH2_CHANNEL*> uploadChannels_;
    LIBSSH2_SFTP* requests_ = nullptr;
    bool refused_ = false;
    bool lost_ = false;
};

}  // namespace vs::sftp
