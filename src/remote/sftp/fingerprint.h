#pragma once

#include <optional>
#include <string>
#include <string_view>

// Host-key fingerprints as OpenSSH prints them. A recorded key read back from known_hosts is
// fingerprinted too, and libssh2 only hashes the key the server presents.
namespace vs::sftp {

// "SHA256:" and the digest in base64 without padding, as ssh-keygen -l shows it.
std::string fingerprintOfDigest(std::string_view digest);
std::string fingerprintOfKey(std::string_view keyBlob);

// The algorithm name that opens an SSH public-key blob ("ssh-ed25519", "ecdsa-sha2-nistp256"
// ...); nothing when the blob is malformed.
std::optional<std::string> keyTypeOfBlob(std::string_view keyBlob);

}  // namespace vs::sftp
