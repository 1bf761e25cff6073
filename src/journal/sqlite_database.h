#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>

// A thin owner of SQLite's C objects: a connection, its prepared statements and transactions,
// each closed on every path out. Failures throw RuntimeError (kErrGeneric) with SQLite's own
// words and what was being done.
namespace vs::sqlite {

class Database {
  public:
    // Opens (creating when `create`) the database file; ":memory:" gives a private one.
    Database(const std::string& path, bool create, bool readOnly = false);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    sqlite3* get() const { return db_; }
    const std::string& path() const { return path_; }
    // Runs statements that return nothing worth reading.
    void exec(const std::string& sql);
    [[noreturn]] void fail(const std::string& what) const;
    std::int64_t changes() const { return sqlite3_changes64(db_); }

  private:
    sqlite3* db_ = nullptr;
    std::string path_;
};

class Statement {
  public:
    Statement(Database& db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Parameters by position, from 1.
    Statement& bind(int at, std::int64_t value);
    Statement& bind(int at, const std::string& value);
    Statement& bindNull(int at);
    Statement& bind(int at, const std::optional<std::string>& value) {
        return value ? bind(at, *value) : bindNull(at);
    }
    // One step: true while a row is there to read.
    bool step();
    void run() {
        while (step()) {
        }
    }
    // Columns by position, from 0.
    std::int64_t integer(int column) const;
    std::string text(int column) const;
    bool isNull(int column) const;
    // Ready for new parameters and steps.
    void reset();

  private:
    Database& db_;
    sqlite3_stmt* stmt_ = nullptr;
};

// BEGIN IMMEDIATE (the write lock taken at once, so that two processes never both read and then
// both write) ... COMMIT; rolled back unless committed.
class Transaction {
  public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

  private:
    Database& db_;
    bool open_ = true;
};

}  // namespace vs::sqlite
