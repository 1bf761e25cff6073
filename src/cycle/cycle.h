#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/runtime_error.h"
#include "common/yield.h"
#include "cycle/cycle_report.h"
#include "cycle/cycle_state.h"
#include "cycle/listed_entries.h"
#include "cycle/listing_policy.h"
#include "cycle/settle_watch.h"
#include "cycle/transfer_journal.h"
#include "remote/remote_session.h"
#include "remote/session_state.h"

namespace vs {

class ActivityLog;
class Settings;
class HashingSource;
class SourceFile;
struct TransferJob;

// The session of the configured server and the listing rules of its kind of server, which go
// together. No session: none to be had.
struct RemoteServer {
    RemoteSession* session = nullptr;
    ListingPolicy listing{};
};

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
    // The session for the configured server type.
    std::function<RemoteServer()> remote;
    YieldFn yield;
    std::function<void(int exitCode)> endAfterCleanCycle;  // mode "asp": the program ends
    std::function<void()> changed;                         // counters or work list changed
    std::function<bool()> stopRequested;                   // the program is shutting down
    // The journal of transfers; null while there is none. Without it no file is deleted at its
    // source, since that would leave a deleted file without its record.
    std::function<TransferJournal*()> journal = nullptr;
};

// One transfer cycle over the 51 jobs: pre-scan, connect, main pass, end, error trap.
class Cycle {
  public:
    explicit Cycle(CycleContext context) : c_(std::move(context)) {}

    CycleOutcome collegamento();
    // What the last cycle moved, job by job.
    const CycleReport& lastReport() const { return report_; }

    // The multiplier test: whether the job is due on the current cycle.
    bool isDue(const TransferJob& job) const;

  private:
    enum class Resume { NextPrescanJob, NextMainJob, NextFile, EndOfCycle, Leave };

    bool prescanJob(int job);
    void mainPassJob(int job);
    void download();
    void upload();
    // Connects, and sets the session flags from the outcome.
    void openSession();
    void endOfCycle();
    // Uploads cut off by a lost connection may have left a partial file under the final name:
    // one more connection, at the end of the cycle, removes what is still there.
    void removePartialUploads();
    Resume trap(int number, const std::string& description);
    Resume trapCurrentException();
    // The error line of a failed step, as the trap writes it.
    std::string trapText(int number, const std::string& description) const;

    // Runs one step that concerns one file (or one job's folder) only. A failure of that step
    // is logged and counted, and false returned, so that the cycle goes on with the next
    // file; a lost connection goes on to the error trap.
    bool fileStep(const std::function<void()>& step);
    void fileFailed(int number, const std::string& description);

    // Download helpers.
    void describeListedFiles();
    void dropStaleParts();
    void workQueueItem(const std::string& localFolder);
    Sameness stillTheFetchedFile(const std::string& name, const RemoteStat& now,
                                 const RemoteStat& fetched);
    // Upload helpers.
    void sendFile(TransferJob& job, const std::string& name);
    bool backUpSentFile(TransferJob& job, const std::string& name, const SourceFile& source);
    // mantienidata=SI: the remote file gets the local file's time; a server that offers no
    // way to set it is said once a cycle.
    void keepRemoteTime(const std::string& path, TimePoint modified);
    // uploadtemp=SI: the hidden temporary the file goes into. A large file's is on record
    // before its first byte (`plan` then keeps a partial upload), and one an earlier upload of
    // the same, unchanged file left is gone on with (`plan` says from where).
    std::string uploadTarget(TransferJob& job, TransferEntry& entry, const SourceFile& source,
                             HashingSource& hashed, SendPlan& plan);

    // Journal hooks. Whether this version of a file was delivered before and stays where it
    // is (SoloNuovi_N=SI); counted for the job's line, and recorded the first time.
    bool leftUnchanged(const TransferEntry& version);
    void reportUnchanged();
    // One transfer that ended, on record; false (and an error line) when it could not be.
    bool recordTransfer(const TransferEntry& entry, const std::string& finishedPart = "");
    TransferJournal* journal() const { return c_.journal ? c_.journal() : nullptr; }
    // A file whose writers cannot be known goes only once it stayed the same for the settle
    // time, waited for here when it is not over yet (`reason`: why the lease was refused).
    bool settled(const SourceFile& source, int reason);
    // With uploadtemp, the first time a run works a remote folder: removes the hidden
    // temporaries that killed runs left there.
    void removeStaleRemoteTemporaries(const std::string& folder);

    void line(const std::string& text);       // the time, then the text
    void errorLine(const std::string& text);  // a line that reports a failure
    void notifyChanged();
    bool stopping() const { return c_.stopRequested && c_.stopRequested(); }
    TransferJob& currentJob();
    RemoteSession& session();
    JobTally& tally();

    CycleContext c_;
    RemoteSession* session_ = nullptr;  // the running cycle's
    ListingPolicy listingPolicy_{};     // the rules its listings are read by
    int step_ = 0;
    std::string result_ = " !";
    bool errorSeen_ = false;
    bool folderUnreachable_ = false;
    std::vector<RemoteStat> listedStats_;      // per listing row: the server's word before fetching
    std::vector<std::string> partialUploads_;  // remote paths a lost connection cut off
    std::string localFolder_;                  // of the running download job
    int unchanged_ = 0;                        // files of the running job left as unchanged
    bool timesUnsupportedSaid_ = false;        // the server cannot set times: said this cycle
    SettleWatch settle_;                       // local files' versions, across cycles
    std::set<std::string> swept_;              // remote folders cleared of stale temporaries
    // The running download job's listing by name, and whether the job said once that the server
    // cannot show its files unchanged.
    std::map<std::string, ListedEntry> listedEntries_;
    bool uncheckedReported_ = false;
    CycleReport report_;
};

}  // namespace vs
