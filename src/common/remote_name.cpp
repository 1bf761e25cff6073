#include "common/remote_name.h"

namespace vs {

namespace {
constexpr std::size_t kMaxNameBytes = 255;  // the longest file name Linux file systems take
}

bool unsafeRemoteName(std::string_view name) {
    if (name.empty() || name == "." || name == ".." || name.size() > kMaxNameBytes) return true;
    for (char c : name)
        if (c == '/' || c == '\\' || c == '\0' || c == '\r' || c == '\n') return true;
    return false;
}

}  // namespace vs
