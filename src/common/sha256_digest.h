#pragma once

#include <string>
#include <string_view>

namespace vs {

// The 32-byte SHA-256 digest of `bytes` (OpenSSL's), for fingerprints and certificate pins.
std::string sha256(std::string_view bytes);

}  // namespace vs
