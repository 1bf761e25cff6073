#include "common/name_filters.h"

#include "common/text.h"

namespace vs {

bool nameTest(const NameFilters& f, std::string_view name) {
    const std::string lower = toLower(name);
    if (!f.prefix.empty() && !startsWith(lower, toLower(f.prefix))) return false;
    if (!f.suffix.empty() && !endsWith(lower, toLower(f.suffix))) return false;
    if (!f.contains.empty() && !contains(lower, toLower(f.contains))) return false;
    return true;
}

}  // namespace vs
