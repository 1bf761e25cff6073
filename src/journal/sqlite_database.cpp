#include "journal/sqlite_database.h"

#include "common/runtime_error.h"

namespace vs::sqlite {

namespace {
// Another process (a second instance on the same folder) may hold the write lock for a moment.
constexpr int kBusyMilliseconds = 5000;
}  // namespace

Database::Database(const std::string& path, bool create, bool readOnly) : path_(path) {
    const int flags = (readOnly ? SQLITE_OPEN_READONLY
                                : SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0)) |
                      SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        const std::string why = db_ ? sqlite3_errmsg(db_) : "memoria esaurita";
        sqlite3_close(db_);
        db_ = nullptr;
        throw RuntimeError(kErrGeneric, "Registro dei trasferimenti " + path + ": " + why);
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyMilliseconds);
}

Database::~Database() {
    // Statements are all finalized by their owners first; close_v2 waits for any left.
    sqlite3_close_v2(db_);
}

void Database::fail(const std::string& what) const {
    throw RuntimeError(kErrGeneric, "Registro dei trasferimenti " + path_ + ": " + what + ": " +
                                        sqlite3_errmsg(db_));
}

void Database::exec(const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string why = message ? message : sqlite3_errmsg(db_);
        sqlite3_free(message);
        throw RuntimeError(kErrGeneric, "Registro dei trasferimenti " + path_ + ": " + why);
    }
}

Statement::Statement(Database& db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db.get(), sql, -1, &stmt_, nullptr) != SQLITE_OK)
        db.fail("istruzione non valida");
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

Statement& Statement::bind(int at, std::int64_t value) {
    if (sqlite3_bind_int64(stmt_, at, value) != SQLITE_OK) db_.fail("parametro");
    return *this;
}

Statement& Statement::bind(int at, const std::string& value) {
    if (sqlite3_bind_text(stmt_, at, value.data(), static_cast<int>(value.size()),
                          SQLITE_TRANSIENT) != SQLITE_OK)
        db_.fail("parametro");
    return *this;
}

Statement& Statement::bindNull(int at) {
    if (sqlite3_bind_null(stmt_, at) != SQLITE_OK) db_.fail("parametro");
    return *this;
}

bool Statement::step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    db_.fail("lettura o scrittura");
}

std::int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

std::string Statement::text(int column) const {
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    return data ? std::string(data, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
                : std::string();
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

void Statement::reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

Transaction::Transaction(Database& db) : db_(db) {
    db_.exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (open_) sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit() {
    db_.exec("COMMIT");
    open_ = false;
}

}  // namespace vs::sqlite
