#include "remote/sftp/sftp_operations.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <vector>

#include "common/runtime_error.h"
#include "common/text.h"
#include "remote/sftp/listing_line.h"

namespace vs::sftp {

namespace {

// libssh2 1.10 keeps up to four times the read buffer in read requests on the way: 4 MiB is
// plenty to keep the line busy, and what an abort must wait for before the handle closes.
constexpr std::size_t kReadBuffer = 1024 * 1024;
// Uploads: bytes written but not yet confirmed by the server, and how much new data one call
// may put on the wire. The step keeps every blocking call short enough for the time-out to
// stay an inactivity time-out on slow lines too. More in flight does not help: OpenSSH's
// server spends measurably more time per byte the longer its queue of unprocessed writes is
// (2 MiB in flight cost it twice the CPU of 1 MiB), and beyond its 2 MiB channel window the
// writes only wait.
constexpr std::size_t kWritesInFlight = 1024 * 1024;
constexpr std::size_t kWriteStep = 256 * 1024;
constexpr std::size_t kSendBuffer = 8 * 1024 * 1024;

int lastErrno(SshSession& s) {
    return libssh2_session_last_errno(s.session());
}

bool connectionLevel(unsigned long status) {
    return status == LIBSSH2_FX_NO_CONNECTION || status == LIBSSH2_FX_CONNECTION_LOST ||
           status == LIBSSH2_FX_OK || status == LIBSSH2_FX_EOF || status == LIBSSH2_FX_BAD_MESSAGE;
}

// For a failed libssh2 call `rc`: the server's refusal in words, or empty when the failure is
// the connection's, in which case the session is marked broken.
std::string refusalOrBreak(SshSession& s, int rc, std::string& connectionReason) {
    if (rc == LIBSSH2_ERROR_SFTP_PROTOCOL) {
        const unsigned long status = libssh2_sftp_last_error(s.sftp());
        if (!connectionLevel(status)) return sftpStatusText(status);
    }
    if (rc == LIBSSH2_ERROR_TIMEOUT || rc == LIBSSH2_ERROR_SOCKET_TIMEOUT)
        connectionReason = "no answer from " + s.where() + " for " +
                           std::to_string(s.timeoutSeconds()) + " seconds";
    else
        connectionReason = "connection to " + s.where() + " lost (" + s.libraryError() + ")";
    s.markBroken(connectionReason);
    return {};
}

// Throws the error that a failed libssh2 call `rc` stands for; `what` says what was being done
// ("Cannot open the remote file /x").
[[noreturn]] void throwFailure(SshSession& s, int rc, const std::string& what) {
    std::string connectionReason;
    const std::string refusal = refusalOrBreak(s, rc, connectionReason);
    if (!refusal.empty()) throw RuntimeError(kErrRemote, what + ": " + refusal);
    throw RuntimeError(kErrConnection, what + ": " + connectionReason);
}

// An SFTP file handle, closed on every path out.
class RemoteFile {
  public:
    RemoteFile(SshSession& session, LIBSSH2_SFTP_HANDLE* handle)
        : session_(session), handle_(handle) {}
    ~RemoteFile() { discard(); }
    RemoteFile(const RemoteFile&) = delete;
    RemoteFile& operator=(const RemoteFile&) = delete;

    explicit operator bool() const { return handle_ != nullptr; }
    LIBSSH2_SFTP_HANDLE* get() const { return handle_; }

    // Closes and returns libssh2's result (the server's answer to the close).
    int close() {
        LIBSSH2_SFTP_HANDLE* handle = handle_;
        handle_ = nullptr;
        return handle ? libssh2_sftp_close_handle(handle) : 0;
    }
    // Closes without caring for the answer; on a broken session not at all, since that would
    // only wait for the time-out again (the session's memory goes with the session).
    void discard() {
        if (handle_ && !session_.broken()) libssh2_sftp_close_handle(handle_);
        handle_ = nullptr;
    }

  private:
    SshSession& session_;
    LIBSSH2_SFTP_HANDLE* handle_;
};

// Ends a transfer the caller aborted. The handle is closed first: that waits for the answers
// to the requests still on their way, and when the server does not give them the caller's
// side cuts the connection, which makes this a connection-level error.
[[noreturn]] void throwAborted(SshSession& s, RemoteFile& file, const std::string& what,
                               int failedCall = 0) {
    if (failedCall < 0) {
        // The abort met a failure of its own (the caller's side cut the connection, or the
        // server fell silent): no closing on a connection that is gone.
        std::string ignored;
        refusalOrBreak(s, failedCall, ignored);
    }
    file.discard();
    if (s.broken())
        throw RuntimeError(kErrConnection, what +
                                               " aborted; the connection was cut because the "
                                               "server did not answer");
    throw RuntimeError(kErrGeneric, what + " aborted");
}

// The download's temporary local file: removed unless renamed into place.
class PartFile {
  public:
    explicit PartFile(std::string path) : path_(std::move(path)) {
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd_ < 0) throw localFileError(errno, "Cannot create the local file " + visible(path_));
    }
    ~PartFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!committed_) ::unlink(path_.c_str());
    }
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    void write(const char* data, std::size_t size) {
        while (size > 0) {
            ssize_t n = ::write(fd_, data, size);
            if (n < 0) {
                if (errno == EINTR) continue;
                throw localFileError(errno, "Cannot write the local file " + visible(path_));
            }
            data += n;
            size -= static_cast<std::size_t>(n);
        }
    }

    void commit(const std::string& finalPath) {
        int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0)
            throw localFileError(errno, "Cannot write the local file " + visible(path_));
        if (::rename(path_.c_str(), finalPath.c_str()) != 0)
            throw localFileError(errno,
                                 "Cannot rename " + visible(path_) + " to " + visible(finalPath));
        committed_ = true;
    }

  private:
    std::string path_;
    int fd_ = -1;
    bool committed_ = false;
};

class LocalSource {
  public:
    explicit LocalSource(const std::string& path) : path_(path) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) throw localFileError(errno, "Cannot open the local file " + visible(path));
        struct stat st {};
        if (::fstat(fd_, &st) != 0) {
            int err = errno;
            ::close(fd_);
            throw localFileError(err, "Cannot read the local file " + visible(path));
        }
        if (S_ISDIR(st.st_mode)) {
            ::close(fd_);
            throw localFileError(EISDIR, "Cannot send the local file " + visible(path));
        }
        size_ = st.st_size;
    }
    ~LocalSource() { ::close(fd_); }
    LocalSource(const LocalSource&) = delete;
    LocalSource& operator=(const LocalSource&) = delete;

    std::int64_t size() const { return size_; }
    std::size_t read(char* into, std::size_t room) {
        for (;;) {
            ssize_t n = ::read(fd_, into, room);
            if (n >= 0) return static_cast<std::size_t>(n);
            if (errno != EINTR)
                throw localFileError(errno, "Cannot read the local file " + visible(path_));
        }
    }

  private:
    std::string path_;
    int fd_ = -1;
    std::int64_t size_ = 0;
};

TimePoint fromSeconds(unsigned long seconds) {
    return std::chrono::system_clock::from_time_t(static_cast<std::time_t>(seconds));
}

}  // namespace

std::string sftpStatusText(unsigned long status) {
    switch (status) {
        case LIBSSH2_FX_OK:
            return "no error";
        case LIBSSH2_FX_EOF:
            return "end of file";
        case LIBSSH2_FX_NO_SUCH_FILE:
            return "no such file";
        case LIBSSH2_FX_PERMISSION_DENIED:
            return "permission denied";
        case LIBSSH2_FX_FAILURE:
            return "failure reported by the server";
        case LIBSSH2_FX_BAD_MESSAGE:
            return "bad message";
        case LIBSSH2_FX_NO_CONNECTION:
            return "no connection";
        case LIBSSH2_FX_CONNECTION_LOST:
            return "connection lost";
        case LIBSSH2_FX_OP_UNSUPPORTED:
            return "operation not supported by the server";
        case LIBSSH2_FX_INVALID_HANDLE:
            return "invalid handle";
        case LIBSSH2_FX_NO_SUCH_PATH:
            return "no such path";
        case LIBSSH2_FX_FILE_ALREADY_EXISTS:
            return "file already exists";
        case LIBSSH2_FX_WRITE_PROTECT:
            return "write protected";
        case LIBSSH2_FX_NO_MEDIA:
            return "no media";
        case LIBSSH2_FX_NO_SPACE_ON_FILESYSTEM:
            return "no space left on the server's disk";
        case LIBSSH2_FX_QUOTA_EXCEEDED:
            return "quota exceeded";
        case LIBSSH2_FX_UNKNOWN_PRINCIPAL:
            return "unknown principal";
        case LIBSSH2_FX_LOCK_CONFLICT:
            return "lock conflict";
        case LIBSSH2_FX_DIR_NOT_EMPTY:
            return "folder not empty";
        case LIBSSH2_FX_NOT_A_DIRECTORY:
            return "not a folder";
        case LIBSSH2_FX_INVALID_FILENAME:
            return "invalid file name";
        case LIBSSH2_FX_LINK_LOOP:
            return "too many symbolic links";
        default:
            return "SFTP status " + std::to_string(status);
    }
}

void listFolder(SshSession& s, const std::string& remoteFolder, EventPoster& p) {
    const std::string shown = visible(remoteFolder);
    RemoteFile folder(s, libssh2_sftp_open_ex(s.sftp(), remoteFolder.data(),
                                              static_cast<unsigned int>(remoteFolder.size()), 0, 0,
                                              LIBSSH2_SFTP_OPENDIR));
    if (!folder) throwFailure(s, lastErrno(s), "Cannot list the remote folder " + shown);

    const std::time_t now = std::time(nullptr);
    std::vector<char> name(64 * 1024);
    std::string batch;
    int linesInBatch = 0;
    int leftOut = 0;
    for (;;) {
        LIBSSH2_SFTP_ATTRIBUTES attrs{};
        int rc =
            libssh2_sftp_readdir_ex(folder.get(), name.data(), name.size(), nullptr, 0, &attrs);
        if (rc == 0) {
            // 0 is both the end of the listing and an entry with an empty name; only an entry
            // comes with attributes.
            if (attrs.flags == 0) break;
            ++leftOut;
            continue;
        }
        if (rc == LIBSSH2_ERROR_BUFFER_TOO_SMALL) {
            ++leftOut;
            continue;
        }
        if (rc < 0) throwFailure(s, rc, "Cannot list the remote folder " + shown);
        const std::string_view entry(name.data(), static_cast<std::size_t>(rc));
        if (!isDeliverableName(entry)) {
            ++leftOut;
            continue;
        }
        EntryAttributes a;
        if (attrs.flags & LIBSSH2_SFTP_ATTR_SIZE) a.size = attrs.filesize;
        if (attrs.flags & LIBSSH2_SFTP_ATTR_UIDGID) {
            a.uid = static_cast<std::uint32_t>(attrs.uid);
            a.gid = static_cast<std::uint32_t>(attrs.gid);
        }
        if (attrs.flags & LIBSSH2_SFTP_ATTR_PERMISSIONS)
            a.permissions = static_cast<std::uint32_t>(attrs.permissions);
        if (attrs.flags & LIBSSH2_SFTP_ATTR_ACMODTIME)
            a.modificationTime = static_cast<std::uint32_t>(attrs.mtime);
        batch += formatListingLine(entry, a, now);
        if (++linesInBatch == kListBatch) {
            p.post(ListItemsEvent{std::move(batch)});
            batch.clear();
            linesInBatch = 0;
        }
    }
    folder.discard();
    if (linesInBatch > 0) p.post(ListItemsEvent{std::move(batch)});
    if (leftOut > 0)
        p.log(" " + std::to_string(leftOut) + (leftOut == 1 ? " entry" : " entries") +
              " of the remote folder " + shown +
              " left out of the listing: names with / \\ NUL CR or LF cannot be handled");
}

void readAttributes(SshSession& s, const std::string& remotePath, EventPoster& p) {
    LIBSSH2_SFTP_ATTRIBUTES attrs{};
    int rc = libssh2_sftp_stat_ex(s.sftp(), remotePath.data(),
                                  static_cast<unsigned int>(remotePath.size()), LIBSSH2_SFTP_STAT,
                                  &attrs);
    if (rc != 0)
        throwFailure(s, rc, "Cannot read the attributes of the remote file " + visible(remotePath));
    AttributesEvent e;
    if (attrs.flags & LIBSSH2_SFTP_ATTR_SIZE) e.size = static_cast<std::int64_t>(attrs.filesize);
    if (attrs.flags & LIBSSH2_SFTP_ATTR_UIDGID) {
        e.uid = static_cast<std::uint32_t>(attrs.uid);
        e.gid = static_cast<std::uint32_t>(attrs.gid);
    }
    if (attrs.flags & LIBSSH2_SFTP_ATTR_PERMISSIONS)
        e.permissions = static_cast<std::uint32_t>(attrs.permissions);
    if (attrs.flags & LIBSSH2_SFTP_ATTR_ACMODTIME) {
        e.accessTime = fromSeconds(attrs.atime);
        e.modificationTime = fromSeconds(attrs.mtime);
    }
    p.post(std::move(e));
}

void fetchFile(SshSession& s, const std::string& localPath, const std::string& remotePath,
               EventPoster& p) {
    const std::string shown = visible(remotePath);
    RemoteFile file(s, libssh2_sftp_open_ex(s.sftp(), remotePath.data(),
                                            static_cast<unsigned int>(remotePath.size()),
                                            LIBSSH2_FXF_READ, 0, LIBSSH2_SFTP_OPENFILE));
    if (!file) throwFailure(s, lastErrno(s), "Cannot open the remote file " + shown);
    LIBSSH2_SFTP_ATTRIBUTES attrs{};
    if (int rc = libssh2_sftp_fstat_ex(file.get(), &attrs, 0); rc != 0)
        throwFailure(s, rc, "Cannot read the size of the remote file " + shown);
    const std::int64_t total =
        (attrs.flags & LIBSSH2_SFTP_ATTR_SIZE) ? static_cast<std::int64_t>(attrs.filesize) : 0;

    PartFile part(localPath + ".part");
    std::vector<char> buffer(kReadBuffer);
    std::int64_t position = 0;
    for (;;) {
        if (p.abortRequested()) throwAborted(s, file, "Download of " + shown);
        ssize_t n = libssh2_sftp_read(file.get(), buffer.data(), buffer.size());
        if (n == 0) break;
        if (n < 0) {
            if (p.abortRequested())
                throwAborted(s, file, "Download of " + shown, static_cast<int>(n));
            throwFailure(
                s, static_cast<int>(n),
                "Download of " + shown + " failed after " + std::to_string(position) + " bytes");
        }
        part.write(buffer.data(), static_cast<std::size_t>(n));
        position += n;
        // Position == Total belongs to the closing event alone; a file that grows while it is
        // read is taken as far as it reaches, its progress resuming with the closing event.
        if (position < total) p.progress(position, total);
    }
    // The data are all here; what the server answers to closing a read handle changes nothing.
    file.discard();
    part.commit(localPath);
    if (position < total)
        p.log(" The remote file " + shown + " shrank while it was downloaded: " +
              std::to_string(position) + " of " + std::to_string(total) + " bytes received");
    p.finished(position);
}

void sendFile(SshSession& s, const std::string& localPath, const std::string& remotePath,
              EventPoster& p) {
    const std::string shown = visible(remotePath);
    LocalSource source(localPath);
    const std::int64_t total = source.size();
    RemoteFile file(
        s, libssh2_sftp_open_ex(s.sftp(), remotePath.data(),
                                static_cast<unsigned int>(remotePath.size()),
                                LIBSSH2_FXF_WRITE | LIBSSH2_FXF_CREAT | LIBSSH2_FXF_TRUNC, 0644,
                                LIBSSH2_SFTP_OPENFILE));
    if (!file) throwFailure(s, lastErrno(s), "Cannot create the remote file " + shown);

    std::int64_t position = 0;
    try {
        // buffer[begin, end) holds the bytes not yet confirmed by the server; libssh2 has
        // already sent those it was given before and sends only what lies beyond them.
        std::vector<char> buffer(kSendBuffer);
        std::size_t begin = 0;
        std::size_t end = 0;
        bool endOfFile = false;
        for (;;) {
            if (p.abortRequested()) throwAborted(s, file, "Upload of " + shown);
            if (!endOfFile && end - begin < kWritesInFlight) {
                if (buffer.size() - end < kWriteStep) {
                    std::memmove(buffer.data(), buffer.data() + begin, end - begin);
                    end -= begin;
                    begin = 0;
                }
                std::size_t n =
                    source.read(buffer.data() + end, std::min(kWriteStep, buffer.size() - end));
                if (n == 0)
                    endOfFile = true;
                else
                    end += n;
            }
            if (begin == end) {
                if (endOfFile) break;
                continue;
            }
            ssize_t n = libssh2_sftp_write(file.get(), buffer.data() + begin, end - begin);
            if (n < 0) {
                if (p.abortRequested())
                    throwAborted(s, file, "Upload of " + shown, static_cast<int>(n));
                throwFailure(
                    s, static_cast<int>(n),
                    "Upload of " + shown + " failed after " + std::to_string(position) + " bytes");
            }
            begin += static_cast<std::size_t>(n);
            position += n;
            if (n > 0 && position < total) p.progress(position, total);
        }
        // The server's answer to the close is its last word on the data (a full disk may only
        // show here).
        if (int rc = file.close(); rc != 0)
            throwFailure(s, rc, "Upload of " + shown + " not confirmed by the server");
    } catch (...) {
        file.discard();
        // A partial copy must not pass for the file on the server.
        if (s.usable())
            libssh2_sftp_unlink_ex(s.sftp(), remotePath.data(),
                                   static_cast<unsigned int>(remotePath.size()));
        throw;
    }
    p.finished(position);
}

void removeFile(SshSession& s, const std::string& remotePath, EventPoster&) {
    int rc = libssh2_sftp_unlink_ex(s.sftp(), remotePath.data(),
                                    static_cast<unsigned int>(remotePath.size()));
    if (rc != 0) throwFailure(s, rc, "Cannot remove the remote file " + visible(remotePath));
}

}  // namespace vs::sftp
