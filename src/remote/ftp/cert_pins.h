#pragma once

#include <string>
#include <string_view>
#include <vector>

// Certificate pins of FTPS servers: what curl's --pinnedpubkey takes ("sha256//" and the
// base64 of the SHA-256 of the certificate's DER SubjectPublicKeyInfo), so that an operator
// can pin a server by hand with the openssl tool. Pinning the key rather than the whole
// certificate lets a server renew its certificate on the same key without being refused.
namespace vs::ftp {

// The pin of a DER certificate; empty when the bytes are not a certificate.
std::string pinOfCertificate(std::string_view der);

// The name a server goes by in known_certs: "host:port", an IPv6 address in brackets.
std::string knownCertsName(const std::string& host, int port);

// The program folder's known_certs file: one line per server, "host:port sha256//BASE64";
// "#" starts a comment. Several lines for one server are several acceptable pins (a planned
// key change), and any text standing for a server's pin counts as a pin, so that a line an
// operator mistyped refuses the server instead of letting any certificate in. A line whose
// comment is exactly kTrustStoreMark records a server that was verified through the trust
// store (older files, and readers, see a plain pin).
inline constexpr const char* kTrustStoreMark = "trust store";

class KnownCerts {
  public:
    explicit KnownCerts(std::string path) : path_(std::move(path)) {}
    const std::string& path() const { return path_; }

    struct Recorded {
        std::vector<std::string> pins;  // empty when the server was never seen
        bool verified = false;          // a line of the server carries the trust-store mark
        std::string error;              // set when the file exists but cannot be read
    };
    Recorded lookup(const std::string& host, int port) const;

    // Adds the server's line; `verified` marks it, and replaces the server's marked lines
    // recorded before (a renewed certificate's key takes the old one's place). The file is
    // replaced whole (a copy written beside it, then renamed, its mode kept), so a crash never
    // leaves half a line. Empty text when recorded, otherwise why not.
    std::string record(const std::string& host, int port, const std::string& pin,
                       bool verified = false) const;

  private:
    std::string path_;
};

}  // namespace vs::ftp
