// A hostile or failing FTP server: nothing is written outside the staging and local folders,
// nothing is deleted remotely without a verified local copy, the log says what happened, and
// the next cycle runs.
#include <gtest/gtest.h>

#include <memory>

#include "e2e/e2e_support.h"

namespace vs {
namespace {

using test::JobSpec;
using test::readFile;
using test::TempDir;
using test::TestServer;
using test::writeFile;

namespace fs = std::filesystem;

struct HostileFtp : ::testing::Test {
    TempDir sandbox;  // everything of the test lives below it
    fs::path served = sandbox / "served", home = sandbox / "home", dl = sandbox / "local" / "dl";
    std::unique_ptr<TestServer> server;

    void SetUp() override {
        fs::create_directories(served / "out");
        fs::create_directories(home);
        fs::create_directories(dl);
    }
    void start(std::vector<std::string> extra) {
        server = test::startFtpServer(served, extra);
        ASSERT_TRUE(server->ok()) << server->output();
        test::writeSettings(home, test::hostOf(*server), "Ftp",
                            {JobSpec{"/out", dl.string(), "TUTTI", "SI"}});
    }
    std::vector<std::string> strayFiles() {
        return test::filesOutside(sandbox.path(),
                                  {served, dl, home / "log", home / "valtrassosftp.ini"});
    }
};

TEST_F(HostileFtp, NamesThatLeaveTheFolderAreNeverFollowed) {
    writeFile(served / "out" / "ok.txt", "fine");
    writeFile(served / "out" / "\x1b[2Jclear.txt", "escape in the name");
    for (const char* format : {"", "--no-mlsd"}) {
        std::vector<std::string> args{"--bad-names"};
        if (*format) args.push_back(format);
        start(args);
        const auto run = test::runProgram(home, {"mod:asp"});
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_EQ(readFile(dl / "ok.txt"), "fine");
        // The control sends no control character to the server: that file waits, reported.
        EXPECT_TRUE(fs::exists(served / "out" / "\x1b[2Jclear.txt"));
        EXPECT_NE(run.output.find(" Download incorretto \\x1b[2Jclear.txt"), std::string::npos);
        EXPECT_TRUE(strayFiles().empty()) << strayFiles().front();
        EXPECT_NE(run.output.find("righe non comprese"), std::string::npos);
        // Terminal escapes never reach the log as they are.
        EXPECT_EQ(run.output.find('\x1b'), std::string::npos);
        EXPECT_NE(run.output.find("\\x1b[2Jclear.txt"), std::string::npos);
        writeFile(served / "out" / "ok.txt", "fine");
        writeFile(served / "out" / "\x1b[2Jclear.txt", "escape in the name");
    }
}

TEST_F(HostileFtp, PassiveReplyNamingAnotherAddressIsNotFollowed) {
    // 127.0.0.2 is on this machine too, but nothing listens there: a client that followed
    // the reply would fail.
    writeFile(served / "out" / "ok.txt", "fine");
    start({"--pasv-address", "127.0.0.2"});
    const auto run = test::runProgram(home, {"mod:asp"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(readFile(dl / "ok.txt"), "fine");
}

TEST_F(HostileFtp, RefusedDeleteKeepsBothCopiesAndSaysSo) {
    writeFile(served / "out" / "ok.txt", "fine");
    start({"--refuse-dele"});
    const auto run = test::runProgram(home, {"mod:asp"});
    EXPECT_EQ(readFile(dl / "ok.txt"), "fine");
    EXPECT_TRUE(fs::exists(served / "out" / "ok.txt"));
    EXPECT_NE(run.output.find(" Impossibile cancellare il file remoto ok.txt 550"),
              std::string::npos)
        << run.output;
}

TEST_F(HostileFtp, ServerThatStopsAnsweringMidTransferDoesNotHang) {
    writeFile(served / "out" / "big.bin", std::string(2 << 20, 'x'));
    start({"--stall-after-bytes", "100000"});
    const auto began = std::chrono::steady_clock::now();
    const auto run = test::runProgram(home, {"mod:asp"}, 150);
    const auto took = std::chrono::steady_clock::now() - began;
    EXPECT_NE(run.exitCode, -1) << "the program hung";
    EXPECT_LT(took, std::chrono::seconds(120));
    EXPECT_FALSE(fs::exists(dl / "big.bin"));
    EXPECT_TRUE(fs::exists(served / "out" / "big.bin"));
    EXPECT_NE(run.output.find(" Download incorretto big.bin"), std::string::npos) << run.output;
}

TEST_F(HostileFtp, TwentyThousandEntriesInOneFolder) {
    for (int i = 0; i < 20000; ++i) writeFile(served / "out" / ("f" + std::to_string(i)), "");
    writeFile(served / "out" / "ABCDEFOP1.pdf", "report");
    start({});
    test::writeSettings(home, test::hostOf(*server), "Ftp",
                        {JobSpec{"/out", dl.string(), "PDFREPORT", "NO"}});
    const auto run = test::runProgram(home, {"mod:asp", "ope:OP1"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(readFile(dl / "ABCDEFOP1.pdf"), "report");
}

}  // namespace
}  // namespace vs
