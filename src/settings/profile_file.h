#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Private-profile (INI) files with the semantics the program relies on: a missing file,
// section or key reads as the default; a write creates what is missing and replaces an
// existing value in place, leaving every other line as it was; sections and keys match
// ignoring case; CR LF and LF files both read, and a UTF-8 byte order mark is skipped. Writes
// replace the file atomically (temporary file in the same folder, then rename) with mode 0600,
// since the file holds a password.
namespace vs {

inline constexpr std::size_t kProfileValueMax = 1023;

// The value of section/key in the file at path, cut to 1023 characters, or defaultValue.
// Throws RuntimeError when the file is there but cannot be read.
std::string readProfileString(const std::string& section, const std::string& key,
                              const std::string& defaultValue, const std::filesystem::path& path);

class ProfileText;
// The file's content for reading many keys at once. A missing file reads as empty; one that
// cannot be read throws RuntimeError ("<path>: <reason>").
ProfileText loadProfile(const std::filesystem::path& path);

// Sets one key. Throws RuntimeError when the file could not be read or written (nothing
// changed on disk).
void writeProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::filesystem::path& path);

// Several keys of one file in a single atomic write.
class ProfileBatch {
  public:
    explicit ProfileBatch(std::filesystem::path path) : path_(std::move(path)) {}
    void set(const std::string& section, const std::string& key, const std::string& value);
    // Throws RuntimeError when the file could not be read or written; the file on disk is then
    // unchanged.
    void commit();

  private:
    struct Entry {
        std::string section, key, value;
    };
    std::filesystem::path path_;
    std::vector<Entry> entries_;
};

// One line of a profile file as the reader sees it, for the checks of a load.
struct ProfileLine {
    std::size_t number = 0;          // 1-based
    std::string section;             // the section it stands in; "" before the first header
    std::optional<std::string> key;  // the key of a "key=value" line; none for a stray line
    std::string text;
};

// In-memory form of a profile file, exposed for the reader's and writer's tests and fuzzing.
class ProfileText {
  public:
    explicit ProfileText(std::string content);
    // The value, cut to 1023 characters; nothing when the key is missing.
    std::optional<std::string> get(const std::string& section, const std::string& key) const;
    // The value, cut to 1023 characters, or defaultValue when the key is missing.
    std::string read(const std::string& section, const std::string& key,
                     const std::string& defaultValue) const;
    void set(const std::string& section, const std::string& key, const std::string& value);
    std::string content() const;
    // Every key line, and every line that is neither a key, a section header, a comment nor
    // blank (which the reader passes over in silence).
    std::vector<ProfileLine> meaningfulLines() const;
    bool hasSection(const std::string& section) const;

  private:
    std::vector<std::string> lines_;  // without line ends
    bool bom_ = false;                // a UTF-8 byte order mark before the first line, kept
    std::string eol_ = "\n";
    bool finalEol_ = true;
};

}  // namespace vs
