// The journal of the real program against the real servers: every file on record with the
// SHA-256 of its bytes, found by --history, and large downloads cut off (a dropped connection,
// SIGKILL) resumed by the next run.
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

class Journal : public ::testing::TestWithParam<Kind> {
  protected:
    void SetUp() override {
        server = std::make_unique<TestServer>(GetParam());
        ASSERT_TRUE(server->ok());
        fs::create_directories(dir / "in");
        fs::create_directories(dir / "up");
        server->local("in");
        server->local("out");
    }
    std::string flag(const char* sftp, const char* ftp) const {
        return GetParam() == Kind::Ftp ? ftp : sftp;
    }
    void settings(const std::string& extra = "") {
        writeSettings(dir / "home", loginTo(*server),
                      {{server->remote("out"), (dir / "in").string(), "TUTTI", "SI"},
                       {server->remote("in"), (dir / "up").string(), "TUTTI", "SI", "Upload"}},
                      extra);
    }
    fs::path parts() const { return dir / "home" / "tempozipftp" / "parziali"; }

    TempDir dir;
    std::unique_ptr<TestServer> server;
};

TEST_P(Journal, EveryFileIsOnRecordWithItsSha256AndKeepsItsTime) {
    const std::string down = patternBytes(300000, 1), up = patternBytes(200000, 2);
    writeFile(server->local("out") / "d.bin", down);
    writeFile(server->local("out") / "scarica_ok", "");
    writeFile(dir / "up" / "u.bin", up);
    const auto localTime = fs::last_write_time(dir / "up" / "u.bin") - std::chrono::hours(30);
    fs::last_write_time(dir / "up" / "u.bin", localTime);
    const auto remoteTime =
        fs::last_write_time(server->local("out") / "d.bin") - std::chrono::hours(5);
    fs::last_write_time(server->local("out") / "d.bin", remoteTime);
    settings("mantienidata=SI\r\n");
    const ProgramRun run = runProgram(dir / "home", {"mod:asp"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(readFile(dir / "in" / "d.bin") == down);
    EXPECT_TRUE(readFile(server->root() / "in" / "u.bin") == up);

    const auto d = history(dir / "home", "d.bin"), u = history(dir / "home", "u.bin");
    ASSERT_EQ(d.size(), 1u);
    ASSERT_EQ(u.size(), 1u);
    const std::vector<std::string> expected[] = {
        {"download", server->remote("out") + "/d.bin", (dir / "in" / "d.bin").string(),
         std::to_string(down.size()), sha256Of(down), "0", "delivered", ""},
        {"upload", server->remote("in") + "/u.bin", (dir / "up" / "u.bin").string(),
         std::to_string(up.size()), sha256Of(up), "0", "delivered", ""}};
    for (int i = 0; i < 2; ++i) {
        const auto& row = i == 0 ? d[0] : u[0];
        ASSERT_EQ(row.size(), 11u);
        EXPECT_EQ(std::vector<std::string>(
                      {row[2], row[3], row[4], row[5], row[7], row[8], row[9], row[10]}),
                  expected[i]);
    }
    // Over FTP the control file is a file like any other.
    EXPECT_EQ(history(dir / "home", "").size(), GetParam() == Kind::Ftp ? 3u : 2u);
    // Times kept both ways (the server's to the second).
    EXPECT_EQ(std::chrono::floor<std::chrono::seconds>(
                  fs::last_write_time(dir / "in" / "d.bin").time_since_epoch()),
              std::chrono::floor<std::chrono::seconds>(remoteTime.time_since_epoch()));
    EXPECT_EQ(std::chrono::floor<std::chrono::seconds>(
                  fs::last_write_time(server->root() / "in" / "u.bin").time_since_epoch()),
              std::chrono::floor<std::chrono::seconds>(localTime.time_since_epoch()));
}

// A large download cut off after a few MiB goes on from where it stopped, and the SHA-256 on
// record is the whole file's.
// The SFTP server counts what it read for the client, which asks up to 8 MiB ahead of what it
// received: the cut comes later there.
TEST_P(Journal, ADownloadCutOffResumesAndItsSha256CoversTheWholeFile) {
    const bool sftp = GetParam() == Kind::Sftp;
    const std::string data = patternBytes(sftp ? 16 << 20 : 6 << 20, 3);
    writeFile(server->local("out") / "big.bin", data);
    writeFile(server->local("out") / "scarica_ok", "");
    settings();
    ASSERT_TRUE(server->restart({"--drop-after-bytes", sftp ? "12000000" : "3000000"}));
    const ProgramRun cut = runProgram(dir / "home", {"mod:asp"});
    EXPECT_NE(cut.exitCode, 0) << cut.output;
    ASSERT_EQ(filesBelow(parts()).size(), 1u) << cut.output;
    EXPECT_TRUE(fs::exists(server->root() / "out" / "big.bin"));

    ASSERT_TRUE(server->restart());
    const ProgramRun resumed = runProgram(dir / "home", {"mod:asp"});
    EXPECT_EQ(resumed.exitCode, 0) << resumed.output;
    EXPECT_NE(resumed.output.find(" Download ripreso da "), std::string::npos) << resumed.output;
    EXPECT_TRUE(readFile(dir / "in" / "big.bin") == data);
    EXPECT_FALSE(fs::exists(server->root() / "out" / "big.bin"));
    EXPECT_TRUE(filesBelow(parts()).empty());
    const auto rows = history(dir / "home", "big.bin");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][9], "delivered");
    EXPECT_EQ(rows[0][7], sha256Of(data));
    EXPECT_GE(std::stoll(rows[0][8]), 1 << 20);
    EXPECT_EQ(rows[1][9], "failed");
}

TEST_P(Journal, ADownloadKilledMidwayResumes) {
    const std::string data = patternBytes(8 << 20, 4);
    writeFile(server->local("out") / "big.bin", data);
    writeFile(server->local("out") / "scarica_ok", "");
    settings();
    ASSERT_TRUE(server->restart({flag("--max-rate", "--rate"), "1500000"}));
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
}

std::string nameOf(const ::testing::TestParamInfo<Kind>& info) {
    return kindName(info.param);
}
INSTANTIATE_TEST_SUITE_P(Servers, Journal, ::testing::Values(Kind::Sftp, Kind::Ftp), nameOf);

}  // namespace
}  // namespace vs::test
