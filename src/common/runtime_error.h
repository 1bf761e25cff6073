#pragma once

#include <stdexcept>
#include <string>

namespace vs {

// Error numbers the cycle's error trap tells apart.
enum ErrorNumber : int {
    kErrBadFileName = 52,    // a local path that cannot be queried
    kErrConnection = 30006,  // connection-level failure of a remote session
    kErrGeneric = 5,         // anything else: invalid call or argument
    kErrTypeMismatch = 13,   // text that should have been a number
    kErrDivisionByZero = 11,
    kErrFileNotFound = 53,
    kErrPermissionDenied = 70,
    kErrPathNotFound = 76,
    kErrDiskFull = 61,
    kErrSubscriptRange = 9,
    kErrRemote = 30000,   // a remote operation the server refused
    kErrAborted = 30001,  // a transfer ended early on request (operator, shutdown)
};

// The one run-time error type of the program: a number and an operator-readable description.
//
// How failures travel, everywhere from a libssh2 or libcurl call up to the cycle's error trap:
//  - a function that can fail throws RuntimeError; it never returns "" or false for a failure
//    with the reason somewhere else, and it never sets a flag beside the throw;
//  - std::optional is for a value that may be absent without anything having failed (a file
//    that is not there, a text that is not a number);
//  - a RuntimeError is passed as a value only where an exception cannot go (OpenSSL's and
//    libcurl's callbacks, another thread) or where one request of several failed alone
//    (StatOutcome); whoever receives it throws it or reports it as its own;
//  - functions that build an error for a failure just seen (localFileError, sftpFailure)
//    return it for the caller to throw.
// Local failures carry the local file numbers (kErrFileNotFound ...), remote ones kErrRemote
// (this request refused) or kErrConnection (the session is gone). A failure that ends a step
// reaches the cycle's trap, which logs and counts it; one that changes nothing of what happens
// next (a pin accepted but not recorded, metrics not written) is logged where it happens, with
// the error's description. A session's connect writes its protocol's own lines of a failed
// attempt, then throws for the cycle to act on.
class RuntimeError : public std::runtime_error {
  public:
    RuntimeError(int number, std::string description)
        : std::runtime_error(description), number_(number), description_(std::move(description)) {}
    int number() const noexcept { return number_; }
    const std::string& description() const noexcept { return description_; }

  private:
    int number_;
    std::string description_;
};

// Maps an errno value of a failed local file operation to a RuntimeError.
RuntimeError localFileError(int err, const std::string& what);

}  // namespace vs
