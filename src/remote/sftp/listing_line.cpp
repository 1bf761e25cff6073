#include "remote/sftp/listing_line.h"

#include <libssh2_sftp.h>

#include "common/file_name.h"
#include "common/text.h"

namespace vs::sftp {

namespace {

// Month names are part of the line format, not of the operator's language.
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Half a Gregorian year, as ls counts "recent".
constexpr std::time_t kSixMonths = 15778476;

char typeLetter(std::uint32_t mode) {
    switch (mode & LIBSSH2_SFTP_S_IFMT) {
        case LIBSSH2_SFTP_S_IFREG:
            return '-';
        case LIBSSH2_SFTP_S_IFDIR:
            return 'd';
        case LIBSSH2_SFTP_S_IFLNK:
            return 'l';
        case LIBSSH2_SFTP_S_IFIFO:
            return 'p';
        case LIBSSH2_SFTP_S_IFSOCK:
            return 's';
        case LIBSSH2_SFTP_S_IFCHR:
            return 'c';
        case LIBSSH2_SFTP_S_IFBLK:
            return 'b';
        default:
            return '?';
    }
}

std::string timeText(std::uint32_t seconds, std::time_t now) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (!localtime_r(&t, &local)) return "Jan 1 1970";
    std::string text =
        std::string(kMonths[local.tm_mon % 12]) + " " + std::to_string(local.tm_mday);
    // A time slightly ahead of ours is clock skew between the hosts, still "recent".
    if (t > now - kSixMonths && t <= now + 3600)
        text += " " + zeroPad(local.tm_hour, 2) + ":" + zeroPad(local.tm_min, 2);
    else
        text += " " + std::to_string(local.tm_year + 1900);
    return text;
}

}  // namespace

bool isDeliverableName(std::string_view name) {
    return isSafeFileName(name) && name.front() != ' ' && name.back() != ' ';
}

std::string modeText(std::optional<std::uint32_t> permissions) {
    if (!permissions) return "?---------";
    const std::uint32_t m = *permissions;
    std::string text(10, '-');
    text[0] = typeLetter(m);
    const char* letters = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        if (m & (0400u >> i)) text[1 + i] = letters[i];
    // set-id and sticky bits replace the execute letters, upper case when execute is off.
    if (m & 04000) text[3] = (m & 0100) ? 's' : 'S';
    if (m & 02000) text[6] = (m & 0010) ? 's' : 'S';
    if (m & 01000) text[9] = (m & 0001) ? 't' : 'T';
    return text;
}

std::string formatListingLine(std::string_view name, const EntryAttributes& a, std::time_t now) {
    std::string line = modeText(a.permissions);
    line += " 1 ";
    line += a.uid ? std::to_string(*a.uid) : "0";
    line += ' ';
    line += a.gid ? std::to_string(*a.gid) : "0";
    line += ' ';
    line += std::to_string(a.size.value_or(0));
    line += ' ';
    line += timeText(a.modificationTime.value_or(0), now);
    line += ' ';
    line.append(name.data(), name.size());
    line += "\r\n";
    return line;
}

}  // namespace vs::sftp
