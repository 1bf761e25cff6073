// The real program, headless, over FTPS against vsftpd with TLS and session reuse required on
// every data connection: uploads followed by downloads in one session, run after run (a
// changed certificate is refused in tests/ftp).
#include <gtest/gtest.h>

#include "support/program_run.h"

namespace vs::test {
namespace {

namespace fs = std::filesystem;

class Ftps : public ::testing::TestWithParam<const char*> {};

TEST_P(Ftps, UploadsThenDownloadsRunAfterRun) {
    TestServer server(TestServer::Kind::Vsftpd, {GetParam()});
    if (!server.skipReason().empty()) GTEST_SKIP() << server.skipReason();
    ASSERT_TRUE(server.ok());
    TempDir dir;
    const fs::path home = dir / "home", up = dir / "up", in = dir / "in";
    fs::create_directories(in);
    writeSettings(home, loginTo(server),
                  {{server.remote("in"), up.string(), "TUTTI", "SI", "Upload"},
                   {server.remote("out"), in.string(), "TUTTI", "SI"}});
    const std::string name = "127.0.0.1:" + std::to_string(server.port());
    const auto data = [](int n) { return patternBytes(n % 3 * 70000, n); };
    for (int run = 0; run < 3; ++run) {
        for (int n = run * 3; n < run * 3 + 3; ++n) {
            writeFile(up / ("u" + std::to_string(n)), data(n));
            writeFile(server.local("out") / ("d" + std::to_string(n)), data(n));
        }
        server.local("in");
        const ProgramRun r = runProgram(home, {"mod:asp"});
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.output.find("Certificato nuovo per " + name) != std::string::npos, run == 0);
        for (int n = run * 3; n < run * 3 + 3; ++n)
            EXPECT_TRUE(readFile(server.root() / "in" / ("u" + std::to_string(n))) == data(n) &&
                        readFile(in / ("d" + std::to_string(n))) == data(n))
                << n;
    }
}

INSTANTIATE_TEST_SUITE_P(Vsftpd, Ftps, ::testing::Values("explicit", "implicit"));

}  // namespace
}  // namespace vs::test
