#pragma once

#include <string_view>

namespace vs {

// A remote name that is never listed: one that could escape the staging or the local folder
// (".", "..", a separator), one with a line break or NUL that could forge a log line or a
// protocol command, or one longer than any local file name can be.
bool unsafeRemoteName(std::string_view name);

}  // namespace vs
