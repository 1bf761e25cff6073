#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "activitylog/activity_log.h"
#include "common/bandwidth_limit.h"
#include "common/clock.h"
#include "common/yield.h"
#include "cycle/cycle.h"
#include "cycle/cycle_state.h"
#include "journal/journal.h"
#include "remote/ftp_control.h"
#include "remote/ftp_session.h"
#include "remote/session_state.h"
#include "remote/sftp_component.h"
#include "remote/sftp_session.h"
#include "settings/settings.h"
#include "shell/shell_view.h"

namespace vs {

inline constexpr const char* kProgramName = "ValtrassoSftp";
inline constexpr const char* kCaptionVersion = " - Vers. 4.0 - 16/10/09";

// Exit codes besides 0 (clean, or nothing to do) and 1 (errors, no connection).
inline constexpr int kExitConfigInvalid = 2;   // settings or command line leave nothing to run
inline constexpr int kExitAlreadyRunning = 3;  // mod:asp while another instance runs

struct ProgramConfig {
    std::filesystem::path programFolder;
    std::filesystem::path fixedSettingsPath;
    std::string argumentText;  // the process's arguments, joined by blanks
    WeekdayNames weekdays;
    std::filesystem::path settingsOverride = {};  // VALTRASSOSFTP_SETTINGS: wins when not empty
    // VALTRASSOSFTP_JOURNAL; empty: journal.db in the folder
    std::filesystem::path journalPath = {};
};

// The window's state and start-up, without any widget: the Qt window and the headless run
// both drive one instance of it.
class Program {
  public:
    Program(const Clock& clock, ProgramConfig config, ShellView& view, IntervalTimer& timer,
            SftpComponentFactory sftpFactory, FtpControlFactory ftpFactory, YieldFn yield,
            std::function<void(int)> endProcess);
    ~Program();

    // Start-up, in its fixed order; in mode "asp" it runs the one cycle inside.
    void Form_Load();
    // Form_Unload and Form_Terminate: last line, log synced, icon removed, process ended
    // with the exit code. Asked for while a cycle runs, it first aborts the running transfer
    // and lets the cycle end in order.
    void shutdown(int exitCode = 0);
    // valtrassosftp --check: loads the settings as a run would and says what it understood;
    // with connect, also the dry run of the cycle. Changes nothing; returns the exit code.
    int check(bool connect);

    // One transfer cycle; the day's log file is synced to the disk at its end.
    void collegamento();
    // Replaces the cycle (tests of start-up and of the schedule).
    void setCycleEntry(std::function<CycleOutcome()> entry) { cycleEntry_ = std::move(entry); }
    // Told about every cycle that ran (the service's status, metrics and alerts).
    void setAfterCycle(std::function<void(const CycleReport&)> afterCycle) {
        afterCycle_ = std::move(afterCycle);
    }

    // Ends the process after a clean "asp" cycle; the log is synced first.
    void endAfterCleanCycle(int exitCode);
    // The session for the server type of the last load, with the listing rules of its kind of
    // server; no session when there is none.
    RemoteServer remoteServer();
    RemoteSession* remoteSession();

    // Whether a cycle is under way (the window's icon shows it).
    bool cycleRunning() const { return cycleRunning_; }

    const Clock& clock() const { return clock_; }
    const ProgramConfig& config() const { return config_; }
    ShellView& view() { return view_; }
    IntervalTimer& Timer1() { return timer_; }
    const YieldFn& yield() const { return yield_; }

    ActivityLog log;
    Settings settings;
    SessionState session;
    ButtonState Command1;
    std::string caption = kProgramName;
    std::string operatorCode = "TUTTI";
    std::string mode;
    std::string once;
    std::filesystem::path tempFolder;
    // The instance's bandwidth limit, from the settings at start-up; null without one.
    std::unique_ptr<BandwidthLimit> bandwidth;
    std::unique_ptr<SftpComponent> Sftp1;  // only when the server type at start-up is "Sftp"
    std::unique_ptr<FtpControl> kftp;
    CycleState cycleState;
    CycleOutcome lastOutcome = CycleOutcome::NotRun;
    // When the last cycle that ended without errors (nothing to do included) ended.
    std::optional<TimePoint> lastCleanCycle;
    // Created at start-up, once the session object exists or not.
    std::unique_ptr<SftpSession> sftpSession;
    std::unique_ptr<FtpSession> ftpSession;
    std::unique_ptr<Cycle> cycle;
    // The journal of transfers: one connection for the program's life; null while it cannot
    // be opened (tried again before every cycle).
    std::unique_ptr<Journal> journal;

  private:
    void logSettingsReport();
    void createSessions();
    void removeLeftovers();
    void openJournal();
    void journalUpkeep();
    void finishShutdown();

    const Clock& clock_;
    ProgramConfig config_;
    ShellView& view_;
    IntervalTimer& timer_;
    SftpComponentFactory sftpFactory_;
    FtpControlFactory ftpFactory_;
    YieldFn yield_;
    std::function<void(int)> endProcess_;
    std::function<CycleOutcome()> cycleEntry_;
    std::function<void(const CycleReport&)> afterCycle_;
    bool cycleRunning_ = false;
    bool stopRequested_ = false;
    bool journalFailureSaid_ = false;
    int exitCode_ = 0;
};

// The exit code of a mod:asp run whose one cycle ended so.
int aspExitCode(CycleOutcome outcome);

}  // namespace vs
