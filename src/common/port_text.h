#pragma once

#include <string>

namespace vs {

// The port written after the ":" of a host text. Throws RuntimeError (type mismatch) for a
// text that is no number, and for a number outside 1..65535.
int portFromText(const std::string& text);

}  // namespace vs
