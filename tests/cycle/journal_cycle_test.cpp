// The cycle's record of what it moved, against the in-memory server and a journal in a
// temporary folder.
#include <gtest/gtest.h>
#include <sys/stat.h>


#include "common/temporary_name.h"
#include "cycle/cycle_rig.h"
#include "cycle/staged_download.h"
#include "journal/sqlite_database.h"
#include "support/servers.h"

namespace vs::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The journal's rows as "outcome remote local size sha256 detail", oldest first.
std::vector<std::string> rows(CycleRig& rig) {
    sqlite::Database db((rig.dir / "journal.db").string(), false);
    sqlite::Statement s(db,
                        "SELECT outcome, remote_path, local_path, size, sha256, detail "
                        "FROM transfers ORDER BY id");
    std::vector<std::string> out;
    while (s.step()) {
        std::string line = s.text(0);
        for (int c = 1; c < 6; ++c) line += " " + s.text(c);
        out.push_back(line);
    }
    return out;
}

TimePoint mtimeOf(const fs::path& path) {
    return fs::file_time_type::clock::to_sys(fs::last_write_time(path));
}

const std::string kHelloSha = "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824";

TEST(Journal, EveryTransferEndsOnRecordAndTheSourceGoesOnlyAfterIt) {
    CycleRig rig;
    const std::string down = rig.folder("down"), up = rig.folder("up");
    rig.download(0, "/in/", down, "TUTTI", "SI");
    rig.upload(1, up, "/out", "SI");
    rig.remote.put("/in/a.txt", "hello");
    rig.remote.put("/in/bad.txt", "x");
    rig.remote.failures["fetch /in/bad.txt"] = kErrRemote;
    rig.remote.put("/in/scarica_ok", "");
    writeFile(fs::path(up) / "b.txt", "hello");
    rig.run();
    EXPECT_EQ(rows(rig),
              (std::vector<std::string>{
                  "delivered /in/a.txt " + down + "/a.txt 5 " + kHelloSha + " ",
                  "failed /in/bad.txt " + down + "/bad.txt 1  fetch /in/bad.txt rifiutato",
                  "delivered /out/b.txt " + up + "/b.txt 5 " + kHelloSha + " "}));
    EXPECT_FALSE(rig.remote.files.count("/in/a.txt"));
    EXPECT_FALSE(fs::exists(fs::path(up) / "b.txt"));

    // Without a journal nothing is deleted at its source: it would leave no record.
    rig.journal.reset();
    rig.remote.put("/in/c.txt", "c");
    writeFile(fs::path(up) / "d.txt", "d");
    rig.run();
    EXPECT_TRUE(readFile(fs::path(down) / "c.txt") == "c" && rig.remote.files.count("/in/c.txt"));
    EXPECT_TRUE(rig.remote.files.count("/out/d.txt") && fs::exists(fs::path(up) / "d.txt"));
    EXPECT_EQ(rig.loggedPart(" non cancellato: registro dei trasferimenti non aggiornato "), 2);
}

TEST(Journal, SoloNuoviMovesAVersionOnceAndAgainOnlyWhenItChanges) {
    for (const bool downloads : {true, false}) {
        SCOPED_TRACE(downloads ? "download" : "upload");
        CycleRig rig;
        const std::string local = rig.folder("l");
        const fs::path localFile = fs::path(local) / "f.txt";
        if (downloads) {
            rig.download(0, "/in/", local);
            rig.remote.put("/in/scarica_ok", "");
            rig.remote.put("/in/f.txt", "one");
        } else {
            rig.upload(0, local, "/out");
            writeFile(localFile, "one");
        }
        const auto moves = [&] {
            const std::size_t before = rig.remote.calls.size();
            rig.run();
            int n = 0;
            for (std::size_t i = before; i < rig.remote.calls.size(); ++i)
                n += rig.remote.calls[i] == (downloads ? "fetch /in/f.txt" : "send /out/f.txt");
            return n;
        };
        EXPECT_EQ(moves(), 1);
        EXPECT_EQ(moves(), 1);  // without the key, every cycle
        rig.settings.soloNuovi[0] = true;
        EXPECT_EQ(moves(), 0);
        EXPECT_EQ(moves(), 0);
        EXPECT_EQ(rig.loggedPart(" File invariati, non trasferiti: 1 (job 0)"), 2);
        // A new version: same size, another time.
        if (downloads)
            rig.remote.files["/in/f.txt"].mtime += 1s;
        else
            fs::last_write_time(localFile, fs::last_write_time(localFile) + 1s);
        EXPECT_EQ(moves(), 1);
        EXPECT_EQ(moves(), 0);
        int unchanged = 0;
        for (const std::string& r : rows(rig)) unchanged += r.rfind("unchanged ", 0) == 0;
        EXPECT_EQ(unchanged, 2);  // once per version, not once per cycle
    }
}

TEST(Journal, MantienidataKeepsModificationTimesBothWays) {
    CycleRig rig;
    rig.settings.mantieniData = true;
    const std::string down = rig.folder("down"), bak = rig.folder("bak"), up = rig.folder("up");
    rig.download(0, "/in/", down, "TUTTI", "NO", bak);
    rig.upload(1, up, "/out");
    rig.remote.put("/in/scarica_ok", "");
    rig.remote.put("/in/a.txt", "a");
    const TimePoint remoteTime = FakeClock::at(2009, 10, 16, 8, 19, 31);
    rig.remote.files["/in/a.txt"].mtime = remoteTime;
    for (const char* name : {"b.txt", "c.txt"}) writeFile(fs::path(up) / name, name);
    const TimePoint localTime = FakeClock::at(2008, 1, 2, 3, 4, 5) + 250ms;
    fs::last_write_time(fs::path(up) / "b.txt", fs::file_time_type::clock::from_sys(localTime));
    rig.run();
    EXPECT_EQ(mtimeOf(fs::path(down) / "a.txt"), remoteTime);
    EXPECT_EQ(mtimeOf(fs::path(bak) / "a.txt"), remoteTime);
    EXPECT_EQ(rig.remote.files["/out/b.txt"].mtime, localTime);

    // A server that cannot: one line a cycle, and the files go all the same.
    rig.remote.setsTimes = false;
    rig.run();
    rig.run();
    EXPECT_EQ(rig.loggedPart(" Il server non permette di impostare la data dei file"), 2);
    EXPECT_EQ(rig.remote.files.count("/out/c.txt"), 1u);
}

// Parts left by downloads cut off: gone once their file is no longer listed, and never gone
// on with for another version of the file (it starts from zero).
TEST(Journal, APartIsDroppedWhenItsFileIsGoneOrHasChanged) {
    CycleRig rig;
    const std::string local = rig.folder("l");
    rig.download(0, "/in/", local);
    rig.remote.put("/in/scarica_ok", "");
    const std::string big = patternBytes(3 << 20, 9);
    rig.remote.put("/in/big.bin", big);
    const fs::path parts = StagedDownload::partsFolder(rig.tempFolder);
    fs::create_directories(parts);
    for (const char* name : {"gone.bin", "big.bin"}) {
        const fs::path part = parts / (".vs-0000000001-0000000" + std::to_string(name[0] == 'g') +
                                       ".tmp");
        writeFile(part, big.substr(0, 2 << 20));
        struct stat st {};
        ::stat(part.c_str(), &st);
        // big.bin's part was of a version a second older.
        rig.journal->notePartial({0, Direction::Download, std::string("/in/") + name,
                                  local + "/" + name, part.string(), 3 << 20,
                                  rig.remote.files["/in/big.bin"].mtime - 1s, st.st_dev,
                                  st.st_ino});
    }
    rig.run();
    EXPECT_TRUE(readFile(fs::path(local) / "big.bin") == big);
    EXPECT_EQ(rig.loggedPart(" Download ripreso da "), 0);
    EXPECT_TRUE(filesBelow(parts).empty());
    EXPECT_TRUE(rig.journal->partPaths(Direction::Download).empty());
}

// The start-up clean-up of parziali/: a part the journal knows stays for the next cycle, and so
// does one a running process is writing; a part of a process that is gone goes, and nothing
// that is not a temporary of ours is touched.
TEST(Journal, StartUpRemovesOnlyPartsNoOneCanGoOnWith) {
    TempDir dir;
    const fs::path parts = StagedDownload::partsFolder(dir.path());
    fs::create_directories(parts);
    const ProcessStamp me = ownStamp();
    const std::string stale = temporaryName({me.pid, me.boot, me.started + 1});
    const std::string recorded = temporaryName({me.pid, me.boot ^ 1u, me.started});
    for (const std::string& name : {stale, recorded, temporaryName(), std::string("notes.txt")})
        writeFile(parts / name, "x");
    EXPECT_EQ(removeOrphanParts(dir.path(), {(parts / recorded).string()}), 1);
    EXPECT_FALSE(fs::exists(parts / stale));
    EXPECT_EQ(filesBelow(parts).size(), 3u);
}

}  // namespace
}  // namespace vs::test
