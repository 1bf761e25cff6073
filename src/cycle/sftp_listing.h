#pragma once

#include <functional>
#include <string>

#include "common/listing_table.h"
#include "cycle/selection_rules.h"

namespace vs {

// What the SFTP listing handler reads and fills while one listing request runs.
struct SftpListingContext {
    const std::string& currentFileType;
    const std::string& operatorCode;
    const std::string& operatorList;
    const NameFilters& filters;
    ListingTable& table;
    bool& controlFileFlag;
    std::string rowStamp;           // column 1 placeholder: the moment the row was made
    bool overflowReported = false;  // the "rest waits" line is written once per listing
    std::function<void(const std::string&)> log;  // receives the message; adds the time
};

// The entry name of one long-format line: the ninth blank-separated field and all after it.
std::string listingLineName(const std::string& line);

// Handler of one ListItems event: admits the accepted files of the lines into the table.
void sftp1_ListItems(const std::string& fileInfo, SftpListingContext& ctx);

// After the last event of a listing: without the control file a "TUTTI" listing is dropped.
void finishSftpListing(SftpListingContext& ctx);

}  // namespace vs
