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
