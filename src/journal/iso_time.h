#pragma once

#include <optional>
#include <string>

#include "common/clock.h"

namespace vs {

// UTC in ISO 8601 as the journal stores it: "2009-10-16T10:00:05Z", with the fraction of a
// second when there is one (local files carry nanoseconds) or, with `millis`, always to the
// millisecond ("2009-10-16T10:00:05.120Z": text order is time order).
std::string isoUtc(TimePoint t, bool millis = false);
// The time of such a text; none when it is not one.
std::optional<TimePoint> parseIsoUtc(const std::string& text);

}  // namespace vs
