#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vs {

// A file of servers trusted on first use: known_hosts (SSH host keys) and known_certs (FTPS
// certificate pins) both. Each decides which of its lines stand for a server and whether what
// the server presented matches one of them; the rules are the same for both:
//  - Known: a line of the server matches, and the connection goes on;
//  - FirstSight: no line stands for the server: its line is recorded and the operator told.
//    One that cannot be recorded is refused, since unrecorded every later connection would be
//    a first sight again and a changed key taken as readily as the right one;
//  - Changed: lines stand for the server and none matches: refused until the operator removes
//    the old line (the one exception: a certificate the system's trust store vouched for when
//    it was recorded may be renewed while the trust store still vouches for it);
//  - a file that is there but cannot be read refuses every server: nothing can be checked.
// Recording replaces the whole file through NewFile, so a crash never leaves half a line and a
// reader never sees one. A file made here is readable by its owner only; one that exists keeps
// its mode (and a link to it stays a link), and one that may not be written (the operator made
// it read-only) is left alone, which makes a first sight unrecordable.
enum class Sighting { Known, FirstSight, Changed };

class TrustStore {
  public:
    explicit TrustStore(std::filesystem::path path) : path_(std::move(path)) {}
    const std::filesystem::path& path() const { return path_; }

    // The file's lines, without their line ends; none when there is no file. Throws
    // RuntimeError when the file is there but cannot be read.
    std::vector<std::string> lines() const;
    // Writes `line` at the end, dropping the lines `replaces` accepts (a server's older record
    // that the new one takes the place of). Throws RuntimeError when it cannot be recorded.
    void record(const std::string& line,
                const std::function<bool(std::string_view)>& replaces = nullptr) const;

  private:
    std::filesystem::path path_;
};

}  // namespace vs
