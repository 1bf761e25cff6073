#include "cycle/sort_keys.h"

#include <cstdio>

#include "common/selection_order.h"
#include "common/text.h"

namespace vs {

std::string timestampKey(const LocalTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d_%02d%02d%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return buf;
}

std::string pdfreportKey(const std::string& name, const LocalTime& t) {
    const size_t dot = name.find('.');
    const size_t p = dot == std::string::npos ? 0 : dot + 1;  // 1-based, 0 when none
    if (p + 7 <= name.size()) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%d%02d%02d_%02d%02d%02d", t.year % 10, t.month, t.day,
                      t.hour, t.minute, t.second);
        // The three characters from position p + 5 (1-based).
        return buf + name.substr(p + 4, 3);
    }
    return timestampKey(t);
}

std::string automailKey(const std::string& name, long row) {
    // Names longer than 16 characters are keyed by their first 16, so that the row number
    // keeps its place.
    std::string key = name.substr(0, 16);
    key.resize(16, ' ');
    return key + zeroPad(row, 3);
}

std::string fixedWidthKey(const std::string& key) {
    std::string k = key.substr(0, 15);
    k.resize(15, ' ');
    return k;
}

std::string queueItem(const std::string& key, long row, const std::string& name) {
    return key + " " + zeroPad(row, 3) + " " + name;
}

void SelectionSort(ListingTable& table, long last) {
    if (last < 1) return;
    std::vector<std::string> keys;
    keys.reserve(static_cast<size_t>(last) + 1);
    for (long i = 0; i <= last; ++i) keys.push_back(toLower(table[static_cast<size_t>(i)].name));
    const std::vector<size_t> order = selectionSortOrder(keys);
    std::vector<ListingTable::Row> sorted;
    sorted.reserve(order.size());
    for (size_t pos = 0; pos < order.size(); ++pos) {
        ListingTable::Row row = table[order[pos]];
        row.size = table[pos].size;  // only the name and the key move
        sorted.push_back(std::move(row));
    }
    for (size_t pos = 0; pos < sorted.size(); ++pos) table[pos] = std::move(sorted[pos]);
}

}  // namespace vs
