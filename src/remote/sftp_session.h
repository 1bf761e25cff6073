#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/yield.h"
#include "remote/remote_session.h"
#include "remote/session_state.h"
#include "remote/sftp_component.h"

namespace vs {

class ActivityLog;
struct ServerFields;

// A cycle's SFTP session: opens it through the SFTP component and handles the component's
// events.
class SftpSession final : public RemoteSession, public SftpEvents {
  public:
    using Pause = std::function<void(std::chrono::milliseconds)>;  // yields while it waits

    // `fetchPause` is waited (through `pause`) before each fetch; 0 waits nothing.
    SftpSession(SessionState& state, const ServerFields& server, ActivityLog& log,
                const Clock& clock, YieldFn yield, Pause pause, SftpComponent* component,
                std::string knownHostsFile, const std::string& keyfile,
                const std::string& keyPassphrase,
                const std::chrono::milliseconds& fetchPause);

    // Configures the component from the server fields and connects, writing the lines of the
    // attempt. Throws RuntimeError when it fails: kErrConnection when the server could not be
    // reached or refused us, another number when the attempt could not be made.
    void connetti_sftp();

    // RemoteSession.
    void connect() override { connetti_sftp(); }
    RemoteListing list(const std::string& folder) override;
    RemoteStat stat(const std::string& path) override;
    std::vector<StatOutcome> statAll(const std::vector<std::string>& paths) override {
        return Sftp1().getAttributesOfAll(paths);
    }
    FetchResult fetch(const std::string& path, std::optional<std::int64_t> expectedSize,
                      ByteSink& into, std::int64_t from = 0) override;
    RemoteStat send(ByteSource& from, const std::string& path, SendPlan plan = {}) override;
    std::int64_t resumableBytes(const std::string& path) override;
    bool setModified(const std::string& path, TimePoint modified) override;
    void rename(const std::string& from, const std::string& to) override;
    void remove(const std::string& path) override;
    void close() override;
    void abort() override {
        if (component_) component_->abort();
    }
    void announce(SessionMoment moment, const std::string& remotePath,
                  const std::string& localPath) override;
    std::string stateNote() const override;

    // SftpEvents.
    void ListItems(const RemoteListing& part) override;
    void Attributes(std::int64_t size, std::uint32_t uid, std::uint32_t gid,
                    std::uint32_t permissions, TimePoint accessTime,
                    TimePoint modificationTime) override;               // Sftp1_Attributes
    void Progress(std::int64_t position, std::int64_t total) override;  // Sftp1_Progress

    // The session object; throws when the program has none (the server type was not "Sftp"
    // at start-up).
    SftpComponent& Sftp1() const;

  private:
    void line(const std::string& text);

    SessionState& state_;
    const ServerFields& server_;
    ActivityLog& log_;
    const Clock& clock_;
    YieldFn yield_;
    Pause pause_;
    SftpComponent* component_;
    std::string knownHostsFile_;
    const std::string& keyfile_;
    const std::string& keyPassphrase_;
    const std::chrono::milliseconds& fetchPause_;
    std::string thousands_;
    RemoteListing* listing_ = nullptr;  // while a listing runs
    RemoteStat attributes_;             // of the last attribute request
};

}  // namespace vs
