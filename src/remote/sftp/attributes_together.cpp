#include <chrono>
#include <ctime>

#include "common/runtime_error.h"
#include "common/text.h"
#include "remote/sftp/remote_file.h"
#include "remote/sftp/sftp_operations.h"
#include "remote/sftp/sftp_packets.h"

namespace vs::sftp {

namespace {

// From this many files on the requests go together: their channel costs three round trips,
// once a session.
constexpr std::size_t kTogetherFrom = 3;
// Requests on the wire at once: their answers stay well within the channel's window, so the
// server never has to wait for this side to read while this side is still writing.
constexpr std::size_t kAtOnce = 1000;
// What an answer to an attribute request can need, with the longest message a server gives.
constexpr std::uint32_t kLongestAnswer = 64 * 1024;

std::string refusalText(const std::string& path, const std::string& why) {
    return "Impossibile leggere gli attributi del file remoto " + visible(path) + ": " + why;
}

TimePoint fromSeconds(std::uint32_t seconds) {
    return std::chrono::system_clock::from_time_t(static_cast<std::time_t>(seconds));
}

std::vector<StatOutcome> oneByOne(SshSession& s, const std::vector<std::string>& paths) {
    std::vector<StatOutcome> outcomes;
    for (const std::string& path : paths) {
        LIBSSH2_SFTP_ATTRIBUTES a{};
        const int rc = libssh2_sftp_stat_ex(
            s.sftp(), path.data(), static_cast<unsigned int>(path.size()), LIBSSH2_SFTP_STAT, &a);
        if (rc == 0) {
            RemoteStat stat;
            if (a.flags & LIBSSH2_SFTP_ATTR_SIZE) stat.size = static_cast<std::int64_t>(a.filesize);
            if (a.flags & LIBSSH2_SFTP_ATTR_ACMODTIME)
                stat.modified = fromSeconds(static_cast<std::uint32_t>(a.mtime));
            outcomes.push_back({stat, std::nullopt});
            continue;
        }
        const RuntimeError failure = sftpFailure(s, rc);
        if (failure.number() == kErrConnection)
            throw RuntimeError(kErrConnection, refusalText(path, failure.description()));
        outcomes.push_back(
            {{}, RuntimeError(kErrRemote, refusalText(path, failure.description()))});
    }
    return outcomes;
}

// SFTP packets written and read by this program on a channel of their own.
class RawChannel {
  public:
    RawChannel(SshSession& s, LIBSSH2_CHANNEL* channel) : s_(s), channel_(channel) {}

    void write(const std::string& bytes) {
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n =
                libssh2_channel_write(channel_, bytes.data() + done, bytes.size() - done);
            if (n < 0) fail(static_cast<int>(n));
            done += static_cast<std::size_t>(n);
        }
    }
    // The next packet, without its length.
    std::string readPacket() {
        const std::uint32_t length = number(read(4), 0);
        if (length < 5 || length > kLongestAnswer) broken("risposta non valida del server");
        return read(length);
    }
    // A number of the packet at `at`, or the connection ends when the packet is too short.
    std::uint32_t number(const std::string& packet, std::size_t at) {
        if (packet.size() < at + 4) broken("risposta troppo corta del server");
        const auto byte = [&](std::size_t i) {
            return static_cast<std::uint32_t>(static_cast<unsigned char>(packet[at + i]));
        };
        return byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
    }
    // What came back broke the protocol: nothing more can be read in step with the server.
    [[noreturn]] void broken(const std::string& reason) {
        s_.markBroken(reason);
        throw RuntimeError(kErrConnection, kWhat + ": " + reason);
    }

  private:
    inline static const std::string kWhat = "Impossibile leggere gli attributi dei file remoti";

    std::string read(std::size_t n) {
        std::string out(n, '\0');
        for (std::size_t done = 0; done < n;) {
            const ssize_t got = libssh2_channel_read(channel_, out.data() + done, n - done);
            if (got < 0) fail(static_cast<int>(got));
            if (got == 0 && libssh2_channel_eof(channel_)) broken("il server ha chiuso il canale");
            done += static_cast<std::size_t>(got);
        }
        return out;
    }
    [[noreturn]] void fail(int rc) { throwFailure(s_, rc, kWhat); }

    SshSession& s_;
    LIBSSH2_CHANNEL* channel_;
};

// The attributes of an ATTRS packet: size and modification time when the server gives them.
RemoteStat parseAttributes(RawChannel& raw, const std::string& packet) {
    packets::Reader reader(std::string_view(packet).substr(5));
    const auto a = reader.attributes();
    if (!a) raw.broken("risposta troppo corta del server");
    RemoteStat stat;
    if (a->flags & LIBSSH2_SFTP_ATTR_SIZE) stat.size = static_cast<std::int64_t>(a->filesize);
    if (a->flags & LIBSSH2_SFTP_ATTR_ACMODTIME)
        stat.modified = fromSeconds(static_cast<std::uint32_t>(a->mtime));
    return stat;
}

}  // namespace

std::vector<StatOutcome> readAttributesTogether(SshSession& s, ExtraChannels& channels,
                                                const std::vector<std::string>& paths) {
    LIBSSH2_CHANNEL* channel = paths.size() >= kTogetherFrom ? channels.forRequests(s) : nullptr;
    if (!channel) return oneByOne(s, paths);
    RawChannel raw(s, channel);
    std::vector<StatOutcome> outcomes(paths.size());
    std::vector<bool> answered(paths.size(), false);
    for (std::size_t first = 0; first < paths.size(); first += kAtOnce) {
        const std::size_t end = std::min(paths.size(), first + kAtOnce);
        // A request's id is its path's place in the list.
        std::string requests;
        for (std::size_t i = first; i < end; ++i)
            requests += packets::stat(static_cast<std::uint32_t>(i), paths[i]);
        raw.write(requests);
        for (std::size_t k = first; k < end; ++k) {
            const std::string packet = raw.readPacket();
            const std::size_t i = raw.number(packet, 1);
            if (i < first || i >= end || answered[i])
                raw.broken("risposta a una richiesta mai fatta");
            answered[i] = true;
            const auto type = static_cast<unsigned char>(packet[0]);
            if (type == packets::kAttrs)
                outcomes[i].stat = parseAttributes(raw, packet);
            else if (type == packets::kStatus)
                outcomes[i].refusal = RuntimeError(
                    kErrRemote, refusalText(paths[i], sftpStatusText(raw.number(packet, 5))));
            else
                raw.broken("risposta non valida del server");
        }
    }
    return outcomes;
}

}  // namespace vs::sftp
