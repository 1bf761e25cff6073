#include "remote/sftp/extra_channels.h"

namespace vs::sftp {

LIBSSH2_CHANNEL* ExtraChannels::forRequests(SshSession& s) {
    if (!requests_ && !refused_ && s.usable()) {
        requests_ = libssh2_sftp_init(s.session());
        refused_ = !requests_;
    }
    return requests_ ? libssh2_sftp_get_channel(requests_) : nullptr;
}

}  // namespace vs::sftp
