#include "common/trust_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "common/runtime_error.h"
#include "common/text.h"
#include "common/whole_file.h"

namespace vs {

std::vector<std::string> TrustStore::lines() const {
    std::vector<std::string> lines;
    if (const std::optional<std::string> content = readWholeFile(path_))
        for (std::string_view line : splitLines(*content)) lines.emplace_back(line);
    return lines;
}

void TrustStore::record(const std::string& line,
                        const std::function<bool(std::string_view)>& replaces) const {
    std::string content;
    for (const std::string& kept : lines()) {
        if (replaces && replaces(kept)) continue;
        content += kept + "\n";
    }
    content += line + "\n";
    unsigned mode = 0600;
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0) {
        // Replacing goes through the folder, which would get past a file made read-only.
        if (::faccessat(AT_FDCWD, path_.c_str(), W_OK, AT_EACCESS) != 0)
            throw localFileError(errno, "Scrittura di " + visible(path_.string()));
        mode = st.st_mode & 07777;
    }
    writeWholeFile(path_, content, mode);
}

}  // namespace vs
