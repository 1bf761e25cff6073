#include "remote/sftp/channel_opener.h"

#include "remote/sftp/non_blocking.h"

namespace vs::sftp {

ChannelOpener::Step ChannelOpener::advance() {
    if (step_ == Step::Channel) {
        const auto open = [&] { return libssh2_channel_open_session(s_.session()); };
        if (asked_ == std::chrono::steady_clock::time_point{})
            asked_ = std::chrono::steady_clock::now();
        channel_ = open();
        if (!channel_ && libssh2_session_last_errno(s_.session()) == LIBSSH2_ERROR_EAGAIN) {
            if (!NonBlocking::partlySent(s_)) return step_;
            channel_ = NonBlocking::finish(s_, open);
        }
        // A server that limits the channels of a connection refuses here.
        if (!channel_) return step_ = Step::Refused;
        openTook_ = std::chrono::steady_clock::now() - asked_;
        step_ = Step::Subsystem;
    }
    if (step_ == Step::Subsystem) {
        const auto start = [&] {
            return libssh2_channel_process_startup(channel_, "subsystem", 9, "sftp", 4);
        };
        int rc = start();
        if (rc == LIBSSH2_ERROR_EAGAIN && NonBlocking::partlySent(s_))
            rc = NonBlocking::finish(s_, start);
        if (rc == LIBSSH2_ERROR_EAGAIN) return step_;
        step_ = rc == 0 ? Step::Ready : Step::Refused;
    }
    return step_;
}

}  // namespace vs::sftp
