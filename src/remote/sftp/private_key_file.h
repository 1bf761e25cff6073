#pragma once

#include <string>

// What the program needs to know of a private key file before handing it to libssh2, which
// answers a missing or wrong passphrase with the same error as an unreadable file.
namespace vs::sftp {

// Whether the key in this file text is protected by a passphrase: an OpenSSH key with a cipher
// other than "none", a PEM key with "Proc-Type: 4,ENCRYPTED", an encrypted PKCS#8 key.
bool privateKeyEncrypted(const std::string& fileText);

}  // namespace vs::sftp
