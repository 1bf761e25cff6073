// A hostile or failing SFTP server: nothing is written outside the staging and local folders,
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

struct HostileSftp : ::testing::Test {
    TempDir sandbox;
    fs::path served = sandbox / "served", home = sandbox / "home", dl = sandbox / "local" / "dl",
             keys = sandbox / "keys";
    std::unique_ptr<TestServer> server;

    void SetUp() override {
        for (const fs::path& p : {served / "out", home, dl, keys}) fs::create_directories(p);
        writeFile(served / "out" / "scarica_ok", "");
    }
    void start(std::vector<std::string> extra, const std::string& type = "TUTTI",
               const std::string& del = "SI") {
        server = test::startSftpServer(served, keys / "host_key", extra);
        ASSERT_TRUE(server->ok()) << server->output();
        test::writeSettings(home, test::hostOf(*server), "Sftp",
                            {JobSpec{"/out", dl.string(), type, del}});
    }
    std::vector<std::string> strayFiles() {
        return test::filesOutside(
            sandbox.path(),
            {served, dl, keys, home / "log", home / "valtrassosftp.ini", home / "known_hosts"});
    }
};

TEST_F(HostileSftp, NamesThatLeaveTheFolderAreNeverFollowed) {
    writeFile(served / "out" / "ok.txt", "fine");
    writeFile(served / "out" / "\x1b[2Jclear.txt", "escape in the name");
    start({"--inject-bad-names"});
    const auto run = test::runProgram(home, {"mod:asp"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(readFile(dl / "ok.txt"), "fine");
    EXPECT_EQ(readFile(dl / "\x1b[2Jclear.txt"), "escape in the name");
    EXPECT_TRUE(strayFiles().empty()) << strayFiles().front();
    EXPECT_EQ(run.output.find('\x1b'), std::string::npos);  // escapes made visible in the log
    EXPECT_NE(run.output.find("Download corretto \\x1b[2Jclear.txt"), std::string::npos);
}

TEST_F(HostileSftp, RefusedRemovalKeepsBothCopiesAndEndsTheCycle) {
    writeFile(served / "out" / "ok.txt", "fine");
    start({"--refuse-remove"});
    auto run = test::runProgram(home, {"mod:asp"});
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_EQ(readFile(dl / "ok.txt"), "fine");
    EXPECT_TRUE(fs::exists(served / "out" / "ok.txt"));
    EXPECT_NE(run.output.find(" Collegamento 3 ****** ERRORE **** "), std::string::npos);
    run = test::runProgram(home, {"mod:asp"});  // the next cycle runs again, same outcome
    EXPECT_NE(run.output.find(" Ciclo 1"), std::string::npos);
    EXPECT_TRUE(fs::exists(served / "out" / "ok.txt"));
}

TEST_F(HostileSftp, ServerThatStopsAnsweringMidTransferDoesNotHang) {
    writeFile(served / "out" / "big.bin", std::string(4 << 20, 'x'));
    start({"--stall-after-bytes", "200000"});
    const auto began = std::chrono::steady_clock::now();
    const auto run = test::runProgram(home, {"mod:asp"}, 150);
    EXPECT_NE(run.exitCode, -1) << "the program hung";
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(90));
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_FALSE(fs::exists(dl / "big.bin"));
    EXPECT_TRUE(fs::exists(served / "out" / "big.bin"));
    EXPECT_TRUE(strayFiles().empty()) << strayFiles().front();
}

TEST_F(HostileSftp, TwentyThousandEntriesInOneFolder) {
    for (int i = 0; i < 20000; ++i) writeFile(served / "out" / ("f" + std::to_string(i)), "");
    writeFile(served / "out" / "ABCDEFOP1.pdf", "report");
    start({}, "PDFREPORT", "NO");
    const auto run = test::runProgram(home, {"mod:asp", "ope:OP1"});
    EXPECT_EQ(run.exitCode, 0) << run.output.substr(0, 2000);
    EXPECT_EQ(readFile(dl / "ABCDEFOP1.pdf"), "report");
}

}  // namespace
}  // namespace vs
