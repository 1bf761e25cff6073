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
#include "remote/left_out_line.h"
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
        connectionReason = "nessuna risposta da " + s.where() + " per " +
                           std::to_string(s.timeoutSeconds()) + " secondi";
    else
        connectionReason = "connessione con " + s.where() + " persa (" + s.libraryError() + ")";
    s.markBroken(connectionReason);
    return {};
}

// Throws the error that a failed libssh2 call `rc` stands for; `what` says what was being done
// ("Impossibile aprire il file remoto /x").
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
                                               " interrotto; connessione chiusa perché il server "
                                               "non rispondeva");
    throw RuntimeError(kErrAborted, what + " interrotto");
}

// Reads `room` bytes of the local file at `offset` (fewer at its end).
std::size_t readLocal(int fd, std::int64_t offset, char* into, std::size_t room) {
    for (;;) {
        ssize_t n = ::pread(fd, into, room, offset);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) throw localFileError(errno, "Lettura del file locale da inviare");
    }
}

void writeLocal(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw localFileError(errno, "Scrittura del file scaricato");
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

TimePoint fromSeconds(unsigned long seconds) {
    return std::chrono::system_clock::from_time_t(static_cast<std::time_t>(seconds));
}

}  // namespace

std::string sftpStatusText(unsigned long status) {
    switch (status) {
        case LIBSSH2_FX_OK:
            return "nessun errore";
        case LIBSSH2_FX_EOF:
            return "fine del file";
        case LIBSSH2_FX_NO_SUCH_FILE:
            return "file inesistente";
        case LIBSSH2_FX_PERMISSION_DENIED:
            return "permesso negato";
        case LIBSSH2_FX_FAILURE:
            return "errore segnalato dal server";
        case LIBSSH2_FX_BAD_MESSAGE:
            return "messaggio non valido";
        case LIBSSH2_FX_NO_CONNECTION:
            return "nessuna connessione";
        case LIBSSH2_FX_CONNECTION_LOST:
            return "connessione persa";
        case LIBSSH2_FX_OP_UNSUPPORTED:
            return "operazione non supportata dal server";
        case LIBSSH2_FX_INVALID_HANDLE:
            return "handle non valido";
        case LIBSSH2_FX_NO_SUCH_PATH:
            return "percorso inesistente";
        case LIBSSH2_FX_FILE_ALREADY_EXISTS:
            return "il file esiste già";
        case LIBSSH2_FX_WRITE_PROTECT:
            return "protetto da scrittura";
        case LIBSSH2_FX_NO_MEDIA:
            return "supporto assente";
        case LIBSSH2_FX_NO_SPACE_ON_FILESYSTEM:
            return "disco del server pieno";
        case LIBSSH2_FX_QUOTA_EXCEEDED:
            return "quota superata";
        case LIBSSH2_FX_UNKNOWN_PRINCIPAL:
            return "utente sconosciuto";
        case LIBSSH2_FX_LOCK_CONFLICT:
            return "conflitto di blocco";
        case LIBSSH2_FX_DIR_NOT_EMPTY:
            return "cartella non vuota";
        case LIBSSH2_FX_NOT_A_DIRECTORY:
            return "non è una cartella";
        case LIBSSH2_FX_INVALID_FILENAME:
            return "nome di file non valido";
        case LIBSSH2_FX_LINK_LOOP:
            return "troppi collegamenti simbolici";
        default:
            return "stato SFTP " + std::to_string(status);
    }
}

void listFolder(SshSession& s, const std::string& remoteFolder, EventPoster& p) {
    const std::string shown = visible(remoteFolder);
    RemoteFile folder(s, libssh2_sftp_open_ex(s.sftp(), remoteFolder.data(),
                                              static_cast<unsigned int>(remoteFolder.size()), 0, 0,
                                              LIBSSH2_SFTP_OPENDIR));
    if (!folder) throwFailure(s, lastErrno(s), "Impossibile elencare la cartella remota " + shown);

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
        if (rc < 0) throwFailure(s, rc, "Impossibile elencare la cartella remota " + shown);
        const std::string_view entry(name.data(), static_cast<std::size_t>(rc));
        if (entry == "." || entry == "..") continue;
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
    if (leftOut > 0) p.log(leftOutLine(leftOut, remoteFolder));
}

void readAttributes(SshSession& s, const std::string& remotePath, EventPoster& p) {
    LIBSSH2_SFTP_ATTRIBUTES attrs{};
    int rc = libssh2_sftp_stat_ex(s.sftp(), remotePath.data(),
                                  static_cast<unsigned int>(remotePath.size()), LIBSSH2_SFTP_STAT,
                                  &attrs);
    if (rc != 0)
        throwFailure(s, rc,
                     "Impossibile leggere gli attributi del file remoto " + visible(remotePath));
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

std::int64_t fetchFile(SshSession& s, int fd, const std::string& remotePath, EventPoster& p) {
    const std::string shown = visible(remotePath);
    RemoteFile file(s, libssh2_sftp_open_ex(s.sftp(), remotePath.data(),
                                            static_cast<unsigned int>(remotePath.size()),
                                            LIBSSH2_FXF_READ, 0, LIBSSH2_SFTP_OPENFILE));
    if (!file) throwFailure(s, lastErrno(s), "Impossibile aprire il file remoto " + shown);
    LIBSSH2_SFTP_ATTRIBUTES attrs{};
    if (int rc = libssh2_sftp_fstat_ex(file.get(), &attrs, 0); rc != 0)
        throwFailure(s, rc, "Impossibile leggere la dimensione del file remoto " + shown);
    const std::int64_t total =
        (attrs.flags & LIBSSH2_SFTP_ATTR_SIZE) ? static_cast<std::int64_t>(attrs.filesize) : 0;

    std::vector<char> buffer(kReadBuffer);
    std::int64_t position = 0;
    for (;;) {
        if (p.abortRequested()) throwAborted(s, file, "Download di " + shown);
        ssize_t n = libssh2_sftp_read(file.get(), buffer.data(), buffer.size());
        if (n == 0) break;
        if (n < 0) {
            if (p.abortRequested())
                throwAborted(s, file, "Download di " + shown, static_cast<int>(n));
            throwFailure(
                s, static_cast<int>(n),
                "Download di " + shown + " interrotto dopo " + std::to_string(position) + " byte");
        }
        writeLocal(fd, buffer.data(), static_cast<std::size_t>(n));
        position += n;
        // Position == Total belongs to the closing event alone; a file that grows while it is
        // read is taken as far as it reaches, its progress resuming with the closing event.
        if (position < total) p.progress(position, total);
    }
    // The data are all here; what the server answers to closing a read handle changes nothing.
    file.discard();
    p.finished(position);
    return position;
}

void sendFile(SshSession& s, int fd, std::int64_t total, const std::string& remotePath,
              EventPoster& p) {
    const std::string shown = visible(remotePath);
    RemoteFile file(
        s, libssh2_sftp_open_ex(s.sftp(), remotePath.data(),
                                static_cast<unsigned int>(remotePath.size()),
                                LIBSSH2_FXF_WRITE | LIBSSH2_FXF_CREAT | LIBSSH2_FXF_TRUNC, 0644,
                                LIBSSH2_SFTP_OPENFILE));
    if (!file) throwFailure(s, lastErrno(s), "Impossibile creare il file remoto " + shown);

    std::int64_t position = 0;
    std::int64_t readOffset = 0;
    try {
        // buffer[begin, end) holds the bytes not yet confirmed by the server; libssh2 has
        // already sent those it was given before and sends only what lies beyond them.
        std::vector<char> buffer(kSendBuffer);
        std::size_t begin = 0;
        std::size_t end = 0;
        bool endOfFile = false;
        for (;;) {
            if (p.abortRequested()) throwAborted(s, file, "Upload di " + shown);
            if (!endOfFile && end - begin < kWritesInFlight) {
                if (buffer.size() - end < kWriteStep) {
                    std::memmove(buffer.data(), buffer.data() + begin, end - begin);
                    end -= begin;
                    begin = 0;
                }
                // Never more than the size the file had when it was opened: what a producer
                // appends meanwhile belongs to the next version.
                const std::size_t room = static_cast<std::size_t>(std::min<std::int64_t>(
                    std::min(kWriteStep, buffer.size() - end), total - readOffset));
                std::size_t n =
                    room == 0 ? 0 : readLocal(fd, readOffset, buffer.data() + end, room);
                if (n == 0) {
                    endOfFile = true;
                } else {
                    end += n;
                    readOffset += static_cast<std::int64_t>(n);
                }
            }
            if (begin == end) {
                if (endOfFile) break;
                continue;
            }
            ssize_t n = libssh2_sftp_write(file.get(), buffer.data() + begin, end - begin);
            if (n < 0) {
                if (p.abortRequested())
                    throwAborted(s, file, "Upload di " + shown, static_cast<int>(n));
                throwFailure(s, static_cast<int>(n),
                             "Upload di " + shown + " interrotto dopo " + std::to_string(position) +
                                 " byte");
            }
            begin += static_cast<std::size_t>(n);
            position += n;
            if (n > 0 && position < total) p.progress(position, total);
        }
        // The server's answer to the close is its last word on the data (a full disk may only
        // show here).
        if (int rc = file.close(); rc != 0)
            throwFailure(s, rc, "Upload di " + shown + " non confermato dal server");
        if (position != total)
            throw RuntimeError(kErrGeneric, "Upload di " + shown +
                                                ": il file locale si è accorciato durante l'invio");
    } catch (...) {
        file.discard();
        // A partial copy must not pass for the file on the server.
        const bool removed =
            s.usable() && libssh2_sftp_unlink_ex(s.sftp(), remotePath.data(),
                                                 static_cast<unsigned int>(remotePath.size())) == 0;
        p.log(removed ? " Rimosso dal server il file incompleto " + shown
                      : " Il file incompleto " + shown + " potrebbe essere rimasto sul server");
        throw;
    }
    p.finished(position);
}

void removeFile(SshSession& s, const std::string& remotePath, EventPoster&) {
    int rc = libssh2_sftp_unlink_ex(s.sftp(), remotePath.data(),
                                    static_cast<unsigned int>(remotePath.size()));
    if (rc != 0)
        throwFailure(s, rc, "Impossibile cancellare il file remoto " + visible(remotePath));
}

void renameFile(SshSession& s, const std::string& from, const std::string& to, EventPoster&) {
    const auto rename = [&] {
        return libssh2_sftp_rename_ex(s.sftp(), from.data(), static_cast<unsigned int>(from.size()),
                                      to.data(), static_cast<unsigned int>(to.size()),
                                      LIBSSH2_SFTP_RENAME_OVERWRITE | LIBSSH2_SFTP_RENAME_ATOMIC |
                                          LIBSSH2_SFTP_RENAME_NATIVE);
    };
    int rc = rename();
    if (rc == LIBSSH2_ERROR_SFTP_PROTOCOL) {
        // Servers of the protocol's version 3 never replace a file by renaming: the old
        // version goes first.
        libssh2_sftp_unlink_ex(s.sftp(), to.data(), static_cast<unsigned int>(to.size()));
        rc = rename();
    }
    if (rc != 0)
        throwFailure(
            s, rc, "Impossibile rinominare il file remoto " + visible(from) + " in " + visible(to));
}

}  // namespace vs::sftp
