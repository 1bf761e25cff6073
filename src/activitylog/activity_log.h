#pragma once

#include <cstddef>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>

#include "activitylog/weekday_names.h"
#include "common/clock.h"

namespace vs {

// The log list (List1) and the daily log files under <program folder>/log.
class ActivityLog {
  public:
    static constexpr std::size_t kWriteThreshold = 1000;  // written out when it passes this
    static constexpr std::size_t kMaxKeptLines = 100000;  // bound while the file cannot be written

    ActivityLog(const Clock& clock, std::filesystem::path programFolder, WeekdayNames weekdays);

    // Appends one line exactly as given; writes the list out when it passes 1000 lines.
    void scrivi_log(const std::string& line);
    // Appends a line straight into the list, without the threshold (the error reports that
    // bypass scrivi_log).
    void addDirect(const std::string& line);
    // Appends the whole list to the day's file and empties it; on failure the lines stay in
    // the list for the next write. Returns whether the lines reached the file.
    bool scrivi_file_log();

    const std::deque<std::string>& List1() const { return lines_; }
    std::size_t size() const { return lines_.size(); }
    std::size_t droppedLines() const { return dropped_; }

    // Today's file name, e.g. log/sftp_log_Sun_06.txt.
    std::filesystem::path todaysFile() const;
    const std::filesystem::path& folder() const { return logFolder_; }

    // Every line as it is added (the headless run prints it).
    void setEcho(std::function<void(const std::string&)> echo) { echo_ = std::move(echo); }
    // Called after the list changed (the window refreshes its view).
    void setChangeListener(std::function<void()> listener) { changed_ = std::move(listener); }

  private:
    void append(const std::string& line);
    void enforceBound();
    void notify();

    const Clock& clock_;
    std::filesystem::path logFolder_;
    WeekdayNames weekdays_;
    std::deque<std::string> lines_;
    std::size_t dropped_ = 0;  // lines dropped since the last successful write
    std::function<void(const std::string&)> echo_;
    std::function<void()> changed_;
};

}  // namespace vs
