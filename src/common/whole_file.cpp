#include "common/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/new_file.h"
#include "common/runtime_error.h"
#include "common/text.h"

namespace vs {

std::optional<std::string> readWholeFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return std::nullopt;
        throw localFileError(errno, visible(path.string()));
    }
    std::string content;
    char buffer[65536];
    int err = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) err = errno;
        if (n <= 0) break;
        content.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    if (err != 0) throw localFileError(err, visible(path.string()));
    return content;
}

void writeWholeFile(const std::filesystem::path& path, std::string_view content, unsigned mode) {
    NewFile file(path.parent_path().empty() ? std::filesystem::path(".") : path.parent_path());
    if (::fchmod(file.fd(), static_cast<mode_t>(mode)) != 0)
        throw localFileError(errno, "Scrittura di " + visible(path.string()));
    file.write(content.data(), content.size());
    file.commit(path.filename().string());
}

}  // namespace vs
