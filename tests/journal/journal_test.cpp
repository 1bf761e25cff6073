// The journal's rules on real SQLite databases in temporary folders.
#include "journal/journal.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <tuple>

#include "common/runtime_error.h"
#include "journal/history.h"
#include "journal/sqlite_database.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace vs::test {
namespace {

using namespace std::chrono_literals;
using Known = TransferJournal::Known;
constexpr long kUs = 100, kGone = 200, kOther = 300;  // process ids: ours, ended, running

struct Rig {
    TempDir dir;
    FakeClock clock;
    std::string path = (dir / "journal.db").string();
    std::unique_ptr<Journal> journal = open();
    const TimePoint modified = clock.now() - 1h;  // of every source file here

    std::unique_ptr<Journal> open(long pid = kUs) {
        return std::make_unique<Journal>(path, clock, pid,
                                         [](long p) { return p == kOther || p == kUs; });
    }
    TransferEntry entry(const std::string& remote, std::int64_t size = 10,
                        TransferOutcome outcome = TransferOutcome::Delivered) {
        return {3,        Direction::Download,  remote, "/in/" + remote, size,
                modified, std::string(64, 'a'), 0,      outcome,         ""};
    }
    std::string history(const std::optional<std::string>& text) {
        std::FILE* out = std::fopen((dir / "history").c_str(), "w");
        EXPECT_EQ(printHistory(path, text, out, stderr), 0);
        std::fclose(out);
        return readFile(dir / "history");
    }
    std::int64_t count(const std::string& sql) {
        sqlite::Database db(path, false);
        sqlite::Statement s(db, sql.c_str());
        s.step();
        return s.integer(0);
    }
};

TEST(Journal, AVersionCountsAsDeliveredOnlyWhenItsNewestRecordSaysSo) {
    Rig rig;
    const TimePoint t = rig.modified;
    rig.journal->record(rig.entry("a"));
    rig.clock.advance(1s);
    rig.journal->record(rig.entry("a", 10, TransferOutcome::Failed));  // a later failure
    rig.journal->record(rig.entry("b"));
    rig.clock.advance(1s);
    rig.journal->record(rig.entry("b", 11));  // b changed and was delivered again
    rig.journal->record(rig.entry("c"));
    rig.clock.advance(1s);
    rig.journal->record(rig.entry("c", 10, TransferOutcome::Unchanged));
    const std::tuple<int, Direction, std::string, std::int64_t, TimePoint, Known> cases[] = {
        {3, Direction::Download, "a", 10, t, Known::Delivered},
        {3, Direction::Download, "a", 11, t, Known::New},
        {3, Direction::Download, "a", 10, t + 1s, Known::New},
        {4, Direction::Download, "a", 10, t, Known::New},
        {3, Direction::Upload, "a", 10, t, Known::New},
        {3, Direction::Download, "b", 10, t, Known::New},
        {3, Direction::Download, "b", 11, t, Known::Delivered},
        {3, Direction::Download, "c", 10, t, Known::LeftUnchanged},
        {3, Direction::Download, "/in/a", 10, t, Known::New},  // downloads go by remote path
    };
    for (const auto& [job, direction, path, size, modified, expected] : cases) {
        SCOPED_TRACE(path + " " + std::to_string(size));
        EXPECT_EQ(rig.journal->known(job, direction, path, size, modified), expected);
    }
    TransferEntry up = rig.entry("x");
    up.direction = Direction::Upload;
    up.modified = t + 123456789ns;  // local files carry nanoseconds
    rig.journal->record(up);
    EXPECT_EQ(rig.journal->known(3, Direction::Upload, "/in/x", 10, t + 123456789ns),
              Known::Delivered);
    EXPECT_EQ(rig.journal->known(3, Direction::Upload, "/in/x", 10, t), Known::New);
}

TEST(Journal, HistoryPrintsEveryColumnNewestFirstAndFindsTextInEitherPath) {
    Rig rig;
    TransferEntry e = rig.entry("out/a%b.txt", 5);
    e.sha256 = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";
    rig.journal->record(e);
    rig.clock.advance(2s);
    TransferEntry failed = rig.entry("out/c.txt", 7, TransferOutcome::Failed);
    failed.sha256.clear();
    failed.detail = "connessione persa\ndopo 3 byte";
    failed.resumedFrom = 1048576;
    rig.journal->record(failed);
    const std::string all = rig.history(std::nullopt);
    EXPECT_EQ(all,
              "2009-10-16T10:00:07.000Z\t3\tdownload\tout/c.txt\t/in/out/c.txt\t7\t"
              "2009-10-16T09:00:05Z\t\t1048576\tfailed\tconnessione persa\\x0adopo 3 byte\n"
              "2009-10-16T10:00:05.000Z\t3\tdownload\tout/a%b.txt\t/in/out/a%b.txt\t5\t"
              "2009-10-16T09:00:05Z\t" +
                  e.sha256 + "\t0\tdelivered\t\n");
    EXPECT_EQ(rig.history("a%b"), all.substr(all.find('\n') + 1));
    EXPECT_EQ(rig.history("/in/out/c"), all.substr(0, all.find('\n') + 1));
    EXPECT_EQ(rig.history("%"), rig.history("a%b"));  // no LIKE patterns
    EXPECT_EQ(rig.history("zzz"), "");
    EXPECT_EQ(printHistory(rig.dir / "none.db", std::nullopt, stdout, stdout), 0);
}

TEST(Journal, OldRowsGoOnceADayAndStalePartsWithThem) {
    Rig rig;
    rig.journal->record(rig.entry("old"));
    rig.journal->notePartial(
        {3, Direction::Download, "/out/p", "/in/p", "/t/p.part", 5, rig.clock.now(), 1, 2});
    rig.clock.advance(24h * 8);
    rig.journal->record(rig.entry("new"));
    const auto purged = rig.journal->purgeIfDue(7);
    EXPECT_TRUE(purged.ran);
    EXPECT_EQ(purged.rows, 1);
    EXPECT_EQ(purged.parts, std::vector<std::string>{"/t/p.part"});
    EXPECT_EQ(rig.count("SELECT count(*) FROM transfers WHERE remote_path = 'new'"), 1);
    EXPECT_EQ(rig.count("SELECT count(*) FROM partial_transfers"), 0);
    // Within a day nothing runs again, also after a restart; a day later it does.
    rig.clock.advance(23h);
    rig.journal = rig.open();
    EXPECT_FALSE(rig.journal->purgeIfDue(0).ran);
    rig.clock.advance(1h);
    EXPECT_EQ(rig.journal->purgeIfDue(0).rows, 1);
}

TEST(Journal, APartIsTakenOverOnlyFromItselfOrAProcessThatIsGone) {
    Rig rig;
    const auto note = [&](const std::string& part, long pid) {
        rig.open(pid)->notePartial(
            {3, Direction::Download, "/out/f", "/in/f", part, 9, rig.clock.now(), 1, 2});
        rig.clock.advance(1s);
    };
    note("/t/ours", kUs);
    note("/t/running", kOther);
    const auto claimed = rig.journal->claimPartial(3, Direction::Download, "/out/f", "/in/f");
    ASSERT_TRUE(claimed);  // the newest, the running process's, is passed over
    EXPECT_EQ(claimed->partPath, "/t/ours");
    EXPECT_EQ(claimed->modified, rig.clock.now() - 2s);
    rig.journal->forgetPartial("/t/ours");
    note("/t/gone", kGone);
    EXPECT_EQ(rig.journal->claimPartial(3, Direction::Download, "/out/f", "/in/f")->partPath,
              "/t/gone");
    // Now ours: a running second instance takes only its own.
    EXPECT_EQ(rig.open(kOther)->claimPartial(3, Direction::Download, "/out/f", "/in/f")->partPath,
              "/t/running");
    EXPECT_FALSE(rig.journal->claimPartial(3, Direction::Upload, "/out/f", "/in/f"));
    // A delivery ends its partial transfer in the same transaction.
    rig.journal->record(rig.entry("f"), "/t/gone");
    EXPECT_EQ(rig.journal->partPaths(Direction::Download), std::vector<std::string>{"/t/running"});
}

TEST(Journal, AJournalOfAnOlderFormGetsTheMissingColumnsAndKeepsItsRows) {
    Rig rig;
    rig.journal.reset();
    std::filesystem::remove(rig.path);
    {
        sqlite::Database db(rig.path, true);
        db.exec(
            "CREATE TABLE transfers (id INTEGER PRIMARY KEY, finished TEXT, job INTEGER, "
            "direction TEXT, remote_path TEXT, outcome TEXT, size INTEGER, note TEXT);"
            "INSERT INTO transfers (finished, job, direction, remote_path, outcome, size, note) "
            "VALUES ('2009-01-01T00:00:00.000Z', 3, 'download', 'a', 'delivered', 10, 'x')");
    }
    rig.journal = rig.open();
    rig.journal->record(rig.entry("b"));
    EXPECT_EQ(rig.count("SELECT count(*) FROM transfers WHERE note = 'x' AND sha256 = ''"), 1);
    EXPECT_EQ(rig.count("SELECT count(*) FROM transfers WHERE resumed_from = 0"), 2);
}

// A disk that refuses the journal's write (here a file-size limit, which binds root as well):
// the call says so and never passes for a record.
TEST(Journal, AWriteTheDiskRefusesIsAnErrorNotARecord) {
    Rig rig;
    TransferEntry big = rig.entry("b");
    big.detail = std::string(1 << 20, 'd');
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 256 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    EXPECT_THROW(rig.journal->record(big), RuntimeError);
    ::setrlimit(RLIMIT_FSIZE, &saved);
}

}  // namespace
}  // namespace vs::test
