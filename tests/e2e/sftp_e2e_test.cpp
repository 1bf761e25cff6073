// Whole cycles of the real program against a real SFTP server on 127.0.0.1.
#include <gtest/gtest.h>

#include <memory>

#include "e2e/e2e_support.h"
#include "e2e/in_process.h"
#include "remote/sftp/libssh2_sftp_component.h"
#include "sftp/sftp_test_support.h"

namespace vs {
namespace {

using test::JobSpec;
using test::readFile;
using test::TempDir;
using test::TestServer;
using test::writeFile;

namespace fs = std::filesystem;

struct SftpEndToEnd : ::testing::Test {
    TempDir served, home, local, keys;
    std::unique_ptr<TestServer> server;

    void start(std::vector<std::string> extra = {}, const std::string& key = "host_key") {
        server.reset();
        server = test::startSftpServer(served.path(), keys / key, extra);
        ASSERT_TRUE(server->ok()) << server->output();
    }
    std::string host() const { return test::hostOf(*server); }
    std::string folder(const std::string& name) {
        fs::create_directories(local / name);
        return (local / name).string();
    }
};

TEST_F(SftpEndToEnd, DownloadAndUploadJobsMoveEveryFile) {
    start();
    writeFile(served / "out" / "a.txt", "alpha");
    writeFile(served / "out" / "b c.txt", std::string(300000, 'b'));
    writeFile(served / "out" / "scarica_ok", "");
    fs::create_directories(served / "in");
    const std::string dl = folder("dl"), bak = folder("bak"), up = folder("up");
    writeFile(local / "up" / "inv1.txt", "one");
    writeFile(local / "up" / "other.txt", "two");
    test::writeSettings(home.path(), host(), "Sftp",
                        {JobSpec{"/out", dl, "TUTTI", "SI", "Download", bak},
                         JobSpec{"/in", up, "TUTTI", "SI", "Upload", "", "1x", "INIZIA:inv;"}});

    const auto run = test::runProgram(home.path(), {"mod:asp"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(readFile(local / "dl" / "b c.txt") == std::string(300000, 'b'));
    EXPECT_EQ(readFile(local / "bak" / "a.txt"), "alpha");
    EXPECT_FALSE(fs::exists(served / "out" / "a.txt"));
    EXPECT_TRUE(fs::exists(served / "out" / "scarica_ok"));
    EXPECT_EQ(readFile(served / "in" / "inv1.txt"), "one");
    EXPECT_FALSE(fs::exists(served / "in" / "other.txt"));
    EXPECT_FALSE(fs::exists(local / "up" / "inv1.txt"));
    EXPECT_TRUE(fs::exists(local / "up" / "other.txt"));
    const std::string log = test::dayLogs(home.path());
    for (const char* line :
         {" Connected\r\n", " Download corretto a.txt\r\n", " Cancellato file remoto b c.txt\r\n",
          " Inviato il file /in/inv1.txt\r\n", " Collegamento Terminato  !\r\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
    EXPECT_NE(readFile(home / "known_hosts").find("[127.0.0.1]:"), std::string::npos);
}

TEST_F(SftpEndToEnd, ReportAndAutomailSelectionsWithValspedUpload) {
    start();
    for (const char* n : {"ABCDEFOP1.pdf", "ABCDEFOP2.pdf", "notes.txt"})
        writeFile(served / "rep" / n, n);
    for (const char* n : {"A1.123456.t", "B2.123456.t", "A1.12345.t"})
        writeFile(served / "mail" / n, n);
    fs::create_directories(served / "val");
    const std::string rep = folder("rep"), mail = folder("mail"), val = folder("val");
    for (const char* n : {"X.T", "X.B", "X.PDF", "Y.txt"}) writeFile(local / "val" / n, n);
    test::writeSettings(home.path(), host(), "Sftp",
                        {JobSpec{"/rep", rep, "PDFREPORT"}, JobSpec{"/mail", mail, "AUTOMAIL"},
                         JobSpec{"/val", val, "TUTTI", "NO", "Upload", "", "1x", "VALSPED"}},
                        "tester", "secret", "OperMail_0=A1\r\n");
    const auto run = test::runProgram(home.path(), {"mod:asp", "ope:OP1"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(fs::exists(local / "rep" / "ABCDEFOP1.pdf"));
    EXPECT_FALSE(fs::exists(local / "rep" / "ABCDEFOP2.pdf"));
    EXPECT_TRUE(fs::exists(local / "mail" / "A1.123456.t"));
    EXPECT_FALSE(fs::exists(local / "mail" / "B2.123456.t"));
    EXPECT_FALSE(fs::exists(local / "mail" / "A1.12345.t"));
    for (const char* n : {"X.T", "X.B", "X.PDF"}) EXPECT_TRUE(fs::exists(served / "val" / n)) << n;
    EXPECT_FALSE(fs::exists(served / "val" / "Y.txt"));
    const std::string log = test::dayLogs(home.path());
    EXPECT_LT(log.find("Devo inviare il file /val/X.B"), log.find("Devo inviare il file /val/X.T"));
}

TEST_F(SftpEndToEnd, RefusedLoginThenTheNextCycleTriesAgain) {
    start({"--refuse-login"});
    writeFile(served / "out" / "scarica_ok", "");
    writeFile(served / "out" / "a.txt", "alpha");
    const std::string dl = folder("dl");
    test::writeSettings(home.path(), host(), "Sftp", {JobSpec{"/out", dl}});
    auto run = test::runProgram(home.path(), {"mod:asp"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("\nConnect Failed "), std::string::npos) << run.output;

    const std::string port = std::to_string(server->port());
    start({"--port", port});
    run = test::runProgram(home.path(), {"mod:asp"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(readFile(local / "dl" / "a.txt"), "alpha");
}

TEST_F(SftpEndToEnd, ServerNotListeningIsAFailedConnection) {
    const std::string dl = folder("dl");
    test::writeSettings(home.path(), "127.0.0.1:1", "Sftp", {JobSpec{"/out", dl}});
    const auto run = test::runProgram(home.path(), {"mod:asp"}, 60);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("\nConnect Failed "), std::string::npos) << run.output;
}

TEST_F(SftpEndToEnd, DroppedConnectionLosesNothingEitherWay) {
    start({"--drop-after-bytes", "20000"});
    writeFile(served / "out" / "scarica_ok", "");
    writeFile(served / "out" / "big.bin", std::string(200000, 'x'));
    fs::create_directories(served / "in");
    const std::string dl = folder("dl"), up = folder("up");
    writeFile(local / "up" / "send.bin", std::string(200000, 'y'));
    test::writeSettings(
        home.path(), host(), "Sftp",
        {JobSpec{"/out", dl, "TUTTI", "SI"}, JobSpec{"/in", up, "TUTTI", "SI", "Upload"}});
    auto run = test::runProgram(home.path(), {"mod:asp"});
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_FALSE(fs::exists(local / "dl" / "big.bin"));
    EXPECT_TRUE(readFile(served / "out" / "big.bin") == std::string(200000, 'x'));
    EXPECT_TRUE(readFile(local / "up" / "send.bin") == std::string(200000, 'y'));

    // The next cycles, on a server that stays up, move both.
    const std::string port = std::to_string(server->port());
    start({"--port", port});
    run = test::runProgram(home.path(), {"mod:asp"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(readFile(local / "dl" / "big.bin") == std::string(200000, 'x'));
    EXPECT_TRUE(readFile(served / "in" / "send.bin") == std::string(200000, 'y'));
    EXPECT_FALSE(fs::exists(local / "up" / "send.bin"));
}

TEST_F(SftpEndToEnd, FileThatGrowsBetweenListingAndFetchStays) {
    start({"--grow-file", "grow.txt"});
    writeFile(served / "out" / "scarica_ok", "");
    writeFile(served / "out" / "grow.txt", "start");
    const std::string dl = folder("dl");
    test::writeSettings(home.path(), host(), "Sftp", {JobSpec{"/out", dl, "TUTTI", "SI"}});
    const auto run = test::runProgram(home.path(), {"mod:asp"});
    EXPECT_NE(run.output.find(" Download incorretto grow.txt"), std::string::npos) << run.output;
    EXPECT_TRUE(fs::exists(served / "out" / "grow.txt"));
    EXPECT_FALSE(fs::exists(local / "dl" / "grow.txt"));
}

TEST_F(SftpEndToEnd, ChangedHostKeyIsRefused) {
    start();
    writeFile(served / "out" / "scarica_ok", "");
    writeFile(served / "out" / "a.txt", "alpha");
    const std::string dl = folder("dl");
    fs::create_directories(served / "empty");
    // First contact records the key.
    test::writeSettings(home.path(), host(), "Sftp", {JobSpec{"/empty", dl}});
    auto run = test::runProgram(home.path(), {"mod:asp"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("SHA256:"), std::string::npos) << run.output;

    const std::string port = std::to_string(server->port());
    start({"--port", port}, "other_host_key");
    test::writeSettings(home.path(), host(), "Sftp", {JobSpec{"/out", dl}});
    run = test::runProgram(home.path(), {"mod:asp"});
    EXPECT_EQ(run.exitCode, 1);
    const size_t failed = run.output.find("\nConnect Failed ");
    ASSERT_NE(failed, std::string::npos) << run.output;
    const std::string line = run.output.substr(failed, run.output.find('\n', failed + 1) - failed);
    EXPECT_NE(line.find("127.0.0.1"), std::string::npos) << line;
    EXPECT_NE(line.find("SHA256:"), line.rfind("SHA256:")) << line;  // both fingerprints
    EXPECT_FALSE(fs::exists(local / "dl" / "a.txt"));
}

TEST_F(SftpEndToEnd, AbortRequestEndsALargeTransfer) {
    start({"--max-rate", "2000000"});
    writeFile(served / "out" / "scarica_ok", "");
    writeFile(served / "out" / "large.bin", std::string(8 << 20, 'L'));
    const std::string dl = folder("dl");
    test::writeSettings(home.path(), host(), "Sftp", {JobSpec{"/out", dl, "TUTTI", "SI"}});

    // The operator chooses "Termina Trasferimento" a little into the transfer.
    test::InProcessProgram run(home.path(), makeLibssh2SftpComponent, nullptr);
    run.abortDownloadAtYield(20);
    Program& program = run.program();
    program.collegamento();
    EXPECT_EQ(program.lastOutcome, CycleOutcome::Errors);
    EXPECT_FALSE(program.session.abortRequest);
    EXPECT_FALSE(fs::exists(local / "dl" / "large.bin"));
    EXPECT_FALSE(fs::exists(home / "tempozipftp" / "large.bin"));
    EXPECT_TRUE(fs::exists(served / "out" / "large.bin"));
    EXPECT_FALSE(program.session.connected);
}

// The main cases once more against OpenSSH's own server, logging in with a key file.
TEST_F(SftpEndToEnd, DownloadAndUploadAgainstOpenSsh) {
    test::OpenSshServer sshd;
    if (const std::string why = sshd.start(); !why.empty()) GTEST_SKIP() << why;
    const fs::path key = sshd.addUserKey("login_key", "ed25519");
    ASSERT_FALSE(key.empty());
    writeFile(served / "out" / "scarica_ok", "");
    writeFile(served / "out" / "a.txt", "alpha");
    writeFile(served / "out" / "big.bin", std::string(3 << 20, 'g'));
    fs::create_directories(served / "in");
    const std::string dl = folder("dl"), bak = folder("bak"), up = folder("up");
    writeFile(local / "up" / "send.txt", "sent");
    test::writeSettings(home.path(), "127.0.0.1:" + std::to_string(sshd.port()), "Sftp",
                        {JobSpec{(served / "out").string(), dl, "TUTTI", "SI", "Download", bak},
                         JobSpec{(served / "in").string(), up, "TUTTI", "SI", "Upload"}},
                        test::OpenSshServer::userName(), "", "keyfile=" + key.string() + "\r\n");
    const auto run = test::runProgram(home.path(), {"mod:asp"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(readFile(local / "dl" / "a.txt"), "alpha");
    EXPECT_TRUE(readFile(local / "bak" / "big.bin") == std::string(3 << 20, 'g'));
    EXPECT_FALSE(fs::exists(served / "out" / "big.bin"));
    EXPECT_EQ(readFile(served / "in" / "send.txt"), "sent");
    EXPECT_FALSE(fs::exists(local / "up" / "send.txt"));
}

}  // namespace
}  // namespace vs
