#include "remote/sftp/sftp_operations.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

#include "common/runtime_error.h"
#include "common/text.h"
#include "remote/sftp/listed_entry.h"
#include "remote/sftp/non_blocking.h"
#include "remote/sftp/remote_file.h"

namespace vs::sftp {

namespace {

// libssh2 1.10 keeps up to four times the read buffer in read requests on the way, at most
// 8 MiB with a 2 MiB buffer: what keeps a long line busy, and what an abort must wait for
// before the handle closes.
constexpr std::int64_t kReadBuffer = 2 * 1024 * 1024;

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
// Without an end, the full read-ahead. Never more than `most`.
std::size_t readSize(std::int64_t end, std::int64_t position, std::int64_t most) {
    if (end < 0) return static_cast<std::size_t>(most);
    return static_cast<std::size_t>(std::clamp<std::int64_t>((end - position) / 4, 1, most));
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
    // Reads go on after the attributes were asked: they are asked again after the last one.
    void askAgain() {
        settle();
        asked_ = false;
        rc_ = 0;
    }
    const LIBSSH2_SFTP_ATTRIBUTES& attributes() const { return attrs_; }

  private:
    SshSession& s_;
    LIBSSH2_SFTP_HANDLE* handle_;
    LIBSSH2_SFTP_ATTRIBUTES attrs_{};
    bool asked_ = false;
    int rc_ = 0;
};

// A server answered a read with fewer bytes than asked for while more reads were on their way.
// libssh2 1.10 and 1.11 then refuse the answers that follow (they no longer begin where the data
// ends), and drop what they had already put in the caller's buffer.
bool shortReadMet(SshSession& s, ssize_t rc) {
    if (rc != LIBSSH2_ERROR_SFTP_PROTOCOL) return false;
    char* message = nullptr;
    int length = 0;
    libssh2_session_last_error(s.session(), &message, &length, 0);
    return message && std::string_view(message, static_cast<std::size_t>(std::max(length, 0))) ==
                          "Read Packet At Unexpected Offset";
}

// After a short read, the first read asks for this little in one request (libssh2 asks for four
// times the buffer): its answer, however short, reaches the caller, so every retry moves on, and
// an end it reports is the file's.
constexpr std::size_t kOneSmallRead = 1024;
// The buffer after a short read: the answers to the reads ahead of a short one are thrown away,
// so fewer go ahead of the next. It doubles back to the full size with every read that follows.
constexpr std::int64_t kBufferAfterShortRead = 32 * 1024;

}  // namespace

AttributesEvent attributesOf(const LIBSSH2_SFTP_ATTRIBUTES& attrs) {
    return attributesEvent(attrs);
}

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

    std::vector<char> name(64 * 1024);
    RemoteListing batch;
    const auto post = [&] {
        p.post(ListItemsEvent{std::move(batch)});
        batch = {};
    };
    for (;;) {
        LIBSSH2_SFTP_ATTRIBUTES attrs{};
        int rc =
            libssh2_sftp_readdir_ex(folder.get(), name.data(), name.size(), nullptr, 0, &attrs);
        if (rc == LIBSSH2_ERROR_BUFFER_TOO_SMALL) {
            ++batch.unreadable;
            continue;
        }
        if (rc < 0) throwFailure(s, rc, "Impossibile elencare la cartella remota " + shown);
        // 0 is both the end of the listing and an entry with an empty name; only an entry
        // comes with attributes.
        if (rc == 0 && attrs.flags == 0) break;
        const std::string_view entry(name.data(), static_cast<std::size_t>(rc));
        if (entry == "." || entry == "..") continue;
        EntryAttributes a;
        if (attrs.flags & LIBSSH2_SFTP_ATTR_SIZE) a.size = attrs.filesize;
        if (attrs.flags & LIBSSH2_SFTP_ATTR_PERMISSIONS)
            a.permissions = static_cast<std::uint32_t>(attrs.permissions);
        if (attrs.flags & LIBSSH2_SFTP_ATTR_ACMODTIME)
            a.modificationTime = static_cast<std::uint32_t>(attrs.mtime);
        batch.entries.push_back(listedEntry(entry, a));
        if (std::ssize(batch.entries) == kListBatch) post();
    }
    folder.discard();
    if (!batch.entries.empty() || batch.unreadable > 0) post();
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

void keepToLimit(BandwidthLimit* limit, const EventPoster& p) {
    if (!limit) return;
    // In short sleeps, so that an abort is seen at once.
    for (auto wait = limit->wait(); wait > wait.zero() && !p.abortRequested(); wait = limit->wait())
        std::this_thread::sleep_for(std::min<decltype(wait)>(wait, std::chrono::milliseconds(20)));
}

std::int64_t fetchFile(SshSession& s, ByteSink& into, const std::string& remotePath,
                       std::optional<std::int64_t> expectedSize, std::int64_t from,
                       PendingClose& openFile, BandwidthLimit* limit, EventPoster& p) {
    const std::string shown = visible(remotePath);
    const std::string what = "Download di " + shown;
    const auto asked = std::chrono::steady_clock::now();
    RemoteFile file(s, libssh2_sftp_open_ex(s.sftp(), remotePath.data(),
                                            static_cast<unsigned int>(remotePath.size()),
                                            LIBSSH2_FXF_READ, 0, LIBSSH2_SFTP_OPENFILE));
    if (!file) throwFailure(s, lastErrno(s), "Impossibile aprire il file remoto " + shown);
    const std::chrono::duration<double> roundTrip = std::chrono::steady_clock::now() - asked;
    if (from > 0) libssh2_sftp_seek64(file.get(), static_cast<libssh2_uint64_t>(from));

    // What was described is what is fetched: the reads stop once that many bytes are here, and
    // a file that grew or changed meanwhile shows in its attributes, asked after the last read.
    const std::int64_t total = expectedSize.value_or(0);
    const std::int64_t end = expectedSize ? (*expectedSize + 3) / 4 * 4 : -1;
    // Under a bandwidth limit the reads ask for little at a time, so that what is on its way
    // follows what the limit lets through: a step, or on a long path half a round trip's worth
    // at the limit (the four reads' worth asked ahead then cover two round trips, and the
    // limit, not the path, sets the pace).
    const std::int64_t readBuffer =
        limit ? std::clamp(static_cast<std::int64_t>(static_cast<double>(limit->bytesPerSecond()) *
                                                     roundTrip.count() / 2),
                           static_cast<std::int64_t>(limit->step()), kReadBuffer)
              : kReadBuffer;
    std::vector<char> buffer(readSize(end, from, readBuffer));
    HandleAttributes attributes(s, file.get());
    bool allAsked = false;  // read requests up to the end are all on the wire
    bool dataLeft = false;  // libssh2 may hold part of an answer that did not fit the buffer
    // The next read is one small request from the last byte written (see kOneSmallRead).
    bool oneSmallRead = false;
    std::int64_t bufferCap = readBuffer;
    std::int64_t position = from;
    while (!expectedSize || position < *expectedSize) {
        if (p.abortRequested()) {
            attributes.settle();
            throwAborted(s, file, what);
        }
        keepToLimit(limit, p);
        const std::size_t fitting = readSize(end, position, bufferCap);
        const std::size_t size = oneSmallRead ? std::min(kOneSmallRead, fitting * 4) : fitting;
        // The read that asks for the rest of the file (for a small file, the first one) puts
        // its requests on the wire and returns without waiting, so that the attributes follow
        // them in the same flight. A read that hands out held data asks for nothing.
        const bool asksTheRest =
            !allAsked && !dataLeft && !oneSmallRead && end >= 0 && end - position <= 4 * bufferCap;
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
        if (n == 0 && oneSmallRead) break;  // the end, for certain
        if (n == 0 || shortReadMet(s, n)) {
            // After a short answer everything from the last byte written on is asked again;
            // the requests on their way are forgotten, and so are their answers when they
            // come. The end of a file shorter than described, or of one of no size, is asked
            // again too: after a short answer libssh2 takes the end from the answer to a read
            // further ahead, and bytes in between would be left out.
            attributes.askAgain();
            libssh2_sftp_seek64(file.get(), static_cast<libssh2_uint64_t>(position));
            allAsked = dataLeft = false;
            oneSmallRead = true;
            if (n != 0) bufferCap = std::min(kBufferAfterShortRead, readBuffer);
            continue;
        }
        oneSmallRead = false;
        if (n < 0) {
            const int rc = static_cast<int>(n);
            if (p.abortRequested()) {
                sftpFailure(s, rc);  // a lost connection marks the session broken
                attributes.settle();
                throwAborted(s, file, what);
            }
            throwFailure(s, rc, what + " interrotto dopo " + std::to_string(position) + " byte");
        }
        dataLeft = static_cast<std::size_t>(n) == size;
        bufferCap = std::min(2 * bufferCap, readBuffer);
        if (limit) limit->spend(n);
        into.write(buffer.data(), static_cast<std::size_t>(n));
        position += n;
        // Position == Total belongs to the closing event alone.
        if (position < total) p.progress(position, total);
    }
    if (int rc = attributes.take(); rc != 0)
        throwFailure(s, rc, "Impossibile leggere gli attributi del file remoto " + shown);
    p.post(attributesEvent(attributes.attributes()));
    openFile.hold(s, file.release());
    p.finished(position);
    return position - from;
}

void setModified(SshSession& s, const std::string& remotePath, TimePoint modified, EventPoster&) {
    LIBSSH2_SFTP_ATTRIBUTES attrs{};
    attrs.flags = LIBSSH2_SFTP_ATTR_ACMODTIME;
    attrs.atime = attrs.mtime =
        static_cast<unsigned long>(std::chrono::system_clock::to_time_t(modified));
    int rc = libssh2_sftp_stat_ex(s.sftp(), remotePath.data(),
                                  static_cast<unsigned int>(remotePath.size()),
                                  LIBSSH2_SFTP_SETSTAT, &attrs);
    if (rc != 0)
        throwFailure(s, rc, "Impossibile impostare la data del file remoto " + visible(remotePath));
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
