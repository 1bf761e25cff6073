#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "remote/remote_session.h"

namespace vs {

// What a folder listing itself says of one file: its size and its time, as the listing shows
// them. A server that answers neither MDTM nor SIZE still lists them, so the listing taken
// again tells whether a file was replaced meanwhile (to the listing's minute).
struct ListedEntry {
    std::string size;
    std::string time;  // month, day and hh:mm (or year) as listed
    bool operator==(const ListedEntry&) const = default;
    std::optional<std::int64_t> bytes() const;  // the size, when it is a number
};

// Whether what a server says of a file now shows the version it described before: Unknown
// when nothing it gives can tell.
enum class Sameness { Same, Differs, Unknown };

// Every entry of a listing by its name, in either layout; lines too short to hold a size and a
// time are left out.
std::map<std::string, ListedEntry> listedEntries(const RemoteListing& listing);

}  // namespace vs
