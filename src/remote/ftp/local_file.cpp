#include "remote/ftp/local_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace vs::ftp {

PartFile::PartFile(std::string finalPath)
    : finalPath_(std::move(finalPath)), partPath_(finalPath_ + ".part") {}

PartFile::~PartFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_ && !partPath_.empty()) ::unlink(partPath_.c_str());
}

bool PartFile::open() {
    fd_ = ::open(partPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        error_ = errno;
        partPath_.clear();  // not ours: never remove what we could not create
        return false;
    }
    return true;
}

bool PartFile::commit() {
    int fd = fd_;
    fd_ = -1;
    // A failed close can be the only sign that the disk filled up (network file systems).
    if (::close(fd) != 0) {
        error_ = errno;
        return false;
    }
    if (std::rename(partPath_.c_str(), finalPath_.c_str()) != 0) {
        error_ = errno;
        return false;
    }
    committed_ = true;
    return true;
}

}  // namespace vs::ftp
