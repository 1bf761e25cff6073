// The real program, headless, against each real server: what ends up where, byte for byte,
// whatever fails on the way.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "support/servers.h"

namespace vs::test {
namespace {

namespace fs = std::filesystem;
using Kind = TestServer::Kind;

class Transfer : public ServerTest {
  protected:
    void SetUp() override {
        ServerTest::SetUp();
        for (const char* f : {"in", "bak_in", "up", "bak_up"}) fs::create_directories(dir / f);
    }
    std::string local(const std::string& f) const { return (dir / f).string(); }
    ProgramRun runOnce(const std::vector<JobSpec>& jobs, const std::string& extra = "") {
        writeSettings(dir / "home", loginTo(*server), jobs, extra);
        return runProgram(dir / "home", {"mod:asp"});
    }
    // Every temporary file of ours, wherever it was left.
    std::vector<std::string> leftovers() const {
        std::vector<std::string> found;
        for (const fs::path& top : {dir.path(), server->root()})
            for (const std::string& f : filesBelow(top))
                if (f.find("/.vs-") != std::string::npos || f.rfind(".vs-", 0) == 0 ||
                    (f.find("tempozipftp/") != std::string::npos))
                    found.push_back(f);
        return found;
    }
};

// The same over the servers with fault switches.
class Faults : public Transfer {};

TEST_P(Transfer, MovesEveryFileBothWaysAndLeavesNothingBehind) {
    // Names with blanks go both ways like any other.
    const std::map<std::string, std::string> down{{"empty.txt", ""},
                                                  {" a small  file.txt ", "hello"},
                                                  {"large.bin", patternBytes(700000, 1)}};
    const std::map<std::string, std::string> up{{"for the partner.txt", "to the partner"},
                                                {"b.bin", patternBytes(300000, 2)}};
    for (const auto& [name, data] : down) writeFile(server->local("out") / name, data);
    writeFile(server->local("out") / "scarica_ok", "");
    for (const auto& [name, data] : up) writeFile(dir / "up" / name, data);
    server->local("in");

    const ProgramRun run =
        runOnce({{server->remote("out"), local("in"), "TUTTI", "SI", "Download", local("bak_in")},
                 {server->remote("in"), local("up"), "TUTTI", "SI", "Upload", local("bak_up")}});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(dayLogs(dir / "home").find(" Collegamento Terminato  !"), std::string::npos);
    for (const auto& [name, data] : down) {
        EXPECT_TRUE(readFile(dir / "in" / name) == data) << name;
        EXPECT_TRUE(readFile(dir / "bak_in" / name) == data) << name;
    }
    for (const auto& [name, data] : up) {
        EXPECT_TRUE(readFile(server->root() / "in" / name) == data) << name;
        EXPECT_TRUE(readFile(dir / "bak_up" / name) == data) << name;
    }
    // Over FTP the control file is a file like any other.
    EXPECT_EQ(filesBelow(server->root() / "out").size(), server->serverType() == "Sftp");
    EXPECT_TRUE(filesBelow(dir / "up").empty());
    EXPECT_TRUE(leftovers().empty());
}

// systemctl stop sends SIGTERM, a closed session SIGHUP, and the reader of our output may be
// gone first (| grep -m1): the running transfer is aborted and cleaned up like a failed one,
// the program ends in order, its log complete, and the exit code of a one-cycle run says
// that its cycle did not finish.
TEST_P(Faults, StopSignalsEndInOrderEvenWithNoOneReadingOurOutput) {
    ASSERT_TRUE(server->restart(throttled(GetParam(), 300000)));
    const std::string data = patternBytes(3 << 20, 4);
    writeFile(dir / "up" / "big.bin", data);
    server->local("in");
    for (const auto& [sig, readerGone] : {std::pair{SIGTERM, false}, {SIGHUP, true}}) {
        SCOPED_TRACE(sig);
        const fs::path home = dir / ("home" + std::to_string(sig));
        writeSettings(home, loginTo(*server),
                      {{server->remote("in"), local("up"), "TUTTI", "SI", "Upload"}});
        ServerProcess program;
        ASSERT_TRUE(startProgram(program, home, {"mod:asp"}));
        const auto transferring = [&] {
            const std::string out = program.output();  // SFTP and FTP progress lines
            return out.find(" Inviato ") != std::string::npos ||
                   out.find(" 20 %") != std::string::npos;
        };
        for (int i = 0; i < 100 && !transferring(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (readerGone) {
            program.closeOutput();
            std::this_thread::sleep_for(std::chrono::seconds(1));  // progress lines meanwhile
        }
        const auto sent = std::chrono::steady_clock::now();
        program.signal(sig);
        EXPECT_EQ(program.wait(std::chrono::seconds(20)), 128 + sig);
        // The server finishes draining the aborted upload before it answers QUIT.
        EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(15));
        const std::string log = dayLogs(home);
        EXPECT_NE(log.find(" Collegamento Terminato  CON ERRORI"), std::string::npos) << log;
        EXPECT_NE(log.find(" Chiusura Volontaria"), std::string::npos);
        EXPECT_FALSE(fs::exists(server->root() / "in" / "big.bin"));
        EXPECT_TRUE(readFile(dir / "up" / "big.bin") == data);
        EXPECT_TRUE(leftovers().empty());
    }
}

// The service user is not the owner of the files it sends (an ERP's exports), and Linux
// refuses it the read lease that tells a file still open for writing. Such a file goes only
// once it stayed the same for the settle time. (The owner's lease: tests/cycle.)
TEST(ServiceUser, AFileAnotherUserIsStillWritingIsNeverSentCutShort) {
    if (!canRunAsServiceUser()) GTEST_SKIP() << "needs root, the user nobody and setpriv";
    TestServer server(Kind::Sftp);
    ASSERT_TRUE(server.ok());
    TempDir dir;
    const fs::path up = dir / "up", remote = server.local("in");
    writeSettings(dir / "service", loginTo(server), {{"/in", up.string(), "TUTTI", "SI", "Upload"}},
                  "attesastabile=1\r\n");
    handToServiceUser(dir / "service");
    handToServiceUser(up);
    // The writer: root's process, a line every 300 ms (less than the settle time), the file
    // open all along. Between two lines a file sent on faith is cut short.
    std::atomic<bool> stop{false};
    std::thread writer([&, f = std::fopen((up / "export.txt").c_str(), "w")] {
        for (int n = 0; !stop; ++n) {
            std::fprintf(f, "line %d\n", n);
            std::fflush(f);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        std::fclose(f);
    });
    const auto run = [&] {
        const std::size_t from = dayLogs(dir / "service").size();
        EXPECT_EQ(runProgram(dir / "service", {"mod:asp"}, 60, {}, true).exitCode, 0);
        return dayLogs(dir / "service").substr(from);
    };
    const char* waits = " Impossibile sapere se il file è ancora in scrittura (lease: ";
    const char* later = " File ancora in scrittura, sarà inviato al prossimo ciclo: ";
    std::string log = run();
    EXPECT_NE(log.find(waits), std::string::npos) << log;
    EXPECT_NE(log.find(later), std::string::npos);
    EXPECT_TRUE(filesBelow(remote).empty());

    stop = true;
    writer.join();
    const std::string whole = readFile(up / "export.txt");
    log = run();  // the file stays the same now: sent whole after the wait
    EXPECT_NE(log.find(waits), std::string::npos) << log;
    EXPECT_TRUE(readFile(remote / "export.txt") == whole);
    EXPECT_FALSE(fs::exists(up / "export.txt"));
}

// vsftpd requires TLS, resuming the control's TLS session, on every data connection.
INSTANTIATE_TEST_SUITE_P(Servers, Transfer,
                         ::testing::Values(Kind::Sftp, Kind::Ftp, Kind::OpenSsh, Kind::Vsftpd,
                                           Kind::VsftpdImplicit),
                         kindParamName);
INSTANTIATE_TEST_SUITE_P(Servers, Faults, ::testing::Values(Kind::Sftp, Kind::Ftp), kindParamName);

// A long path, 40 ms away through the delaying link: uploads go in segments over a second
// channel, downloads ask for the described size in several flights. A large file still
// arrives whole both ways, and nothing is deleted that did not. (sshd: the python server
// takes the same requests in tests/remote.)
TEST(LongPath, ALargeFileArrivesWholeBothWays) {
    TestServer server(Kind::OpenSsh);
    ASSERT_TRUE(server.ok()) << server.output();
    ServerProcess link;
    ASSERT_TRUE(link.start(
        {VS_DELAY_LINK_BINARY, "--target", std::to_string(server.port()), "--rtt-ms", "40"}));
    Login login = loginTo(server);
    login.host = "127.0.0.1:" + std::to_string(link.waitForPort());
    TempDir dir;
    const std::string down = patternBytes(20 << 20, 7), up = patternBytes(20 << 20, 8);
    writeFile(server.local("out") / "big.bin", down);
    writeFile(server.local("out") / "scarica_ok", "");
    writeFile(dir / "up" / "big.bin", up);
    // The second upload of the session goes through the channels the first one opened.
    const std::string second = patternBytes(9 << 20, 9);
    writeFile(dir / "up" / "second.bin", second);
    fs::create_directories(dir / "in");
    server.local("in");
    writeSettings(dir / "home", login,
                  {{server.remote("out"), (dir / "in").string(), "TUTTI", "SI"},
                   {server.remote("in"), (dir / "up").string(), "TUTTI", "SI", "Upload"}});
    const ProgramRun run = runProgram(dir / "home", {"mod:asp"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(readFile(dir / "in" / "big.bin") == down);
    EXPECT_TRUE(readFile(server.root() / "in" / "big.bin") == up);
    EXPECT_TRUE(readFile(server.root() / "in" / "second.bin") == second);
    EXPECT_FALSE(fs::exists(server.root() / "out" / "big.bin"));
    EXPECT_FALSE(fs::exists(dir / "up" / "big.bin"));
}

}  // namespace
}  // namespace vs::test
