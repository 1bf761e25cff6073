#include "service/status_line.h"

#include "common/clock.h"

namespace vs {

std::string statusLine(const CycleReport& last, const RunTotals& totals) {
    // No cycle runs at all: that is what the operator must read first.
    const std::string head = last.outcome == CycleOutcome::ConfigInvalid
                                 ? "Parametri non utilizzabili (valtrassosftp --check): "
                                 : "";
    return head + "Ciclo " + std::to_string(last.cycle) + ": ricevuti " +
           std::to_string(totals.filesReceived) + ", inviati " + std::to_string(totals.filesSent) +
           ", errori " + std::to_string(totals.errors) + ", ultimo ciclo senza errori " +
           (totals.lastClean ? formatGeneralDateTime(toLocalTime(*totals.lastClean)) : "mai");
}

}  // namespace vs
