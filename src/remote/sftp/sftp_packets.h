#pragma once

#include <libssh2_sftp.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// SFTP version 3 packets that this program writes and reads itself, on channels where libssh2
// only carries the bytes: the requests, and the answers taken apart with every length checked.
namespace vs::sftp::packets {

inline constexpr unsigned char kInit = 1;
inline constexpr unsigned char kVersion = 2;
inline constexpr unsigned char kOpen = 3;
inline constexpr unsigned char kClose = 4;
inline constexpr unsigned char kWrite = 6;
inline constexpr unsigned char kFstat = 8;
inline constexpr unsigned char kStat = 17;
inline constexpr unsigned char kStatus = 101;
inline constexpr unsigned char kHandle = 102;
inline constexpr unsigned char kAttrs = 105;

void appendNumber(std::string& out, std::uint32_t n);

// The whole packet, its length first: the version offer, and the requests by type.
std::string init();
std::string open(std::uint32_t id, std::string_view path, std::uint32_t flags);
std::string close(std::uint32_t id, std::string_view handle);
std::string fstat(std::uint32_t id, std::string_view handle);
std::string stat(std::uint32_t id, std::string_view path);
// A write request up to its data: the `length` bytes of data follow it on the wire.
std::string writeHead(std::uint32_t id, std::string_view handle, std::uint64_t offset,
                      std::uint32_t length);
// What a write request of `length` bytes with this handle takes on the wire.
std::size_t writeSize(std::string_view handle, std::size_t length);

// One answer, without its length: reads the fields in order, each checked against the end.
class Reader {
  public:
    explicit Reader(std::string_view packet) : p_(packet) {}
    std::optional<std::uint8_t> byte();
    std::optional<std::uint32_t> number();
    std::optional<std::uint64_t> number64();
    std::optional<std::string_view> text();
    // The attributes of an ATTRS answer; extensions are skipped.
    std::optional<LIBSSH2_SFTP_ATTRIBUTES> attributes();

  private:
    std::string_view p_;
    std::size_t at_ = 0;
};

// Takes the next whole packet (without its length) off the front of `in`: none while it is
// still arriving; an empty one when its length is impossible (under 5 bytes or over `longest`).
std::optional<std::string> takePacket(std::string& in, std::uint32_t longest);

}  // namespace vs::sftp::packets
