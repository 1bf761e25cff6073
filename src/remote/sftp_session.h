#pragma once

#include <functional>
#include <string>

#include "common/clock.h"
#include "common/yield.h"
#include "remote/session_state.h"
#include "remote/sftp_component.h"

namespace vs {

class ActivityLog;
struct ServerFields;

// Opens SFTP sessions for the cycle and handles the component's events.
class SftpSession final : public SftpEvents {
  public:
    SftpSession(SessionState& state, const ServerFields& server, ActivityLog& log,
                const Clock& clock, YieldFn yield, SftpComponent* component,
                std::string knownHostsFile, const std::string& keyfile);

    // Configures the component from the server fields and connects; the outcome is in the
    // connected and connect-failed flags.
    void connetti_sftp();

    void Connected(int errorCode, const std::string& errorText) override;  // sftp1_Connected
    void ListItems(const std::string& fileInfo) override;                  // -> listing handler
    void Attributes(std::int64_t size, std::uint32_t uid, std::uint32_t gid,
                    std::uint32_t permissions, TimePoint accessTime,
                    TimePoint modificationTime) override;               // Sftp1_Attributes
    void Progress(std::int64_t position, std::int64_t total) override;  // Sftp1_Progress

    void setListItemsHandler(std::function<void(const std::string&)> handler) {
        listItems_ = std::move(handler);
    }
    // The session object; throws when the program has none (the server type was not "Sftp"
    // at start-up).
    SftpComponent& Sftp1() const;
    bool hasComponent() const { return component_ != nullptr; }

  private:
    void line(const std::string& text);

    SessionState& state_;
    const ServerFields& server_;
    ActivityLog& log_;
    const Clock& clock_;
    YieldFn yield_;
    SftpComponent* component_;
    std::string knownHostsFile_;
    const std::string& keyfile_;
    std::string thousands_;
    std::function<void(const std::string&)> listItems_;
};

}  // namespace vs
