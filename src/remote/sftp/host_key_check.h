#pragma once

#include <libssh2.h>

#include <functional>
#include <string>

// Host keys against an OpenSSH known_hosts file, a TrustStore (first sight recorded and the
// operator told its fingerprint, a changed key refused, an unrecordable one refused too). Keys
// of a different type count as different: a server that suddenly offers only another key type
// is treated like a changed key.
namespace vs::sftp {

using LogFn = std::function<void(const std::string&)>;

// The name under which OpenSSH records a host: "host" on port 22, "[host]:port" otherwise.
std::string knownHostsName(const std::string& host, int port);

// The host-key algorithms to offer, in order: first those of the key types known_hosts already
// holds for the host (otherwise a server holding, say, an RSA and an ed25519 key could present
// the one we have never seen, and be refused as changed), then the others.
std::string hostKeyMethods(LIBSSH2_SESSION* session, const std::string& knownHostsPath,
                           const std::string& host, int port);

// Checks the key the server presented during the handshake. Returns when the connection may go
// on; otherwise throws RuntimeError (kErrConnection) saying why it must not, for the operator.
void verifyHostKey(LIBSSH2_SESSION* session, const std::string& knownHostsPath,
                   const std::string& host, int port, const LogFn& log);

}  // namespace vs::sftp
