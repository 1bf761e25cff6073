#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The algorithms each side of an SSH connection offers in its first key-exchange message
// (KEXINIT), read from the bytes that went each way. libssh2 says no more than "Unable to
// exchange encryption keys" when the two offers have nothing in common; comparing them tells
// the operator which class failed and what to ask the partner to enable.
namespace vs::sftp {

struct KexOffer {
    // The name-lists in protocol order: key exchange, host key, cipher client to server and
    // server to client, MAC both ways, compression both ways, language both ways.
    enum List { kKex, kHostKey, kCipherOut, kCipherIn, kMacOut, kMacIn, kCount = 10 };
    std::array<std::vector<std::string>, kCount> lists;
};

// The offer in a stream as it left one side: optional text lines, the "SSH-" version line, then
// the first binary packet, which must be KEXINIT. Nothing when the stream is too short or is
// not that.
std::optional<KexOffer> parseKexOffer(std::string_view stream);

// The class in which the two offers share no algorithm, for the log; nothing when every class
// has one in common (the negotiation then failed for another reason).
struct NegotiationGap {
    std::string what;          // "scambio di chiavi (kex)", "chiave host", ...
    std::string serverOffers;  // the server's names, as it sent them (escape before logging)
    std::string weSupport;     // ours
};
std::optional<NegotiationGap> findNegotiationGap(const KexOffer& ours, const KexOffer& server);

// Keeps the first bytes each way of one connection, as long as both offers may still be
// incomplete (at most a packet's worth each way).
class HandshakeRecorder {
  public:
    void start() {
        sent_.clear();
        received_.clear();
        recording_ = true;
    }
    // Once the keys are exchanged the streams are encrypted and of no more use.
    void stop() {
        recording_ = false;
        sent_.clear();
        sent_.shrink_to_fit();
        received_.clear();
        received_.shrink_to_fit();
    }
    void sent(const void* data, long length) { keep(sent_, data, length); }
    void received(const void* data, long length) { keep(received_, data, length); }
    const std::string& sentBytes() const { return sent_; }
    const std::string& receivedBytes() const { return received_; }

  private:
    void keep(std::string& into, const void* data, long length);

    bool recording_ = false;
    std::string sent_;
    std::string received_;
};

}  // namespace vs::sftp
