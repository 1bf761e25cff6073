#include "common/selection_order.h"

#include <numeric>
#include <set>
#include <string_view>
#include <utility>

namespace vs {

std::vector<std::size_t> selectionSortOrder(const std::vector<std::string>& keys) {
    const std::size_t n = keys.size();
    std::vector<std::size_t> at(n);  // element standing at each position
    std::iota(at.begin(), at.end(), std::size_t{0});
    // Every element not yet placed, by (key, current position): the smallest entry is the
    // minimum a scan from the current position would pick.
    std::set<std::pair<std::string_view, std::size_t>> pending;
    for (std::size_t pos = 0; pos < n; ++pos) pending.emplace(keys[pos], pos);
    for (std::size_t i = 0; i + 1 < n; ++i) {
        const std::size_t minPos = pending.begin()->second;
        pending.erase(pending.begin());
        if (minPos != i) {
            // The swap moves the element at i to where the minimum stood.
            const std::string_view moved = keys[at[i]];
            pending.erase({moved, i});
            pending.emplace(moved, minPos);
            std::swap(at[i], at[minPos]);
        }
    }
    return at;
}

}  // namespace vs
