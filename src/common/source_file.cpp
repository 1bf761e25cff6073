#include "common/source_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/runtime_error.h"
#include "common/text.h"

namespace vs {

namespace {

FileIdentity identityOf(const struct stat& st) {
    return {st.st_dev, st.st_ino, static_cast<std::int64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec};
}

}  // namespace

SourceFile::SourceFile(std::string path) : path_(std::move(path)) {
    const std::string what = "Apertura di " + visible(path_);
    // O_NONBLOCK: a FIFO put in the file's place must not hold the cycle; O_NOFOLLOW: a link
    // put there is refused instead of sending whatever it points to.
    fd_ = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) throw localFileError(errno == ELOOP ? EPERM : errno, what);
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        const int err = errno;
        ::close(fd_);
        throw localFileError(err, what);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd_);
        throw RuntimeError(kErrPermissionDenied, what + ": non è un file ordinario");
    }
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    opened_ = identityOf(st);
}

SourceFile::~SourceFile() {
    if (fd_ >= 0) ::close(fd_);
}

std::size_t SourceFile::readAt(std::int64_t offset, char* into, std::size_t room) {
    for (;;) {
        const ssize_t n = ::pread(fd_, into, room, offset);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) throw localFileError(errno, "Lettura del file locale da inviare");
    }
}

SourceFile::Writers SourceFile::writers(int* reason) const {
    if (::fcntl(fd_, F_SETLEASE, F_RDLCK) == 0) {
        // Given back at once: a lease held during the transfer would bring a signal when
        // someone opens the file meanwhile.
        ::fcntl(fd_, F_SETLEASE, F_UNLCK);
        return Writers::None;
    }
    if (errno == EAGAIN || errno == EBUSY) return Writers::Some;
    if (reason) *reason = errno;
    return Writers::Unknown;
}

std::optional<FileIdentity> SourceFile::at(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    return identityOf(st);
}

SourceFile::Change SourceFile::change() const {
    struct stat now {};
    if (::fstat(fd_, &now) != 0 || !(identityOf(now) == opened_)) return Change::Modified;
    struct stat there {};
    if (::lstat(path_.c_str(), &there) != 0 || !(identityOf(there) == opened_))
        return Change::Replaced;
    return Change::None;
}

}  // namespace vs
