// The settings reader on arbitrary bytes: it never crashes, and a value written into any file
// reads back as written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "settings/profile_file.h"
#include "settings/settings_keys.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    vs::ProfileText text(input);
    (void)text.get("PARAMETRI", "host");
    // The load's check of every key name (unknown, padded, the nearest known one).
    for (const vs::ProfileLine& line : text.meaningfulLines())
        if (line.key) (void)vs::checkKeyName(*line.key);

    // The last bytes name a key and a value to write into the file read from the rest.
    const std::size_t split = size / 3;
    std::string key = input.substr(0, split % 17);
    std::string value = input.substr(split);
    for (char& c : key)
        if (c == '=' || c == '[' || c == ']' || c == '\r' || c == '\n' || c == ';' || c == '#' ||
            c == '\0' || c == ' ' || c == '\t')
            c = 'k';
    if (key.empty()) key = "k";
    text.set("PARAMETRI", key, value);
    const vs::ProfileText reread(text.content());
    std::string expected = value;
    for (char& c : expected)
        if (c == '\r' || c == '\n') c = ' ';
    if (auto nul = expected.find('\0'); nul != std::string::npos) expected.resize(nul);
    if (expected.size() > vs::kProfileValueMax) expected.resize(vs::kProfileValueMax);
    if (reread.get("PARAMETRI", key) != expected) std::abort();
    return 0;
}
