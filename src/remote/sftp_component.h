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
    // Downloads into `into` from byte `from` of the remote file on; returns the bytes received.
    // With `expectedSize` (the whole file's) it asks for the bytes up to that size and stops
    // once they are here (a file that grew may give more) instead of reading on to the end.
    // Delivers Attributes of the file as it was once the last byte was read.
    virtual std::int64_t fetch(ByteSink& into, const std::string& remotePath,
                               std::optional<std::int64_t> expectedSize, std::int64_t from = 0) = 0;
    // Uploads the source from byte `offset` on (0: a new file; otherwise into the file there,
    // which already holds the bytes before it). A failed or aborted upload removes what it
    // wrote, unless `keepPartial`.
    virtual void send(ByteSource& from, const std::string& remotePath, std::int64_t offset = 0,
                      bool keepPartial = false) = 0;
    // Sets the file's modification (and access) time.
    virtual void setModified(const std::string& remotePath, TimePoint modified) = 0;
    virtual void rename(const std::string& from, const std::string& to) = 0;  // replaces `to`
    virtual void remove(const std::string& remotePath) = 0;
    virtual void disconnect() = 0;  // never throws
    // Ends the running fetch or send early; called from inside a Progress event.
    virtual void abort() = 0;
    // Component state for error lines: 0 idle, 1 connecting, 2 connected, 3 transferring,
    // 4 failed.
    virtual int stateCode() const = 0;
};

class BandwidthLimit;
// The most an upload has written but not yet seen confirmed by the server: of a file cut off,
// the bytes more than this before its end were certainly written, in order.
inline constexpr std::int64_t kSftpMostUnconfirmed = 8 * 1024 * 1024;

// Makes the component; its transfers keep to the bandwidth limit given, when there is one.
using SftpComponentFactory = std::function<std::unique_ptr<SftpComponent>(BandwidthLimit*)>;

}  // namespace vs
