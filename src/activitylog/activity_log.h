#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>

#include "activitylog/weekday_names.h"
#include "common/clock.h"

namespace vs {

// The log list (List1) and the daily log files under <program folder>/log. Every line reaches
// the day's file as it is logged, so that a crash or a SIGKILL costs no line; the list only
// shows the latest lines.
class ActivityLog {
  public:
    static constexpr std::size_t kShownLines = 1000;      // the list starts again past this
    static constexpr std::size_t kMaxKeptLines = 100000;  // bound while the file cannot be written

    ActivityLog(const Clock& clock, std::filesystem::path programFolder, WeekdayNames weekdays);
    ~ActivityLog();
    ActivityLog(const ActivityLog&) = delete;
    ActivityLog& operator=(const ActivityLog&) = delete;

    // Appends one line exactly as given to the list and to the day's file.
    void scrivi_log(const std::string& line);
    // Writes the lines that could not be written so far (there are none while the file can be
    // written). Returns whether every line is in the file; when it is not, the operator is told
    // once, and the lines wait in memory, the oldest dropped past kMaxKeptLines.
    bool scrivi_file_log();
    // scrivi_file_log, then the day's file is flushed to the disk: the end of every cycle and
    // the shutdown, so that a power cut costs at most the running cycle's lines.
    bool sync();

    const std::deque<std::string>& List1() const { return lines_; }
    std::size_t size() const { return lines_.size(); }
    // Lines logged since the start: every step of a cycle logs some (the service's watchdog).
    std::uint64_t linesLogged() const { return linesLogged_; }

    // Today's file name, e.g. log/sftp_log_Sun_06.txt.
    std::filesystem::path todaysFile() const;

    // From now on lines only reach the list and the echo, never a file: a check that must
    // change nothing on the disk.
    void keepOffDisk() { offDisk_ = true; }

    // Every line as it is added (the headless run prints it).
    void setEcho(std::function<void(const std::string&)> echo) { echo_ = std::move(echo); }
    // Called after the list changed (the window refreshes its view).
    void setChangeListener(std::function<void()> listener) { changed_ = std::move(listener); }

  private:
    bool openTodaysFile();
    void closeFile();
    bool writeLine(const std::string& line);
    void keep(const std::string& line);
    void show(const std::string& line);

    const Clock& clock_;
    std::filesystem::path logFolder_;
    WeekdayNames weekdays_;
    std::deque<std::string> lines_;    // List1
    std::deque<std::string> pending_;  // not in the file yet
    std::size_t dropped_ = 0;          // lines dropped since the file was last written
    bool unwritableSaid_ = false;      // the operator was told that the file cannot be written
    bool offDisk_ = false;
    int fd_ = -1;
    std::filesystem::path openFile_;
    std::function<void(const std::string&)> echo_;
    std::function<void()> changed_;
    std::uint64_t linesLogged_ = 0;
};

}  // namespace vs
