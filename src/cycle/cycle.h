#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "common/clock.h"
#include "common/runtime_error.h"
#include "common/yield.h"
#include "cycle/cycle_report.h"
#include "cycle/cycle_state.h"
#include "remote/ftp_session.h"
#include "remote/session_state.h"
#include "remote/sftp_session.h"

namespace vs {

class ActivityLog;
class Settings;
struct TransferJob;

// Everything one transfer cycle reads and changes: the program's state, by reference.
struct CycleContext {
    const Clock& clock;
    ActivityLog& log;
    Settings& settings;
    SessionState& session;
    CycleState& state;
    std::string& operatorCode;
    const std::string& mode;
    const std::filesystem::path& tempFolder;
    SftpSession& sftp;
    FtpSession& ftp;
    YieldFn yield;
    std::function<void(std::chrono::milliseconds)> pause;  // yields while it waits
    std::function<void()> endAfterCleanCycle;              // mode "asp": the program ends
    std::function<void()> changed;                         // counters or work list changed
};

// One transfer cycle over the 51 jobs: pre-scan, connect, main pass, end, error trap.
class Cycle {
  public:
    explicit Cycle(CycleContext context) : c_(std::move(context)) {}

    CycleOutcome collegamento();

    // The multiplier test: whether the job is due on the current cycle.
    bool isDue(const TransferJob& job) const;

  private:
    enum class Resume { NextPrescanJob, NextMainJob, EndOfCycle, Leave };

    bool prescanJob(int job);
    void mainPassJob(int job);
    void download();
    void upload();
    void endOfCycle();
    void closeSession();  // the session type's closing calls, errors ignored
    Resume trap(int number, const std::string& description);
    Resume trapCurrentException();

    // Download helpers.
    void listRemoteFolder(bool ftp);
    void queueListedFiles(bool ftp);
    void workQueueItem(bool ftp, const std::string& localFolder);
    void copyStagedFile(const std::string& staged, const std::string& localFolder,
                        const std::string& name);
    // Upload helpers.
    void backupSentFile(TransferJob& job, const std::string& name, bool sftp);

    void line(const std::string& text);  // the time, then the text
    void notifyChanged();
    TransferJob& currentJob();
    bool sftpSession() const;  // the server type's session: not "Ftp" means SFTP

    CycleContext c_;
    int step_ = 0;
    std::string result_ = " !";
    bool errorSeen_ = false;
};

}  // namespace vs
