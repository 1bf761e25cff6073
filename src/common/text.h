#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Small text helpers with the program's own rules: ASCII case folding, blanks-only trimming,
// 1-based positions where the rules count that way.
namespace vs {

std::string toLower(std::string_view s);
std::string toUpper(std::string_view s);
bool equalsIgnoreCase(std::string_view a, std::string_view b);
bool startsWith(std::string_view s, std::string_view prefix);
bool endsWith(std::string_view s, std::string_view suffix);
bool contains(std::string_view s, std::string_view needle);

// Removes blanks (" ") at both ends only, as the rules that say "trim" mean.
std::string trimBlanks(std::string_view s);

// Leading decimal number of a text, as a lenient numeric conversion reads it: optional blanks,
// an optional sign, then digits. Empty when no digit follows.
std::optional<std::int64_t> leadingNumber(std::string_view s);
// The whole text as a decimal integer (blanks around allowed); empty when it is not one.
std::optional<std::int64_t> parseInteger(std::string_view s);

// The lines of a text split at '\n' (a '\r' before it stays in the line); a final line
// break does not start another, empty, line.
std::vector<std::string_view> splitLines(std::string_view s);

// Zero-padded decimal, e.g. zeroPad(7, 2) == "07".
std::string zeroPad(long long value, int width);

// The one rule for text from outside (names, server replies, error texts, banners) on its way
// to the log: control characters become visible escapes so that the text can never forge a log
// line, drive the operator's terminal or reorder what is shown (C0 and DEL as \x1b, C1 as
// \x85 or \u0085, bidirectional controls and line separators as \u202e); other UTF-8 stays
// as it is. Longer than 1,000 bytes, it is cut there, between whole characters, and marked
// "...[troncato]".
std::string visible(std::string_view s);

// Digits of a non-negative count grouped by threes with the locale's thousands separator
// ("." where the locale has none), as the "###,###,###" format shows them.
std::string groupedNumber(long long value, const std::string& separator);
// The thousands separator of the LC_NUMERIC locale, or "." when it defines none.
std::string localeThousandsSeparator();

}  // namespace vs
