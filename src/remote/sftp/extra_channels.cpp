#include "remote/sftp/extra_channels.h"

#include <algorithm>

#include "remote/sftp/non_blocking.h"

namespace vs::sftp {

bool ExtraChannels::openOneMore(SshSession& s) {
    if (refused_ || !s.usable()) return false;
    LIBSSH2_SFTP* channel = libssh2_sftp_init(s.session());
    opening_ = !channel && libssh2_session_last_errno(s.session()) == LIBSSH2_ERROR_EAGAIN;
    if (opening_) {
        if (!NonBlocking::partlySent(s)) return false;
        channel = NonBlocking::finish(s, [&] { return libssh2_sftp_init(s.session()); });
        opening_ = false;
    }
    // A server that limits the channels of a connection refuses once and for the session.
    if (!channel) {
        refused_ = true;
        return false;
    }
    channels_.push_back(channel);
    return true;
}

LIBSSH2_CHANNEL* ExtraChannels::forRequests(SshSession& s) {
    if (!requests_ && !refused_ && s.usable()) {
        // Finishes a channel an upload began to open, if there is one: either serves.
        requests_ = libssh2_sftp_init(s.session());
        opening_ = false;
        refused_ = !requests_;
    }
    return requests_ ? libssh2_sftp_get_channel(requests_) : nullptr;
}

void ExtraChannels::forget(LIBSSH2_SFTP* channel) {
    channels_.erase(std::remove(channels_.begin(), channels_.end(), channel), channels_.end());
}

void ExtraChannels::forgetForUploads(LIBSSH2_CHANNEL* channel) {
    uploadChannels_.erase(std::remove(uploadChannels_.begin(), uploadChannels_.end(), channel),
                          uploadChannels_.end());
}

}  // namespace vs::sftp
