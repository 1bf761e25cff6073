#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vs {

// When an entry was last changed, as its listing tells it, on the server's clock: SFTP and
// machine listings (MLSD) give UTC, a classic listing line the server's own time zone, and
// that line gives either the time of day (a recent change: the year is left out, 0 here) or
// the year (an older one: the time of day is then 00:00).
struct ListedTime {
    int year = 0;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;   // 0..23
    int minute = 0;
    bool operator==(const ListedTime&) const = default;
};

// One entry of a remote folder, as the server described it.
struct RemoteEntry {
    enum class Kind { File, Folder, Link, Other };
    // Exactly as the server sent it, blanks and all: whether the name can be used safely is
    // the reader's question (see isUsableFileName).
    std::string name;
    Kind kind = Kind::Other;
    std::optional<std::int64_t> size;
    std::optional<ListedTime> modified;
};

// A folder's entries in the order the server sent them, except the folder itself and its
// parent ("." and ".."), and how many more the session could not read (a line it did not
// understand, a name too long for its buffer).
struct RemoteListing {
    std::vector<RemoteEntry> entries;
    int unreadable = 0;
};

}  // namespace vs
