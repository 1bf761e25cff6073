#pragma once

#include <curl/curl.h>

#include <functional>
#include <optional>
#include <string>

#include "common/runtime_error.h"
#include "remote/ftp/cert_pins.h"

namespace vs::ftp {

// FTP over TLS for one server: TLS on the control connection and on every data connection,
// never a fallback to clear text, and the server's certificate judged inside each TLS
// handshake, so that on a refused connection not one command (no USER, no PASS) goes out.
//
// The certificate rule, like known_hosts for SFTP but with the trust store first:
//  - a pin recorded in known_certs for host:port must match, even for a certificate the
//    trust store accepts (an operator who pinned meant it); but a server recorded as verified
//    through the trust store may show another key as long as the trust store vouches for it
//    (such certificates are renewed often), and its new pin replaces the old one;
//  - otherwise a certificate that verifies against the trust store for the host name is
//    accepted and recorded as verified, so that a certificate it cannot vouch for, shown
//    later for the same server, is refused and not taken for a first sight;
//  - otherwise (self-signed, private CA, another name: the common case between companies)
//    its pin is recorded and the connection goes on; if it cannot be recorded, refused.
class TlsPolicy {
  public:
    using LogFn = std::function<void(const std::string&)>;

    // `host` as the settings name it; `log` receives the operator's line of a first sight.
    TlsPolicy(std::string host, int port, KnownCerts knownCerts, LogFn log);
    // libcurl keeps a pointer to the policy in the handles it was applied to.
    TlsPolicy(const TlsPolicy&) = delete;
    TlsPolicy& operator=(const TlsPolicy&) = delete;

    // The trust store is the system's unless a CA file (PEM) is given here.
    void setCaFile(std::string path) { caFile_ = std::move(path); }

    // Sets the TLS options on an easy handle: AUTH TLS where the URL is ftp:// (an ftps://
    // URL speaks TLS from the first byte), PBSZ 0 / PROT P for data, TLS sessions resumed on
    // data connections, and the certificate rule. Throws RuntimeError (kErrConnection) when
    // that cannot be done: the connection must not be tried.
    void apply(CURL* easy);

    // The rule itself, on the pin of the certificate a server presented (nothing when it
    // could not be read) and whether it verifies against the trust store for the host name.
    // Returns when the connection may go on; otherwise throws RuntimeError (kErrConnection)
    // telling the operator why and what to do.
    void decide(const std::optional<std::string>& pin, bool trusted);
    // The rule runs inside OpenSSL's handshake, which no exception may cross: the refusal of
    // the last handshake is kept here for the control to throw once libcurl returns.
    bool acceptsInHandshake(const std::optional<std::string>& pin, bool trusted) noexcept;
    const std::optional<RuntimeError>& refusal() const { return refusal_; }
    void clearRefusal() { refusal_.reset(); }

    const std::string& host() const { return host_; }

  private:
    std::string host_;
    int port_;
    KnownCerts knownCerts_;
    LogFn log_;
    std::string caFile_;
    std::optional<RuntimeError> refusal_;
};

}  // namespace vs::ftp
