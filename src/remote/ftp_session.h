#pragma once

#include <cstdint>
#include <string>

#include "common/clock.h"
#include "remote/ftp_control.h"
#include "remote/remote_session.h"
#include "remote/session_state.h"
#include "settings/job_codes.h"

namespace vs {

class ActivityLog;
struct ServerFields;

// Where and how the FTP session connects, from the server type and the host field ("name" or
// "name:port"): a port written there wins over the type's own (990 for implicit TLS, else 21).
struct FtpEndpoint {
    std::string host;
    int port = 21;
    FtpControl::Security::Tls tls = FtpControl::Security::Tls::None;
};
FtpEndpoint ftpEndpoint(ServerType type, const std::string& hostField);

// A cycle's FTP session (plain FTP and FTP over TLS alike): opens it through the FTP control
// and handles the control's progress event.
class FtpSession final : public RemoteSession {
  public:
    // `serverType` is read at each connect: a saved change of the type takes effect at the
    // next cycle. `knownCerts` holds the pins of FTPS servers.
    FtpSession(SessionState& state, const ServerFields& server, const ServerType& serverType,
               ActivityLog& log, const Clock& clock, FtpControl* control, std::string knownCerts);

    // Logs in, writing the lines of the attempt. Throws RuntimeError when it fails:
    // kErrConnection when the server could not be reached or refused us, another number when
    // the attempt could not be made.
    void connetti_ftp();
    void kftp_Progress(std::uint8_t& percentage);

    // RemoteSession.
    void connect() override { connetti_ftp(); }
    RemoteListing list(const std::string& folder) override;
    RemoteStat stat(const std::string& path) override;
    FetchResult fetch(const std::string& path, std::optional<std::int64_t> expectedSize,
                      ByteSink& into, std::int64_t from = 0) override;
    RemoteStat send(ByteSource& from, const std::string& path, SendPlan plan = {}) override;
    bool setModified(const std::string& path, TimePoint modified) override;
    void rename(const std::string& from, const std::string& to) override;
    void remove(const std::string& path) override;
    void close() override;
    void abort() override {
        if (control_) control_->abort();
    }
    void announce(SessionMoment, const std::string&, const std::string&) override {}
    std::string stateNote() const override { return {}; }

    // The control; throws when the program has none.
    FtpControl& kftp() const;

  private:
    void line(const std::string& text);

    SessionState& state_;
    const ServerFields& server_;
    const ServerType& serverType_;
    ActivityLog& log_;
    const Clock& clock_;
    FtpControl* control_;
    std::string knownCerts_;
};

}  // namespace vs
