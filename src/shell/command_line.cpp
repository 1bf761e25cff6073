#include "shell/command_line.h"

#include "common/text.h"

namespace vs {

std::string argumentText(int argc, char** argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) text += ' ';
        text += argv[i];
    }
    return text;
}

std::vector<std::string> GetCommandLine(const std::string& text, int maxArgs) {
    if (maxArgs < 0) maxArgs = 0;
    std::vector<std::string> args(static_cast<size_t>(maxArgs) + 1);
    int count = 0;
    bool inToken = false;
    for (char c : text) {
        if (c != ' ' && c != '\t') {
            if (!inToken) {
                if (count == maxArgs) break;
                ++count;
                inToken = true;
            }
            args[static_cast<size_t>(count)] += c;
        } else {
            inToken = false;
        }
    }
    return args;
}

namespace {
// The token's text from the 1-based character position on.
std::string from(const std::string& token, size_t position) {
    return position - 1 < token.size() ? token.substr(position - 1) : std::string();
}
}  // namespace

std::string readPlusSetting(const std::vector<std::string>& args) {
    std::string plus = "n";
    for (const std::string& a : args)
        if (contains(a, "plus:")) plus = toUpper(from(a, 6));
    return plus;
}

FormSwitches readFormSwitches(const std::vector<std::string>& args) {
    FormSwitches s;
    for (const std::string& a : args) {
        if (contains(a, "ope:")) s.operatorCode = toUpper(from(a, 5));
        if (contains(a, "mod:")) s.mode = toLower(from(a, 5));
        if (contains(a, "once:")) s.once = toLower(from(a, 6));
    }
    return s;
}

}  // namespace vs
