#include "journal/journal.h"

#include <chrono>

#include "common/runtime_error.h"
#include "journal/iso_time.h"
#include "journal/journal_schema.h"

namespace vs {

namespace {

const char* directionText(Direction d) {
    return d == Direction::Download ? "download" : "upload";
}

const char* outcomeText(TransferOutcome o) {
    switch (o) {
        case TransferOutcome::Delivered:
            return "delivered";
        case TransferOutcome::Failed:
            return "failed";
        case TransferOutcome::Unchanged:
            break;
    }
    return "unchanged";
}

}  // namespace

std::filesystem::path journalPath(const std::filesystem::path& programFolder,
                                  const char* environmentValue) {
    if (environmentValue && *environmentValue) return environmentValue;
    return programFolder / "journal.db";
}

Journal::Journal(const std::string& path, const Clock& clock, long ownPid, ProcessAlive alive)
    : db_(path, true), clock_(clock), ownPid_(ownPid), alive_(std::move(alive)) {
    // WAL: readers (--history, a second instance) never wait for the writer, and a commit is
    // one append. NORMAL syncs the log at checkpoints: a killed process loses nothing
    // committed; only a power cut can take the last commits back.
    db_.exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
    prepareJournalSchema(db_);
}

Journal::~Journal() = default;

TransferJournal::Known Journal::known(int job, Direction direction, const std::string& path,
                                      std::int64_t size, TimePoint modified) {
    // The literal direction lets SQLite use the index of that direction.
    sqlite::Statement last(
        db_, direction == Direction::Download
                 ? "SELECT outcome, size, modified FROM transfers WHERE direction = 'download' "
                   "AND job = ?1 AND remote_path = ?2 AND outcome IN ('delivered', 'unchanged') "
                   "ORDER BY finished DESC, id DESC LIMIT 1"
                 : "SELECT outcome, size, modified FROM transfers WHERE direction = 'upload' "
                   "AND job = ?1 AND local_path = ?2 AND outcome IN ('delivered', 'unchanged') "
                   "ORDER BY finished DESC, id DESC LIMIT 1");
    last.bind(1, job).bind(2, path);
    if (!last.step() || last.integer(1) != size || last.text(2) != isoUtc(modified))
        return Known::New;
    return last.text(0) == "delivered" ? Known::Delivered : Known::LeftUnchanged;
}

void Journal::record(const TransferEntry& e, const std::string& finishedPart) {
    sqlite::Transaction transaction(db_);
    sqlite::Statement insert(
        db_,
        "INSERT INTO transfers (finished, job, direction, remote_path, local_path, size, "
        "modified, sha256, resumed_from, outcome, detail) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
        "?)");
    insert.bind(1, isoUtc(clock_.now(), true))
        .bind(2, e.job)
        .bind(3, std::string(directionText(e.direction)))
        .bind(4, e.remotePath)
        .bind(5, e.localPath)
        .bind(6, e.size)
        .bind(7, e.modified ? std::optional(isoUtc(*e.modified)) : std::nullopt)
        .bind(8, e.sha256)
        .bind(9, e.resumedFrom)
        .bind(10, std::string(outcomeText(e.outcome)))
        .bind(11, e.detail)
        .run();
    if (!finishedPart.empty())
        sqlite::Statement(db_, "DELETE FROM partial_transfers WHERE part_path = ?")
            .bind(1, finishedPart)
            .run();
    transaction.commit();
}

void Journal::notePartial(const PartialTransfer& p) {
    sqlite::Transaction transaction(db_);
    sqlite::Statement(db_, "DELETE FROM partial_transfers WHERE part_path = ?")
        .bind(1, p.partPath)
        .run();
    sqlite::Statement(db_,
                      "INSERT INTO partial_transfers (part_path, job, direction, remote_path, "
                      "local_path, size, modified, device, inode, owner, started) VALUES (?, ?, "
                      "?, ?, ?, ?, ?, ?, ?, ?, ?)")
        .bind(1, p.partPath)
        .bind(2, p.job)
        .bind(3, std::string(directionText(p.direction)))
        .bind(4, p.remotePath)
        .bind(5, p.localPath)
        .bind(6, p.size)
        .bind(7, isoUtc(p.modified))
        .bind(8, static_cast<std::int64_t>(p.device))
        .bind(9, static_cast<std::int64_t>(p.inode))
        .bind(10, static_cast<std::int64_t>(ownPid_))
        .bind(11, isoUtc(clock_.now(), true))
        .run();
    transaction.commit();
}

std::optional<PartialTransfer> Journal::claimPartial(int job, Direction direction,
                                                     const std::string& remotePath,
                                                     const std::string& localPath) {
    // Looked at and taken over under the write lock: two instances never take the same part.
    sqlite::Transaction transaction(db_);
    sqlite::Statement select(
        db_,
        "SELECT id, part_path, size, modified, device, inode, owner FROM partial_transfers "
        "WHERE job = ? AND direction = ? AND remote_path = ? AND local_path = ? "
        "ORDER BY started DESC, id DESC");
    select.bind(1, job)
        .bind(2, std::string(directionText(direction)))
        .bind(3, remotePath)
        .bind(4, localPath);
    while (select.step()) {
        const long owner = static_cast<long>(select.integer(6));
        if (owner != ownPid_ && alive_ && alive_(owner)) continue;
        PartialTransfer p{job,
                          direction,
                          remotePath,
                          localPath,
                          select.text(1),
                          select.integer(2),
                          parseIsoUtc(select.text(3)).value_or(TimePoint{}),
                          static_cast<std::uint64_t>(select.integer(4)),
                          static_cast<std::uint64_t>(select.integer(5))};
        const std::int64_t id = select.integer(0);
        select.reset();
        sqlite::Statement(db_, "UPDATE partial_transfers SET owner = ? WHERE id = ?")
            .bind(1, static_cast<std::int64_t>(ownPid_))
            .bind(2, id)
            .run();
        transaction.commit();
        return p;
    }
    return std::nullopt;
}

std::vector<PartialTransfer> Journal::partials(int job, Direction direction) {
    std::vector<PartialTransfer> found;
    sqlite::Statement select(db_,
                             "SELECT part_path, remote_path, local_path, owner, size, modified FROM "
                             "partial_transfers WHERE job = ? AND direction = ?");
    select.bind(1, job).bind(2, std::string(directionText(direction)));
    while (select.step()) {
        const long owner = static_cast<long>(select.integer(3));
        if (owner != ownPid_ && alive_ && alive_(owner)) continue;
        PartialTransfer p;
        p.job = job;
        p.direction = direction;
        p.partPath = select.text(0);
        p.remotePath = select.text(1);
        p.localPath = select.text(2);
        p.size = select.integer(4);
        p.modified = parseIsoUtc(select.text(5)).value_or(TimePoint{});
        found.push_back(p);
    }
    return found;
}

void Journal::forgetPartial(const std::string& partPath) {
    sqlite::Statement(db_, "DELETE FROM partial_transfers WHERE part_path = ?")
        .bind(1, partPath)
        .run();
}

Journal::Purged Journal::purgeIfDue(int days) {
    Purged purged;
    const TimePoint now = clock_.now();
    sqlite::Transaction transaction(db_);
    sqlite::Statement last(db_, "SELECT value FROM journal_state WHERE name = 'last_purge'");
    // A clock set back makes the last purge look in the future: purge then too.
    if (last.step()) {
        const std::string was = last.text(0);
        if (was <= isoUtc(now, true) && was > isoUtc(now - std::chrono::hours(24), true))
            return purged;
    }
    last.reset();
    purged.ran = true;
    sqlite::Statement(db_, "DELETE FROM transfers WHERE finished < ?")
        .bind(1, isoUtc(now - std::chrono::hours(24) * days, true))
        .run();
    purged.rows = db_.changes();
    const std::string partsBefore = isoUtc(now - std::chrono::hours(24) * kPartialDays, true);
    sqlite::Statement old(
        db_,
        "SELECT part_path FROM partial_transfers WHERE started < ? AND direction = 'download'");
    old.bind(1, partsBefore);
    while (old.step()) purged.parts.push_back(old.text(0));
    sqlite::Statement(db_, "DELETE FROM partial_transfers WHERE started < ?")
        .bind(1, partsBefore)
        .run();
    sqlite::Statement(db_,
                      "INSERT OR REPLACE INTO journal_state (name, value) VALUES ('last_purge', ?)")
        .bind(1, isoUtc(now, true))
        .run();
    transaction.commit();
    return purged;
}

std::vector<std::string> Journal::partPaths(Direction direction) {
    std::vector<std::string> paths;
    sqlite::Statement all(db_, "SELECT part_path FROM partial_transfers WHERE direction = ?");
    all.bind(1, std::string(directionText(direction)));
    while (all.step()) paths.push_back(all.text(0));
    return paths;
}

}  // namespace vs
