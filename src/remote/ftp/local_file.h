#pragma once

#include <string>

namespace vs::ftp {

// The local side of a download: written as "<path>.part" and renamed to its own name only
// when complete, so that a half file never stands under the real name. Removed on
// destruction unless committed.
class PartFile {
  public:
    explicit PartFile(std::string finalPath);
    ~PartFile();
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    bool open();    // false with error() set
    bool commit();  // closes and renames; false with error() set
    int fd() const { return fd_; }
    int error() const { return error_; }
    const std::string& path() const { return partPath_; }

  private:
    std::string finalPath_;
    std::string partPath_;
    int fd_ = -1;
    int error_ = 0;
    bool committed_ = false;
};

}  // namespace vs::ftp
