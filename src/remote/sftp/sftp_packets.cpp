#include "remote/sftp/sftp_packets.h"

namespace vs::sftp::packets {

namespace {

void appendNumber64(std::string& out, std::uint64_t n) {
    appendNumber(out, static_cast<std::uint32_t>(n >> 32));
    appendNumber(out, static_cast<std::uint32_t>(n));
}

void appendText(std::string& out, std::string_view text) {
    appendNumber(out, static_cast<std::uint32_t>(text.size()));
    out += text;
}

// Type and id, with the length of the packet they begin, `rest` bytes after them.
std::string head(unsigned char type, std::uint32_t id, std::size_t rest) {
    std::string out;
    appendNumber(out, static_cast<std::uint32_t>(1 + 4 + rest));
    out += static_cast<char>(type);
    appendNumber(out, id);
    return out;
}

std::string withText(unsigned char type, std::uint32_t id, std::string_view text) {
    std::string out = head(type, id, 4 + text.size());
    appendText(out, text);
    return out;
}

}  // namespace

void appendNumber(std::string& out, std::uint32_t n) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(n >> shift);
}

std::string init() {
    std::string out;
    appendNumber(out, 5);
    out += static_cast<char>(kInit);
    appendNumber(out, 3);
    return out;
}

std::string open(std::uint32_t id, std::string_view path, std::uint32_t flags) {
    // No attributes: the server's default permissions, as for a new file.
    std::string out = head(kOpen, id, 4 + path.size() + 4 + 4);
    appendText(out, path);
    appendNumber(out, flags);
    appendNumber(out, 0);
    return out;
}

std::string close(std::uint32_t id, std::string_view handle) {
    return withText(kClose, id, handle);
}

std::string fstat(std::uint32_t id, std::string_view handle) {
    return withText(kFstat, id, handle);
}

std::string stat(std::uint32_t id, std::string_view path) {
    return withText(kStat, id, path);
}

std::string writeHead(std::uint32_t id, std::string_view handle, std::uint64_t offset,
                      std::uint32_t length) {
    std::string out = head(kWrite, id, 4 + handle.size() + 8 + 4 + length);
    appendText(out, handle);
    appendNumber64(out, offset);
    appendNumber(out, length);
    return out;
}

std::size_t writeSize(std::string_view handle, std::size_t length) {
    return 4 + 1 + 4 + 4 + handle.size() + 8 + 4 + length;
}

std::optional<std::uint8_t> Reader::byte() {
    if (p_.size() - at_ < 1) return std::nullopt;
    return static_cast<std::uint8_t>(p_[at_++]);
}

std::optional<std::uint32_t> Reader::number() {
    if (p_.size() - at_ < 4) return std::nullopt;
    std::uint32_t n = 0;
    for (int i = 0; i < 4; ++i) n = n << 8 | static_cast<unsigned char>(p_[at_++]);
    return n;
}

std::optional<std::uint64_t> Reader::number64() {
    const auto high = number();
    const auto low = high ? number() : std::nullopt;
    if (!low) return std::nullopt;
    return std::uint64_t{*high} << 32 | *low;
}

std::optional<std::string_view> Reader::text() {
    const auto length = number();
    if (!length || p_.size() - at_ < *length) return std::nullopt;
    const std::string_view t = p_.substr(at_, *length);
    at_ += *length;
    return t;
}

std::optional<LIBSSH2_SFTP_ATTRIBUTES> Reader::attributes() {
    LIBSSH2_SFTP_ATTRIBUTES a{};
    const auto flags = number();
    if (!flags) return std::nullopt;
    a.flags = *flags;
    if (a.flags & LIBSSH2_SFTP_ATTR_SIZE) {
        const auto size = number64();
        if (!size) return std::nullopt;
        a.filesize = *size;
    }
    if (a.flags & LIBSSH2_SFTP_ATTR_UIDGID) {
        const auto uid = number();
        const auto gid = uid ? number() : std::nullopt;
        if (!gid) return std::nullopt;
        a.uid = *uid;
        a.gid = *gid;
    }
    if (a.flags & LIBSSH2_SFTP_ATTR_PERMISSIONS) {
        const auto permissions = number();
        if (!permissions) return std::nullopt;
        a.permissions = *permissions;
    }
    if (a.flags & LIBSSH2_SFTP_ATTR_ACMODTIME) {
        const auto atime = number();
        const auto mtime = atime ? number() : std::nullopt;
        if (!mtime) return std::nullopt;
        a.atime = *atime;
        a.mtime = *mtime;
    }
    return a;
}

std::optional<std::string> takePacket(std::string& in, std::uint32_t longest) {
    Reader reader(in);
    const auto length = reader.number();
    if (!length) return std::nullopt;
    if (*length < 5 || *length > longest) return std::string();
    if (in.size() - 4 < *length) return std::nullopt;
    std::string packet = in.substr(4, *length);
    in.erase(0, 4 + std::size_t{*length});
    return packet;
}

}  // namespace vs::sftp::packets
