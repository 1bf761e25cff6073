#include "remote/sftp/listed_entry.h"

#include <libssh2_sftp.h>

#include <ctime>
#include <limits>

namespace vs::sftp {

namespace {

RemoteEntry::Kind kindOf(std::uint32_t mode) {
    switch (mode & LIBSSH2_SFTP_S_IFMT) {
        case LIBSSH2_SFTP_S_IFREG:
            return RemoteEntry::Kind::File;
        case LIBSSH2_SFTP_S_IFDIR:
            return RemoteEntry::Kind::Folder;
        case LIBSSH2_SFTP_S_IFLNK:
            return RemoteEntry::Kind::Link;
        default:
            return RemoteEntry::Kind::Other;
    }
}

}  // namespace

RemoteEntry listedEntry(std::string_view name, const EntryAttributes& a) {
    RemoteEntry entry;
    entry.name = name;
    if (a.permissions) entry.kind = kindOf(*a.permissions);
    // A size beyond what a signed 64-bit count holds is no size a download could check.
    if (a.size && *a.size <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        entry.size = static_cast<std::int64_t>(*a.size);
    if (a.modificationTime) {
        const std::time_t t = static_cast<std::time_t>(*a.modificationTime);
        std::tm utc{};
        if (gmtime_r(&t, &utc))
            entry.modified = ListedTime{utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                                        utc.tm_hour, utc.tm_min};
    }
    return entry;
}

}  // namespace vs::sftp
