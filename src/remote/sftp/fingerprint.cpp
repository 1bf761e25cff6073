#include "remote/sftp/fingerprint.h"

#include <cstdint>
#include <optional>

#include "common/base64.h"
#include "common/sha256.h"

namespace vs::sftp {

std::string fingerprintOfDigest(std::string_view digest) {
    return "SHA256:" + base64Encode(digest, false);
}

std::string fingerprintOfKey(std::string_view keyBlob) {
    return fingerprintOfDigest(sha256(keyBlob));
}

std::optional<std::string> keyTypeOfBlob(std::string_view keyBlob) {
    if (keyBlob.size() < 4) return std::nullopt;
    std::uint32_t len = (std::uint32_t(static_cast<unsigned char>(keyBlob[0])) << 24) |
                        (std::uint32_t(static_cast<unsigned char>(keyBlob[1])) << 16) |
                        (std::uint32_t(static_cast<unsigned char>(keyBlob[2])) << 8) |
                        std::uint32_t(static_cast<unsigned char>(keyBlob[3]));
    if (len == 0 || len > 64 || len > keyBlob.size() - 4) return std::nullopt;
    std::string type(keyBlob.substr(4, len));
    for (char c : type)
        if (c <= ' ' || c > '~') return std::nullopt;
    return type;
}

}  // namespace vs::sftp
