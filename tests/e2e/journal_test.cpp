// The journal of the real program against the real servers: a large download killed midway and
// a large upload cut off resumed by the next run, on record with the SHA-256 of the whole file,
// found by --history.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "common/sha256.h"
#include "support/servers.h"

namespace vs::test {
namespace {

namespace fs = std::filesystem;
using Kind = TestServer::Kind;

std::string sha256Of(const std::string& data) {
    Sha256 h;
    h.update(data.data(), data.size());
    return h.hex();
}

// --history's lines, each cut into its columns.
std::vector<std::vector<std::string>> history(const fs::path& home, const std::string& text) {
    const ProgramRun run = runProgram(home, {"--history", text});
    EXPECT_EQ(run.exitCode, 0);
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> columns;
        std::istringstream fields(line);
        for (std::string f; std::getline(fields, f, '\t');) columns.push_back(f);
        if (line.back() == '\t') columns.push_back("");
        rows.push_back(columns);
    }
    return rows;
}

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
};

TEST_P(Journal, ADownloadKilledMidwayResumes) {
    const std::string data = patternBytes(8 << 20, 4);
    writeFile(server->local("out") / "big.bin", data);
    writeFile(server->local("out") / "scarica_ok", "");
    settings();
    ASSERT_TRUE(server->restart(throttled(GetParam(), 1500000)));
    ServerProcess program;
    ASSERT_TRUE(program.start({programBinary(), "mod:auto", "--headless"},
                              {"VALTRASSOSFTP_HOME=" + (dir / "home").string(), "LC_ALL=C"}));
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

    ASSERT_TRUE(server->restart());
    const ProgramRun resumed = runProgram(dir / "home", {"mod:asp"});
    EXPECT_EQ(resumed.exitCode, 0) << resumed.output;
    EXPECT_NE(resumed.output.find(" Download ripreso da "), std::string::npos) << resumed.output;
    EXPECT_TRUE(readFile(dir / "in" / "big.bin") == data);
    EXPECT_TRUE(filesBelow(parts()).empty());
    const auto rows = history(dir / "home", "big.bin");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][7], sha256Of(data));
    EXPECT_GE(std::stoll(rows[0][8]), 1 << 20);
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

    ASSERT_TRUE(server->restart());
    const ProgramRun resumed = runProgram(dir / "home", {"mod:asp"});
    EXPECT_EQ(resumed.exitCode, 0) << resumed.output;
    EXPECT_NE(resumed.output.find(" Upload ripreso da "), std::string::npos) << resumed.output;
    EXPECT_EQ(filesBelow(server->root() / "in"), std::vector<std::string>{"big.bin"});
    EXPECT_TRUE(readFile(server->root() / "in" / "big.bin") == data);
    EXPECT_FALSE(fs::exists(dir / "up" / "big.bin"));
    const auto rows = history(dir / "home", "big.bin");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][9], "delivered");
    EXPECT_EQ(rows[0][7], sha256Of(data));
    EXPECT_GE(std::stoll(rows[0][8]), 1 << 20);
    EXPECT_EQ(rows[1][9], "failed");
}

INSTANTIATE_TEST_SUITE_P(Servers, Journal, ::testing::Values(Kind::Sftp, Kind::Ftp), kindParamName);

}  // namespace
}  // namespace vs::test
