// The journal of the real program against the real servers: a large download killed midway and
// a large upload cut off resumed by the next run, on record with the SHA-256 of the whole file,
// found by --history.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <thread>

#include "support/servers.h"

namespace vs::test {
namespace {

namespace fs = std::filesystem;
using Kind = TestServer::Kind;

class Journal : public ServerTest {
  protected:
    void SetUp() override {
        ServerTest::SetUp();
        fs::create_directories(dir / "in");
        fs::create_directories(dir / "up");
        server->local("in");
        server->local("out");
    }
    void settings(const std::string& extra = "") {
        writeSettings(dir / "home", loginTo(*server),
                      {{server->remote("out"), (dir / "in").string(), "TUTTI", "SI"},
                       {server->remote("in"), (dir / "up").string(), "TUTTI", "SI", "Upload"}},
                      extra);
    }
    fs::path parts() const { return dir / "home" / "tempozipftp" / "parziali"; }
    // The next run, against the server back to normal, goes on from what the last one left,
    // and --history shows `records` of big.bin, the newest delivered with the whole file's
    // SHA-256. Gives --history's lines.
    std::string resumes(const std::string& said, const std::string& data, long records) {
        EXPECT_TRUE(server->restart());
        const ProgramRun run = runProgram(dir / "home", {"mod:asp"});
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_NE(run.output.find(said), std::string::npos) << run.output;
        const std::string history = runProgram(dir / "home", {"--history", "big.bin"}).output;
        EXPECT_EQ(std::ranges::count(history, '\n'), records) << history;
        std::vector<std::string> newest;
        std::istringstream fields(history.substr(0, history.find('\n')));
        for (std::string f; std::getline(fields, f, '\t');) newest.push_back(f);
        EXPECT_EQ(newest.at(7), sha256Of(data));
        EXPECT_GE(std::stoll(newest.at(8)), 1 << 20);  // where it went on from
        EXPECT_EQ(newest.at(9), "delivered");
        return history;
    }
};

TEST_P(Journal, ADownloadKilledMidwayResumes) {
    const std::string data = patternBytes(8 << 20, 4);
    writeFile(server->local("out") / "big.bin", data);
    writeFile(server->local("out") / "scarica_ok", "");
    settings();
    ASSERT_TRUE(server->restart(throttled(GetParam(), 1500000)));
    ServerProcess program;
    ASSERT_TRUE(startProgram(program, dir / "home", {"mod:auto"}));
    const auto staged = [&] {
        for (const std::string& f : filesBelow(parts()))
            if (fs::file_size(parts() / f) > (2 << 20)) return true;
        return false;
    };
    for (int i = 0; i < 200 && !staged(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(staged()) << program.output();
    program.signal(SIGKILL);
    program.wait(std::chrono::seconds(5));

    resumes(" Download ripreso da ", data, 1);
    EXPECT_TRUE(readFile(dir / "in" / "big.bin") == data);
    EXPECT_TRUE(filesBelow(parts()).empty());
}

// With uploadtemp=SI a large upload cut off goes on into its hidden temporary. SFTP keeps
// writes on the way unconfirmed, so it goes on from 8 MiB before what the server holds.
TEST_P(Journal, AnUploadCutOffResumesIntoItsHiddenTemporary) {
    const bool sftp = GetParam() == Kind::Sftp;
    const std::string data = patternBytes(sftp ? 24 << 20 : 6 << 20, 5);
    writeFile(dir / "up" / "big.bin", data);
    settings("uploadtemp=SI\r\n");
    ASSERT_TRUE(server->restart({"--drop-after-bytes", sftp ? "15000000" : "3000000"}));
    const ProgramRun cut = runProgram(dir / "home", {"mod:asp"});
    EXPECT_NE(cut.exitCode, 0) << cut.output;
    const auto hidden = filesBelow(server->root() / "in");
    ASSERT_EQ(hidden.size(), 1u) << cut.output;
    EXPECT_EQ(hidden[0].rfind(".vs-", 0), 0u);

    EXPECT_NE(resumes(" Upload ripreso da ", data, 2).find("\tfailed\t"), std::string::npos);
    EXPECT_EQ(filesBelow(server->root() / "in"), std::vector<std::string>{"big.bin"});
    EXPECT_TRUE(readFile(server->root() / "in" / "big.bin") == data);
    EXPECT_FALSE(fs::exists(dir / "up" / "big.bin"));
}

INSTANTIATE_TEST_SUITE_P(Servers, Journal, ::testing::Values(Kind::Sftp, Kind::Ftp), kindParamName);

}  // namespace
}  // namespace vs::test
