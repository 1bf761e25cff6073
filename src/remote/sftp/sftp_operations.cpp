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
#include "remote/sftp/non_blocking.h"

namespace vs::sftp {

namespace {

// libssh2 1.10 keeps up to four times the read buffer in read requests on the way, at most
// 8 MiB with a 2 MiB buffer: what keeps a long line busy, and what an abort must wait for
// before the handle closes.
constexpr std::int64_t kReadBuffer = 2 * 1024 * 1024;
constexpr std::int64_t kReadAhead = 4 * kReadBuffer;
// Uploads: bytes written but not yet confirmed by the server, and how much new data one call
// may put on the wire. The step keeps every blocking call short enough for the time-out to
// stay an inactivity time-out on slow lines too. On a short path more in flight does not help:
// OpenSSH's server spends measurably more time per byte the longer its queue of unprocessed
// writes is (2 MiB in flight cost it twice the CPU of 1 MiB). On a long path the round trip
// limits what one file's writes can carry, and the server's channel window (2 MiB for OpenSSH)
// is the most worth having in flight: beyond it the writes only wait.
constexpr std::size_t kWritesInFlight = 1024 * 1024;
constexpr std::size_t kMostWritesInFlight = 8 * 1024 * 1024;
constexpr std::size_t kWriteStep = 256 * 1024;
// From here on the path, not the server's CPU, limits an upload: 1 MiB per round trip is
// 200 MB/s at 5 ms, more than the encryption alone leaves.
constexpr auto kLongPath = std::chrono::milliseconds(5);

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
    // Hands the open handle over to the caller.
    LIBSSH2_SFTP_HANDLE* release() {
        LIBSSH2_SFTP_HANDLE* handle = handle_;
        handle_ = nullptr;
        return handle;
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

AttributesEvent attributesEvent(const LIBSSH2_SFTP_ATTRIBUTES& attrs) {
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
    return e;
}

// The buffer size that makes libssh2 1.10's read ask for the bytes up to `end` and none
// beyond: it keeps requests for four times the size it is given ahead of what it returned, so
// a quarter of what is still to come asks for exactly that (`end` is a multiple of four).
// Without an end, the full read-ahead.
std::size_t readSize(std::int64_t end, std::int64_t position) {
    if (end < 0) return static_cast<std::size_t>(kReadBuffer);
    return static_cast<std::size_t>(std::clamp<std::int64_t>((end - position) / 4, 1, kReadBuffer));
}

// The attributes of an open file. When all the read requests for a file go out at once, the
// request for its attributes follows them in the same flight: the server answers it after it
// served the reads, so it describes what was read, at no round trip of its own. An answer on
// its way must be taken before the handle closes: libssh2 would hand it to the next request
// of its kind.
class HandleAttributes {
  public:
    HandleAttributes(SshSession& s, LIBSSH2_SFTP_HANDLE* handle) : s_(s), handle_(handle) {}
    ~HandleAttributes() { settle(); }
    HandleAttributes(const HandleAttributes&) = delete;
    HandleAttributes& operator=(const HandleAttributes&) = delete;

    // Puts the request on the wire behind those sent before, without waiting for the answer.
    void ask() {
        asked_ = true;
        bool partly;
        {
            NonBlocking nonBlocking(s_);
            rc_ = libssh2_sftp_fstat_ex(handle_, &attrs_, 0);
            partly = rc_ == LIBSSH2_ERROR_EAGAIN && nonBlocking.partlySent();
        }
        if (partly) settle();
    }
    // 0 once the attributes are here (asked now if they were not yet), or libssh2's error.
    int take() {
        if (!asked_) {
            asked_ = true;
            rc_ = libssh2_sftp_fstat_ex(handle_, &attrs_, 0);
        }
        settle();
        return rc_;
    }
    // Waits for an answer still on its way, unless the connection is gone.
    void settle() {
        if (rc_ == LIBSSH2_ERROR_EAGAIN && !s_.broken())
            rc_ = libssh2_sftp_fstat_ex(handle_, &attrs_, 0);
    }
    const LIBSSH2_SFTP_ATTRIBUTES& attributes() const { return attrs_; }

  private:
    SshSession& s_;
    LIBSSH2_SFTP_HANDLE* handle_;
    LIBSSH2_SFTP_ATTRIBUTES attrs_{};
    bool asked_ = false;
    int rc_ = 0;
};

// Bytes of an upload to keep written but unconfirmed, by the length of the path.
std::size_t writesInFlight(SshSession& s, const RoundTrip& roundTrip) {
    if (!roundTrip.atLeast(kLongPath)) return kWritesInFlight;
    unsigned long window = 0;
    libssh2_channel_window_write_ex(libssh2_sftp_get_channel(s.sftp()), &window);
    return std::clamp<std::size_t>(window, kWritesInFlight, kMostWritesInFlight);
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
    p.post(attributesEvent(attrs));
}

std::int64_t fetchFile(SshSession& s, int fd, const std::string& remotePath,
                       std::optional<std::int64_t> expectedSize, PendingClose& openFile,
                       EventPoster& p) {
    const std::string shown = visible(remotePath);
    const std::string what = "Download di " + shown;
    RemoteFile file(s, libssh2_sftp_open_ex(s.sftp(), remotePath.data(),
                                            static_cast<unsigned int>(remotePath.size()),
                                            LIBSSH2_FXF_READ, 0, LIBSSH2_SFTP_OPENFILE));
    if (!file) throwFailure(s, lastErrno(s), "Impossibile aprire il file remoto " + shown);

    // What was described is what is fetched: the reads stop once that many bytes are here, and
    // a file that grew or changed meanwhile shows in its attributes, asked after the last read.
    const std::int64_t total = expectedSize.value_or(0);
    const std::int64_t end = expectedSize ? (*expectedSize + 3) / 4 * 4 : -1;
    std::vector<char> buffer(readSize(end, 0));
    HandleAttributes attributes(s, file.get());
    bool allAsked = false;  // read requests up to the end are all on the wire
    bool dataLeft = false;  // libssh2 may hold part of an answer that did not fit the buffer
    std::int64_t position = 0;
    while (!expectedSize || position < *expectedSize) {
        if (p.abortRequested()) {
            attributes.settle();
            throwAborted(s, file, what);
        }
        const std::size_t size = readSize(end, position);
        // The read that asks for the rest of the file (for a small file, the first one) puts
        // its requests on the wire and returns without waiting, so that the attributes follow
        // them in the same flight. A read that hands out held data asks for nothing.
        const bool asksTheRest = !allAsked && !dataLeft && end >= 0 && end - position <= kReadAhead;
        ssize_t n = LIBSSH2_ERROR_EAGAIN;
        if (asksTheRest) {
            bool partly;
            {
                NonBlocking nonBlocking(s);
                n = libssh2_sftp_read(file.get(), buffer.data(), size);
                partly = n == LIBSSH2_ERROR_EAGAIN && nonBlocking.partlySent();
            }
            if (n >= 0 || (n == LIBSSH2_ERROR_EAGAIN && !partly)) {
                allAsked = true;
                attributes.ask();
            }
        }
        if (n == LIBSSH2_ERROR_EAGAIN) n = libssh2_sftp_read(file.get(), buffer.data(), size);
        if (n == 0) break;  // the end of a file shorter than described, or of one of no size
        if (n < 0) {
            const int rc = static_cast<int>(n);
            if (p.abortRequested()) {
                std::string ignored;
                refusalOrBreak(s, rc, ignored);
                attributes.settle();
                throwAborted(s, file, what);
            }
            throwFailure(s, rc, what + " interrotto dopo " + std::to_string(position) + " byte");
        }
        dataLeft = static_cast<std::size_t>(n) == size;
        writeLocal(fd, buffer.data(), static_cast<std::size_t>(n));
        position += n;
        // Position == Total belongs to the closing event alone.
        if (position < total) p.progress(position, total);
    }
    if (int rc = attributes.take(); rc != 0)
        throwFailure(s, rc, "Impossibile leggere gli attributi del file remoto " + shown);
    p.post(attributesEvent(attributes.attributes()));
    openFile.hold(s, file.release());
    p.finished(position);
    return position;
}

void sendFile(SshSession& s, int fd, std::int64_t total, const std::string& remotePath,
              RoundTrip& roundTrip, EventPoster& p) {
    const std::string shown = visible(remotePath);
    const auto asked = std::chrono::steady_clock::now();
    RemoteFile file(
        s, libssh2_sftp_open_ex(s.sftp(), remotePath.data(),
                                static_cast<unsigned int>(remotePath.size()),
                                LIBSSH2_FXF_WRITE | LIBSSH2_FXF_CREAT | LIBSSH2_FXF_TRUNC, 0644,
                                LIBSSH2_SFTP_OPENFILE));
    if (!file) throwFailure(s, lastErrno(s), "Impossibile creare il file remoto " + shown);
    roundTrip.note(std::chrono::steady_clock::now() - asked);
    const std::size_t inFlight = writesInFlight(s, roundTrip);

    std::int64_t position = 0;
    std::int64_t readOffset = 0;
    try {
        // buffer[begin, end) holds the bytes not yet confirmed by the server; libssh2 has
        // already sent those it was given before and sends only what lies beyond them.
        std::vector<char> buffer(inFlight + 2 * kWriteStep);
        std::size_t begin = 0;
        std::size_t end = 0;
        bool endOfFile = false;
        for (;;) {
            if (p.abortRequested()) throwAborted(s, file, "Upload di " + shown);
            if (!endOfFile && end - begin < inFlight) {
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
