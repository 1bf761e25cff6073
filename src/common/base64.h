#pragma once

#include <optional>
#include <string>
#include <string_view>

// Base64 as RFC 4648 writes it (known_hosts keys, fingerprints, certificate pins, key files),
// done by OpenSSL.
namespace vs {

// `pad` false leaves out the trailing "=", as ssh-keygen's fingerprints do.
std::string base64Encode(std::string_view bytes, bool pad = true);
// Nothing when the text is not base64; the padding may be left out, blanks and line ends may
// not appear anywhere.
std::optional<std::string> base64Decode(std::string_view text);

}  // namespace vs
