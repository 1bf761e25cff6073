#include "shell/command_line.h"

#include <gtest/gtest.h>

namespace vs {
namespace {

TEST(GetCommandLine, SplitsAtBlanksAndTabsWithoutQuoting) {
    auto args = GetCommandLine("  ope:ab1\t\tmod:AUTO  \"x y\"  ", 10);
    ASSERT_EQ(args.size(), 11u);
    EXPECT_EQ(args[0], "");
    EXPECT_EQ(args[1], "ope:ab1");
    EXPECT_EQ(args[2], "mod:AUTO");
    EXPECT_EQ(args[3], "\"x");
    EXPECT_EQ(args[4], "y\"");
    for (size_t i = 5; i < args.size(); ++i) EXPECT_EQ(args[i], "");
}

TEST(GetCommandLine, TakesAtMostMaxArgsTokens) {
    auto args = GetCommandLine("a b c d e f g h i j ope:late", 10);
    ASSERT_EQ(args.size(), 11u);
    EXPECT_EQ(args[10], "j");
    EXPECT_EQ(readFormSwitches(args).operatorCode, "TUTTI");  // the eleventh token is ignored
    EXPECT_EQ(GetCommandLine("", 10), std::vector<std::string>(11));
}

struct SwitchCase {
    const char* line;
    const char* operatorCode;
    const char* mode;
    const char* once;
};

class FormSwitchesTest : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(FormSwitchesTest, ReadsValuesFromFixedPositions) {
    const SwitchCase& c = GetParam();
    FormSwitches s = readFormSwitches(GetCommandLine(c.line, 10));
    EXPECT_EQ(s.operatorCode, c.operatorCode);
    EXPECT_EQ(s.mode, c.mode);
    EXPECT_EQ(s.once, c.once);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormSwitchesTest,
    ::testing::Values(SwitchCase{"", "TUTTI", "", ""},
                      SwitchCase{"ope:ab1 mod:AUTO once:Y", "AB1", "auto", "y"},
                      SwitchCase{"ope:a x ope:b", "B", "", ""},      // the last one wins
                      SwitchCase{"xope:abc", ":ABC", "", ""},        // fixed position
                      SwitchCase{"OPE:x MOD:asp", "TUTTI", "", ""},  // keys count case
                      SwitchCase{"mod:asp plus:Y --headless", "TUTTI", "asp", ""},
                      SwitchCase{"ope:", "", "", ""}),
    [](const ::testing::TestParamInfo<SwitchCase>& info) { return std::to_string(info.index); });

TEST(PlusSetting, OnlyYLetsASecondInstanceStart) {
    EXPECT_EQ(readPlusSetting(GetCommandLine("", 10)), "n");
    EXPECT_EQ(readPlusSetting(GetCommandLine("plus:y", 10)), "Y");
    EXPECT_EQ(readPlusSetting(GetCommandLine("plus:Y", 10)), "Y");
    EXPECT_EQ(readPlusSetting(GetCommandLine("plus:yes", 10)), "YES");
}

}  // namespace
}  // namespace vs
