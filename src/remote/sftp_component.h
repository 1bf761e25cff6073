#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/clock.h"
#include "remote/remote_session.h"

namespace vs {

// The events of the SFTP component. In blocking mode every event that belongs to an operation
// has been delivered, on the caller's thread, before that operation returns. (The outcome of a
// connect is no event: like every other operation's, it is the return or the error thrown.)
class SftpEvents {
  public:
    virtual ~SftpEvents() = default;
    // A part of the listing of the folder being listed, in the server's order; one listing
    // may come in several parts.
    virtual void ListItems(const RemoteListing& part) = 0;
    virtual void Attributes(std::int64_t size, std::uint32_t uid, std::uint32_t gid,
                            std::uint32_t permissions, TimePoint accessTime,
                            TimePoint modificationTime) = 0;
    virtual void Progress(std::int64_t position, std::int64_t total) = 0;
};

// The SFTP client component. Errors of any operation are thrown as RuntimeError:
// kErrConnection for a lost, timed-out or missing connection, kErrRemote for a request the
// server refused, kErrAborted for a transfer ended by abort(), local file errors as their own
// numbers.
class SftpComponent {
  public:
    virtual ~SftpComponent() = default;

    virtual void setEvents(SftpEvents* events) = 0;
    // Messages of the component's own for the activity log (host key learnt ...). Each begins
    // with a blank; the receiver adds the time.
    virtual void setLogger(std::function<void(const std::string&)> logger) = 0;

    // Settings, in the order the session writes them before every connect.
    virtual void setUserName(const std::string& login) = 0;
    virtual void setPort(int port) = 0;  // kept until set again; 22 until first set
    virtual void setPassword(const std::string& password) = 0;
    virtual void setHostName(const std::string& host) = 0;
    virtual void setReservedOption(int value) = 0;  // given 0; no meaning here
    virtual void setBlocking(bool blocking) = 0;    // given true
    virtual void setTimeout(int seconds) = 0;       // given 20: inactivity time-out
    // Additions of this program: public-key login (tried first when set; the passphrase opens
    // a protected key) and the known-hosts file in OpenSSH format.
    virtual void setPrivateKeyFile(const std::string& path, const std::string& passphrase) = 0;
    virtual void setKnownHostsFile(const std::string& path) = 0;

    // Operations. Each returns when done, after its events were delivered.
    // Opens the session; a refused or failed connection throws kErrConnection with the
    // operator's text.
    virtual void connect() = 0;
    virtual void listFolder(const std::string& remoteFolder) = 0;   // -> ListItems...
    virtual void getAttributes(const std::string& remotePath) = 0;  // -> Attributes
    // Addition of this program: the attributes of several files, the requests sent together;
    // per path the attributes or the server's refusal (kErrRemote). No events.
    virtual std::vector<StatOutcome> getAttributesOfAll(
        const std::vector<std::string>& remotePaths) = 0;
    // Downloads into the open file `fd`; returns the bytes received. With `expectedSize` it
    // asks for that many bytes and stops once they are here (a file that grew may give more)
    // instead of reading on to the end. Delivers Attributes of the file as it was once the last
    // byte was read.
    virtual std::int64_t fetch(int fd, const std::string& remotePath,
                               std::optional<std::int64_t> expectedSize) = 0;
    // Uploads `size` bytes of the open file `fd` from its start; a failed or aborted upload
    // removes what it wrote.
    virtual void send(int fd, std::int64_t size, const std::string& remotePath) = 0;
    virtual void rename(const std::string& from, const std::string& to) = 0;  // replaces `to`
    virtual void remove(const std::string& remotePath) = 0;
    virtual void disconnect() = 0;  // never throws
    // Ends the running fetch or send early; called from inside a Progress event.
    virtual void abort() = 0;
    // Component state for error lines: 0 idle, 1 connecting, 2 connected, 3 transferring,
    // 4 failed.
    virtual int stateCode() const = 0;
};

using SftpComponentFactory = std::function<std::unique_ptr<SftpComponent>()>;

}  // namespace vs
