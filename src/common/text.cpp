#include "common/text.h"

#include <langinfo.h>
#include <locale.h>

#include <cstdio>

namespace vs {

std::string toLower(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return r;
}

std::string toUpper(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return r;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && toLower(a) == toLower(b);
}

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.starts_with(prefix);
}
bool endsWith(std::string_view s, std::string_view suffix) {
    return s.ends_with(suffix);
}
bool contains(std::string_view s, std::string_view needle) {
    return s.find(needle) != std::string_view::npos;
}

std::string trimBlanks(std::string_view s) {
    size_t b = s.find_first_not_of(' ');
    if (b == std::string_view::npos) return {};
    size_t e = s.find_last_not_of(' ');
    return std::string(s.substr(b, e - b + 1));
}

std::optional<std::int64_t> leadingNumber(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    if (i >= s.size() || s[i] < '0' || s[i] > '9') return std::nullopt;
    std::int64_t v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        if (v > (INT64_MAX - 9) / 10) break;  // saturate rather than overflow
        v = v * 10 + (s[i] - '0');
    }
    return negative ? -v : v;
}

std::optional<std::int64_t> parseInteger(std::string_view s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string_view::npos) return std::nullopt;
    size_t e = s.find_last_not_of(" \t");
    std::string_view t = s.substr(b, e - b + 1);
    size_t i = (t[0] == '-' || t[0] == '+') ? 1 : 0;
    if (i >= t.size() || t.size() - i > 18) return std::nullopt;
    for (size_t k = i; k < t.size(); ++k)
        if (t[k] < '0' || t[k] > '9') return std::nullopt;
    return leadingNumber(t);
}

std::string zeroPad(long long value, int width) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*lld", width, value);
    return buf;
}

std::string visible(std::string_view s) {
    std::string r;
    r.reserve(s.size());
    for (unsigned char c : s) {
        if (c < 0x20 || c == 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            r += buf;
        } else {
            r += static_cast<char>(c);
        }
    }
    return r;
}

std::string groupedNumber(long long value, const std::string& separator) {
    const bool negative = value < 0;
    std::string digits = std::to_string(negative ? -value : value);
    std::string out;
    const size_t n = digits.size();
    for (size_t i = 0; i < n; ++i) {
        out += digits[i];
        const size_t left = n - i - 1;
        if (left > 0 && left % 3 == 0) out += separator;
    }
    return negative ? "-" + out : out;
}

std::string localeThousandsSeparator() {
    locale_t loc = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0)) return ".";
    const char* sep = nl_langinfo_l(THOUSEP, loc);
    std::string s = sep ? sep : "";
    freelocale(loc);
    return s.empty() ? "." : s;
}

}  // namespace vs
