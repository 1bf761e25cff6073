#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/trust_store.h"

// Certificate pins of FTPS servers: what curl's --pinnedpubkey takes ("sha256//" and the
// base64 of the SHA-256 of the certificate's DER SubjectPublicKeyInfo), so that an operator
// can pin a server by hand with the openssl tool. Pinning the key rather than the whole
// certificate lets a server renew its certificate on the same key without being refused.
namespace vs::ftp {

// The pin of a DER certificate; nothing when the bytes are not a certificate.
std::optional<std::string> pinOfCertificate(std::string_view der);

// The name a server goes by in known_certs: "host:port", an IPv6 address in brackets.
std::string knownCertsName(const std::string& host, int port);

// The program folder's known_certs file, a TrustStore: one line per server,
// "host:port sha256//BASE64"; "#" starts a comment. Several lines for one server are several
// acceptable pins (a planned key change), and any text standing for a server's pin counts as a
// pin, so that a line an operator mistyped refuses the server instead of letting any
// certificate in. A line whose comment is exactly kTrustStoreMark records a server that was
// verified through the system's trust store (older files, and readers, see a plain pin).
inline constexpr const char* kTrustStoreMark = "trust store";

class KnownCerts {
  public:
    explicit KnownCerts(std::string path) : store_(std::move(path)) {}
    std::string path() const { return store_.path().string(); }

    struct Recorded {
        std::vector<std::string> pins;  // empty when the server was never seen
        bool verified = false;          // a line of the server carries the trust-store mark
        Sighting of(const std::string& pin) const;
    };
    // Throws RuntimeError when the file is there but cannot be read.
    Recorded lookup(const std::string& host, int port) const;

    // Adds the server's line; `verified` marks it, and replaces the server's marked lines
    // recorded before (a renewed certificate's key takes the old one's place). Throws
    // RuntimeError when it cannot be recorded.
    void record(const std::string& host, int port, const std::string& pin,
                bool verified = false) const;

  private:
    TrustStore store_;
};

}  // namespace vs::ftp
