#pragma once

#include <string>

#include "common/clock.h"
#include "common/listing_table.h"

namespace vs {

// Sort keys of the download queue. Apart from an automail key they have 15 characters, so
// that the row number of a queue item stands at characters 17 to 19.
std::string timestampKey(const LocalTime& t);  // yyyymmdd_hhmmss
std::string pdfreportKey(const std::string& name, const LocalTime& t);
std::string automailKey(const std::string& name, long row);  // name(16) + row "000"
// Pads or cuts a key to 15 characters.
std::string fixedWidthKey(const std::string& key);

// The queue item of a listing row: key, a blank, the row as "000", a blank, the name.
std::string queueItem(const std::string& key, long row, const std::string& name);

// Rows 0..last ordered by their names compared lower-cased, as a selection sort leaves them;
// names and keys move, sizes stay.
void SelectionSort(ListingTable& table, long last);

}  // namespace vs
