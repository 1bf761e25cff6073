#include "cycle/listed_entries.h"

namespace vs {

std::map<std::string, ListedEntry> listedEntries(const RemoteListing& listing) {
    std::map<std::string, ListedEntry> entries;
    for (const RemoteEntry& e : listing.entries)
        if (e.kind == RemoteEntry::Kind::File) entries[e.name] = {e.size, e.modified};
    return entries;
}

Sameness compareListed(const ListedEntry& before, const ListedEntry& after) {
    if ((before.size && after.size && *before.size != *after.size) ||
        (before.modified && after.modified && !(*before.modified == *after.modified)))
        return Sameness::Differs;
    if (before.size && after.size && before.modified && after.modified) return Sameness::Same;
    return Sameness::Unknown;
}

}  // namespace vs
