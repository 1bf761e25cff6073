#pragma once

#include <string_view>

#include "remote/remote_listing.h"

namespace vs {

// What the server sent for a folder listing.
enum class ListingFormat {
    Mlsd,  // RFC 3659 machine listing: "fact=value;fact=value; name"
    List,  // LIST output: Unix "ls -l" lines or the DOS lines of Windows servers, line by line
};

// The entries of a server's folder listing, names kept exactly (a link's " -> target" cut
// off). A line that cannot be understood is never guessed at: it is counted as unreadable.
RemoteListing parseFtpListing(std::string_view raw, ListingFormat format);

}  // namespace vs
