#include "common/file_name.h"

#include "common/temporary_name.h"

namespace vs {

namespace {

constexpr std::size_t kMaxNameBytes = 255;  // the longest file name Linux file systems take

}  // namespace

bool isSafeFileName(std::string_view name) {
    if (name.empty() || name == "." || name == ".." || name.size() > kMaxNameBytes) return false;
    for (char c : name)
        if (c == '/' || c == '\\' || c == '\0' || c == '\r' || c == '\n') return false;
    return true;
}

bool isUsableFileName(std::string_view name) {
    return isSafeFileName(name) && !isTemporaryName(name);
}

}  // namespace vs
