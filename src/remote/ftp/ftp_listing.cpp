#include "remote/ftp/ftp_listing.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "common/text.h"

namespace vs {
namespace {

constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

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

// A size; empty when the text is not a plausible 64-bit size.
std::optional<std::int64_t> sizeOf(std::string_view s) {
    if (!isDigits(s) || s.size() > 18) return std::nullopt;
    std::int64_t v = 0;
    for (char c : s) v = v * 10 + (c - '0');
    return v;
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

RemoteEntry::Kind kindOf(char typeLetter) {
    switch (typeLetter) {
        case '-':
            return RemoteEntry::Kind::File;
        case 'd':
            return RemoteEntry::Kind::Folder;
        default:
            return RemoteEntry::Kind::Link;
    }
}

// "ls -l" as vsftpd, proftpd, pure-ftpd and most Unix servers print it. The number of columns
// before the size varies (no group, no link count), so the date is looked for instead: the
// first "Mon dd hh:mm|yyyy" preceded by a number; the name is what follows its single blank.
Outcome parseUnixLine(std::string_view line, RemoteEntry& e) {
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
        std::optional<std::int64_t> size = sizeOf(t[i - 1].text);
        int day = smallNumber(t[i + 1].text);
        if (!size || day < 1 || day > 31) continue;
        ListedTime time{0, month, day, 0, 0};
        if (!parseClock(t[i + 2].text, time.hour, time.minute)) {
            if (!isYear(t[i + 2].text)) continue;
            time.year = smallNumber(t[i + 2].text);
        }
        size_t nameStart = t[i + 2].end + 1;
        if (nameStart >= line.size()) return Outcome::NotUnderstood;

        std::string_view name = line.substr(nameStart);
        if (type == 'l') {
            size_t arrow = name.find(" -> ");
            if (arrow != std::string_view::npos) name = name.substr(0, arrow);
        }
        e = {std::string(name), kindOf(type), size, time};
        return Outcome::Entry;
    }
    return Outcome::NotUnderstood;
}

// The listing of IIS and other Windows servers:
//   "10-16-09  02:30PM       <DIR>          name"
//   "10-16-09  02:30PM                 1234 name"
// The date is month-day-year; the time is 12-hour with AM/PM or 24-hour.
Outcome parseDosLine(std::string_view line, RemoteEntry& e) {
    std::vector<Token> t = tokenize(line);
    if (t.size() < 4) return Outcome::NotUnderstood;

    std::string_view date = t[0].text;
    char sep = date.size() > 2 ? date[2] : 0;
    if ((sep != '-' && sep != '/') || (date.size() != 8 && date.size() != 10) || date[5] != sep)
        return Outcome::NotUnderstood;
    ListedTime time{smallNumber(date.substr(6)), smallNumber(date.substr(0, 2)),
                    smallNumber(date.substr(3, 2)), 0, 0};
    if (time.month < 1 || time.month > 12 || time.day < 1 || time.day > 31 || time.year < 0)
        return Outcome::NotUnderstood;
    if (date.size() == 8) time.year += time.year < 70 ? 2000 : 1900;

    std::string_view clock = t[1].text;
    int pm = -1;  // -1: 24-hour clock
    if (clock.size() > 2) {
        std::string_view suffix = clock.substr(clock.size() - 2);
        if (equalsIgnoreCase(suffix, "AM")) pm = 0;
        if (equalsIgnoreCase(suffix, "PM")) pm = 1;
        if (pm >= 0) clock.remove_suffix(2);
    }
    if (!parseClock(clock, time.hour, time.minute)) return Outcome::NotUnderstood;
    if (pm >= 0) {
        if (time.hour < 1 || time.hour > 12) return Outcome::NotUnderstood;
        time.hour = time.hour % 12 + (pm ? 12 : 0);
    }

    size_t nameStart;
    std::optional<std::int64_t> size;
    RemoteEntry::Kind kind;
    if (t[2].text == "<DIR>") {
        kind = RemoteEntry::Kind::Folder;
        size = 0;
        // The name column is padded after <DIR>; the padding is not part of the name.
        nameStart = t[3].end - t[3].text.size();
    } else {
        size = sizeOf(t[2].text);
        if (!size) return Outcome::NotUnderstood;
        kind = RemoteEntry::Kind::File;
        nameStart = t[2].end + 1;
    }
    if (nameStart >= line.size()) return Outcome::NotUnderstood;
    e = {std::string(line.substr(nameStart)), kind, size, time};
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

// "type=file;size=1234;modify=20091016143000; name", the time in UTC.
Outcome parseMlsdLine(std::string_view line, RemoteEntry& e) {
    size_t blank = line.find(' ');
    if (blank == std::string_view::npos) return Outcome::NotUnderstood;
    std::string_view facts = line.substr(0, blank);
    e.name = line.substr(blank + 1);

    auto type = fact(facts, "type");
    if (!type) return Outcome::NotUnderstood;
    std::string kind = toLower(*type);
    if (kind == "cdir" || kind == "pdir") return Outcome::Ignored;
    if (kind == "file")
        e.kind = RemoteEntry::Kind::File;
    else if (kind == "dir")
        e.kind = RemoteEntry::Kind::Folder;
    else if (kind == "os.unix=symlink" || startsWith(kind, "os.unix=slink"))
        e.kind = RemoteEntry::Kind::Link;
    else
        return Outcome::NotUnderstood;

    const bool folder = e.kind == RemoteEntry::Kind::Folder;
    auto size = fact(facts, "size");
    if (!size && folder) size = fact(facts, "sizd");
    if (size) {
        e.size = sizeOf(*size);
        if (!e.size) return Outcome::NotUnderstood;
    } else if (folder) {
        e.size = 0;
    } else {
        return Outcome::NotUnderstood;  // a file without its size cannot be checked after a fetch
    }

    auto modify = fact(facts, "modify");
    if (!modify || modify->size() < 14 || !isDigits(modify->substr(0, 14)))
        return Outcome::NotUnderstood;
    const ListedTime time{smallNumber(modify->substr(0, 4)), smallNumber(modify->substr(4, 2)),
                          smallNumber(modify->substr(6, 2)), smallNumber(modify->substr(8, 2)),
                          smallNumber(modify->substr(10, 2))};
    if (time.month < 1 || time.month > 12 || time.day < 1 || time.day > 31 || time.hour > 23 ||
        time.minute > 59)
        return Outcome::NotUnderstood;
    e.modified = time;
    return Outcome::Entry;
}

}  // namespace

RemoteListing parseFtpListing(std::string_view raw, ListingFormat format) {
    RemoteListing listing;
    for (std::string_view line : splitLines(raw)) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find_first_not_of(" \t") == std::string_view::npos) continue;

        RemoteEntry e;
        Outcome outcome;
        if (line.find_first_of(std::string_view("\r\0", 2)) != std::string_view::npos)
            outcome = Outcome::NotUnderstood;  // a damaged line: nothing in it is trusted
        else if (format == ListingFormat::Mlsd)
            outcome = parseMlsdLine(line, e);
        else if (line[0] >= '0' && line[0] <= '9')
            outcome = parseDosLine(line, e);
        else
            outcome = parseUnixLine(line, e);

        if (outcome == Outcome::Entry && (e.name == "." || e.name == ".."))
            outcome = Outcome::Ignored;
        if (outcome == Outcome::Entry)
            listing.entries.push_back(std::move(e));
        else if (outcome == Outcome::NotUnderstood)
            ++listing.unreadable;
    }
    return listing;
}

}  // namespace vs
