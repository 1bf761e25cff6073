#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "common/yield.h"
#include "remote/sftp/extra_channels.h"
#include "remote/sftp/operation_runner.h"
#include "remote/sftp/pending_close.h"
#include "remote/sftp/round_trip.h"
#include "remote/sftp/sftp_component_factory.h"
#include "remote/sftp/ssh_session.h"
#include "remote/sftp_component.h"

namespace vs {

class Libssh2SftpComponent final : public SftpComponent {
  public:
    // `limit`, when given, is the instance's bandwidth limit, kept by every transfer.
    Libssh2SftpComponent(YieldFn yield, BandwidthLimit* limit);
    ~Libssh2SftpComponent() override;

    void setEvents(SftpEvents* events) override { events_ = events; }
    void setLogger(std::function<void(const std::string&)> logger) override {
        logger_ = std::move(logger);
    }

    void setUserName(const std::string& login) override { settings_.user = login; }
    void setPort(int port) override { settings_.port = port; }
    void setPassword(const std::string& password) override { settings_.password = password; }
    void setHostName(const std::string& host) override { settings_.host = host; }
    void setReservedOption(int) override {}
    void setBlocking(bool) override {}  // every operation blocks; there is no other mode
    void setTimeout(int seconds) override { settings_.timeoutSeconds = seconds; }
    void setPrivateKeyFile(const std::string& path, const std::string& passphrase) override {
        settings_.privateKeyFile = path;
        settings_.privateKeyPassphrase = passphrase;
    }
    void setKnownHostsFile(const std::string& path) override { settings_.knownHostsFile = path; }

    void connect() override;
    void listFolder(const std::string& remoteFolder) override;
    void getAttributes(const std::string& remotePath) override;
    std::vector<StatOutcome> getAttributesOfAll(
        const std::vector<std::string>& remotePaths) override;
    std::int64_t fetch(ByteSink& into, const std::string& remotePath,
                       std::optional<std::int64_t> expectedSize, std::int64_t from = 0) override;
    void send(ByteSource& from, const std::string& remotePath, std::int64_t offset = 0,
              bool keepPartial = false) override;
    void setModified(const std::string& remotePath, TimePoint modified) override;
    void rename(const std::string& from, const std::string& to) override;
    void remove(const std::string& remotePath) override;
    void disconnect() override;
    void abort() override;
    int stateCode() const override { return state_.load(); }

    enum State : int { kIdle = 0, kConnecting = 1, kConnected = 2, kTransferring = 3, kFailed = 4 };

  private:
    void deliver(const sftp::ComponentEvent& event);
    // Runs a request that needs an open session; throws kErrConnection without one.
    void runRequest(const std::string& what, State during,
                    const std::function<void(sftp::SshSession&, sftp::EventPoster&)>& request);
    void closeSession();

    SftpEvents* events_ = nullptr;
    std::function<void(const std::string&)> logger_;
    sftp::ConnectSettings settings_;
    BandwidthLimit* limit_;
    std::atomic<int> state_{kIdle};
    bool transferring_ = false;
    bool disconnectRequested_ = false;
    bool libraryLogged_ = false;
    std::string failure_;  // why the last session ended badly, for "not connected" errors

    sftp::SshSession session_;  // used on the worker thread only (the runner guarantees it)
    // Of session_, on the worker thread as well.
    sftp::PendingClose lastFetched_;
    sftp::RoundTrip roundTrip_;
    sftp::ExtraChannels channels_;
    sftp::OperationRunner runner_;
};

}  // namespace vs
