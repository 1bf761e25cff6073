#include "shell/command_line_check.h"

#include "common/text.h"
#include "shell/command_line.h"

namespace vs {

namespace {

constexpr const char* kSwitches =
    " (switch: plus:Y ope:CODICE mod:auto mod:asp once:y --headless --check --connect "
    "--help --version --history)";

bool isOwnSwitch(const std::string& token) {
    for (const char* own : kOwnSwitches)
        if (token == own) return true;
    return false;
}

}  // namespace

bool hasOwnSwitch(const std::string& argumentText, const char* name) {
    for (const std::string& token : GetCommandLine(argumentText, 1000))
        if (token == name) return true;
    return false;
}

std::vector<std::string> commandLineWarnings(const std::string& argumentText) {
    std::vector<std::string> lines;
    const std::vector<std::string> all = GetCommandLine(argumentText, 1000);
    for (std::size_t i = 1; i < all.size() && !all[i].empty(); ++i) {
        const std::string& token = all[i];
        if (isOwnSwitch(token)) continue;
        if (i > 10) {
            lines.push_back("valtrassosftp: argomento ignorato (oltre il decimo): " +
                            visible(token) + kSwitches);
            continue;
        }
        bool carries = false;
        for (const char* key : {"plus:", "ope:", "mod:", "once:"})
            carries = carries || contains(token, key);
        if (!carries)
            lines.push_back("valtrassosftp: argomento ignorato: " + visible(token) + kSwitches);
    }
    if (hasOwnSwitch(argumentText, "--connect") && !hasOwnSwitch(argumentText, "--check"))
        lines.push_back(std::string("valtrassosftp: --connect vale solo con --check") + kSwitches);
    const std::vector<std::string> args = GetCommandLine(argumentText, 10);
    const FormSwitches s = readFormSwitches(args);
    if (!s.mode.empty() && s.mode != "auto" && s.mode != "asp")
        lines.push_back("valtrassosftp: mod:" + visible(s.mode) +
                        " non e' una modalita (auto o asp): i cicli partono solo dal pulsante "
                        "della finestra" +
                        kSwitches);
    if (!s.once.empty() && s.once != "y")
        lines.push_back("valtrassosftp: once:" + visible(s.once) + " non vale nulla, solo once:y" +
                        kSwitches);
    if (const std::string plus = readPlusSetting(args); plus != "n" && plus != "N" && plus != "Y")
        lines.push_back("valtrassosftp: plus:" + visible(plus) + " non vale nulla, solo plus:Y" +
                        kSwitches);
    return lines;
}

}  // namespace vs
