// The cycle's rules against an in-memory server: what runs, what is moved, what is kept, and
// what the closing line and the outcome say.
#include <fcntl.h>
#include <gtest/gtest.h>

#include "common/runtime_error.h"
#include "common/temporary_name.h"
#include "cycle/cycle_rig.h"
#include "support/servers.h"

namespace vs::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(CycleDriver, MultiplierDecidesTheDueCyclesAndTheCounterWraps) {
    CycleRig rig;
    rig.download(0, "/in", rig.folder("l"));
    rig.settings.jobTable[0].Dirmoltiplicatore = "5x";
    rig.settings.refreshJobCodes(0);
    std::vector<int> due;
    for (int cycle = 1; cycle <= 11; ++cycle) {
        const std::size_t before = rig.remote.calls.size();
        rig.run();
        if (rig.remote.calls.size() != before) due.push_back(cycle);
    }
    EXPECT_EQ(due, (std::vector<int>{1, 5, 10}));
    rig.state.cycleCounter = 32000;
    const std::size_t before = rig.remote.calls.size();
    rig.run();
    EXPECT_EQ(rig.state.cycleCounter, 1);
    EXPECT_NE(rig.remote.calls.size(), before);
}

// A refused connection ends the cycle without its end lines; an attempt that could not even be
// made (a port that is not a number) lets the jobs run into the missing connection.
TEST(CycleDriver, RefusedConnectionEndsTheCycleWithoutItsEndLines) {
    for (const int error : {kErrConnection, kErrTypeMismatch}) {
        SCOPED_TRACE(error);
        const bool refused = error == kErrConnection;
        CycleRig rig;
        rig.download(0, "/in", rig.folder("l"));
        rig.remote.connectError = error;
        EXPECT_EQ(rig.run() == CycleOutcome::ConnectFailed, refused);
        EXPECT_EQ(rig.loggedPart("Collegamento Terminato"), refused ? 0 : 1);
        EXPECT_EQ(rig.remote.calls.empty(), refused);
        EXPECT_EQ(rig.session.connectFailed, refused);
        EXPECT_FALSE(rig.session.connected);  // the next tick may start a cycle
        if (!refused) continue;
        EXPECT_EQ(rig.state.totfilenonok, "1");  // "In errore" counts the refused connection
        rig.run();
        EXPECT_EQ(rig.state.totfilenonok, "2");
    }
}

TEST(CycleDriver, UnreachableLocalFoldersAreNeverClean) {
    CycleRig rig;
    rig.mode = "asp";
    rig.download(0, "/in", (rig.dir / "missing").string());
    rig.download(1, "/in", std::string(5000, 'x'));  // cannot even be asked about
    rig.download(2, "/in", rig.folder("l"));
    EXPECT_EQ(rig.run(), CycleOutcome::Errors);
    EXPECT_EQ(rig.loggedPart("****** ERRORE **** Non riesco ad accedere a "), 1);
    EXPECT_EQ(rig.loggedPart("Collegamento 1 ****** ERRORE **** Non riesco ad accedere alla dir "
                             "locale 1 "),
              2);  // once in the pre-scan, once in the main pass
    EXPECT_EQ(rig.remote.calls, (std::vector<std::string>{"list /in/", "close"}));  // job 2 runs
    EXPECT_TRUE(rig.logged(" Collegamento Terminato  !"));
    EXPECT_EQ(rig.exitCode, 1);
}

// What a server or a partner says (refusals, names) reaches the log escaped and cut to size:
// no raw control character, bidirectional control or line separator, no line that grows with it.
const std::string kHostileText =
    "\x1b[2J\r\nForged line \xe2\x80\xae\xc2\x9b" + std::string(5000, 'x');
const std::string kHostileName = "\x1b]0;owned\x07 \xe2\x80\xae\xe2\x80\xa8.txt";

void expectOnlyEscapedLines(const CycleRig& rig) {
    for (const std::string& l : rig.log.List1()) {
        SCOPED_TRACE(l.substr(0, 200));
        EXPECT_LT(l.size(), 2300u);  // at most two outside texts of 1,000 bytes each
        EXPECT_EQ(std::count_if(l.begin(), l.end(),
                                [](unsigned char c) { return c < 0x20 || c == 0x7f; }),
                  0);
        for (const char* hidden : {"\xe2\x80\xae", "\xe2\x80\xa8", "\xc2\x9b"})
            EXPECT_EQ(l.find(hidden), std::string::npos);
    }
}

// One file or one folder that fails does not hold up the rest; a lost connection does, and what
// it cut off of an upload goes.
TEST(CycleDriver, FailuresOfOneFileSkipItAndCountAsErrors) {
    const std::string h = "/out/" + kHostileName;
    // The requests that fail and how, then what stays at the source or reaches the server.
    for (const auto& [failing, number, aStays, bStays, cSent] :
         {std::tuple<std::vector<std::string>, int, bool, bool, bool>{
              {"list /in/"}, kErrRemote, 1, 1, 1},
          {{"stat /in/a.txt"}, kErrRemote, 1, 0, 1},
          {{"fetch /in/a.txt"}, kErrRemote, 1, 0, 1},
          {{"fetch /in/a.txt"}, kErrAborted, 1, 0, 1},
          {{"remove /in/a.txt"}, kErrRemote, 1, 0, 1},
          {{"send /out/c.txt"}, kErrRemote, 0, 0, 0},
          {{"send /out/c.txt"}, kErrConnection, 0, 0, 0},
          {{"send " + h}, kErrConnection, 0, 0, 0},
          {{"send " + h, "remove " + h}, kErrConnection, 0, 0, 0},
          {{"fetch /in/a.txt"}, kErrConnection, 1, 1, 0},
          {{"connect"}, kErrConnection, 1, 1, 0}}) {
        SCOPED_TRACE(failing.back() + " " + std::to_string(number));
        CycleRig rig;
        const std::string in = rig.folder("in"), out = rig.folder("out");
        rig.remote.put("/in/a.txt", "AAAA");
        rig.remote.put("/in/b.txt", "BB");
        rig.remote.put("/in/" + kHostileName, "D");
        rig.remote.put("/in/scarica_ok", "");
        writeFile(fs::path(out) / "c.txt", "CCCC");
        writeFile(fs::path(out) / kHostileName, "E");  // sent first: its name sorts first
        rig.download(0, "/in", in, "TUTTI", "SI");
        rig.upload(1, out, "/out", "SI");
        for (const std::string& f : failing)
            rig.remote.failures[f] = f == failing[0] ? number : kErrRemote;
        if (failing[0] == "connect") rig.remote.connectError = number;
        rig.remote.failureText = kHostileText;
        rig.remote.failsAfter = 1;  // a failing transfer has moved a byte
        EXPECT_NE(rig.run(), CycleOutcome::Clean);
        expectOnlyEscapedLines(rig);
        if (failing[0] == "connect") continue;
        EXPECT_TRUE(rig.logged(" Collegamento Terminato  CON ERRORI"));
        EXPECT_EQ(rig.remote.files.count("/in/a.txt"), aStays ? 1u : 0u);
        if (fs::exists(fs::path(in) / "a.txt")) {  // never the byte a cut-off fetch brought
            EXPECT_EQ(readFile(fs::path(in) / "a.txt"), "AAAA");
        }
        EXPECT_EQ(rig.remote.files.count("/in/b.txt"), bStays ? 1u : 0u);
        EXPECT_EQ(rig.remote.files.count("/out/c.txt"), cSent ? 1u : 0u);
        EXPECT_EQ(fs::exists(fs::path(out) / "c.txt"), !cSent);
        EXPECT_EQ(rig.state.totfilenonok, number == kErrConnection ? "1" : "0");
        // What a lost connection left of an upload goes with one more connection at the end.
        const bool cutOff = failing[0].starts_with("send") && number == kErrConnection;
        EXPECT_EQ(rig.loggedPart(" Rimosso dal server il file incompleto "),
                  cutOff && failing.size() == 1);
        EXPECT_EQ(rig.loggedPart(" potrebbe essere rimasto sul server: "), failing.size() == 2);
    }
}

TEST(CycleDriver, StopRequestEndsTheCycleAfterTheRunningFile) {
    CycleRig rig;
    const std::string in = rig.folder("in");
    for (const char* n : {"/in/a", "/in/b", "/in/scarica_ok"}) rig.remote.put(n, "x");
    rig.download(0, "/in", in);
    rig.download(1, "/in", in);
    rig.remote.onRequest("fetch", 1, [&] { rig.stop = true; });
    // Cut short, the cycle is not clean: the rest of its work has not moved.
    EXPECT_EQ(rig.run(), CycleOutcome::Errors);
    EXPECT_EQ(filesBelow(in), (std::vector<std::string>{"a"}));
    EXPECT_EQ(rig.loggedPart("Inizio controllo"), 1);
    EXPECT_TRUE(rig.logged(" Ciclo interrotto dalla chiusura del programma"));
    EXPECT_TRUE(rig.logged(" Collegamento Terminato  CON ERRORI"));
}

TEST(Download, CopiesBacksUpAndDeletesInKeyOrderThenReportsWhatMoved) {
    CycleRig rig;
    const std::string in = rig.folder("in"), bak = rig.folder("bak");
    rig.remote.put("/in/ABCDEFOP1.pdf", "one");
    rig.remote.put("/in/ABCDEFOP1.abcdxyz.pdf", "second");
    rig.remote.files["/in/ABCDEFOP1.pdf"].mtime = FakeClock::at(2009, 10, 16, 12, 0, 5);
    rig.download(0, "/in", in, "PDFREPORT", "SI", bak);  // backup folder without a final "/"
    EXPECT_EQ(rig.run(), CycleOutcome::Clean);
    EXPECT_EQ(filesBelow(in), filesBelow(bak));
    EXPECT_EQ(filesBelow(in).size(), 2u);
    EXPECT_TRUE(rig.remote.files.empty());
    // The keys 20091016_120005 and 91016_120005xyz decide the order.
    const auto lines = rig.lines();
    EXPECT_LT(std::find(lines.begin(), lines.end(), " Download corretto ABCDEFOP1.pdf"),
              std::find(lines.begin(), lines.end(), " Download corretto ABCDEFOP1.abcdxyz.pdf"));
    EXPECT_TRUE(rig.logged(" Cancellato file remoto ABCDEFOP1.pdf"));
    EXPECT_TRUE(filesBelow((rig.tempFolder).string()).empty());
    ASSERT_EQ(rig.cycle.lastReport().jobs.size(), 1u);
    EXPECT_EQ(rig.cycle.lastReport().jobs[0].filesDownloaded, 2u);
    EXPECT_EQ(rig.cycle.lastReport().jobs[0].bytesDownloaded, 9u);
}

// Whatever goes wrong around one file, the remote file is deleted only when every copy is safe
// and it is still the version that was fetched.
TEST(Download, TheRemoteFileStaysUnlessItIsCertainlySafeElsewhere) {
    struct Case {
        const char* what;
        std::function<void(CycleRig&)> arrange;
        bool localCopy;
    };
    const std::vector<Case> cases{
        {"grows while fetched",
         [](CycleRig& r) {
             r.remote.onRequest("fetch", 1,
                                [&r] { r.remote.files["/in/a.txt"].content += "more"; });
         },
         false},
        {"replaced after the copy",
         [](CycleRig& r) {
             r.remote.onRequest("stat", 2, [&r] { r.remote.files["/in/a.txt"].mtime += 1s; });
         },
         true},
        {"backup folder missing",
         [](CycleRig& r) { r.settings.jobTable[0].DirLocaleBackup = (r.dir / "nobak").string(); },
         true},
        {"local name refused", [](CycleRig& r) { fs::create_directories(r.dir / "in" / "a.txt"); },
         false},
        {"replaced after the copy by as many bytes, on a server without MDTM and SIZE",
         [](CycleRig& r) {
             r.remote.tellsSizeAndTime = false;
             r.remote.onRequest("stat", 2, [&r] {
                 r.remote.files["/in/a.txt"] = {"DATA", r.remote.files["/in/a.txt"].mtime + 1min};
             });
         },
         true},
        {"nothing can show it unchanged: no MDTM, no SIZE, the listing refused again",
         [](CycleRig& r) {
             r.remote.tellsSizeAndTime = false;
             r.remote.onRequest("list", 2, [] { throw RuntimeError(kErrRemote, "550 no"); });
         },
         true},
        {"cut short: a size of 9999 is a size like any other",
         [](CycleRig& r) {
             r.remote.files["/in/a.txt"].content = std::string(9999, 'x');
             r.remote.onRequest("fetch", 1,
                                [&r] { r.remote.files["/in/a.txt"].content.resize(5000); });
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CycleRig rig;
        const std::string in = rig.folder("in");
        rig.remote.put("/in/a.txt", "data");
        rig.download(0, "/in", in, "TUTTI", "SI");
        rig.remote.put("/in/scarica_ok", "");
        c.arrange(rig);
        EXPECT_EQ(rig.run(), CycleOutcome::Errors);
        EXPECT_EQ(rig.remote.files.count("/in/a.txt"), 1u);
        EXPECT_EQ(fs::is_regular_file(fs::path(in) / "a.txt"), c.localCopy);
        EXPECT_EQ(filesBelow(rig.tempFolder.string()).size(), 0u);
    }
}

// A server without SIZE or MDTM: the listing's own line of every file, companions of an
// automail file included, gives the size a download must have (and may not run far past), and
// taken again shows the files unchanged before they are deleted.
TEST(Download, AServerThatTellsNeitherSizeNorTimeIsJudgedByItsListing) {
    CycleRig rig;
    const std::string in = rig.folder("in");
    rig.listing = kFtpListing;
    rig.remote.tellsSizeAndTime = false;
    for (const char* suffix : {"t", "H", "0", "B"})
        rig.remote.put(std::string("/in/OP.A1B2C3.") + suffix, std::string("data of ") + suffix);
    rig.download(0, "/in", in, "AUTOMAIL", "SI");
    EXPECT_EQ(rig.run(), CycleOutcome::Clean);
    EXPECT_EQ(rig.remote.expectedSizes, (std::vector<std::optional<std::int64_t>>{9, 9, 9, 9}));
    EXPECT_EQ(filesBelow(in).size(), 4u);
    EXPECT_TRUE(rig.remote.files.empty());
}

TEST(Upload, SendsBacksUpAndDeletesInNameOrder) {
    CycleRig rig;
    const std::string out = rig.folder("out"), bak = rig.folder("bak");
    for (const char* n : {"b.txt", "a.txt"}) writeFile(fs::path(out) / n, n);
    rig.upload(0, out, "/in", "SI", bak);
    // Over a server that cannot tell what it holds, as the job accepts.
    rig.remote.tellsSizeAndTime = false;
    rig.settings.deleteUnverified[0] = true;
    EXPECT_EQ(rig.run(), CycleOutcome::Clean);
    EXPECT_EQ(rig.remote.calls,
              (std::vector<std::string>{"send /in/a.txt", "send /in/b.txt", "close"}));
    EXPECT_EQ(rig.remote.files["/in/a.txt"].content, "a.txt");
    EXPECT_TRUE(rig.logged(" Richiedi elenco Upload 0 " + out + "/"));
    EXPECT_EQ(filesBelow(bak), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_TRUE(filesBelow(out).empty());
    EXPECT_EQ(rig.settings.jobTable[0].DirRemota, "/in/");
    EXPECT_EQ(rig.cycle.lastReport().jobs.at(0).bytesUploaded, 10u);
    // The job keeps the name the settings give it, whatever the cycle appends in memory.
    writeFile(fs::path(out) / "c.txt", "c");
    rig.run();
    EXPECT_EQ(rig.cycle.lastReport().jobs.at(0).remoteFolder, "/in");
}

// A local file is deleted only when it arrived whole, has a verified backup and is still the
// file that was sent; its name, a partner's choice, reaches the log escaped.
TEST(Upload, TheLocalFileStaysUnlessItIsCertainlySafeElsewhere) {
    struct Case {
        const char* what;
        std::function<void(CycleRig&, const fs::path&)> arrange;
        bool remoteCopy;
        CycleOutcome outcome;
    };
    const std::vector<Case> cases{
        {"refused by the server",
         [](CycleRig& r, const fs::path&) {
             r.remote.failures["send /in/" + kHostileName] = kErrRemote;
         },
         false, CycleOutcome::Errors},
        {"backup folder missing",
         [](CycleRig& r, const fs::path&) {
             r.settings.jobTable[0].DirLocaleBackup = (r.dir / "nobak").string();
         },
         true, CycleOutcome::Errors},
        {"grows while sent",
         [](CycleRig& r, const fs::path& f) {
             r.remote.onRequest("send", 1, [f] { writeFile(f, "a.txt and more"); });
         },
         false, CycleOutcome::Errors},
        {"replaced while sent: the old version arrived whole, the new one waits",
         [](CycleRig& r, const fs::path& f) {
             r.remote.onRequest("send", 1, [f] {
                 writeFile(f.string() + ".new", "new version");
                 fs::rename(f.string() + ".new", f);
             });
         },
         true, CycleOutcome::Clean},
        {"kept short by the server, which acknowledged every byte",
         [](CycleRig& r, const fs::path&) {
             r.remote.before = [&r](const std::string&, const std::string& path) {
                 r.remote.keeps = path == "/in/" + kHostileName ? 2 : std::string::npos;
             };
         },
         false, CycleOutcome::Errors},
        {"the server cannot tell what it holds (FTP without SIZE)",
         [](CycleRig& r, const fs::path&) { r.remote.tellsSizeAndTime = false; }, true,
         CycleOutcome::Errors},
        {"still open for writing: it waits for a later cycle, no error",
         [](CycleRig&, const fs::path& f) { ::open(f.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC); },
         false, CycleOutcome::Clean},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CycleRig rig;
        const std::string out = rig.folder("out");
        const fs::path f = fs::path(out) / kHostileName;
        writeFile(f, "a.txt");
        writeFile(fs::path(out) / "b.txt", "b.txt");
        rig.upload(0, out, "/in", "SI");
        rig.remote.failureText = kHostileText;
        c.arrange(rig, f);
        EXPECT_EQ(rig.run(), c.outcome);
        expectOnlyEscapedLines(rig);
        EXPECT_TRUE(fs::exists(f));
        EXPECT_EQ(rig.remote.files.count("/in/" + kHostileName), c.remoteCopy ? 1u : 0u);
        EXPECT_EQ(rig.remote.files.count("/in/b.txt"), 1u);  // the next file still goes
    }
}

// With uploadtemp the partner never sees a partial file; the first cycle of a run that works
// the folder removes the hidden temporaries that killed runs left there, and nothing else.
TEST(Upload, UploadTempSendsUnderAHiddenNameAndClearsWhatKilledRunsLeft) {
    const ProcessStamp me = ownStamp();
    const std::string stale = temporaryName({me.pid, me.boot, me.started + 1});
    const std::string live = temporaryName();  // this run's own, as if still being sent
    // A killed run's too, but on record in the journal: a later cycle goes on into it.
    const std::string kept = temporaryName({me.pid, me.boot ^ 1u, me.started});
    {
        CycleRig rig;
        const std::string out = rig.folder("out");
        for (const std::string& n : {stale, live, kept, std::string("a.vs-part")})
            rig.remote.put("/in/" + n, "x");
        rig.journal->notePartial({0, Direction::Upload, "/in/big.bin", out + "/big.bin",
                                  "/in/" + kept, 9 << 20, TimePoint{}, 1, 1});
        rig.upload(0, out, "/in", "SI");
        rig.settings.uploadTemp = true;
        for (const char* name : {"a.txt", "b.txt"}) {
            writeFile(fs::path(out) / name, name);
            rig.run();
        }
        const char* calls[] = {"list /in/", "remove /in/.vs-", "send /in/.vs-",   "rename /in/.vs-",
                               "close",     "send /in/.vs-",   "rename /in/.vs-", "close"};
        ASSERT_EQ(rig.remote.calls.size(), std::size(calls))
            << testing::PrintToString(rig.remote.calls);
        for (std::size_t i = 0; i < std::size(calls); ++i)
            EXPECT_TRUE(rig.remote.calls[i].starts_with(calls[i])) << rig.remote.calls[i];
        EXPECT_EQ(rig.remote.calls[1], "remove /in/" + stale);
        EXPECT_EQ(rig.loggedPart(" Rimosso dal server il file temporaneo di un'esecuzione "
                                 "interrotta /in/" +
                                 stale),
                  1);
        for (const char* n : {"a.vs-part", "a.txt", "b.txt"})
            EXPECT_EQ(rig.remote.files.count(std::string("/in/") + n), 1u) << n;
        EXPECT_EQ(rig.remote.files.count("/in/" + live), 1u);
        EXPECT_EQ(rig.remote.files.count("/in/" + kept), 1u);
        EXPECT_EQ(rig.remote.files.size(), 5u);
    }
    // A sweep the server refuses is said, with what the server said, and the upload goes on.
    for (const std::string& refused : {std::string("list /in/"), "remove /in/" + stale}) {
        CycleRig rig;
        const std::string out = rig.folder("out");
        rig.remote.put("/in/" + stale, "x");
        writeFile(fs::path(out) / "a.txt", "a");
        rig.upload(0, out, "/in", "SI");
        rig.settings.uploadTemp = true;
        rig.remote.failures[refused] = kErrRemote;
        rig.remote.failureText = kHostileText;
        rig.run();
        expectOnlyEscapedLines(rig);
        EXPECT_EQ(rig.loggedPart(" Impossibile "), 1);
        EXPECT_EQ(rig.remote.files.count("/in/a.txt"), 1u);
    }
}

// Names with blanks anywhere, names that once collided with temporary files or could not get a
// temporary suffix at all: under the rules of either kind of server.
TEST(Download, AwkwardNamesDownloadLikeAnyOther) {
    for (const ListingPolicy& policy : {kSftpListing, kFtpListing}) {
        CycleRig rig;
        rig.listing = policy;
        const std::string in = rig.folder("in");
        const std::string longest(255, 'n');
        for (const std::string& n :
             {longest, std::string(" two  words "), std::string("X"), std::string("X.vs-part"),
              std::string(".vs-0000000001-00000000.tmp"), kHostileName})
            rig.remote.put("/in/" + n, n);
        rig.remote.put("/in/scarica_ok", "");
        rig.download(0, "/in", in, "TUTTI", "SI");
        EXPECT_EQ(rig.run(), CycleOutcome::Clean);
        std::vector<std::string> fetched{kHostileName, " two  words ", "X", "X.vs-part", longest};
        if (!policy.controlFile) fetched.push_back("scarica_ok");
        EXPECT_EQ(filesBelow(in), fetched);
        EXPECT_EQ(readFile(fs::path(in) / " two  words "), " two  words ");
        EXPECT_TRUE(rig.logged(" Cancellato file remoto  two  words "));
        // One of our own temporary names is never taken from a listing.
        EXPECT_EQ(rig.remote.files.size(), policy.controlFile ? 2u : 1u);
        expectOnlyEscapedLines(rig);
    }
}

}  // namespace

}  // namespace vs::test
