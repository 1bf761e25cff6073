#pragma once

#include <string>

#include "cycle/cycle_report.h"
#include "service/run_totals.h"

namespace vs {

// The one line `systemctl status` shows after a cycle, e.g.
// "Ciclo 12: ricevuti 30, inviati 4, errori 0, ultimo ciclo senza errori 07/12/2026 14:03:22".
// Files and errors are this run's totals, so a glance tells whether anything moved at all.
std::string statusLine(const CycleReport& last, const RunTotals& totals);

}  // namespace vs
