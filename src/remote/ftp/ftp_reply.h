#pragma once

#include <curl/curl.h>

#include <string>
#include <string_view>
#include <vector>

namespace vs::ftp {

// The server's replies of the running operation, as libcurl hands them over line by line
// (through its header callback). Kept so that a failure can be described with the server's
// own words ("530 Login incorrect.") and so that FEAT can be read.
class ReplyLog {
  public:
    struct Reply {
        int code = 0;
        std::string text;  // all lines of the reply, joined by blanks, line ends removed
    };

    // Forgets the replies of the previous operation.
    void startOperation();
    // One line as received, line end included or not. Lines that are no part of a reply
    // (libcurl adds its own "Content-Length:" lines) are ignored.
    void addLine(std::string_view line);

    const std::vector<Reply>& replies() const { return replies_; }
    // The last reply of this operation with a code of 400 or more, a 503 that only follows
    // an earlier refusal aside; null when none.
    const Reply* lastRefusal() const;
    // True when a FEAT reply (211) of this operation names the feature, e.g. "MLST".
    bool offersFeature(std::string_view feature) const;

  private:
    std::vector<Reply> replies_;
    Reply open_;  // multi-line reply still being received
    bool inReply_ = false;
};

// Failures of the link itself rather than refusals by a server that is still talking to us.
bool isConnectionFailure(CURLcode code);

// Operator-readable text for a failed operation: the server's refusal when there was one,
// else libcurl's own detailed message, else its generic description. Control characters are
// made visible so that nothing the server says can forge a log line.
std::string describeFailure(CURLcode code, const char* curlMessage, const ReplyLog& replies);

}  // namespace vs::ftp
