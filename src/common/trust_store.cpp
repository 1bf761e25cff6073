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
    // A store the operator links to a shared file stays linked: the file it names is replaced.
    std::error_code ec;
    std::filesystem::path target = std::filesystem::canonical(path_, ec);
    if (ec) target = path_;
    unsigned mode = 0600;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        // Replacing goes through the folder, which would get past a file made read-only.
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
            throw localFileError(errno, "Scrittura di " + visible(path_.string()));
        mode = st.st_mode & 07777;
    }
    writeWholeFile(target, content, mode);
}

}  // namespace vs
