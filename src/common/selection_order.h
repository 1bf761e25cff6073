#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vs {

// The final order of a selection sort with swaps over the keys (ascending, byte order; of equal
// keys the one found first at each step is taken), computed in O(n log n). Element
// order[pos] ends at position pos. Equal keys end in exactly the order the quadratic
// selection sort leaves them in, which is not always their original order.
std::vector<std::size_t> selectionSortOrder(const std::vector<std::string>& keys);

}  // namespace vs
