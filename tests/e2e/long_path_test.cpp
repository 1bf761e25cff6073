// A long path, 40 ms away through the delaying link: uploads go in segments over a second
// channel, downloads ask for the described size in several flights. A large file still
// arrives whole both ways, and nothing is deleted that did not.
#include <gtest/gtest.h>

#include "support/program_run.h"

namespace vs::test {
namespace {

namespace fs = std::filesystem;

TEST(LongPath, ALargeFileArrivesWholeBothWays) {
    for (const auto kind : {TestServer::Kind::Sftp, TestServer::Kind::OpenSsh}) {
        SCOPED_TRACE(kindName(kind));
        TestServer server(kind);
        if (!server.skipReason().empty()) continue;
        ASSERT_TRUE(server.ok());
        ServerProcess link;
        ASSERT_TRUE(link.start({VS_DELAY_LINK_BINARY, "--target", std::to_string(server.port()),
                                "--rtt-ms", "40"}));
        Login login = loginTo(server);
        login.host = "127.0.0.1:" + std::to_string(link.waitForPort());

        TempDir dir;
        const std::string down = patternBytes(20 << 20, 7), up = patternBytes(20 << 20, 8);
        writeFile(server.local("out") / "big.bin", down);
        writeFile(server.local("out") / "scarica_ok", "");
        writeFile(dir / "up" / "big.bin", up);
        fs::create_directories(dir / "in");
        server.local("in");
        writeSettings(dir / "home", login,
                      {{server.remote("out"), (dir / "in").string(), "TUTTI", "SI"},
                       {server.remote("in"), (dir / "up").string(), "TUTTI", "SI", "Upload"}});
        const ProgramRun run = runProgram(dir / "home", {"mod:asp"});
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_TRUE(readFile(dir / "in" / "big.bin") == down);
        EXPECT_TRUE(readFile(server.root() / "in" / "big.bin") == up);
        EXPECT_FALSE(fs::exists(server.root() / "out" / "big.bin"));
        EXPECT_FALSE(fs::exists(dir / "up" / "big.bin"));
    }
}

}  // namespace
}  // namespace vs::test
