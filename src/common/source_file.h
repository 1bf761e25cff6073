#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "common/byte_stream.h"

namespace vs {

// What tells one version of a file from another.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    long modifiedNanoseconds = 0;
    bool operator==(const FileIdentity&) const = default;
};

// A local file the program sends: opened once, never through a link, regular files only, and
// sent from that open file. Before the file is backed up or deleted, change() tells whether the
// path still names this very file as it was when opened. Throws RuntimeError when it cannot be
// opened.
class SourceFile final : public ByteSource {
  public:
    explicit SourceFile(std::string path);
    ~SourceFile() override;
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    int fd() const { return fd_; }
    std::int64_t size() const override { return opened_.size; }
    std::size_t readAt(std::int64_t offset, char* into, std::size_t room) override;
    const FileIdentity& identity() const { return opened_; }
    const std::string& path() const { return path_; }

    // Whether another process holds the file open for writing. Linux tells through a read
    // lease, which it refuses while a writer has the file open. Unknown: the lease cannot be
    // had at all (not the file's owner and no CAP_LEASE, a file system without leases);
    // `reason` then gets the error number.
    enum class Writers { None, Some, Unknown };
    Writers writers(int* reason = nullptr) const;
    const FileIdentity& opened() const { return opened_; }

    enum class Change {
        None,      // the path names the file as it was opened
        Replaced,  // the path is gone or names another file; what was opened is intact
        Modified,  // what was opened changed meanwhile: what was read may mix two versions
    };
    Change change() const;

    // What the path names now, without following a link; empty when nothing is there.
    static std::optional<FileIdentity> at(const std::string& path);

  private:
    std::string path_;
    int fd_ = -1;
    FileIdentity opened_;
};

}  // namespace vs
