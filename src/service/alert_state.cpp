#include "service/alert_state.h"

#include "service/run_totals.h"

namespace vs {

AlertEvent AlertState::afterCycle(CycleOutcome outcome) {
    if (isFailingOutcome(outcome)) {
        ++inARow_;
        if (raised_ || inARow_ < after_) return AlertEvent::None;
        raised_ = true;
        return AlertEvent::Failing;
    }
    if (!isCleanOutcome(outcome)) return AlertEvent::None;
    lastStreak_ = inARow_;
    inARow_ = 0;
    if (!raised_) return AlertEvent::None;
    raised_ = false;
    return AlertEvent::Recovered;
}

}  // namespace vs
