#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

// One directory entry as a long-format line of the shape the listing parser expects:
//   -rw-r--r-- 1 1000 1000 5120 Oct 5 14:03 name with blanks
// Built from the entry's attributes rather than taken from the server's own long name, whose
// layout varies between servers (padding, user names with blanks, missing fields).
namespace vs::sftp {

struct EntryAttributes {
    std::optional<std::uint64_t> size;
    std::optional<std::uint32_t> uid;
    std::optional<std::uint32_t> gid;
    std::optional<std::uint32_t> permissions;       // type bits included
    std::optional<std::uint32_t> modificationTime;  // seconds since the epoch
};

// Whether the name can travel in a listing line: a safe file name that the line's reader
// gets back exactly (it trims blanks at both ends). Other entries are left out of a listing.
bool isDeliverableName(std::string_view name);

// "drwxr-xr-x", "-rw-r--r--", "lrwxrwxrwx" ...; "?---------" when the server sent no
// permissions, so that the entry never passes for a regular file.
std::string modeText(std::optional<std::uint32_t> permissions);

// The whole line, ended by CR LF. `now` decides between "hh:mm" (the last six months) and
// the year; both are shown in local time.
std::string formatListingLine(std::string_view name, const EntryAttributes& attributes,
                              std::time_t now);

}  // namespace vs::sftp
