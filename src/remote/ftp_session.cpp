#include "remote/ftp_session.h"

#include <algorithm>

#include "activitylog/activity_log.h"
#include "common/port_text.h"
#include "common/runtime_error.h"
#include "common/text.h"
#include "settings/settings.h"

namespace vs {

namespace {
constexpr std::int64_t kFetchMargin = 1024 * 1024;
}

FtpEndpoint ftpEndpoint(ServerType type, const std::string& hostField) {
    FtpEndpoint endpoint{hostField};
    if (type == ServerType::Ftps) endpoint.tls = FtpControl::Security::Tls::Explicit;
    if (type == ServerType::FtpsImplicito) {
        endpoint.tls = FtpControl::Security::Tls::Implicit;
        endpoint.port = 990;
    }
    if (const size_t colon = hostField.find(':'); colon != std::string::npos) {
        endpoint.host = hostField.substr(0, colon);
        endpoint.port = portFromText(hostField.substr(colon + 1));
    }
    return endpoint;
}

FtpSession::FtpSession(SessionState& state, const ServerFields& server,
                       const ServerType& serverType, ActivityLog& log, const Clock& clock,
                       FtpControl* control, std::string knownCerts)
    : state_(state),
      server_(server),
      serverType_(serverType),
      log_(log),
      clock_(clock),
      control_(control),
      knownCerts_(std::move(knownCerts)) {
    if (control_) {
        control_->setProgressHandler([this](std::uint8_t& p) { kftp_Progress(p); });
        control_->setActivityHandler([this] { ++state_.transferActivity; });
        control_->setLogger([this](const std::string& message) { line(message); });
    }
}

void FtpSession::line(const std::string& text) {
    log_.scrivi_log(timeOfDay(clock_) + text);
}

FtpControl& FtpSession::kftp() const {
    if (!control_) throw RuntimeError(kErrGeneric, "Controllo FTP non disponibile");
    return *control_;
}

void FtpSession::connetti_ftp() {
    try {
        FtpControl& ftp = kftp();
        ftp.prepare(32000);
        ftp.reset();
        line(" Connecting Ftp..");
        const FtpEndpoint endpoint = ftpEndpoint(serverType_, server_.txtHost);
        ftp.setSecurity({endpoint.tls, knownCerts_});
        ftp.connectAndLogin(endpoint.host, server_.txtLogin, server_.txtPwd, endpoint.port);
    } catch (const RuntimeError& e) {
        line((e.number() == kErrConnection ? " Not Connected ! " : " connetti_ftp ") +
             e.description());
        throw;
    }
    line(" Connected ! ");
}

void FtpSession::kftp_Progress(std::uint8_t& percentage) {
    try {
        if (percentage != 0 && percentage % 20 == 0) line(" " + std::to_string(percentage) + " %");
        state_.transferPercentage = percentage;
        if (state_.abortRequest) {
            kftp().abort();
            state_.abortRequest = false;
        }
    } catch (const RuntimeError& e) {
        line(" kftp_Progress " + e.description());
    }
}

RemoteListing FtpSession::list(const std::string& folder) {
    FtpControl& ftp = kftp();
    ftp.changeDirectory(folder);
    return ftp.listDirectory();
}

RemoteStat FtpSession::stat(const std::string& path) {
    const FtpControl::FileInfo info = kftp().stat(path);
    return {info.size, info.modified};
}

FetchResult FtpSession::fetch(const std::string& path, std::optional<std::int64_t> expectedSize,
                              ByteSink& into, std::int64_t from) {
    FtpControl& ftp = kftp();
    ftp.setTransferMode(true);
    FetchResult result;
    // A server that gives no SIZE leaves the data connection as the only measure of the file:
    // one that streams on past the described size must not fill the disk. More than described
    // fails the check anyway; the margin only tells a file that grew a little from a stream
    // that never ends.
    std::optional<std::int64_t> limit;
    if (expectedSize) limit = *expectedSize + std::max(kFetchMargin, *expectedSize / 10);
    result.received = ftp.fetch(path, into, limit, from);
    // FTP has no handle to ask: the file is described again once the transfer has ended.
    result.after = stat(path);
    return result;
}

RemoteStat FtpSession::send(ByteSource& from, const std::string& path, SendPlan plan) {
    state_.transferPercentage = 0;
    kftp().send(from, path, plan.offset, plan.keepPartial);
    if (state_.transferPercentage != 100)
        throw RuntimeError(kErrRemote, "Invio di " + visible(path) + " non completato");
    // The server's word on what it kept (SIZE); a refusal only means it cannot tell.
    try {
        return stat(path);
    } catch (const RuntimeError& e) {
        if (e.number() != kErrRemote) throw;
        return {};
    }
}

bool FtpSession::setModified(const std::string& path, TimePoint modified) {
    return kftp().setModified(path, modified);
}

void FtpSession::rename(const std::string& from, const std::string& to) {
    kftp().rename(from, to);
}

void FtpSession::remove(const std::string& path) {
    kftp().remove(path);
}

void FtpSession::close() {
    if (!control_) return;
    // Both closing calls, always in this order; neither may stop what follows.
    try {
        control_->abort();
    } catch (...) {
    }
    control_->close();
}

}  // namespace vs
