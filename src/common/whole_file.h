#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

namespace vs {

// The whole content of a small local file (settings, known hosts, known certificates).
// Nothing when it cannot be read: `error` is then set, except for a missing file, which
// leaves it clear so that callers can treat it as an empty one.
std::optional<std::string> readWholeFile(const std::filesystem::path& path, std::error_code& error);

}  // namespace vs
