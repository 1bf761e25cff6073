#pragma once

#include <string>
#include <vector>

namespace vs {

// The process's argument text: the arguments after the program's own path, joined by blanks.
std::string argumentText(int argc, char** argv);

// Cuts the argument text into tokens at blanks and tabs (no quoting). Entries 0..maxArgs;
// entry 0 always empty, tokens from entry 1 on; tokens past maxArgs are ignored.
std::vector<std::string> GetCommandLine(const std::string& text, int maxArgs = 10);

// The switches as Main and Form_Load read them: a token carries a key when it contains it
// (case counts); the value starts at a fixed position; the last such token wins.
std::string readPlusSetting(const std::vector<std::string>& args);  // upper case, "n" default

struct FormSwitches {
    std::string operatorCode = "TUTTI";  // "ope:", upper case
    std::string mode;                    // "mod:", lower case
    std::string once;                    // "once:", lower case
};
FormSwitches readFormSwitches(const std::vector<std::string>& args);

}  // namespace vs
