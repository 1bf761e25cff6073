#pragma once

#include <string>

#include "common/listing_table.h"
#include "common/work_list.h"
#include "cycle/selection_rules.h"

namespace vs {

// The cycle's values that outlive a single procedure: shown in the window, shared with the
// listing rules.
struct CycleState {
    int cycleCounter = 0;  // 1 on the first cycle; wraps from 32000 to 1
    int currentJob = 0;
    NameFilters filters;  // the running job's name filters
    std::string currentRemoteFolder;
    bool controlFileFlag = false;
    ListingTable listing;
    WorkList List2;
    // Captions of the three counters.
    std::string totfile = "0";
    std::string totfileok = "0";
    std::string totfilenonok = "0";
};

}  // namespace vs
