#include "common/whole_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace vs {

std::optional<std::string> readWholeFile(const std::filesystem::path& path,
                                         std::error_code& error) {
    error.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) error.assign(errno, std::generic_category());
        return std::nullopt;
    }
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) error.assign(errno, std::generic_category());
        if (n <= 0) break;
        content.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    if (error) return std::nullopt;
    return content;
}

}  // namespace vs
