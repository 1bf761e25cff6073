#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/clock.h"
#include "cycle/transfer_journal.h"
#include "journal/sqlite_database.h"

namespace vs {

// The journal of transfers: an SQLite database in WAL mode, one connection, one transaction
// per call. A killed process leaves it whole: what was committed stays, what was not is
// rolled back at the next opening.
class Journal final : public TransferJournal {
  public:
    // Whether a process is still running: a partial transfer of a running process is not
    // taken over.
    using ProcessAlive = std::function<bool(long pid)>;

    // Opens or creates the database file (":memory:" for a private one). Throws RuntimeError.
    Journal(const std::string& path, const Clock& clock, long ownPid, ProcessAlive alive);
    ~Journal() override;

    Known known(int job, Direction direction, const std::string& path, std::int64_t size,
                TimePoint modified) override;
    void record(const TransferEntry& entry, const std::string& finishedPart = "") override;
    void notePartial(const PartialTransfer& part) override;
    std::optional<PartialTransfer> claimPartial(int job, Direction direction,
                                                const std::string& remotePath,
                                                const std::string& localPath) override;
    void forgetPartial(const std::string& partPath) override;
    std::vector<PartialTransfer> partials(int job, Direction direction) override;

    // Removes rows older than `days` days, at most once a day (the last time is kept in the
    // database, so a restart does not repeat it), and partial transfers older than
    // kPartialDays. Returns what was removed: rows, and the paths of the partial downloads
    // dropped (their staged files are the caller's to delete).
    struct Purged {
        std::int64_t rows = 0;
        std::vector<std::string> parts;
        bool ran = false;
    };
    static constexpr int kPartialDays = 7;
    Purged purgeIfDue(int days);
    std::vector<std::string> partPaths(Direction direction) override;
    const std::string& path() const { return db_.path(); }

  private:
    sqlite::Database db_;
    const Clock& clock_;
    long ownPid_;
    ProcessAlive alive_;
};

// Where the journal is: VALTRASSOSFTP_JOURNAL when set and not empty, else journal.db in the
// program folder.
std::filesystem::path journalPath(const std::filesystem::path& programFolder,
                                  const char* environmentValue);

}  // namespace vs
