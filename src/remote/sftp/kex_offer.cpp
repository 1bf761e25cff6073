#include "remote/sftp/kex_offer.h"

#include <algorithm>
#include <cstdint>

namespace vs::sftp {

namespace {

// Enough for the version exchange and a KEXINIT of any real server (OpenSSH's is about 1 KB;
// the protocol caps a packet at 35,000 bytes).
constexpr std::size_t kKeptBytes = 64 * 1024;
constexpr unsigned char kMsgKexinit = 20;

struct Reader {
    std::string_view data;
    std::size_t at = 0;
    bool ok = true;

    std::uint32_t u32() {
        if (!ok || data.size() - at < 4) {
            ok = false;
            return 0;
        }
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(data[at + i]);
        at += 4;
        return v;
    }
    std::string_view bytes(std::size_t n) {
        if (!ok || data.size() - at < n) {
            ok = false;
            return {};
        }
        std::string_view s = data.substr(at, n);
        at += n;
        return s;
    }
};

std::vector<std::string> splitNames(std::string_view list) {
    std::vector<std::string> names;
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        names.emplace_back(list.substr(0, comma));
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    return names;
}

// Entries of the key-exchange list that are signals, not methods: extension negotiation and
// the strict key exchange against prefix truncation.
bool isSignal(const std::string& name) {
    return name.starts_with("ext-info-") || name.starts_with("kex-strict-");
}

std::vector<std::string> methods(const std::vector<std::string>& names) {
    std::vector<std::string> kept;
    for (const std::string& n : names)
        if (!isSignal(n)) kept.push_back(n);
    return kept;
}

// The first of ours the server also has: the one the client's order makes the choice.
std::optional<std::string> agreed(const std::vector<std::string>& ours,
                                  const std::vector<std::string>& theirs) {
    for (const std::string& n : ours)
        if (std::find(theirs.begin(), theirs.end(), n) != theirs.end()) return n;
    return std::nullopt;
}

// Ciphers that authenticate as well: no MAC is used with them.
bool authenticatedCipher(const std::string& name) {
    return name == "chacha20-poly1305@openssh.com" || name.ends_with("-gcm@openssh.com");
}

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& n : names) text += (text.empty() ? "" : ",") + n;
    return text.empty() ? "(nessuno)" : text;
}

}  // namespace

std::optional<KexOffer> parseKexOffer(std::string_view stream) {
    // Text lines up to the version line; a server may send others first.
    std::size_t at = 0;
    for (;;) {
        const std::size_t end = stream.find('\n', at);
        if (end == std::string_view::npos) return std::nullopt;
        const bool version = stream.substr(at, 4) == "SSH-";
        at = end + 1;
        if (version) break;
    }
    Reader r{stream.substr(at)};
    const std::uint32_t packetLength = r.u32();
    const std::string_view packet = r.bytes(packetLength);
    if (!r.ok || packet.empty()) return std::nullopt;
    const auto padding = static_cast<unsigned char>(packet[0]);
    if (padding + 1u > packet.size()) return std::nullopt;
    Reader p{packet.substr(1, packet.size() - 1 - padding)};
    const std::string_view head = p.bytes(17);  // message number and cookie
    if (!p.ok || static_cast<unsigned char>(head[0]) != kMsgKexinit) return std::nullopt;
    KexOffer offer;
    for (std::vector<std::string>& list : offer.lists) {
        const std::string_view names = p.bytes(p.u32());
        if (!p.ok) return std::nullopt;
        list = splitNames(names);
    }
    return offer;
}

std::optional<NegotiationGap> findNegotiationGap(const KexOffer& ours, const KexOffer& server) {
    const auto gap = [&](const char* what, int list) {
        return NegotiationGap{what, joined(methods(server.lists[list])),
                              joined(methods(ours.lists[list]))};
    };
    if (!agreed(methods(ours.lists[KexOffer::kKex]), methods(server.lists[KexOffer::kKex])))
        return gap("scambio di chiavi (kex)", KexOffer::kKex);
    if (!agreed(ours.lists[KexOffer::kHostKey], server.lists[KexOffer::kHostKey]))
        return gap("tipo di chiave host (host key)", KexOffer::kHostKey);
    for (const auto& [cipher, mac] : {std::pair{KexOffer::kCipherOut, KexOffer::kMacOut},
                                      std::pair{KexOffer::kCipherIn, KexOffer::kMacIn}}) {
        const std::optional<std::string> chosen = agreed(ours.lists[cipher], server.lists[cipher]);
        if (!chosen) return gap("cifratura (cipher)", cipher);
        if (!authenticatedCipher(*chosen) && !agreed(ours.lists[mac], server.lists[mac]))
            return gap("controllo di integrità (MAC)", mac);
    }
    return std::nullopt;
}

void HandshakeRecorder::keep(std::string& into, const void* data, long length) {
    if (!recording_ || length <= 0 || into.size() >= kKeptBytes) return;
    const std::size_t n = std::min(static_cast<std::size_t>(length), kKeptBytes - into.size());
    into.append(static_cast<const char*>(data), n);
}

}  // namespace vs::sftp
