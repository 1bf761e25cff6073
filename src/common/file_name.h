#pragma once

#include <string_view>

namespace vs {

// The one test for a name that comes from outside (a server's listing, a local folder): false
// for a name that could escape the folder it is used in (".", "..", a separator), forge a log
// line or a protocol command (CR, LF, NUL), or not fit a local file name (over 255 bytes).
// Sessions deliver such names to no one.
bool isSafeFileName(std::string_view name);
// A safe name that does not pass for one of our own temporary files either: the names the
// cycle may transfer. Temporary names reach the cycle only to have stale ones removed.
bool isUsableFileName(std::string_view name);

}  // namespace vs
