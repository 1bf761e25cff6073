#pragma once

#include <functional>

namespace vs {

// "Let pending events run": the window passes processEvents, headless runs pass their own
// event loop's, tests pass a scripted callable that fires ticks or aborts mid-transfer.
using YieldFn = std::function<void()>;

}  // namespace vs
