// Whole cycles of the real program against a real FTP server on 127.0.0.1.
#include <gtest/gtest.h>

#include <memory>

#include "e2e/e2e_support.h"
#include "e2e/in_process.h"
#include "remote/ftp/curl_ftp_control.h"

namespace vs {
namespace {

using test::JobSpec;
using test::readFile;
using test::TempDir;
using test::TestServer;
using test::writeFile;

namespace fs = std::filesystem;

struct FtpEndToEnd : ::testing::Test {
    TempDir served, home, local;
    std::unique_ptr<TestServer> server;

    void start(std::vector<std::string> extra = {}) {
        server.reset();
        server = test::startFtpServer(served.path(), extra);
        ASSERT_TRUE(server->ok()) << server->output();
    }
    std::string host() const { return test::hostOf(*server); }
    std::string folder(const std::string& name) {
        fs::create_directories(local / name);
        return (local / name).string();
    }
};

TEST_F(FtpEndToEnd, DownloadAndUploadJobsMoveEveryFile) {
    start();
    writeFile(served / "out" / "a.txt", "alpha");
    writeFile(served / "out" / "b.bin", std::string(300000, 'b'));
    // The listing keeps only the first word of a name with blanks: such a file is never
    // fetched, and never deleted either.
    writeFile(served / "out" / "two words.txt", "kept");
    fs::create_directories(served / "out" / "sub");
    fs::create_directories(served / "in");
    const std::string dl = folder("dl"), bak = folder("bak"), up = folder("up");
    writeFile(local / "up" / "inv1.txt", "one");
    test::writeSettings(home.path(), host(), "Ftp",
                        {JobSpec{"/out", dl, "TUTTI", "SI", "Download", bak},
                         JobSpec{"/in", up, "TUTTI", "SI", "Upload", bak}});
    const auto run = test::runProgram(home.path(), {"mod:asp"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(readFile(local / "dl" / "a.txt"), "alpha");
    EXPECT_TRUE(readFile(local / "dl" / "b.bin") == std::string(300000, 'b'));
    EXPECT_EQ(readFile(served / "out" / "two words.txt"), "kept");
    EXPECT_EQ(readFile(local / "bak" / "a.txt"), "alpha");
    EXPECT_EQ(readFile(local / "bak" / "inv1.txt"), "one");
    EXPECT_FALSE(fs::exists(served / "out" / "a.txt"));
    EXPECT_TRUE(fs::is_directory(served / "out" / "sub"));
    EXPECT_EQ(readFile(served / "in" / "inv1.txt"), "one");
    EXPECT_FALSE(fs::exists(local / "up" / "inv1.txt"));
    const std::string log = test::dayLogs(home.path());
    for (const char* line :
         {" Connected ! \r\n", " Listftpprova  Elenco Ottenuto \r\n", " 100 %\r\n",
          " Download corretto a.txt\r\n", " Cancellato file remoto a.txt\r\n",
          " Inviato il file /in/inv1.txt\r\n", " Collegamento Terminato  !\r\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
}

TEST_F(FtpEndToEnd, AutomailCompanionsAndReportsOnAWindowsStyleServer) {
    start({"--dos-listing", "--no-mlsd"});
    for (const char* n : {"OP.A1B2C3.t", "OP.A1B2C3.H", "OP.A1B2C3.B", "XX.A1B2C3.t"})
        writeFile(served / "mail" / n, n);
    for (const char* n : {"ABCDEFOP1.pdf", "ABCDEFOP2.pdf"}) writeFile(served / "rep" / n, n);
    const std::string mail = folder("mail"), rep = folder("rep");
    test::writeSettings(
        home.path(), host(), "Ftp",
        {JobSpec{"/mail", mail, "AUTOMAIL", "NO"}, JobSpec{"/rep", rep, "PDFREPORT", "NO"}},
        "tester", "secret", "OperMail_0=OP\r\n");
    const auto run = test::runProgram(home.path(), {"mod:asp", "ope:OP1"});
    for (const char* n : {"OP.A1B2C3.t", "OP.A1B2C3.H", "OP.A1B2C3.B"})
        EXPECT_TRUE(fs::exists(local / "mail" / n)) << n << run.output;
    EXPECT_FALSE(fs::exists(local / "mail" / "XX.A1B2C3.t"));
    // The missing companion is reported, not invented.
    EXPECT_NE(run.output.find(" Download incorretto OP.A1B2C3.0"), std::string::npos);
    // The automail listing turned the operator into SELETTIVO: every report is taken.
    EXPECT_TRUE(fs::exists(local / "rep" / "ABCDEFOP1.pdf"));
    EXPECT_TRUE(fs::exists(local / "rep" / "ABCDEFOP2.pdf"));
}

TEST_F(FtpEndToEnd, RefusedLoginAndMissingFolder) {
    start({"--refuse-login"});
    const std::string dl = folder("dl");
    test::writeSettings(home.path(), host(), "Ftp", {JobSpec{"/out", dl}});
    auto run = test::runProgram(home.path(), {"mod:asp"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find(" Not Connected ! 530"), std::string::npos) << run.output;

    start();
    test::writeSettings(home.path(), host(), "Ftp", {JobSpec{"/out", dl}});
    run = test::runProgram(home.path(), {"mod:asp"});
    EXPECT_EQ(run.exitCode, 1) << run.output;  // "/out" is not there
    EXPECT_NE(run.output.find(" 550"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(" Collegamento Terminato  !"), std::string::npos);
}

TEST_F(FtpEndToEnd, MissingFolderDoesNotLockTheTimerOut) {
    start();
    fs::create_directories(served / "in");
    const std::string dl = folder("dl");
    test::writeSettings(
        home.path(), host(), "Ftp",
        {JobSpec{"/missing", dl}, JobSpec{"/in", dl, "TUTTI", "NO", "Download", "", "bad"}});
    test::InProcessProgram run(home.path(), nullptr, makeCurlFtpControl);
    Program& program = run.program();
    program.collegamento();
    program.collegamento();  // the bad multiplier meets the raised connect-failed flag
    EXPECT_FALSE(program.session.connected);
    program.collegamento();
    EXPECT_EQ(program.cycleState.cycleCounter, 3);
    EXPECT_TRUE(run.logged(" Connected ! "));
}

TEST_F(FtpEndToEnd, DroppedConnectionLosesNothingEitherWay) {
    start({"--drop-after-bytes", "20000"});
    writeFile(served / "out" / "big.bin", std::string(200000, 'x'));
    fs::create_directories(served / "in");
    const std::string dl = folder("dl"), up = folder("up");
    writeFile(local / "up" / "send.bin", std::string(200000, 'y'));
    test::writeSettings(
        home.path(), host(), "Ftp",
        {JobSpec{"/out", dl, "TUTTI", "SI"}, JobSpec{"/in", up, "TUTTI", "SI", "Upload"}});
    test::runProgram(home.path(), {"mod:asp"});
    EXPECT_FALSE(fs::exists(local / "dl" / "big.bin"));
    EXPECT_TRUE(readFile(served / "out" / "big.bin") == std::string(200000, 'x'));
    EXPECT_TRUE(readFile(local / "up" / "send.bin") == std::string(200000, 'y'));
    EXPECT_FALSE(fs::exists(served / "in" / "send.bin"));  // no half file left behind

    const std::string port = std::to_string(server->port());
    start({"--port", port});
    const auto run = test::runProgram(home.path(), {"mod:asp"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(readFile(local / "dl" / "big.bin") == std::string(200000, 'x'));
    EXPECT_TRUE(readFile(served / "in" / "send.bin") == std::string(200000, 'y'));
}

TEST_F(FtpEndToEnd, AbortRequestEndsARunningTransfer) {
    start({"--rate", "1000000"});
    writeFile(served / "out" / "large.bin", std::string(6 << 20, 'L'));
    const std::string dl = folder("dl");
    test::writeSettings(home.path(), host(), "Ftp", {JobSpec{"/out", dl, "TUTTI", "SI"}});
    test::InProcessProgram run(home.path(), nullptr, makeCurlFtpControl);
    run.abortDownloadAtYield(20);
    Program& program = run.program();
    program.collegamento();
    EXPECT_FALSE(program.session.abortRequest);
    EXPECT_FALSE(fs::exists(local / "dl" / "large.bin"));
    EXPECT_TRUE(fs::exists(served / "out" / "large.bin"));
    EXPECT_TRUE(run.logged(" Download incorretto large.bin"));
}

}  // namespace
}  // namespace vs
