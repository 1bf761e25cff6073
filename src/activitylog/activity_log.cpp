#include "activitylog/activity_log.h"

#include <fnmatch.h>

#include <cstdio>
#include <system_error>

#include "common/text.h"

namespace vs {

namespace fs = std::filesystem;

ActivityLog::ActivityLog(const Clock& clock, fs::path programFolder, WeekdayNames weekdays)
    : clock_(clock), logFolder_(std::move(programFolder) / "log"), weekdays_(std::move(weekdays)) {}

void ActivityLog::append(const std::string& line) {
    lines_.push_back(line);
    if (echo_) echo_(line);
}

void ActivityLog::notify() {
    if (changed_) changed_();
}

void ActivityLog::scrivi_log(const std::string& line) {
    append(line);
    if (lines_.size() > kWriteThreshold) scrivi_file_log();
    notify();
}

void ActivityLog::addDirect(const std::string& line) {
    append(line);
    enforceBound();
    notify();
}

fs::path ActivityLog::todaysFile() const {
    LocalTime t = toLocalTime(clock_.now());
    return logFolder_ / ("sftp_log_" + weekdays_[t.weekday] + "_" + zeroPad(t.day, 2) + ".txt");
}

bool ActivityLog::scrivi_file_log() {
    LocalTime t = toLocalTime(clock_.now());
    const std::string weekday = weekdays_[t.weekday];
    const fs::path today = todaysFile();
    std::error_code ec;

    fs::create_directories(logFolder_, ec);

    // Weekly clean-up: the file of the same weekday from an earlier week goes.
    const std::string pattern = "sftp_log_" + weekday + "*.txt";
    for (fs::directory_iterator it(logFolder_, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0 && it->path() != today) {
            std::error_code rmEc;
            fs::remove(it->path(), rmEc);
        }
    }

    // Lines dropped while the file could not be written are reported first, in one line.
    std::deque<std::string> out;
    if (dropped_ > 0)
        out.push_back(timeOfDay(clock_) + " Log non scrivibile: scartate " +
                      std::to_string(dropped_) + " righe meno recenti");

    bool written = false;
    if (std::FILE* f = std::fopen(today.c_str(), "ab")) {
        bool ok = true;
        out.insert(out.end(), lines_.begin(), lines_.end());
        for (const std::string& line : out) {
            if (std::fwrite(line.data(), 1, line.size(), f) != line.size() ||
                std::fwrite("\r\n", 1, 2, f) != 2) {
                ok = false;
                break;
            }
        }
        ok = (std::fflush(f) == 0) && ok;
        ok = (std::fclose(f) == 0) && ok;
        written = ok;
    }

    if (written) {
        lines_.clear();
        dropped_ = 0;
    } else {
        // Keep the lines for the next write; a write that fails for good must not eat memory.
        enforceBound();
    }
    notify();
    return written;
}

void ActivityLog::enforceBound() {
    if (lines_.size() <= kMaxKeptLines) return;
    std::size_t drop = lines_.size() - kMaxKeptLines;
    lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(drop));
    dropped_ += drop;
}

}  // namespace vs
