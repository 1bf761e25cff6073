#include "activitylog/activity_log.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "common/text.h"

namespace vs {

namespace fs = std::filesystem;

ActivityLog::ActivityLog(const Clock& clock, fs::path programFolder, WeekdayNames weekdays)
    : clock_(clock), logFolder_(std::move(programFolder) / "log"), weekdays_(std::move(weekdays)) {}

ActivityLog::~ActivityLog() {
    closeFile();
}

void ActivityLog::show(const std::string& line) {
    if (lines_.size() >= kShownLines) lines_.clear();
    lines_.push_back(line);
    if (echo_) echo_(line);
}

void ActivityLog::keep(const std::string& line) {
    pending_.push_back(line);
    // A file that stays unwritable must not eat the memory: the oldest lines go, counted.
    if (pending_.size() > kMaxKeptLines) {
        pending_.pop_front();
        ++dropped_;
    }
}

void ActivityLog::scrivi_log(const std::string& line) {
    // Into the file first: a line the operator has seen is one a crash cannot take back. Once
    // the file has failed, only sync() tries again, not every line.
    ++linesLogged_;
    if (!offDisk_) keep(line);
    if (!unwritableSaid_) scrivi_file_log();
    show(line);
    if (changed_) changed_();
}

fs::path ActivityLog::todaysFile() const {
    LocalTime t = toLocalTime(clock_.now());
    return logFolder_ / ("sftp_log_" + weekdays_[t.weekday] + "_" + zeroPad(t.day, 2) + ".txt");
}

void ActivityLog::closeFile() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool ActivityLog::openTodaysFile() {
    const fs::path today = todaysFile();
    if (fd_ >= 0 && today == openFile_) return true;
    closeFile();
    std::error_code ec;
    fs::create_directories(logFolder_, ec);

    // Weekly clean-up on the first line of a day: the file of the same weekday from an earlier
    // week goes.
    const std::string pattern =
        "sftp_log_" + weekdays_[toLocalTime(clock_.now()).weekday] + "*.txt";
    for (fs::directory_iterator it(logFolder_, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0 && it->path() != today) {
            std::error_code rmEc;
            fs::remove(it->path(), rmEc);
        }
    }

    // Append mode and one write per line: a second instance logging into the same file never
    // splits a line of ours.
    fd_ = ::open(today.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) return false;
    openFile_ = today;
    return true;
}

bool ActivityLog::writeLine(const std::string& line) {
    const std::string record = line + "\r\n";
    std::size_t done = 0;
    while (done < record.size()) {
        const ssize_t n = ::write(fd_, record.data() + done, record.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool ActivityLog::scrivi_file_log() {
    if (pending_.empty()) return true;
    bool ok = openTodaysFile();
    if (ok && dropped_ > 0) {
        ok = writeLine(timeOfDay(clock_) + " Log non scrivibile: scartate " +
                       std::to_string(dropped_) + " righe meno recenti");
        if (ok) dropped_ = 0;
    }
    while (ok && !pending_.empty()) {
        ok = writeLine(pending_.front());
        if (ok) pending_.pop_front();
    }
    if (ok) {
        unwritableSaid_ = false;
        return true;
    }
    const int error = errno;
    closeFile();  // opened again, and the folder made again, for the next line
    if (!unwritableSaid_) {
        unwritableSaid_ = true;
        const std::string note = timeOfDay(clock_) + " Impossibile scrivere il log " +
                                 todaysFile().string() + ": " + std::strerror(error) +
                                 "; le righe restano in memoria finche' non sara' possibile";
        show(note);
        keep(note);
    }
    return false;
}

bool ActivityLog::sync() {
    if (!scrivi_file_log()) return false;
    return fd_ < 0 || ::fsync(fd_) == 0;
}

}  // namespace vs
