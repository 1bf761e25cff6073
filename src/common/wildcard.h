#pragma once

#include <string_view>

namespace vs {

// File-name wildcard match ignoring case: "*" any run of characters, "?" one character; every
// other character stands for itself. "*.*" and "*" match every name, as on the platforms whose
// folders these patterns were written for.
bool wildcardMatch(std::string_view pattern, std::string_view name);

}  // namespace vs
