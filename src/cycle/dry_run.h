#pragma once

#include <string>

#include "common/clock.h"
#include "cycle/listing_policy.h"
#include "remote/remote_session.h"

namespace vs {

class ActivityLog;
class Settings;

struct DryRunContext {
    const Clock& clock;
    ActivityLog& log;
    const Settings& settings;
    std::string operatorCode;
    RemoteSession& remote;
    ListingPolicy listing;  // the rules of the session's kind of server
};

// valtrassosftp --check --connect: logs in, lists the remote folder of every job a cycle can
// run and says what a cycle would move now, by the cycle's own selection rules; it fetches,
// sends, renames and deletes nothing. False when the connection, a listing or a local folder
// failed.
bool dryRun(DryRunContext c);

}  // namespace vs
