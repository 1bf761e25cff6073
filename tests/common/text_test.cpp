// What outside text becomes on its way to the log.
#include "common/text.h"

#include <gtest/gtest.h>

namespace vs {
namespace {

using namespace std::string_literals;

TEST(Visible, EscapesWhatCouldForgeOrHideAndKeepsTheRest) {
    const std::string cut = "...[troncato]";
    const std::pair<std::string, std::string> rows[] = {
        {"perché è così.txt", "perché è così.txt"},
        {"a\rb\nc\0d"s, "a\\x0db\\x0ac\\x00d"},
        {"\x1b[2J\x7f", "\\x1b[2J\\x7f"},
        {"\xc2\x85 \xc2\x9b \xc2\xa0", "\\u0085 \\u009b \xc2\xa0"},  // C1 in UTF-8; NBSP stays
        {"\x85 \x9b perch\xe9", "\\x85 \\x9b perch\xe9"},  // C1 alone; Latin-1 letters stay
        {"\xe2\x80\xaa\xe2\x80\xae \xe2\x81\xa6\xe2\x81\xa9", "\\u202a\\u202e \\u2066\\u2069"},
        {"\xe2\x80\xa8\xe2\x80\xa9 \xe2\x80\xa7\xe2\x80\xaf",
         "\\u2028\\u2029 \xe2\x80\xa7\xe2\x80\xaf"},
        {"\xe2\x81\xa5\xe2\x81\xaa \xf0\x9f\x98\x80", "\xe2\x81\xa5\xe2\x81\xaa \xf0\x9f\x98\x80"},
        // Broken sequences: the stray C1 bytes in them are still caught.
        {"\xe2\x80x \xc0\x85 \xed\xa0\x80", "\xe2\\x80x \xc0\\x85 \xed\xa0\\x80"},
        {std::string(1000, 'a'), std::string(1000, 'a')},
        {std::string(1001, 'a'), std::string(1000, 'a') + cut},
        {std::string(996, 'a') + "\x1b", std::string(996, 'a') + "\\x1b"},
        {std::string(997, 'a') + "\x1b", std::string(997, 'a') + cut},
        {std::string(999, 'a') + "è", std::string(999, 'a') + cut},
    };
    for (const auto& [in, out] : rows) EXPECT_EQ(visible(in), out);
}

}  // namespace
}  // namespace vs
