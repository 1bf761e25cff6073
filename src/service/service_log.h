#pragma once

#include <functional>
#include <string>

namespace vs {

// Where the service pieces report: the caller adds the time and routes the line to the
// activity log.
using ServiceLog = std::function<void(const std::string&)>;

}  // namespace vs
