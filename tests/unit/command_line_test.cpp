#include "shell/command_line.h"

#include <gtest/gtest.h>

namespace vs {
namespace {

struct SwitchCase {
    const char* line;
    const char* operatorCode;
    const char* mode;
    const char* once;
    const char* plus;
};

TEST(Switches, AreReadFromFixedPositionsAndTheLastOneWins) {
    for (const SwitchCase& c : {
             SwitchCase{"", "TUTTI", "", "", "n"},
             SwitchCase{" ope:ab1\t\tmod:AUTO  once:Y ", "AB1", "auto", "y", "n"},
             SwitchCase{"ope:a x ope:b", "B", "", "", "n"},
             SwitchCase{"xope:abc", ":ABC", "", "", "n"},               // the position is fixed
             SwitchCase{"OPE:x MOD:asp PLUS:y", "TUTTI", "", "", "n"},  // case counts
             SwitchCase{"plus:y ope:", "", "", "", "Y"},
             SwitchCase{"plus:yes", "TUTTI", "", "", "YES"},
             SwitchCase{"a b c d e f g h i j ope:late", "TUTTI", "", "", "n"},
         }) {
        SCOPED_TRACE(c.line);
        const auto args = GetCommandLine(c.line, 10);
        const FormSwitches s = readFormSwitches(args);
        EXPECT_EQ(s.operatorCode, c.operatorCode);
        EXPECT_EQ(s.mode, c.mode);
        EXPECT_EQ(s.once, c.once);
        EXPECT_EQ(readPlusSetting(args), c.plus);
    }
}

TEST(GetCommandLine, GivesElevenEntriesTokensFromTheSecondAndNoQuoting) {
    EXPECT_EQ(GetCommandLine(" \"x y\"\t", 10),
              (std::vector<std::string>{"", "\"x", "y\"", "", "", "", "", "", "", "", ""}));
}

}  // namespace
}  // namespace vs
