#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "common/runtime_error.h"
#include "common/text.h"
#include "remote/sftp/non_blocking.h"
#include "remote/sftp/paced_upload.h"
#include "remote/sftp/remote_file.h"
#include "remote/sftp/sftp_operations.h"

namespace vs::sftp {

namespace {

// Bytes written but not yet confirmed by the server, and how much new data one turn may put on
// the wire. On a short path more in flight does not help: OpenSSH's server spends measurably
// more time per byte the longer its queue of unprocessed writes is (2 MiB in flight cost it
// twice the CPU of 1 MiB). On a long path the round trip limits what one channel carries, and
// its window (2 MiB for OpenSSH) is the most worth having in flight: beyond it writes only wait.
constexpr std::size_t kWritesInFlight = 1024 * 1024;
constexpr std::size_t kMostWritesInFlight = kMostUnconfirmed;
static_assert(kMostUnconfirmed >= 8 * 1024 * 1024);
constexpr std::size_t kWriteStep = 256 * 1024;
// What libssh2 puts around the data of one write request, at most (a handle has at most 256
// bytes), and the most data it puts in one.
constexpr std::size_t kWriteRequestOverhead = 4 + 1 + 4 + 4 + 256 + 8 + 4;
constexpr std::size_t kLargestWriteRequest = 30000;

using Clock = std::chrono::steady_clock;

// The local file on its way to the server through the open handle: reads the local file as
// confirmations make room, keeping up to its amount written but unconfirmed.
class SegmentWriter {
  public:
    SegmentWriter(SshSession& s, LIBSSH2_SFTP* channel, LIBSSH2_SFTP_HANDLE* handle)
        : s_(s), channel_(channel), file_(s, handle) {}

    // On a long path, as much in flight as the channel's window takes before the first write.
    void start(std::int64_t from, std::int64_t to, bool longPath) {
        readOffset_ = from;
        to_ = to;
        if (longPath)
            inFlight_ = std::clamp<std::size_t>(
                libssh2_channel_window_write_ex(libssh2_sftp_get_channel(channel_), nullptr),
                kWritesInFlight, kMostWritesInFlight);
        buffer_.resize(inFlight_ + 2 * kWriteStep);
        libssh2_sftp_seek64(file_.get(), static_cast<libssh2_uint64_t>(from));
        lastConfirmed_ = Clock::now();
    }
    bool done() const { return endOfFile_ && begin_ == end_; }
    // There is more to read and room to hold it.
    bool wantsData() const { return !endOfFile_ && end_ - begin_ < inFlight_; }
    // When the server last confirmed bytes of this segment (or it started).
    Clock::time_point lastConfirmed() const { return lastConfirmed_; }
    // The server closed this segment's channel: nothing more will be confirmed on it.
    bool channelClosed() const {
        return libssh2_channel_eof(libssh2_sftp_get_channel(channel_)) == 1;
    }
    // Reads on where there is room and `limit` lets it, and hands libssh2 what is not yet
    // confirmed (it sends only what lies beyond what it was given before); the bytes confirmed
    // meanwhile, or libssh2's error (LIBSSH2_ERROR_EAGAIN: nothing confirmed yet).
    ssize_t step(ByteSource& source, BandwidthLimit* limit) {
        if (wantsData() && !(limit && limit->holds())) {
            if (buffer_.size() - end_ < kWriteStep) {
                std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
                end_ -= begin_;
                begin_ = 0;
            }
            // Never beyond the size the file had when it was opened: what a producer appends
            // meanwhile belongs to the next version.
            const std::size_t room = static_cast<std::size_t>(std::min<std::int64_t>(
                std::min(limit ? std::min(kWriteStep, limit->step()) : kWriteStep,
                         buffer_.size() - end_),
                to_ - readOffset_));
            const std::size_t n =
                room == 0 ? 0 : source.readAt(readOffset_, buffer_.data() + end_, room);
            if (limit) limit->spend(static_cast<std::int64_t>(n));
            if (n == 0) {
                endOfFile_ = true;
            } else {
                end_ += n;
                readOffset_ += static_cast<std::int64_t>(n);
            }
        }
        if (begin_ == end_) return 0;
        // Where the channel's window is smaller than a write request, libssh2 puts the request on
        // the wire in pieces; and when the server refuses a write, libssh2 forgets the requests
        // after it, a half-sent one included. The server would then read whatever comes next on
        // the channel (the close, the removal of the partial file) as the rest of that request,
        // and answer nothing more on it. So libssh2 is given new data only as far as the window
        // takes it whole, and only after a call that did not stop halfway (which may not have
        // taken all it was given). With nothing on its way, one request goes in any case.
        if (mayHandMore_) {
            handed_ = std::min(end_ - begin_, handed_ + windowRoom());
            if (handed_ == 0) handed_ = std::min(end_ - begin_, kLargestWriteRequest);
        }
        const ssize_t n = libssh2_sftp_write(file_.get(), buffer_.data() + begin_, handed_);
        mayHandMore_ = n != LIBSSH2_ERROR_EAGAIN;
        if (n > 0) {
            begin_ += static_cast<std::size_t>(n);
            handed_ -= std::min(handed_, static_cast<std::size_t>(n));
            lastConfirmed_ = Clock::now();
        }
        return n;
    }
    // The close goes on the wire without waiting; takeClose() gives the server's answer.
    void sendClose() {
        NonBlocking nonBlocking(s_);
        closeResult_ = libssh2_sftp_close_handle(file_.get());
        if (closeResult_ == LIBSSH2_ERROR_EAGAIN && nonBlocking.partlySent())
            closeResult_ =
                NonBlocking::finish(s_, [&] { return libssh2_sftp_close_handle(file_.get()); });
    }
    int takeClose() {
        if (closeResult_ == LIBSSH2_ERROR_EAGAIN)
            closeResult_ = libssh2_sftp_close_handle(file_.get());
        file_.release();
        return closeResult_;
    }
    // Answers of the server that have arrived on this segment's channel but not been read.
    bool answersWaiting() const {
        unsigned long waiting = 0;
        libssh2_channel_window_read_ex(libssh2_sftp_get_channel(channel_), &waiting, nullptr);
        return waiting > 0;
    }
    RemoteFile& file() { return file_; }
    LIBSSH2_SFTP* channel() const { return channel_; }

  private:
    // New data the channel's window takes now, in whole write requests.
    std::size_t windowRoom() const {
        const std::size_t window =
            libssh2_channel_window_write_ex(libssh2_sftp_get_channel(channel_), nullptr);
        const std::size_t overhead = (window / kLargestWriteRequest + 1) * kWriteRequestOverhead;
        return window > overhead ? window - overhead : 0;
    }

    SshSession& s_;
    LIBSSH2_SFTP* channel_;
    RemoteFile file_;
    std::size_t inFlight_ = kWritesInFlight;
    // buffer_[begin_, end_) holds the bytes not yet confirmed by the server.
    std::vector<char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::size_t handed_ = 0;  // of those, the bytes libssh2 was given
    bool mayHandMore_ = true;
    std::int64_t readOffset_ = 0;
    std::int64_t to_ = 0;
    bool endOfFile_ = false;
    Clock::time_point lastConfirmed_;
    int closeResult_ = LIBSSH2_ERROR_EAGAIN;
};

// After a failed upload: the handle closed, and what was written removed, since a partial copy
// must not pass for the file; unless it is to be kept for a later upload to go on from. Whether
// it was removed.
bool removePartial(SshSession& s, SegmentWriter& writer, const std::string& remotePath, bool keep,
                   EventPoster& p) {
    writer.file().discard();
    if (keep) {
        p.log(" Il file incompleto " + visible(remotePath) +
              " resta sul server per riprendere l'invio");
        return false;
    }
    return removeUploaded(s, remotePath, p);
}

}  // namespace

void sendFile(SshSession& s, ByteSource& source, const std::string& remotePath, UploadStart start,
              RoundTrip& roundTrip, ExtraChannels& channels, BandwidthLimit* limit,
              EventPoster& p) {
    if (goesPaced(start, source.size(), limit))
        return sendPaced(s, source, remotePath, start, roundTrip, channels, p);
    const std::string shown = visible(remotePath);
    const std::string what = "Upload di " + shown;
    const std::int64_t total = source.size();
    const auto asked = Clock::now();
    // Going on from an offset writes into the file there, which holds the bytes before it.
    const unsigned long flags = start.offset > 0
                                    ? LIBSSH2_FXF_WRITE
                                    : LIBSSH2_FXF_WRITE | LIBSSH2_FXF_CREAT | LIBSSH2_FXF_TRUNC;
    LIBSSH2_SFTP_HANDLE* created = libssh2_sftp_open_ex(
        s.sftp(), remotePath.data(), static_cast<unsigned int>(remotePath.size()), flags, 0644,
        LIBSSH2_SFTP_OPENFILE);
    if (!created) throwFailure(s, lastErrno(s), "Impossibile creare il file remoto " + shown);
    roundTrip.note(Clock::now() - asked);
    const bool longPath = roundTrip.atLeast(kLongPath);
    SegmentWriter writer(s, s.sftp(), created);
    writer.start(start.offset, total, longPath);
    std::int64_t position = start.offset;
    LIBSSH2_SFTP_ATTRIBUTES held{};
    try {
        // What ended the turns early, and libssh2's error if there was one.
        bool stopped = false;
        int failedCall = 0;
        {
            // On a long path the turns hand the writer its confirmations and put new data on
            // the wire without waiting; only a turn in which nothing moved waits for the
            // connection. On a short path the writer waits in libssh2.
            std::optional<NonBlocking> nonBlocking;
            if (longPath) nonBlocking.emplace(s);
            const auto stallLimit = std::chrono::seconds(s.timeoutSeconds());
            while (!writer.done()) {
                ssize_t n = p.abortRequested() ? 0 : writer.step(source, limit);
                if (n == LIBSSH2_ERROR_EAGAIN && nonBlocking && nonBlocking->partlySent())
                    n = NonBlocking::finish(s, [&] { return writer.step(source, limit); });
                if (p.abortRequested() || (n < 0 && n != LIBSSH2_ERROR_EAGAIN)) {
                    stopped = true;
                    failedCall = n < 0 && n != LIBSSH2_ERROR_EAGAIN ? static_cast<int>(n) : 0;
                    break;
                }
                if (n > 0) {
                    position += n;
                    if (position < total) p.progress(position, total);
                }
                // The time-out of any request: nothing confirmed for that long, or the channel
                // closed by the server, ends the upload.
                const bool closed = writer.channelClosed();
                if (closed || Clock::now() - writer.lastConfirmed() >= stallLimit) {
                    stopped = true;
                    failedCall = closed ? LIBSSH2_ERROR_CHANNEL_CLOSED : LIBSSH2_ERROR_TIMEOUT;
                    break;
                }
                if (n > 0 || writer.answersWaiting()) continue;
                if (limit && writer.wantsData()) {
                    // Held back by the bandwidth limit: the wait is for the limit, which may let
                    // data go at once. The time-out still runs: a server that is there confirms
                    // what goes out meanwhile, and the limit holds data back for a fiftieth of
                    // a second at a time (a second at 1 KiB/s).
                    keepToLimit(limit, p);
                } else if (nonBlocking) {
                    // In short waits, so that an abort is seen at once.
                    nonBlocking->wait(std::chrono::milliseconds(100));
                }
            }
        }
        if (stopped && p.abortRequested()) throwAborted(s, writer.file(), what, failedCall);
        if (stopped)
            throwFailure(s, failedCall,
                         what + " interrotto dopo " + std::to_string(position) + " byte",
                         writer.channel());
        // What the server holds, asked on the open file once every write was confirmed: a
        // server that acknowledged more than it kept shows it here, before a partner could take
        // the file away. The request goes out with the close, at no round trip of its own; a
        // refusal only means the server cannot tell.
        const auto askHeld = [&] { return libssh2_sftp_fstat_ex(writer.file().get(), &held, 0); };
        int heldRc;
        {
            NonBlocking nonBlocking(s);
            heldRc = askHeld();
            if (heldRc == LIBSSH2_ERROR_EAGAIN && nonBlocking.partlySent())
                heldRc = NonBlocking::finish(s, askHeld);
        }
        // The server's answer to the close is its last word on the data (a full disk may only
        // show here).
        writer.sendClose();
        if (heldRc == LIBSSH2_ERROR_EAGAIN) heldRc = askHeld();
        if (heldRc != 0) {
            held.flags = 0;
            const RuntimeError failure = sftpFailure(s, heldRc, writer.channel());
            if (failure.number() == kErrConnection)
                throw RuntimeError(kErrConnection, what + ": " + failure.description());
        }
        if (int rc = writer.takeClose(); rc != 0)
            throwFailure(s, rc, what + " non confermato dal server", writer.channel());
        if (position != total)
            throw RuntimeError(kErrGeneric,
                               what + ": il file locale si è accorciato durante l'invio");
    } catch (const RuntimeError& e) {
        // Left on the server by a connection that failed meanwhile: the cycle removes it over
        // its next connection.
        if (removePartial(s, writer, remotePath, start.keepPartial, p) || !s.broken() ||
            e.number() == kErrConnection)
            throw;
        throw RuntimeError(kErrConnection, e.description() + "; " + s.brokenReason());
    } catch (...) {
        removePartial(s, writer, remotePath, start.keepPartial, p);
        throw;
    }
    // A server that writes behind may know the size only once the file is closed: before the
    // upload counts as cut short, the path is asked as well.
    if ((held.flags & LIBSSH2_SFTP_ATTR_SIZE) &&
        held.filesize != static_cast<std::uint64_t>(total)) {
        LIBSSH2_SFTP_ATTRIBUTES closed{};
        if (libssh2_sftp_stat_ex(s.sftp(), remotePath.data(),
                                 static_cast<unsigned int>(remotePath.size()), LIBSSH2_SFTP_STAT,
                                 &closed) == 0 &&
            (closed.flags & LIBSSH2_SFTP_ATTR_SIZE))
            held = closed;
    }
    if (held.flags & LIBSSH2_SFTP_ATTR_SIZE) p.post(attributesOf(held));
    p.finished(position);
}

}  // namespace vs::sftp
