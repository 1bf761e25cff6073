#pragma once

#include <string>

namespace vs {

// One thing the settings reader found wrong: the key as written (empty when it concerns the
// file as a whole), the job it belongs to (-1 for none), what was wrong, and what the program
// does instead. The start-up lines, --check, the metrics and the exit codes all read the one
// list of these that a load leaves.
struct SettingsProblem {
    std::string key;
    int job = -1;
    std::string what;
    std::string instead;  // empty when nothing changes
};

// The log line: "Parametri, <key>: <what>; <instead>".
inline std::string problemLine(const SettingsProblem& p) {
    return "Parametri" + (p.key.empty() ? std::string() : ", " + p.key) + ": " + p.what +
           (p.instead.empty() ? std::string() : "; " + p.instead);
}

}  // namespace vs
