#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vs {

// The FTP client control, its operations named by role. Every operation blocks until its
// work is done (yielding to the caller's event loop meanwhile) and its result is used at once.
// Operations may throw RuntimeError (kErrConnection for a lost connection).
class FtpControl {
  public:
    virtual ~FtpControl() = default;

    // Progress event: percentage 0..100 of the running transfer, by reference. A successful
    // transfer always ends with 100 before the call returns (an empty file too).
    using ProgressHandler = std::function<void(std::uint8_t& percentage)>;
    virtual void setProgressHandler(ProgressHandler handler) = 0;
    // Messages of the control's own for the activity log; each begins with a blank.
    virtual void setLogger(std::function<void(const std::string&)> logger) = 0;

    virtual void prepare(int value) = 0;  // first preparatory call, given 32000
    virtual void reset() = 0;             // second preparatory call
    virtual bool connectAndLogin(const std::string& host, const std::string& login,
                                 const std::string& password, int port) = 0;
    // Description of the last failure: the server's own reply where there is one.
    virtual std::string errorText() const = 0;
    virtual bool changeDirectory(const std::string& folder) = 0;
    // Listing of the current folder: lines separated by CR LF, fields by single blanks;
    // field 0 type ("d" first for a folder), field 4 size, field 7 time hh:mm, field 8 name.
    virtual bool listDirectory(std::string& listing, int reserved1, long reserved2) = 0;
    virtual bool querySize(std::int64_t& size, const std::string& remotePath,
                           bool refresh = true) = 0;
    virtual void setTransferMode(bool binary) = 0;
    virtual bool fetch(const std::string& remotePath, const std::string& localPath) = 0;
    virtual void send(const std::string& localPath, const std::string& remotePath) = 0;
    virtual bool remove(const std::string& remotePath) = 0;
    virtual void abort() = 0;
    virtual void close() = 0;  // never throws
};

using FtpControlFactory = std::function<std::unique_ptr<FtpControl>()>;

}  // namespace vs
