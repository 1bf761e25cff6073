// How the command line is cut into switches.
#include "shell/command_line.h"

#include <gtest/gtest.h>

namespace vs {
namespace {

TEST(Switches, AreReadFromFixedPositionsAndTheLastOneWins) {
    // The command line, then what it gives: operator, mode, once, plus.
    for (const auto& [line, operatorCode, mode, once, plus] : {
             std::tuple{"", "TUTTI", "", "", "n"},
             {" ope:ab1\t\tmod:AUTO  once:Y ", "AB1", "auto", "y", "n"},
             {"ope:a x ope:b", "B", "", "", "n"},
             {"xope:abc", ":ABC", "", "", "n"},               // the position is fixed
             {"OPE:x MOD:asp PLUS:y", "TUTTI", "", "", "n"},  // case counts
             {"plus:y ope:", "", "", "", "Y"},
             {"a b c d e f g h i j ope:late", "TUTTI", "", "", "n"},
         }) {
        SCOPED_TRACE(line);
        const auto args = GetCommandLine(line, 10);
        const FormSwitches s = readFormSwitches(args);
        EXPECT_EQ(s.operatorCode, operatorCode);
        EXPECT_EQ(s.mode, mode);
        EXPECT_EQ(s.once, once);
        EXPECT_EQ(readPlusSetting(args), plus);
    }
    // Eleven entries, tokens from the second, no quoting.
    EXPECT_EQ(GetCommandLine(" \"x y\"\t", 10),
              (std::vector<std::string>{"", "\"x", "y\"", "", "", "", "", "", "", "", ""}));
}

}  // namespace
}  // namespace vs
