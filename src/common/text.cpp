#include "common/text.h"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
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

std::vector<std::string_view> splitLines(std::string_view s) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < s.size()) {
        size_t end = s.find('\n', start);
        if (end == std::string_view::npos) end = s.size();
        lines.push_back(s.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string zeroPad(long long value, int width) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*lld", width, value);
    return buf;
}

namespace {

// Length of the valid UTF-8 sequence starting at s[i], or 0 when none starts there.
std::size_t utf8Length(std::string_view s, std::size_t i) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = at(i);
    std::size_t n;
    unsigned char low = 0x80, high = 0xbf;  // bounds of the second byte
    if (c >= 0xc2 && c <= 0xdf) {
        n = 2;
    } else if (c >= 0xe0 && c <= 0xef) {
        n = 3;
        if (c == 0xe0) low = 0xa0;
        if (c == 0xed) high = 0x9f;  // no surrogates
    } else if (c >= 0xf0 && c <= 0xf4) {
        n = 4;
        if (c == 0xf0) low = 0x90;
        if (c == 0xf4) high = 0x8f;
    } else {
        return 0;
    }
    if (s.size() - i < n || at(i + 1) < low || at(i + 1) > high) return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xbf) return 0;
    return n;
}

// Code points that move text around or end a line on the operator's screen: C1 controls,
// the bidirectional embeddings, overrides and isolates, and the Unicode line separators.
bool isHiddenControl(std::uint32_t cp) {
    return (cp >= 0x80 && cp <= 0x9f) || (cp >= 0x202a && cp <= 0x202e) ||
           (cp >= 0x2066 && cp <= 0x2069) || cp == 0x2028 || cp == 0x2029;
}

}  // namespace

std::string visible(std::string_view s) {
    constexpr std::size_t kCap = 1000;
    constexpr std::string_view kCut = "...[troncato]";
    std::string r;
    r.reserve(std::min(s.size(), kCap) + kCut.size());
    char buf[16];
    const auto escape = [&](const char* format, std::uint32_t value) {
        return std::string_view(buf, std::snprintf(buf, sizeof buf, format, value));
    };
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80 ? 1 : utf8Length(s, i);
        std::string_view piece;
        if (c < 0x20 || c == 0x7f) {
            piece = escape("\\x%02x", c);
        } else if (n == 0) {
            // Not UTF-8: most likely a Latin-1 name, whose letters stay; 80..9f are C1
            // controls there.
            n = 1;
            piece = c <= 0x9f ? escape("\\x%02x", c) : s.substr(i, 1);
        } else {
            std::uint32_t cp = n == 1 ? c : c & (0x7f >> n);
            for (std::size_t k = 1; k < n; ++k)
                cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3f);
            piece = isHiddenControl(cp) ? escape("\\u%04x", cp) : s.substr(i, n);
        }
        // Whole characters and whole escapes only, so that the cut itself forges nothing.
        if (r.size() + piece.size() > kCap) {
            r += kCut;
            break;
        }
        r += piece;
        i += n;
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
