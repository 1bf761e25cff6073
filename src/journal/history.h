#pragma once

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

namespace vs {

// --history: the journal's rows whose remote or local path contains `text` (all rows without
// it), newest first, one line each, the columns separated by tabs in the table's order:
// finished, job, direction, remote_path, local_path, size, modified, sha256, resumed_from,
// outcome, detail. Text from outside is escaped like the log's. A journal that does not exist
// yet is said on `err`. Returns the process's exit code.
int printHistory(const std::filesystem::path& journal, const std::optional<std::string>& text,
                 std::FILE* out, std::FILE* err);

}  // namespace vs
