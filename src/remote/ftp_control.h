#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/byte_stream.h"
#include "common/clock.h"
#include "remote/remote_listing.h"

namespace vs {

// The FTP client control, its operations named by role. Every operation blocks until its
// work is done (yielding to the caller's event loop meanwhile). Failures are thrown as
// RuntimeError: kErrConnection when the control connection is gone or cannot be made (the
// login refused included), kErrRemote when the server refused the request, kErrAborted for a
// transfer ended by abort(), local file errors as their own numbers. The description is the
// server's own reply where there is one.
class FtpControl {
  public:
    virtual ~FtpControl() = default;

    // Progress event: percentage 0..100 of the running transfer, by reference. A successful
    // transfer always ends with 100 before the call returns (an empty file too).
    using ProgressHandler = std::function<void(std::uint8_t& percentage)>;
    virtual void setProgressHandler(ProgressHandler handler) = 0;
    // Called whenever a transfer moved bytes, whether or not its percentage changed.
    virtual void setActivityHandler(std::function<void()>) {}
    // Messages of the control's own for the activity log; each begins with a blank.
    virtual void setLogger(std::function<void(const std::string&)> logger) = 0;

    // How the next connectAndLogin protects the session. TLS, once asked for, is required on
    // the control connection and on every data connection: nothing ever goes out in clear.
    struct Security {
        enum class Tls { None, Explicit, Implicit };  // AUTH TLS first, or TLS from the first byte
        Tls tls = Tls::None;
        // Pins of server certificates that the trust store does not vouch for.
        std::string knownCerts;
    };
    virtual void setSecurity(Security security) = 0;

    virtual void prepare(int value) = 0;  // first preparatory call, given 32000
    virtual void reset() = 0;             // second preparatory call
    virtual void connectAndLogin(const std::string& host, const std::string& login,
                                 const std::string& password, int port) = 0;
    virtual void changeDirectory(const std::string& folder) = 0;
    // The entries of the current folder.
    virtual RemoteListing listDirectory() = 0;
    // Size (SIZE) and modification time (MDTM) of a file, each where the server gives it.
    struct FileInfo {
        std::optional<std::int64_t> size;
        std::optional<TimePoint> modified;
    };
    virtual FileInfo stat(const std::string& remotePath) = 0;
    virtual void setTransferMode(bool binary) = 0;
    // Downloads into `into` from byte `from` of the remote file on (REST); returns the bytes
    // received. With `limit`, a server that sends the file on past that many bytes is cut off
    // and the download fails (kErrRemote).
    virtual std::int64_t fetch(const std::string& remotePath, ByteSink& into,
                               std::optional<std::int64_t> limit, std::int64_t from = 0) = 0;
    // Uploads the source from byte `offset` on: 0 stores a new file, more appends (APPE) to the
    // file there, which holds the bytes before. A failed or aborted upload removes what
    // reached the server (best effort, logged), unless `keepPartial`.
    virtual void send(ByteSource& from, const std::string& remotePath, std::int64_t offset = 0,
                      bool keepPartial = false) = 0;
    // Sets a file's modification time (MFMT); false when the server does not offer it.
    virtual bool setModified(const std::string& remotePath, TimePoint modified) = 0;
    virtual void rename(const std::string& from, const std::string& to) = 0;
    virtual void remove(const std::string& remotePath) = 0;
    virtual void abort() = 0;
    virtual void close() = 0;  // never throws
};

class BandwidthLimit;
// Makes the control; its transfers keep to the bandwidth limit given, when there is one.
using FtpControlFactory = std::function<std::unique_ptr<FtpControl>(BandwidthLimit*)>;

}  // namespace vs
