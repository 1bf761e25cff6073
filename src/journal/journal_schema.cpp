#include "journal/journal_schema.h"

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vs {

namespace {

using Columns = std::vector<std::pair<const char*, const char*>>;  // name, type and default

// One row per file transfer that ended.
const Columns kTransfers = {
    {"finished", "TEXT NOT NULL DEFAULT ''"},  // UTC, ISO 8601, to the millisecond
    {"job", "INTEGER NOT NULL DEFAULT 0"},
    {"direction", "TEXT NOT NULL DEFAULT ''"},  // download, upload
    {"remote_path", "TEXT NOT NULL DEFAULT ''"},
    {"local_path", "TEXT NOT NULL DEFAULT ''"},
    {"size", "INTEGER NOT NULL DEFAULT 0"},
    {"modified", "TEXT"},  // the source's modification time, UTC, ISO 8601
    {"sha256", "TEXT NOT NULL DEFAULT ''"},
    {"resumed_from", "INTEGER NOT NULL DEFAULT 0"},
    {"outcome", "TEXT NOT NULL DEFAULT ''"},  // delivered, failed, unchanged
    {"detail", "TEXT NOT NULL DEFAULT ''"},
};

// Transfers cut off that a later cycle may go on with.
const Columns kPartials = {
    {"part_path", "TEXT NOT NULL DEFAULT ''"},
    {"job", "INTEGER NOT NULL DEFAULT 0"},
    {"direction", "TEXT NOT NULL DEFAULT ''"},
    {"remote_path", "TEXT NOT NULL DEFAULT ''"},
    {"local_path", "TEXT NOT NULL DEFAULT ''"},
    {"size", "INTEGER NOT NULL DEFAULT 0"},
    {"modified", "TEXT NOT NULL DEFAULT ''"},
    {"device", "INTEGER NOT NULL DEFAULT 0"},
    {"inode", "INTEGER NOT NULL DEFAULT 0"},
    {"owner", "INTEGER NOT NULL DEFAULT 0"},  // process id of the program working on it
    {"started", "TEXT NOT NULL DEFAULT ''"},
};

void ensureTable(sqlite::Database& db, const std::string& table, const std::string& key,
                 const Columns& columns) {
    db.exec("CREATE TABLE IF NOT EXISTS " + table + " (" + key + ")");
    std::set<std::string> present;
    sqlite::Statement info(db, ("PRAGMA table_info(" + table + ")").c_str());
    while (info.step()) present.insert(info.text(1));
    for (const auto& [name, type] : columns)
        if (!present.count(name))
            db.exec("ALTER TABLE " + table + " ADD COLUMN " + name + " " + type);
}

}  // namespace

void prepareJournalSchema(sqlite::Database& db) {
    sqlite::Transaction transaction(db);
    ensureTable(db, "transfers", "id INTEGER PRIMARY KEY", kTransfers);
    ensureTable(db, "partial_transfers", "id INTEGER PRIMARY KEY", kPartials);
    ensureTable(db, "journal_state", "name TEXT PRIMARY KEY", {{"value", "TEXT"}});
    // Newest first (--history, retention), and the last delivery of one file of a job.
    db.exec(
        "CREATE INDEX IF NOT EXISTS transfers_finished ON transfers(finished);"
        "CREATE INDEX IF NOT EXISTS transfers_download ON transfers(job, remote_path) "
        "WHERE direction = 'download';"
        "CREATE INDEX IF NOT EXISTS transfers_upload ON transfers(job, local_path) "
        "WHERE direction = 'upload';"
        "CREATE INDEX IF NOT EXISTS partial_transfers_file ON "
        "partial_transfers(job, direction, remote_path, local_path);");
    transaction.commit();
}

}  // namespace vs
