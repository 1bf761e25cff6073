#include "remote/sftp/paced_upload.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "common/runtime_error.h"
#include "common/text.h"
#include "remote/sftp/channel_opener.h"
#include "remote/sftp/non_blocking.h"
#include "remote/sftp/remote_file.h"
#include "remote/sftp/request_channel.h"
#include "remote/sftp/sftp_packets.h"

namespace vs::sftp {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int64_t kPacedFrom = 8 * 1024 * 1024;
// The data of one write request: what OpenSSH's server handles best, and libssh2's size too.
constexpr std::size_t kChunk = 30000;
// What one channel carries on a long path. OpenSSH's server hands the data of a channel to its
// SFTP server 64 KiB at a time; from about 25 MB/s a channel the data waiting for it grows.
constexpr double kChannelRate = 20e6;
// On a short path the servers' CPU, not the path, limits an upload: one channel, with as much
// in flight as keeps the server busy (more only lengthens its queue).
constexpr std::int64_t kShortPathInFlight = 1024 * 1024;
// Channels at most, one more for each this much to send: opening one takes two round trips,
// in which the others carry on. Six, not four: a 32 MiB upload at 50 ms took 6 % less time
// (each channel joins a round trip after the one before it, and carries 1 MB a round trip).
constexpr std::size_t kMostChannels = 6;
constexpr std::int64_t kPerChannel = 4 * 1024 * 1024;
// A channel that runs out of data takes over half of what another has left, down to this.
constexpr std::int64_t kLeastTakenOver = 1024 * 1024;
// The ids of this program's requests, far above libssh2's (which count up from where its channel
// began): on the session's channel answers may still come to requests libssh2 gave up on, the
// reads of an aborted download, and those are let go as libssh2 itself would.
constexpr std::uint32_t kFirstId = 0x80000000;
// A channel that answered nothing for the time-out (libssh2's errors are negative).
constexpr int kSilent = 1;
// How a channel is named in a failure line: its place in the upload.
constexpr const char* kChannelNames[kMostChannels] = {"primo",  "secondo", "terzo",
                                                      "quarto", "quinto",  "sesto"};

// One channel of the upload: the file open on it, the range of the file it writes, and its
// requests not yet answered.
struct Lane {
    std::unique_ptr<ChannelOpener> opener;  // while the channel itself is being opened
    std::optional<RequestChannel> channel;
    bool own = false;  // the session's channel
    bool awaitsVersion = false;
    std::string handle;
    std::uint32_t openId = 0;
    std::uint32_t fstatId = 0;
    std::uint32_t closeId = 0;
    bool openAnswered = false;
    bool closeAnswered = false;
    std::int64_t next = 0;
    std::int64_t end = 0;
    std::map<std::uint32_t, std::int64_t> unconfirmed;  // write requests: id, bytes
    std::int64_t inFlight = 0;
    Clock::time_point due;
    Clock::time_point lastAnswer;
    bool windowFull = false;  // the next request waits for the server to open the window
    bool lost = false;

    bool pending() const {
        return awaitsVersion || (openId && !openAnswered) || !unconfirmed.empty() || fstatId ||
               (closeId && !closeAnswered);
    }
    bool writable() const { return !handle.empty() && !closeId && !lost; }
};

class PacedUpload {
  public:
    PacedUpload(SshSession& s, ByteSource& source, const std::string& remotePath, UploadStart start,
                RoundTrip& roundTrip, ExtraChannels& channels, EventPoster& p)
        : s_(s),
          roundTrip_(roundTrip),
          source_(source),
          path_(remotePath),
          start_(start),
          channels_(channels),
          p_(p),
          what_("Upload di " + visible(remotePath)),
          total_(source.size()),
          held_(std::min<std::int64_t>(kChunk, total_ - start.offset)),
          confirmed_(start.offset),
          unassigned_{start.offset, total_ - held_},
          stallLimit_(std::chrono::seconds(s.timeoutSeconds())) {}

    void run() {
        try {
            {
                NonBlocking nonBlocking(s_);
                begin();
                transfer();
            }
            finishUp();
        } catch (const RuntimeError& e) {
            windDown();
            // An upload whose file never opened left nothing (and a file already there that it
            // could not open is not ours to remove). Left on the server by a connection that
            // failed meanwhile: the cycle removes it over its next connection.
            if (!created_) throw;
            const bool removed = removeUploaded(s_, path_, p_);
            if (e.number() == kErrAborted && s_.broken())
                throw RuntimeError(kErrConnection,
                                   what_ +
                                       " interrotto; connessione chiusa perché il server "
                                       "non rispondeva");
            if (removed || !s_.broken() || e.number() == kErrConnection) throw;
            throw RuntimeError(kErrConnection, e.description() + "; " + s_.brokenReason());
        } catch (...) {
            windDown();
            if (created_) removeUploaded(s_, path_, p_);
            throw;
        }
        if (heldAttributes_ && (heldAttributes_->flags & LIBSSH2_SFTP_ATTR_SIZE) &&
            heldAttributes_->filesize != static_cast<std::uint64_t>(total_)) {
            // A server that writes behind may know the size only once the file is closed.
            LIBSSH2_SFTP_ATTRIBUTES closed{};
            if (libssh2_sftp_stat_ex(s_.sftp(), path_.data(),
                                     static_cast<unsigned int>(path_.size()), LIBSSH2_SFTP_STAT,
                                     &closed) == 0 &&
                (closed.flags & LIBSSH2_SFTP_ATTR_SIZE))
                heldAttributes_ = closed;
        }
        if (heldAttributes_ && (heldAttributes_->flags & LIBSSH2_SFTP_ATTR_SIZE))
            p_.post(attributesOf(*heldAttributes_));
        p_.finished(total_);
    }

  private:
    // The file opened on the session's channel (created, unless written on from an offset),
    // and, when the session began like a long path, the other channels on their way at once.
    void begin() {
        const auto now = Clock::now();
        Lane& own = addLane();
        own.own = true;
        own.channel.emplace(s_, libssh2_sftp_get_channel(s_.sftp()));
        openFile(own, start_.offset > 0
                          ? LIBSSH2_FXF_WRITE
                          : LIBSSH2_FXF_WRITE | LIBSSH2_FXF_CREAT | LIBSSH2_FXF_TRUNC);
        asked_ = now;
        wanted_ = std::min<std::size_t>(
            kMostChannels, 1 + static_cast<std::size_t>((total_ - start_.offset) / kPerChannel));
        if (s_.sftpStartTook() / 3 >= kLongPath) addLanes();
    }

    void transfer() {
        for (;;) {
            if (p_.abortRequested()) throw RuntimeError(kErrAborted, what_ + " interrotto");
            flushAll();
            bool moved = receiveAll();
            if (!timed_ && lanes_.front()->openAnswered) {
                // The open timed: the file's channel opened at last tells a long path.
                timed_ = true;
                timed(opened_ - asked_);
                if (longPath_) addLanes();
            }
            moved = openChannels() || moved;
            moved = sendDue() || moved;
            checkLanes();
            if (allWritten()) return;
            if (!moved) wait();
        }
    }

    // The byte range held back goes once every other byte is confirmed, so that the file
    // reaches its full size only complete (a program killed meanwhile leaves it short, not
    // whole with a gap); with it the question what the server holds, and the closes.
    void finishUp() {
        NonBlocking nonBlocking(s_);
        Lane& own = *lanes_.front();
        if (held_ > 0) {
            sendWrite(own, total_ - held_, static_cast<std::size_t>(held_));
            expectAnswer(own);
            own.fstatId = nextId_++;
            own.channel->queue(packets::fstat(own.fstatId, own.handle));
        }
        for (auto& lane : lanes_) closeFile(*lane);
        flushAll();
        while (std::any_of(lanes_.begin(), lanes_.end(),
                           [](const auto& l) { return !l->lost && l->pending(); })) {
            if (p_.abortRequested()) throw RuntimeError(kErrAborted, what_ + " interrotto");
            flushAll();
            if (!receiveAll()) wait();
            checkLanes();
        }
        if (closeRefusal_) throw *closeRefusal_;
    }

    // A request and its answer timed. The round trip is at most the shortest one: an open that
    // truncates a large file, or a loaded server, only make one longer.
    void timed(Clock::duration exchange) {
        roundTrip_.note(exchange);
        longPath_ = roundTrip_.atLeast(kLongPath);
    }

    Lane& addLane() {
        lanes_.push_back(std::make_unique<Lane>());
        lanes_.back()->lastAnswer = Clock::now();
        return *lanes_.back();
    }

    // Channels for the upload up to as many as its size is worth: first those kept from the
    // session's earlier uploads, then new ones (opened by openChannels()).
    void addLanes() {
        // After a channel was lost the session's channel carries its uploads alone.
        if (channels_.lost()) return;
        const std::vector<LIBSSH2_CHANNEL*> keptOnes = channels_.forUploads();
        for (LIBSSH2_CHANNEL* kept : keptOnes) {
            if (lanes_.size() >= wanted_) return;
            if (std::any_of(lanes_.begin(), lanes_.end(),
                            [&](const auto& l) { return l->channel && l->channel->get() == kept; }))
                continue;
            if (libssh2_channel_eof(kept) == 1) {
                // Closed by the server while the session was idle: of no further use.
                channels_.forgetForUploads(kept);
                continue;
            }
            addLane().channel.emplace(s_, kept);
        }
        lanesWanted_ = true;
    }

    // Moves the opening of new channels on; true when a step was taken.
    bool openChannels() {
        bool moved = false;
        for (auto& lane : lanes_) {
            if (!lane->opener) continue;
            const ChannelOpener::Step was = lane->opener->step();
            const ChannelOpener::Step step = lane->opener->advance();
            moved = moved || step != was;
            if (was == ChannelOpener::Step::Channel && step != was &&
                step != ChannelOpener::Step::Refused)
                timed(lane->opener->openTook());
            if (step == ChannelOpener::Step::Refused) {
                // A server that limits the channels of a connection refuses once and for the
                // session; the channels already there go on.
                channels_.refuse();
                lane->opener.reset();
                lane->lost = true;
                continue;
            }
            if (!lane->channel && step != ChannelOpener::Step::Channel) {
                // Behind the start of its SFTP server: the version offer and the file's open.
                lane->channel.emplace(s_, lane->opener->channel());
                lane->channel->queue(packets::init());
                lane->awaitsVersion = true;
                flush(*lane);
                lane->lastAnswer = Clock::now();
                moved = true;
            }
            if (step == ChannelOpener::Step::Ready) {
                channels_.keepForUploads(lane->channel->get());
                lane->opener.reset();
            }
        }
        // The file is opened on the other channels once the session's channel holds it: before
        // that it may not exist yet, or not be truncated yet (another SFTP server may answer
        // first).
        if (!lanes_.front()->handle.empty() && !stopping_)
            for (auto& lane : lanes_)
                if (!lane->own && !lane->lost && lane->channel && !lane->openId) {
                    openFile(*lane, LIBSSH2_FXF_WRITE);
                    moved = true;
                }
        // One more, while the path looks long, there is enough left for it and no other is in
        // the middle of being opened (its first step is taken on the next turn).
        if (lanesWanted_ && (longPath_ || !timed_) && lanes_.size() < wanted_ &&
            channels_.mayOpenMore() && !stopping_ && unsent() >= kPerChannel &&
            std::none_of(lanes_.begin(), lanes_.end(), [](const auto& l) {
                return l->opener && l->opener->step() == ChannelOpener::Step::Channel;
            })) {
            addLane().opener = std::make_unique<ChannelOpener>(s_);
            moved = true;
        }
        return moved;
    }

    // A request goes on a channel: the time-out of one that waited for nothing runs from now.
    static void expectAnswer(Lane& lane) {
        if (!lane.pending()) lane.lastAnswer = Clock::now();
    }

    void openFile(Lane& lane, std::uint32_t flags) {
        expectAnswer(lane);
        lane.openId = nextId_++;
        lane.channel->queue(packets::open(lane.openId, path_, flags));
        flush(lane);
    }

    void closeFile(Lane& lane) {
        if (lane.lost || lane.handle.empty() || lane.closeId) return;
        expectAnswer(lane);
        lane.closeId = nextId_++;
        lane.channel->queue(packets::close(lane.closeId, lane.handle));
    }

    // Reads the answers on every channel; true when there were any.
    // Every answer that arrived is taken before the first failure among them is thrown: the
    // requests still due must be known to wind down.
    bool receiveAll() {
        bool any = false;
        std::optional<RuntimeError> failure;
        for (auto& lane : lanes_) {
            if (lane->lost || !lane->channel) continue;
            std::vector<std::string> answers;
            const int rc = lane->channel->receive(answers);
            for (const std::string& answer : answers) {
                try {
                    take(*lane, answer);
                } catch (const RuntimeError& e) {
                    if (!failure) failure = e;
                    if (s_.broken()) throw;
                }
            }
            any = any || !answers.empty();
            if (failure) continue;
            if (rc < 0 || (lane->channel->closed() && lane->pending())) loseChannel(*lane, rc);
        }
        if (failure) throw *failure;
        return any;
    }

    void take(Lane& lane, const std::string& answer) {
        packets::Reader reader(answer);
        const auto type = reader.byte();
        if (lane.awaitsVersion) {
            if (type != packets::kVersion) broken();
            lane.awaitsVersion = false;
            return;
        }
        const auto id = reader.number();
        if (!type || !id) broken();
        if (lane.own && *id < kFirstId) return;
        lane.lastAnswer = Clock::now();
        if (*id == lane.openId && !lane.openAnswered) {
            lane.openAnswered = true;
            if (type == packets::kHandle) {
                const auto handle = reader.text();
                if (!handle || handle->empty()) broken();
                lane.handle = *handle;
                if (lane.own) {
                    opened_ = lane.lastAnswer;
                    created_ = true;
                }
                if (stopping_) closeFile(lane);
                return;
            }
            const std::uint32_t code = status(*type, reader);
            if (lane.own)
                throw refused(code, "Impossibile creare il file remoto " + visible(path_));
            return;  // the upload goes on without this channel
        }
        if (const auto write = lane.unconfirmed.find(*id); write != lane.unconfirmed.end()) {
            const std::int64_t bytes = write->second;
            lane.unconfirmed.erase(write);
            lane.inFlight -= bytes;
            if (const std::uint32_t code = status(*type, reader); code != LIBSSH2_FX_OK)
                throw refused(code, cut());
            confirmed_ += bytes;
            if (confirmed_ < total_) p_.progress(confirmed_, total_);
            return;
        }
        if (*id == lane.fstatId) {
            lane.fstatId = 0;
            // A refusal only means the server cannot tell.
            if (type == packets::kAttrs) heldAttributes_ = reader.attributes();
            return;
        }
        if (*id == lane.closeId && !lane.closeAnswered) {
            lane.closeAnswered = true;
            const std::uint32_t code = status(*type, reader);
            if (code != LIBSSH2_FX_OK && !closeRefusal_)
                closeRefusal_ = refused(code, what_ + " non confermato dal server");
            return;
        }
        broken();
    }

    // The code of a status answer (anything else breaks the protocol).
    std::uint32_t status(std::uint8_t type, packets::Reader& reader) {
        const auto code = type == packets::kStatus ? reader.number() : std::nullopt;
        if (!code) broken();
        return *code;
    }

    // The failure a status says: the server's refusal, or the connection's loss, which breaks
    // the session as for any other request.
    RuntimeError refused(std::uint32_t code, const std::string& what) {
        const std::string reason = sftpStatusText(code);
        if (!connectionLevel(code)) return RuntimeError(kErrRemote, what + ": " + reason);
        s_.markBroken(reason);
        return RuntimeError(kErrConnection, what + ": " + reason);
    }

    [[noreturn]] void broken() {
        const std::string reason = "risposta non valida del server";
        s_.markBroken(reason);
        throw RuntimeError(kErrConnection, cut() + ": " + reason);
    }

    std::string cut() const {
        return what_ + " interrotto dopo " + std::to_string(confirmed_) + " byte";
    }

    // Each channel sends the requests that are due: on a long path one every so often, so that
    // it carries kChannelRate; on a short one as long as less than kShortPathInFlight waits.
    bool sendDue() {
        if (!timed_) return false;
        bool moved = false;
        const auto now = Clock::now();
        for (auto& lanePtr : lanes_) {
            Lane& lane = *lanePtr;
            if (!lane.writable() || !lane.channel->flushed()) continue;
            if (lane.next == lane.end) takeOver(lane);
            if (lane.due < now - std::chrono::milliseconds(2))
                lane.due = now - std::chrono::milliseconds(2);
            while (lane.next < lane.end &&
                   (longPath_ ? lane.due <= now : lane.inFlight < kShortPathInFlight)) {
                const auto length =
                    static_cast<std::size_t>(std::min<std::int64_t>(kChunk, lane.end - lane.next));
                // Only whole requests while others are on their way; with none, one goes in any
                // case (a server whose window is smaller than a request opens it as it reads).
                lane.windowFull = lane.channel->room() < packets::writeSize(lane.handle, length);
                if (lane.windowFull && lane.inFlight > 0) break;
                sendWrite(lane, lane.next, length);
                lane.next += static_cast<std::int64_t>(length);
                lane.due += std::chrono::duration_cast<Clock::duration>(
                    std::chrono::duration<double>(static_cast<double>(length) / kChannelRate));
                moved = true;
                if (!lane.channel->flushed()) break;
                if (lane.next == lane.end) takeOver(lane);
            }
        }
        return moved;
    }

    void sendWrite(Lane& lane, std::int64_t offset, std::size_t length) {
        data_.resize(length);
        if (source_.readAt(offset, data_.data(), length) != length)
            throw RuntimeError(kErrGeneric,
                               what_ + ": il file locale si è accorciato durante l'invio");
        expectAnswer(lane);
        const std::uint32_t id = nextId_++;
        lane.channel->queue(packets::writeHead(id, lane.handle, static_cast<std::uint64_t>(offset),
                                               static_cast<std::uint32_t>(length)));
        lane.channel->queue(data_.data(), length);
        lane.unconfirmed.emplace(id, static_cast<std::int64_t>(length));
        lane.inFlight += static_cast<std::int64_t>(length);
        flush(lane);
    }

    void flush(Lane& lane) {
        if (const int rc = lane.channel->flush(); rc < 0) loseChannel(lane, rc);
    }

    void flushAll() {
        for (auto& lane : lanes_)
            if (!lane->lost && lane->channel) flush(*lane);
    }

    // A channel with nothing left to write takes what has not been given out yet, else the
    // upper half of the largest range another still has to write.
    void takeOver(Lane& lane) {
        if (unassigned_.first < unassigned_.second) {
            lane.next = unassigned_.first;
            lane.end = unassigned_.second;
            unassigned_.first = unassigned_.second;
            return;
        }
        Lane* largest = nullptr;
        for (auto& other : lanes_)
            if (other->writable() &&
                (!largest || other->end - other->next > largest->end - largest->next))
                largest = other.get();
        if (!largest || largest->end - largest->next < 2 * kLeastTakenOver) return;
        const std::int64_t middle = largest->next + (largest->end - largest->next) / 2;
        lane.next = middle;
        lane.end = largest->end;
        largest->end = middle;
    }

    std::int64_t unsent() const {
        std::int64_t left = unassigned_.second - unassigned_.first;
        for (const auto& lane : lanes_) left += lane->end - lane->next;
        return left;
    }

    // Every byte but the held-back range written and confirmed, and no channel on its way.
    bool allWritten() const {
        if (unassigned_.first < unassigned_.second) return false;
        return std::none_of(lanes_.begin(), lanes_.end(), [](const auto& l) {
            return !l->lost && (l->opener || l->pending() || l->next < l->end);
        });
    }

    // A channel that confirmed nothing for the time-out, or that the server closed, ends the
    // upload; another one still moving does not make up for it. On the session's channel
    // that is the connection's failure.
    void checkLanes() {
        const auto now = Clock::now();
        for (auto& lane : lanes_) {
            if (lane->lost) continue;
            const bool waiting = lane->pending() || lane->opener;
            if (waiting && now - lane->lastAnswer >= stallLimit_) loseChannel(*lane, kSilent);
        }
    }

    // Throws the failure of a channel: the connection's (libssh2's error `rc`) on the
    // session's channel; on another one that channel's loss, after which large uploads go
    // through the session's channel alone.
    void loseChannel(Lane& lane, int rc) {
        const bool closed =
            rc == LIBSSH2_ERROR_CHANNEL_CLOSED || (lane.channel && lane.channel->closed());
        lane.lost = true;
        if (lane.own || (!closed && rc != kSilent)) {
            if (rc == 0) rc = LIBSSH2_ERROR_CHANNEL_CLOSED;
            if (rc == kSilent) rc = LIBSSH2_ERROR_TIMEOUT;
            throwFailure(s_, rc, cut());
        }
        if (lane.channel) channels_.loseForUploads(lane.channel->get());
        if (lane.opener) channels_.refuse();
        const std::string name = kChannelNames[indexOf(lane)] + std::string(" canale SFTP");
        throw RuntimeError(kErrRemote,
                           cut() + ": " +
                               (closed ? "il server ha chiuso il " + name
                                       : "il " + name + " non risponde da " +
                                             std::to_string(s_.timeoutSeconds()) + " secondi") +
                               "; d'ora in poi gli invii usano un solo canale");
    }

    std::size_t indexOf(const Lane& lane) const {
        for (std::size_t i = 0; i < lanes_.size(); ++i)
            if (lanes_[i].get() == &lane) return std::min(i, kMostChannels - 1);
        return 0;
    }

    // After a failure: nothing more is written; the files still open are closed and every
    // answer still due on a channel is waited for, so that libssh2 finds the session's
    // channel as it left it. A channel that does not answer in time is given up.
    void windDown() {
        if (s_.broken()) return;
        stopping_ = true;
        try {
            NonBlocking nonBlocking(s_);
            for (auto& lane : lanes_) {
                try {
                    closeFile(*lane);
                    if (!lane->lost && lane->channel) flush(*lane);
                } catch (const RuntimeError&) {
                    // That channel is given up; the others are still waited for.
                }
            }
            for (;;) {
                // Channels half open go on to where they can be left.
                for (auto& lane : lanes_) {
                    if (!lane->opener || lane->lost) continue;
                    const auto step = lane->opener->advance();
                    if (step == ChannelOpener::Step::Refused || step == ChannelOpener::Step::Ready)
                        lane->opener.reset();
                    if (step == ChannelOpener::Step::Refused) lane->lost = true;
                }
                const bool waiting = std::any_of(lanes_.begin(), lanes_.end(), [](const auto& l) {
                    return !l->lost && (l->pending() || l->opener);
                });
                if (!waiting || s_.broken()) break;
                try {
                    if (!receiveAll()) wait();
                    flushAll();
                    checkLanes();
                } catch (const RuntimeError&) {
                    // Its failure was said already; a channel given up is left alone.
                }
            }
        } catch (...) {
        }
        // A channel left in the middle of its opening holds libssh2's one opening.
        for (auto& lane : lanes_)
            if (lane->opener) channels_.refuse();
        for (auto& lane : lanes_)
            if (lane->lost && lane->channel && !lane->own)
                channels_.loseForUploads(lane->channel->get());
    }

    // Until an answer arrives or the next request is due, at most a tenth of a second (an
    // abort is seen at once).
    void wait() const {
        auto until = Clock::now() + std::chrono::milliseconds(100);
        if (longPath_)
            for (const auto& lane : lanes_)
                if (lane->writable() && lane->next < lane->end && lane->channel->flushed() &&
                    !lane->windowFull)
                    until = std::min(until, lane->due);
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
        pollfd p{s_.socket(), POLLIN, 0};
        if (ms.count() > 0)
            while (::poll(&p, 1, static_cast<int>(ms.count())) < 0 && errno == EINTR) {
            }
    }

    SshSession& s_;
    RoundTrip& roundTrip_;
    ByteSource& source_;
    const std::string& path_;
    const UploadStart start_;
    ExtraChannels& channels_;
    EventPoster& p_;
    const std::string what_;
    const std::int64_t total_;
    const std::int64_t held_;
    std::int64_t confirmed_;
    std::pair<std::int64_t, std::int64_t> unassigned_;
    const Clock::duration stallLimit_;
    std::vector<std::unique_ptr<Lane>> lanes_;
    std::uint32_t nextId_ = kFirstId;
    std::size_t wanted_ = 1;
    bool lanesWanted_ = false;
    bool timed_ = false;
    bool longPath_ = false;
    bool stopping_ = false;
    bool created_ = false;
    Clock::time_point asked_;
    Clock::time_point opened_;
    std::vector<char> data_;
    std::optional<LIBSSH2_SFTP_ATTRIBUTES> heldAttributes_;
    std::optional<RuntimeError> closeRefusal_;
};

}  // namespace

bool goesPaced(UploadStart start, std::int64_t size, const BandwidthLimit* limit) {
    return !start.keepPartial && !limit && size - start.offset >= kPacedFrom;
}

void sendPaced(SshSession& s, ByteSource& source, const std::string& remotePath, UploadStart start,
               RoundTrip& roundTrip, ExtraChannels& channels, EventPoster& p) {
    PacedUpload(s, source, remotePath, start, roundTrip, channels, p).run();
}

bool removeUploaded(SshSession& s, const std::string& remotePath, EventPoster& p) {
    bool removed = false;
    if (s.usable()) {
        const int rc = libssh2_sftp_unlink_ex(s.sftp(), remotePath.data(),
                                              static_cast<unsigned int>(remotePath.size()));
        removed = rc == 0;
        if (!removed) sftpFailure(s, rc);  // a lost connection marks the session broken
    }
    const std::string shown = visible(remotePath);
    p.log(removed ? " Rimosso dal server il file incompleto " + shown
                  : " Il file incompleto " + shown + " potrebbe essere rimasto sul server");
    return removed;
}

}  // namespace vs::sftp
