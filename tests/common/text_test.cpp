// What outside text becomes on its way to the log, and the base64 that known_hosts lines and
// certificate pins rest on, against published vectors.
#include "common/text.h"

#include <gtest/gtest.h>

#include "common/base64.h"

namespace vs {
namespace {

using namespace std::string_literals;

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) out += {digits[c >> 4], digits[c & 15]};
    return out;
}

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
    for (const auto& [in, out] : rows) EXPECT_EQ(visible(in), out) << hex(in);
}

TEST(Base64, MatchesRfc4648BothWays) {
    // clang-format off
    const std::pair<std::string, std::string> rows[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"\xfb\xff", "+/8="}};
    // clang-format on
    for (const auto& [bytes, text] : rows) {
        std::string unpadded = text.substr(0, text.find('='));
        EXPECT_EQ(base64Encode(bytes), text);
        EXPECT_EQ(base64Encode(bytes, false), unpadded);
        EXPECT_EQ(base64Decode(text), bytes) << text;
        EXPECT_EQ(base64Decode(unpadded), bytes) << unpadded;
    }
    for (const char* bad : {"Zm9v!", "Z", "Zm 9v", "Zm9v\n", " Zm9v"})
        EXPECT_EQ(base64Decode(bad), std::nullopt) << bad;
}

}  // namespace
}  // namespace vs
