#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vs::ftp {

// True when the text holds CR, LF or NUL: such a name would end an FTP command line early
// and smuggle a second command to the server, so it is refused before anything is sent.
bool breaksCommandLine(std::string_view s);

// The absolute remote path that `path` names when the session stands in `current` (itself
// absolute). "." and ".." are resolved by text, repeated "/" collapsed; the result has no
// "/" at the end except for the root itself.
std::string resolveRemotePath(std::string_view current, std::string_view path);

// Host text as it may stand in a URL: a name, an IPv4 address or an IPv6 address (given bare
// or in brackets). Nothing when the text is none of these (blanks, "@", "/", "?", ...).
std::optional<std::string> urlHost(std::string_view host);

// ftp:// URL of an absolute remote path. Every byte outside the unreserved set is
// percent-encoded, the leading "/" included (as %2F), so that the server sees exactly the
// absolute path: blanks, "#", "%", "?" and ";type=" in names reach it as they are.
// A folder URL ends with "/".
std::string remoteUrl(const std::string& urlHostText, int port, std::string_view absolutePath,
                      bool folder);

}  // namespace vs::ftp
