#include "remote/ftp/ftp_listing.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "common/file_name.h"
#include "common/text.h"

namespace vs {
namespace {

constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// One entry as the reader wants it, whatever the server's own layout was.
struct Entry {
    std::string type;  // "d", "-" or "l", followed by the permissions when known
    std::string links = "1";
    std::string owner = "ftp";
    std::string group = "ftp";
    std::string size;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    std::string_view name;
};

enum class Outcome { Entry, Ignored, NotUnderstood };

struct Token {
    std::string_view text;
    size_t end;  // offset just past the token in its line
};

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::vector<Token> tokenize(std::string_view line) {
    std::vector<Token> tokens;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i])) ++i;
        size_t start = i;
        while (i < line.size() && !isBlank(line[i])) ++i;
        if (i > start) tokens.push_back({line.substr(start, i - start), i});
    }
    return tokens;
}

bool isDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// A size as a canonical decimal; empty when the text is not a plausible 64-bit size.
std::string canonicalSize(std::string_view s) {
    if (!isDigits(s) || s.size() > 18) return {};
    std::int64_t v = 0;
    for (char c : s) v = v * 10 + (c - '0');
    return std::to_string(v);
}

int smallNumber(std::string_view s) {
    if (!isDigits(s) || s.size() > 4) return -1;
    int v = 0;
    for (char c : s) v = v * 10 + (c - '0');
    return v;
}

int monthNumber(std::string_view s) {
    if (s.size() != 3) return 0;
    for (size_t i = 0; i < kMonths.size(); ++i)
        if (equalsIgnoreCase(s, kMonths[i])) return static_cast<int>(i) + 1;
    return 0;
}

bool parseClock(std::string_view s, int& hour, int& minute) {
    size_t colon = s.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > 2 || s.size() != colon + 3)
        return false;
    hour = smallNumber(s.substr(0, colon));
    minute = smallNumber(s.substr(colon + 1));
    return hour >= 0 && hour < 24 && minute >= 0 && minute < 60;
}

bool isYear(std::string_view s) {
    int y = smallNumber(s);
    return s.size() == 4 && y >= 1900;
}

// Permission letters after the type letter in "ls -l" style, e.g. "rwxr-x---", optionally
// followed by one ACL/attribute marker.
bool plausiblePermissions(std::string_view p) {
    if (p.size() != 9 && !(p.size() == 10 && (p[9] == '+' || p[9] == '@' || p[9] == '.')))
        return false;
    for (size_t i = 0; i < 9; ++i)
        if (std::string_view("rwxsStTlL-").find(p[i]) == std::string_view::npos) return false;
    return true;
}

// "ls -l" as vsftpd, proftpd, pure-ftpd and most Unix servers print it. The number of columns
// before the size varies (no group, no link count), so the date is looked for instead: the
// first "Mon dd hh:mm|yyyy" preceded by a number; the name is what follows its single blank.
Outcome parseUnixLine(std::string_view line, Entry& e) {
    std::vector<Token> t = tokenize(line);
    if (t.empty()) return Outcome::Ignored;
    if (t.size() == 2 && t[0].text == "total" && isDigits(t[1].text)) return Outcome::Ignored;
    std::string_view perms = t[0].text;
    if (perms.size() < 10 || !plausiblePermissions(perms.substr(1))) return Outcome::NotUnderstood;
    char type = perms[0];
    if (type != 'd' && type != '-' && type != 'l') return Outcome::NotUnderstood;

    for (size_t i = 2; i + 2 < t.size(); ++i) {
        int month = monthNumber(t[i].text);
        if (month == 0) continue;
        std::string size = canonicalSize(t[i - 1].text);
        int day = smallNumber(t[i + 1].text);
        if (size.empty() || day < 1 || day > 31) continue;
        int hour = 0, minute = 0;
        if (!parseClock(t[i + 2].text, hour, minute) && !isYear(t[i + 2].text)) continue;
        size_t nameStart = t[i + 2].end + 1;
        if (nameStart >= line.size()) return Outcome::NotUnderstood;

        e.type = std::string(perms.substr(0, 10));
        // Columns between the permissions and the size: link count, owner, group, each of
        // which some servers leave out.
        std::vector<std::string_view> middle;
        for (size_t k = 1; k + 1 < i; ++k) middle.push_back(t[k].text);
        size_t m = 0;
        if (m < middle.size() && isDigits(middle[m])) e.links = std::string(middle[m++]);
        if (m < middle.size()) e.owner = e.group = std::string(middle[m++]);
        if (m < middle.size()) e.group = std::string(middle[m++]);
        e.size = size;
        e.month = month;
        e.day = day;
        e.hour = hour;
        e.minute = minute;
        e.name = line.substr(nameStart);
        if (type == 'l') {
            size_t arrow = e.name.find(" -> ");
            if (arrow != std::string_view::npos) e.name = e.name.substr(0, arrow);
        }
        return Outcome::Entry;
    }
    return Outcome::NotUnderstood;
}

// The listing of IIS and other Windows servers:
//   "10-16-09  02:30PM       <DIR>          name"
//   "10-16-09  02:30PM                 1234 name"
// The date is month-day-year; the time is 12-hour with AM/PM or 24-hour.
Outcome parseDosLine(std::string_view line, Entry& e) {
    std::vector<Token> t = tokenize(line);
    if (t.size() < 4) return Outcome::NotUnderstood;

    std::string_view date = t[0].text;
    char sep = date.size() > 2 ? date[2] : 0;
    if ((sep != '-' && sep != '/') || (date.size() != 8 && date.size() != 10) || date[5] != sep)
        return Outcome::NotUnderstood;
    int month = smallNumber(date.substr(0, 2));
    int day = smallNumber(date.substr(3, 2));
    if (month < 1 || month > 12 || day < 1 || day > 31 || smallNumber(date.substr(6)) < 0)
        return Outcome::NotUnderstood;

    std::string_view clock = t[1].text;
    int pm = -1;  // -1: 24-hour clock
    if (clock.size() > 2) {
        std::string_view suffix = clock.substr(clock.size() - 2);
        if (equalsIgnoreCase(suffix, "AM")) pm = 0;
        if (equalsIgnoreCase(suffix, "PM")) pm = 1;
        if (pm >= 0) clock.remove_suffix(2);
    }
    int hour = 0, minute = 0;
    if (!parseClock(clock, hour, minute)) return Outcome::NotUnderstood;
    if (pm >= 0) {
        if (hour < 1 || hour > 12) return Outcome::NotUnderstood;
        hour = hour % 12 + (pm ? 12 : 0);
    }

    size_t nameStart;
    if (t[2].text == "<DIR>") {
        e.type = "d";
        e.size = "0";
        // The name column is padded after <DIR>; the padding is not part of the name.
        nameStart = t[3].end - t[3].text.size();
    } else {
        e.size = canonicalSize(t[2].text);
        if (e.size.empty()) return Outcome::NotUnderstood;
        e.type = "-";
        nameStart = t[2].end + 1;
    }
    if (nameStart >= line.size()) return Outcome::NotUnderstood;
    e.month = month;
    e.day = day;
    e.hour = hour;
    e.minute = minute;
    e.name = line.substr(nameStart);
    return Outcome::Entry;
}

std::optional<std::string_view> fact(std::string_view facts, std::string_view name) {
    size_t i = 0;
    while (i < facts.size()) {
        size_t end = facts.find(';', i);
        if (end == std::string_view::npos) end = facts.size();
        std::string_view f = facts.substr(i, end - i);
        size_t eq = f.find('=');
        if (eq != std::string_view::npos && equalsIgnoreCase(f.substr(0, eq), name))
            return f.substr(eq + 1);
        i = end + 1;
    }
    return std::nullopt;
}

std::string modeLetters(std::string_view octal) {
    if (octal.empty() || octal.size() > 5) return {};
    unsigned mode = 0;
    for (char c : octal) {
        if (c < '0' || c > '7') return {};
        mode = mode * 8 + static_cast<unsigned>(c - '0');
    }
    std::string r;
    for (int shift = 6; shift >= 0; shift -= 3) {
        r += (mode >> shift) & 4 ? 'r' : '-';
        r += (mode >> shift) & 2 ? 'w' : '-';
        r += (mode >> shift) & 1 ? 'x' : '-';
    }
    return r;
}

// "type=file;size=1234;modify=20091016143000; name". The time is the server's UTC time as
// given; only its order matters to the reader.
Outcome parseMlsdLine(std::string_view line, Entry& e) {
    size_t blank = line.find(' ');
    if (blank == std::string_view::npos) return Outcome::NotUnderstood;
    std::string_view facts = line.substr(0, blank);
    e.name = line.substr(blank + 1);

    auto type = fact(facts, "type");
    if (!type) return Outcome::NotUnderstood;
    std::string kind = toLower(*type);
    if (kind == "cdir" || kind == "pdir") return Outcome::Ignored;
    if (kind == "file")
        e.type = "-";
    else if (kind == "dir")
        e.type = "d";
    else if (kind == "os.unix=symlink" || startsWith(kind, "os.unix=slink"))
        e.type = "l";
    else
        return Outcome::NotUnderstood;

    auto size = fact(facts, "size");
    if (!size && e.type == "d") size = fact(facts, "sizd");
    if (size) {
        e.size = canonicalSize(*size);
        if (e.size.empty()) return Outcome::NotUnderstood;
    } else if (e.type == "d") {
        e.size = "0";
    } else {
        return Outcome::NotUnderstood;  // a file without its size cannot be checked after a fetch
    }

    auto modify = fact(facts, "modify");
    if (!modify || modify->size() < 14 || !isDigits(modify->substr(0, 14)))
        return Outcome::NotUnderstood;
    e.month = smallNumber(modify->substr(4, 2));
    e.day = smallNumber(modify->substr(6, 2));
    e.hour = smallNumber(modify->substr(8, 2));
    e.minute = smallNumber(modify->substr(10, 2));
    if (e.month < 1 || e.month > 12 || e.day < 1 || e.day > 31 || e.hour > 23 || e.minute > 59)
        return Outcome::NotUnderstood;

    if (auto mode = fact(facts, "unix.mode")) e.type += modeLetters(*mode);
    return Outcome::Entry;
}

// The listing's reader takes the name as one blank-separated field: a name with a blank in it
// would come back as another name.
bool usableName(std::string_view name) {
    return isSafeFileName(name) && name.find(' ') == std::string_view::npos;
}

void appendEntry(std::string& out, const Entry& e) {
    if (!out.empty()) out += "\r\n";
    out += e.type;
    out += ' ';
    out += e.links;
    out += ' ';
    out += e.owner;
    out += ' ';
    out += e.group;
    out += ' ';
    out += e.size;
    out += ' ';
    out += kMonths[static_cast<size_t>(e.month - 1)];
    out += ' ';
    out += std::to_string(e.day);
    out += ' ';
    out += zeroPad(e.hour, 2);
    out += ':';
    out += zeroPad(e.minute, 2);
    out += ' ';
    out += e.name;
}

}  // namespace

std::string buildListing(std::string_view raw, ListingFormat format, int* skipped) {
    std::string out;
    int notUnderstood = 0;
    for (std::string_view line : splitLines(raw)) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find_first_not_of(" \t") == std::string_view::npos) continue;

        Entry e;
        Outcome outcome;
        if (line.find_first_of(std::string_view("\r\0", 2)) != std::string_view::npos)
            outcome = Outcome::NotUnderstood;  // would break the line or the name apart
        else if (format == ListingFormat::Mlsd)
            outcome = parseMlsdLine(line, e);
        else if (line[0] >= '0' && line[0] <= '9')
            outcome = parseDosLine(line, e);
        else
            outcome = parseUnixLine(line, e);

        if (outcome == Outcome::Entry && (e.name == "." || e.name == ".."))
            outcome = Outcome::Ignored;
        if (outcome == Outcome::Entry && !usableName(e.name)) outcome = Outcome::NotUnderstood;

        if (outcome == Outcome::Entry)
            appendEntry(out, e);
        else if (outcome == Outcome::NotUnderstood)
            ++notUnderstood;
    }
    if (skipped) *skipped = notUnderstood;
    return out;
}

}  // namespace vs
