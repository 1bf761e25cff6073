#pragma once

#include <string>
#include <string_view>

namespace vs {

// What the server sent for a folder listing.
enum class ListingFormat {
    Mlsd,  // RFC 3659 machine listing: "fact=value;fact=value; name"
    List,  // LIST output: Unix "ls -l" lines or the DOS lines of Windows servers, line by line
};

// Rebuilds a server's folder listing into the one layout the FTP listing reader parses:
// lines joined by CR LF (no CR LF after the last), fields joined by single blanks:
//   type links owner group size month day hh:mm name
// with type "d" for a folder, "-" for a file, "l" for a link (Unix permissions follow the type
// letter when the server gave them), the month as "Jan".."Dec", "00:00" when the server gave a
// year instead of a time, and the name kept exactly (a link's " -> target" is cut off). "."
// and ".." are left out. A line that cannot be understood is never guessed at: it
// is left out and counted in *skipped (when not null), and so are names that could not be used
// safely or read back as one field (see isSafeFileName; blanks).
std::string buildListing(std::string_view raw, ListingFormat format, int* skipped);

}  // namespace vs
