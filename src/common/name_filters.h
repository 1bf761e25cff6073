#pragma once

#include <string>
#include <string_view>

namespace vs {

// The three name filters of a job, parsed from its parameter text. Empty = off.
struct NameFilters {
    std::string prefix;    // "INIZIA:"
    std::string contains;  // "CONTIENE:"
    std::string suffix;    // "FINISCE:"
    bool empty() const { return prefix.empty() && contains.empty() && suffix.empty(); }
};

// True when the name passes all three filters (ignoring case).
bool nameTest(const NameFilters& filters, std::string_view name);

}  // namespace vs
