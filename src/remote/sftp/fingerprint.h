#pragma once

#include <optional>
#include <string>
#include <string_view>

// Host-key fingerprints as OpenSSH prints them, and the base64 that known_hosts files use.
// A small SHA-256 of our own, because a recorded key read back from known_hosts must be
// fingerprinted too and libssh2 only hashes the key the server presents.
namespace vs::sftp {

std::string base64Encode(std::string_view bytes, bool pad = true);
// Empty when the text is not valid base64 (blanks and line ends are not allowed inside).
std::optional<std::string> base64Decode(std::string_view text);

// The 32-byte SHA-256 digest.
std::string sha256(std::string_view bytes);

// "SHA256:" and the digest in base64 without padding, as ssh-keygen -l shows it.
std::string fingerprintOfDigest(std::string_view digest);
std::string fingerprintOfKey(std::string_view keyBlob);

// The algorithm name that opens an SSH public-key blob ("ssh-ed25519", "ecdsa-sha2-nistp256"
// ...); empty when the blob is malformed.
std::string keyTypeOfBlob(std::string_view keyBlob);

}  // namespace vs::sftp
