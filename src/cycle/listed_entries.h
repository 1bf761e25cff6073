#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "remote/remote_listing.h"

namespace vs {

// What a folder listing itself says of one file: its size and its time, as the listing shows
// them. A server that answers neither MDTM nor SIZE still lists them, so the listing taken
// again tells whether a file was replaced meanwhile (to the listing's minute).
struct ListedEntry {
    std::optional<std::int64_t> size;
    std::optional<ListedTime> modified;
};

// Whether what a server says of a file now shows the version it described before: Unknown
// when nothing it gives can tell.
enum class Sameness { Same, Differs, Unknown };

// The files of a listing by name.
std::map<std::string, ListedEntry> listedEntries(const RemoteListing& listing);

// Two listings' word on one file: a value either of them lacks is never taken as equal.
Sameness compareListed(const ListedEntry& before, const ListedEntry& after);

}  // namespace vs
