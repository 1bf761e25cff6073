#pragma once

#include <functional>
#include <string>

#include "common/listing_table.h"
#include "common/name_filters.h"
#include "cycle/listing_policy.h"
#include "remote/remote_listing.h"
#include "settings/job_codes.h"

namespace vs {

// What the selection rules read and fill while one remote listing is admitted.
struct ListingContext {
    FileType fileType;          // the running download job's file type
    std::string& operatorCode;  // the rules by ".t" files may turn it into "SELETTIVO"
    const std::string& operatorList;
    const NameFilters& filters;
    ListingTable& table;
    bool& controlFileFlag;
    std::string folder;    // the remote folder listed, as the log names it
    std::string rowStamp;  // a row's key until its attributes give one: the moment it was made
    std::function<void(const std::string&)> log;  // receives the message; adds the time
    bool overflowReported = false;  // the "rest waits" line is written once per listing
};

// The one reader of a remote listing: admits the entries the job takes into the table, by the
// rules of the session's kind of server. Entries whose names could not be used safely (see
// isUsableFileName) never get in; they and those the session could not read are counted in
// one line.
void admitListing(const RemoteListing& listing, const ListingPolicy& policy, ListingContext& ctx);

}  // namespace vs
