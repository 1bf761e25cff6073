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
// On a long path a large upload goes in segments through this many channels at most, one
// segment each. A channel joins by taking over half of what another has still to read, when
// that is at least this much, twice as much while the channel is still to be opened: opening
// it costs three round trips (once a session), in which the first channel sends on. Four, not
// two: each channel carries at most its window per round trip (2 MiB for OpenSSH), and a 256 MiB
// upload took 30 % less time with four at 50 and 100 ms; with three the halving leaves one
// segment twice as long as the others, which then ends alone.
constexpr std::size_t kUploadChannels = 4;
constexpr std::int64_t kWorthAChannel = 8 * 1024 * 1024;
// How a lost channel is named in the failure line: the segment's place in the upload.
constexpr const char* kChannelNames[kUploadChannels] = {"primo", "secondo", "terzo", "quarto"};
// What libssh2 puts around the data of one write request, at most (a handle has at most 256
// bytes), and the most data it puts in one.
constexpr std::size_t kWriteRequestOverhead = 4 + 1 + 4 + 4 + 256 + 8 + 4;
constexpr std::size_t kLargestWriteRequest = 30000;

using Clock = std::chrono::steady_clock;

// One range of the local file on its way to the server through one open handle: reads the
// local file as confirmations make room, keeping up to its amount written but unconfirmed.
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
    std::int64_t unread() const { return to_ - readOffset_; }
    // When the server last confirmed bytes of this segment (or it started).
    Clock::time_point lastConfirmed() const { return lastConfirmed_; }
    // The server closed this segment's channel: nothing more will be confirmed on it.
    bool channelClosed() const {
        return libssh2_channel_eof(libssh2_sftp_get_channel(channel_)) == 1;
    }
    // Leaves the second half of what it has still to read to another segment: that range.
    std::pair<std::int64_t, std::int64_t> halve() {
        const std::int64_t at = readOffset_ + unread() / 2;
        const std::int64_t end = to_;
        to_ = at;
        return {at, end};
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

// A channel on its way to carrying a segment: the channel is opened first (once a session),
// then the file on it, each step without waiting for the server. The file exists already, so
// it is opened without truncating.
class Joiner {
  public:
    Joiner(SshSession& s, ExtraChannels& channels, const std::string& remotePath)
        : s_(s), channels_(channels), remotePath_(remotePath) {}
    ~Joiner() { settle(); }
    Joiner(const Joiner&) = delete;
    Joiner& operator=(const Joiner&) = delete;

    // Moves on (libssh2 in non-blocking mode): the open handle once there is one; null while
    // on its way, and for good once failed().
    LIBSSH2_SFTP_HANDLE* advance(std::size_t index) {
        if (channels_.lost()) {
            failed_ = true;
            return nullptr;
        }
        if (!channel_) {
            if (index >= channels_.open().size() && !channels_.openOneMore(s_)) {
                failed_ = channels_.refused();
                return nullptr;
            }
            if (index >= channels_.open().size()) return nullptr;
            channel_ = channels_.open()[index];
        }
        LIBSSH2_SFTP_HANDLE* handle = open();
        opening_ = !handle && lastErrno(s_) == LIBSSH2_ERROR_EAGAIN;
        if (opening_ && NonBlocking::partlySent(s_)) {
            handle = NonBlocking::finish(s_, [&] { return open(); });
            opening_ = false;
        }
        failed_ = !handle && !opening_;
        if (handle) {
            joined_ = channel_;
            channel_ = nullptr;
        }
        return handle;
    }
    bool failed() const { return failed_; }
    // The file's open was sent on a channel and not yet answered.
    bool opening() const { return opening_; }
    // Joining has begun: a channel is being opened or the file on it.
    bool underway() const { return channel_ || opening_ || channels_.opening(); }
    bool hasChannel(std::size_t index) const { return index < channels_.open().size(); }
    // The channel of the handle advance() gave last.
    LIBSSH2_SFTP* joined() const { return joined_; }

  private:
    LIBSSH2_SFTP_HANDLE* open() {
        return libssh2_sftp_open_ex(channel_, remotePath_.data(),
                                    static_cast<unsigned int>(remotePath_.size()),
                                    LIBSSH2_FXF_WRITE, 0, LIBSSH2_SFTP_OPENFILE);
    }
    // An open on its way when the upload ends is not left behind: libssh2 would hand its answer
    // to the channel's next open.
    void settle() {
        if (!opening_) return;
        if (s_.usable()) {
            if (LIBSSH2_SFTP_HANDLE* late = open()) libssh2_sftp_close_handle(late);
        } else {
            channels_.forget(channel_);
        }
        opening_ = false;
    }

    SshSession& s_;
    ExtraChannels& channels_;
    const std::string& remotePath_;
    LIBSSH2_SFTP* channel_ = nullptr;
    LIBSSH2_SFTP* joined_ = nullptr;
    bool opening_ = false;
    bool failed_ = false;
};

// Sends the byte held back to the end, through the first segment's handle once every other
// byte is confirmed; how many bytes it confirmed.
std::int64_t sendLastByte(SshSession& s, ByteSource& source, std::int64_t total,
                          SegmentWriter& writer, const std::string& what) {
    char last = 0;
    if (source.readAt(total - 1, &last, 1) == 0) return 0;  // the file shrank: said below
    libssh2_sftp_seek64(writer.file().get(), static_cast<libssh2_uint64_t>(total - 1));
    const ssize_t n = libssh2_sftp_write(writer.file().get(), &last, 1);
    if (n != 1)
        throwFailure(s, static_cast<int>(n),
                     what + " interrotto dopo " + std::to_string(total - 1) + " byte",
                     writer.channel());
    return 1;
}

// After a failed upload: every handle closed (but on a channel given up), and what was written
// removed, since a partial copy must not pass for the file; unless it is to be kept for a later
// upload to go on from. Whether it was removed.
bool removePartial(SshSession& s, const std::vector<std::unique_ptr<SegmentWriter>>& writers,
                   const std::string& remotePath, bool keep, EventPoster& p) {
    for (const auto& w : writers) w->file().discard();
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
    // Segments write out of order: a cut would leave holes, which a resumed upload cannot see.
    const std::size_t mostWriters = start.keepPartial ? 1 : kUploadChannels;

    std::vector<std::unique_ptr<SegmentWriter>> writers;
    writers.push_back(std::make_unique<SegmentWriter>(s, s.sftp(), created));
    writers.front()->start(start.offset, total, longPath);
    std::int64_t position = start.offset;
    LIBSSH2_SFTP_ATTRIBUTES held{};
    // Segments written side by side give the file its full size while bytes before are still
    // on their way: a program killed then would leave what looks like the whole file, with a
    // gap of zeros. So the last byte waits until every other one is confirmed, and the file
    // reaches its full size only complete.
    bool lastByteHeld = false;
    try {
        Joiner joiner(s, channels, remotePath);
        // What ended the turns early: the writer, and libssh2's error if there was one; or, on
        // a channel of its own, the channel itself.
        SegmentWriter* stoppedOn = nullptr;
        int failedCall = 0;
        std::string channelLost;
        {
            // On a long path the segments take turns without waiting on any one of them: a
            // turn hands each its confirmations and puts its new data on the wire. Only a turn
            // in which none moved waits for the connection. On a short path the one segment
            // waits in libssh2.
            std::optional<NonBlocking> nonBlocking;
            if (longPath) nonBlocking.emplace(s);
            const auto stallLimit = std::chrono::seconds(s.timeoutSeconds());
            for (;;) {
                bool left = false;
                bool moved = false;
                for (const auto& w : writers) {
                    if (w->done()) continue;
                    left = true;
                    ssize_t n = p.abortRequested() ? 0 : w->step(source, limit);
                    if (n == LIBSSH2_ERROR_EAGAIN && nonBlocking && nonBlocking->partlySent())
                        n = NonBlocking::finish(s, [&] { return w->step(source, limit); });
                    if (p.abortRequested() || (n < 0 && n != LIBSSH2_ERROR_EAGAIN)) {
                        stoppedOn = w.get();
                        failedCall = n < 0 && n != LIBSSH2_ERROR_EAGAIN ? static_cast<int>(n) : 0;
                        break;
                    }
                    if (n <= 0) continue;
                    moved = true;
                    position += n;
                    if (position < total) p.progress(position, total);
                }
                // A file open on its way joins even when everything is sent: its answer must
                // not be left behind, and its close goes together with the others.
                if ((!left && !joiner.opening()) || stoppedOn) break;
                // One more channel, while the others would still have enough to share with it.
                const auto largest = std::max_element(
                    writers.begin(), writers.end(),
                    [](const auto& a, const auto& b) { return a->unread() < b->unread(); });
                const std::size_t index = writers.size() - 1;
                const std::int64_t worth =
                    joiner.hasChannel(index) ? kWorthAChannel : 2 * kWorthAChannel;
                if (longPath && writers.size() < mostWriters && !joiner.failed() &&
                    (joiner.underway() || (*largest)->unread() >= worth)) {
                    if (LIBSSH2_SFTP_HANDLE* handle = joiner.advance(index)) {
                        auto [from, to] = (*largest)->halve();
                        if (to == total) {
                            --to;
                            lastByteHeld = true;
                        }
                        writers.push_back(
                            std::make_unique<SegmentWriter>(s, joiner.joined(), handle));
                        writers.back()->start(from, to, longPath);
                    }
                }
                // Each channel has the time-out of any request: one that confirmed nothing for
                // that long, or that the server closed, ends the upload. Another channel still
                // moving does not make up for it.
                const auto now = Clock::now();
                for (const auto& w : writers) {
                    if (w->done()) continue;
                    const bool closed = w->channelClosed();
                    if (!closed && now - w->lastConfirmed() < stallLimit) continue;
                    stoppedOn = w.get();
                    failedCall = closed ? LIBSSH2_ERROR_CHANNEL_CLOSED : LIBSSH2_ERROR_TIMEOUT;
                    if (w->channel() != s.sftp()) {
                        const std::string channel =
                            kChannelNames[&w - writers.data()] + std::string(" canale SFTP");
                        channelLost = closed ? "il server ha chiuso il " + channel
                                             : "il " + channel + " non risponde da " +
                                                   std::to_string(s.timeoutSeconds()) + " secondi";
                    }
                    break;
                }
                if (stoppedOn) break;
                // Not while answers that arrived for one channel meanwhile wait to be read.
                if (moved || std::any_of(writers.begin(), writers.end(), [](const auto& w) {
                        return !w->done() && w->answersWaiting();
                    }))
                    continue;
                if (limit && std::any_of(writers.begin(), writers.end(),
                                         [](const auto& w) { return w->wantsData(); })) {
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
        if (stoppedOn && p.abortRequested()) throwAborted(s, stoppedOn->file(), what, failedCall);
        const std::string cut = what + " interrotto dopo " + std::to_string(position) + " byte";
        if (!channelLost.empty()) {
            // Nothing more is sent on that channel, nor its handle closed (that would only
            // wait); large uploads go through the session's own channel alone from now on.
            channels.lose(stoppedOn->channel());
            stoppedOn->file().release();
            throw RuntimeError(kErrRemote, cut + ": " + channelLost +
                                               "; d'ora in poi gli invii usano un solo canale");
        }
        if (stoppedOn) throwFailure(s, failedCall, cut, stoppedOn->channel());
        if (lastByteHeld) position += sendLastByte(s, source, total, *writers.front(), what);
        // What the server holds, asked on the open file once every write was confirmed: a
        // server that acknowledged more than it kept shows it here, before a partner could take
        // the file away. The request goes out with the closes, at no round trip of its own; a
        // refusal only means the server cannot tell.
        const auto askHeld = [&] {
            return libssh2_sftp_fstat_ex(writers.front()->file().get(), &held, 0);
        };
        int heldRc;
        {
            NonBlocking nonBlocking(s);
            heldRc = askHeld();
            if (heldRc == LIBSSH2_ERROR_EAGAIN && nonBlocking.partlySent())
                heldRc = NonBlocking::finish(s, askHeld);
        }
        // The server's answers to the closes are its last word on the data (a full disk may
        // only show here).
        for (const auto& w : writers) w->sendClose();
        if (heldRc == LIBSSH2_ERROR_EAGAIN) heldRc = askHeld();
        if (heldRc != 0) {
            held.flags = 0;
            const RuntimeError failure = sftpFailure(s, heldRc, writers.front()->channel());
            if (failure.number() == kErrConnection)
                throw RuntimeError(kErrConnection, what + ": " + failure.description());
        }
        for (const auto& w : writers)
            if (int rc = w->takeClose(); rc != 0)
                throwFailure(s, rc, what + " non confermato dal server", w->channel());
        if (position != total)
            throw RuntimeError(kErrGeneric,
                               what + ": il file locale si è accorciato durante l'invio");
    } catch (const RuntimeError& e) {
        // Left on the server by a connection that failed meanwhile: the cycle removes it over
        // its next connection.
        if (removePartial(s, writers, remotePath, start.keepPartial, p) || !s.broken() ||
            e.number() == kErrConnection)
            throw;
        throw RuntimeError(kErrConnection, e.description() + "; " + s.brokenReason());
    } catch (...) {
        removePartial(s, writers, remotePath, start.keepPartial, p);
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
