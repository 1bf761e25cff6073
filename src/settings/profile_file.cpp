#include "settings/profile_file.h"

#include <optional>
#include <string_view>
#include <system_error>

#include "common/text.h"
#include "common/whole_file.h"

namespace vs {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string trimSpace(std::string_view s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string_view::npos) return {};
    size_t e = s.find_last_not_of(" \t");
    return std::string(s.substr(b, e - b + 1));
}

// Section name of a header line, or nothing when the line is not one.
std::optional<std::string> sectionOf(const std::string& line) {
    std::string t = trimSpace(line);
    if (t.empty() || t[0] != '[') return std::nullopt;
    size_t close = t.find(']');
    if (close == std::string::npos) return std::nullopt;
    return trimSpace(std::string_view(t).substr(1, close - 1));
}

bool isComment(const std::string& line) {
    std::string t = trimSpace(line);
    return t.empty() || t[0] == ';' || t[0] == '#';
}

// Key of a "key=value" line, or nothing.
std::optional<std::string> keyOf(const std::string& line) {
    if (isComment(line) || sectionOf(line)) return std::nullopt;
    size_t eq = line.find('=');
    if (eq == std::string::npos) return std::nullopt;
    return trimSpace(std::string_view(line).substr(0, eq));
}

std::string valueOf(const std::string& line) {
    std::string v = trimSpace(std::string_view(line).substr(line.find('=') + 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return v;
}

// A value whose ends would be trimmed or unquoted on reading goes between quotes, so that
// every value written reads back unchanged. Line breaks cannot live in a one-line value.
std::string encodeValue(const std::string& value) {
    std::string v = value;
    for (char& c : v)
        if (c == '\r' || c == '\n') c = ' ';
    bool quote = !v.empty() && (v.front() == ' ' || v.front() == '\t' || v.back() == ' ' ||
                                v.back() == '\t' || v.front() == '"' || v.front() == '\'');
    return quote ? "\"" + v + "\"" : v;
}

}  // namespace

ProfileText::ProfileText(std::string content) {
    // Windows editors often save with a UTF-8 byte order mark; read as part of the first line
    // it would hide the first section header and every key under it.
    if (content.starts_with(kUtf8Bom)) {
        bom_ = true;
        content.erase(0, kUtf8Bom.size());
    }
    if (content.find("\r\n") != std::string::npos) eol_ = "\r\n";
    finalEol_ = content.empty() || content.back() == '\n';
    for (std::string_view piece : splitLines(content)) {
        std::string line(piece);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines_.push_back(std::move(line));
    }
}

std::optional<std::string> ProfileText::get(const std::string& section,
                                            const std::string& key) const {
    bool inSection = false;
    for (const std::string& line : lines_) {
        if (auto s = sectionOf(line)) {
            inSection = equalsIgnoreCase(*s, section);
            continue;
        }
        if (!inSection) continue;
        auto k = keyOf(line);
        if (k && equalsIgnoreCase(*k, key)) {
            std::string v = valueOf(line);
            size_t nul = v.find('\0');
            if (nul != std::string::npos) v.resize(nul);
            if (v.size() > kProfileValueMax) v.resize(kProfileValueMax);
            return v;
        }
    }
    return std::nullopt;
}

void ProfileText::set(const std::string& section, const std::string& key,
                      const std::string& value) {
    const std::string newLine = key + "=" + encodeValue(value);
    bool inSection = false;
    std::optional<size_t> sectionEnd;  // index after the last non-blank line of the section
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (auto s = sectionOf(lines_[i])) {
            if (inSection) break;  // only the first section of that name is written to
            inSection = equalsIgnoreCase(*s, section);
            if (inSection) sectionEnd = i + 1;
            continue;
        }
        if (!inSection) continue;
        auto k = keyOf(lines_[i]);
        if (k && equalsIgnoreCase(*k, key)) {
            lines_[i] = std::string(*k) + "=" + encodeValue(value);
            return;
        }
        if (!trimSpace(lines_[i]).empty()) sectionEnd = i + 1;
    }
    if (sectionEnd) {
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(*sectionEnd), newLine);
        return;
    }
    lines_.push_back("[" + section + "]");
    lines_.push_back(newLine);
    finalEol_ = true;
}

std::string ProfileText::content() const {
    std::string out(bom_ ? kUtf8Bom : "");
    for (size_t i = 0; i < lines_.size(); ++i) {
        out += lines_[i];
        if (i + 1 < lines_.size() || finalEol_) out += eol_;
    }
    return out;
}

std::vector<ProfileLine> ProfileText::meaningfulLines() const {
    std::vector<ProfileLine> out;
    std::string section;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const std::string& line = lines_[i];
        if (auto s = sectionOf(line)) {
            section = *s;
            continue;
        }
        if (isComment(line)) continue;
        out.push_back({i + 1, section, keyOf(line), line});
    }
    return out;
}

bool ProfileText::hasSection(const std::string& section) const {
    for (const std::string& line : lines_)
        if (auto s = sectionOf(line); s && equalsIgnoreCase(*s, section)) return true;
    return false;
}

std::string ProfileText::read(const std::string& section, const std::string& key,
                              const std::string& defaultValue) const {
    return get(section, key).value_or(defaultValue.substr(0, kProfileValueMax));
}

ProfileText loadProfile(const fs::path& path) {
    return ProfileText(readWholeFile(path).value_or(std::string()));
}

std::string readProfileString(const std::string& section, const std::string& key,
                              const std::string& defaultValue, const fs::path& path) {
    return loadProfile(path).read(section, key, defaultValue);
}

void writeProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const fs::path& path) {
    ProfileBatch batch(path);
    batch.set(section, key, value);
    batch.commit();
}

void ProfileBatch::set(const std::string& section, const std::string& key,
                       const std::string& value) {
    entries_.push_back({section, key, value});
}

void ProfileBatch::commit() {
    // A file that is there but cannot be read throws here: never overwritten blindly.
    ProfileText text = loadProfile(path_);
    for (const Entry& e : entries_) text.set(e.section, e.key, e.value);
    writeWholeFile(path_, text.content(), 0600);  // it holds the password
}

}  // namespace vs
