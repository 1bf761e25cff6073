#include "common/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
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

std::error_code writeWholeFile(const std::filesystem::path& path, std::string_view content,
                               unsigned mode) {
    const std::filesystem::path folder =
        path.parent_path().empty() ? std::filesystem::path(".") : path.parent_path();
    std::string temp = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return {errno, std::generic_category()};
    int err = ::fchmod(fd, static_cast<mode_t>(mode)) == 0 ? 0 : errno;
    for (std::size_t done = 0; err == 0 && done < content.size();) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            err = n < 0 ? errno : EIO;
        else
            done += static_cast<std::size_t>(n);
    }
    if (err == 0 && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0) err = errno;
    if (err != 0) ::unlink(temp.c_str());
    return {err, std::generic_category()};
}

}  // namespace vs
