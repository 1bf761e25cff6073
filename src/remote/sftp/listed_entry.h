#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "remote/remote_listing.h"

// One directory entry as the SFTP server described it: read from the entry's attributes rather
// than from the server's own long name, whose layout varies between servers (padding, user
// names with blanks, missing fields).
namespace vs::sftp {

// The attributes a listing gives with each name, each where the server sent it.
struct EntryAttributes {
    std::optional<std::uint64_t> size;
    std::optional<std::uint32_t> permissions;       // type bits included
    std::optional<std::uint32_t> modificationTime;  // seconds since the epoch
};

// Without permissions the kind is unknown, so the entry never passes for a regular file.
RemoteEntry listedEntry(std::string_view name, const EntryAttributes& attributes);

}  // namespace vs::sftp
