#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vs {

// The whole content of a small local file (settings, known hosts, certificate pins, a private
// key). Nothing when there is no file; RuntimeError (local file numbers, "<path>: <reason>")
// when there is one that cannot be read.
std::optional<std::string> readWholeFile(const std::filesystem::path& path);

// Replaces the whole file with `content` through a NewFile in its folder (a hidden temporary of
// ours, which the start-up clean-up knows, given `mode`, flushed, renamed over the target, the
// folder synced). Readers see the old file or the new one, never half of one; on failure the
// target is unchanged, nothing is left beside it, and NewFile's RuntimeError is thrown.
void writeWholeFile(const std::filesystem::path& path, std::string_view content, unsigned mode);

}  // namespace vs
