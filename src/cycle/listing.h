#pragma once

#include <functional>
#include <string>

#include "common/listing_table.h"
#include "common/name_filters.h"
#include "remote/remote_session.h"
#include "settings/job_codes.h"

namespace vs {

// What the selection rules read and fill while one remote listing is admitted.
struct ListingContext {
    FileType fileType;          // the running download job's file type
    std::string& operatorCode;  // an automail FTP listing may turn it into "SELETTIVO"
    const std::string& operatorList;
    const NameFilters& filters;
    ListingTable& table;
    bool& controlFileFlag;
    std::string rowStamp;  // column 1 placeholder: the moment the row was made
    std::function<void(const std::string&)> log;  // receives the message; adds the time
    bool overflowReported = false;  // the "rest waits" line is written once per listing
};

// Admits the accepted files of a remote listing into the table, by the rules of its layout.
void admitListing(const RemoteListing& listing, ListingContext& ctx);

// Long-format layout: the entry name of one line, the ninth blank-separated field and all
// after it; and the handler of one part (ListItems event) of such a listing.
std::string listingLineName(const std::string& line);
void sftp1_ListItems(const std::string& fileInfo, ListingContext& ctx);

// Fields layout: the whole listing of one folder.
void listftpprova(const std::string& listing, ListingContext& ctx);

// Adds a row; once the table is full, says once that the rest waits for a later cycle.
void addListingRow(ListingContext& ctx, ListingTable::Row row);

}  // namespace vs
