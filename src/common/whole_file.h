#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace vs {

// The whole content of a small local file (settings, known hosts, known certificates).
// Nothing when it cannot be read: `error` is then set, except for a missing file, which
// leaves it clear so that callers can treat it as an empty one.
std::optional<std::string> readWholeFile(const std::filesystem::path& path, std::error_code& error);

// Replaces the whole file with `content`: written beside it under a name of its own (created
// exclusively, never through an existing name; hidden, and not ending like the target, so that
// nothing reading the folder takes it for a real file), given `mode`, flushed to the disk and
// renamed over the target. Readers see the old file or the new one, never half of one; on
// failure the target is unchanged and nothing is left beside it.
std::error_code writeWholeFile(const std::filesystem::path& path, std::string_view content,
                               unsigned mode);

}  // namespace vs
