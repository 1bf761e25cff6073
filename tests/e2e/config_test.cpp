// The real program given what an administrator gets wrong: the settings files of
// tests/support/bad_settings.h, a mistyped mode, and the dry run against the test servers.
#include <gtest/gtest.h>

#include <chrono>

#include "support/bad_settings.h"
#include "support/servers.h"

namespace vs::test {
namespace {

namespace fs = std::filesystem;

// How often `line` is a whole line of `output`.
int lines(const std::string& output, const std::string& line) {
    return occurrences("\n" + output, "\n" + line + "\n");
}

TEST(BadSettings, CheckAndAspSayWhatWasUnderstoodAndExitAsTheTableSays) {
    TempDir dir;
    const std::string folder = (dir / "folder").string();
    fs::create_directory(folder);
    for (const BadSettings& c : kBadSettings) {
        SCOPED_TRACE(c.name);
        const fs::path home = dir / c.name, ini = dir / (std::string(c.name) + ".ini");
        fs::create_directory(home);
        if (c.ini) writeFile(ini, replaceAll(c.ini, "@DIR@", folder));
        const std::vector<std::string> env = {"VALTRASSOSFTP_SETTINGS=" + ini.string()};
        const ProgramRun check = runProgram(home, {"--check"}, 30, env);
        EXPECT_EQ(check.exitCode, c.checkExit) << check.output;
        EXPECT_TRUE(filesBelow(home).empty());  // a check changes nothing
        const ProgramRun asp = runProgram(home, {"mod:asp"}, 30, env);
        EXPECT_EQ(asp.exitCode, c.aspExit) << asp.output;
        for (const std::string& line : c.lines) {
            const std::string expected =
                replaceAll(replaceAll(line, "@DIR@", folder), "@INI@", ini.string());
            EXPECT_EQ(lines(check.output, expected), 1) << expected << "\n" << check.output;
            EXPECT_EQ(lines(asp.output, expected), 1) << expected;
        }
        EXPECT_NE(readFile(home / "valtrassosftp.prom")
                      .find("outcome=\"" + std::string(c.outcome) + "\"} 1"),
                  std::string::npos);
    }
}

// A mode nothing can start without a window (the manual mode a typo leaves) must fail, not
// wait forever.
TEST(CommandLine, AHeadlessRunWithoutAModeEndsAtOnce) {
    TempDir home;
    const ProgramRun run = runProgram(home.path(), {"mod:aps"}, 10);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.errors.find("senza finestra serve mod:auto o mod:asp"), std::string::npos);
    EXPECT_TRUE(filesBelow(home.path()).empty());
}

// With standard output on the journal, `journalctl -p err` shows the failures.
TEST(Journal, LinesCarryTheirPriorityWhenStandardOutputIsTheJournal) {
    TempDir home;
    writeFile(home / "valtrassosftp.ini", "[PARAMETRI]\ndeltatime=15\n");
    ServerProcess p;
    ASSERT_TRUE(p.start({"/bin/sh", "-c",
                         "export JOURNAL_STREAM=$(stat -L -c %d:%i /proc/$$/fd/1); exec \"$0\" "
                         "--check",
                         programBinary()},
                        {"VALTRASSOSFTP_HOME=" + home.path().string()}));
    EXPECT_EQ(p.wait(std::chrono::seconds(10)), 2);
    // Which line gets which priority is the unit tests' (tests/service).
    const std::string& out = p.output();
    EXPECT_EQ(lines(out, "<4>Parametri, host: mancante; nessuna connessione"), 1) << out;
    EXPECT_TRUE(
        out.ends_with("\n<3>Parametri non utilizzabili: nessun job utilizzabile, host "
                      "mancante; nessun ciclo sara' eseguito (valtrassosftp --check)\n"))
        << out;
}

// --check --connect logs in, lists, says what a cycle would move, and moves nothing. (It lists
// through the same remote folder calls over every kind of server, tests/remote.)
TEST(DryRun, SaysWhatACycleWouldMoveAndMovesNothing) {
    TestServer server(TestServer::Kind::Sftp);
    ASSERT_TRUE(server.ok());
    TempDir dir;
    for (const char* name : {"a.txt", "b.txt", "scarica_ok"})
        writeFile(server.local("out") / name, name);
    server.local("in");
    writeFile(dir / "up" / "c.txt", "c");
    fs::create_directories(dir / "in");
    const fs::path home = dir / "home";
    writeSettings(home, loginTo(server),
                  {{"/out", (dir / "in").string(), "TUTTI", "SI"},
                   {"/in", (dir / "up").string(), "TUTTI", "SI", "Upload"}});
    ProgramRun run = runProgram(home, {"--check", "--connect"}, 60);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find(" Prova job 0: 2 file da scaricare da /out/: a.txt, b.txt (poi "
                              "cancellati dal server)\n"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find(" Prova job 1: 1 file da inviare in /in/: c.txt (poi cancellati da " +
                              (dir / "up").string() + ")\n"),
              std::string::npos);
    EXPECT_EQ(filesBelow(server.root()),
              (std::vector<std::string>{"out/a.txt", "out/b.txt", "out/scarica_ok"}));
    EXPECT_EQ(filesBelow(dir / "up"), std::vector<std::string>{"c.txt"});
    EXPECT_TRUE(filesBelow(dir / "in").empty());
    EXPECT_FALSE(fs::exists(home / "log"));
    EXPECT_FALSE(fs::exists(home / "journal.db"));  // nor the journal, not even opened

    // A folder the server does not have, and a server nobody runs: exit code 1.
    writeSettings(home, loginTo(server), {{"/gone", (dir / "in").string()}});
    run = runProgram(home, {"--check", "--connect"}, 60);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find(" Prova job 0: prova non riuscita: "), std::string::npos)
        << run.output;
    server.stop();
    EXPECT_EQ(runProgram(home, {"--check", "--connect"}, 60).exitCode, 1);
}

}  // namespace
}  // namespace vs::test
